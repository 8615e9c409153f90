#include "viewer/process/signals.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "common/clock.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

volatile sig_atomic_t pending_signals;
int keyboard_fd;
const char *pending_command_text;

namespace {

// Counts every arrival, so a wait can tell a new signal from one that was
// already pending (the bit set cannot: a second interrupt changes nothing).
volatile sig_atomic_t signal_arrivals;
constexpr int ARRIVALS_MASK = 0xFFFFFF;
// A read that breaks as soon as any signal is pending, not only a new one.
constexpr int ON_ANY_PENDING = -1;

// Empty reads in a row from the keyboard: a terminal that hung up keeps
// returning end of file, and the viewer must not spin on it.
constexpr int KEYBOARD_EOF_LIMIT = 100;

// A read of the viewed input that has waited this long says so, and a key
// typed from then on ends the wait.
constexpr int INPUT_PATIENCE_MS = 300;

// Keys taken from the terminal while a read of the input waited, oldest
// first; they are read before the terminal's.
constexpr int TYPEAHEAD_SIZE = 64;
unsigned char typeahead[TYPEAHEAD_SIZE];
int typeahead_first, typeahead_count;

// Reads of the input that go on past the patience after the last key taken
// (the start of the command, in effect) look at the keyboard this often.
constexpr int KEY_CHECK_MS = 10;
int64_t last_key_ms, next_key_check_ms;
// The patience has run out since the last key: the keys typed before it
// are queued, and one typed from then on ends the reading.
bool impatient;
// Keys come from a terminal, which can be asked whether one was typed.
bool keys_from_terminal;

// Signals that end the process: each first gives the terminal back, then
// goes on as it would have without the viewer's handler.
constexpr int FATAL_SIGNALS[] = {SIGHUP, SIGTERM, SIGQUIT, SIGABRT, SIGSEGV,
                                 SIGBUS, SIGFPE,  SIGILL};
struct sigaction previous_action[NSIG];
void (*ending_hook)();
void (*fatal_hook)(const char *message, int status);
void (*bottom_line_hook)(const char *text, const char *suffix);

void note_signal(int bit)
{
    pending_signals = pending_signals | bit;
    signal_arrivals = (signal_arrivals + 1) & ARRIVALS_MASK;
}

void on_interrupt(int)
{
    note_signal(PENDING_INTERRUPT);
}

void on_stop(int)
{
    note_signal(PENDING_STOP);
}

void on_broken_pipe(int)
{
}

void on_fatal(int sig)
{
    term_restore_emergency();
    if ((sig == SIGHUP || sig == SIGTERM) && ending_hook)
        ending_hook();
    sigaction(sig, &previous_action[sig], nullptr);
    raise(sig);
}

// Without SA_RESTART: a read that is still waiting when a signal comes
// fails with EINTR instead of waiting on.
void install(int sig, void (*handler)(int))
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

// A stop is never put off: whoever waits acts on it and waits again.
bool broken(int since)
{
    return since == ON_ANY_PENDING ? pending_signals != 0
                                   : signal_arrivals != since || (pending_signals & PENDING_STOP);
}

sigset_t watched_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, SIGWINCH);
    return set;
}

// Wait until fd has something to read (1), or key_fd (2), the time passes
// (0; a negative timeout waits for ever, a negative fd only for the time)
// or a signal breaks the wait (-2). fd is answered first when both are
// ready. The signals are unblocked only inside ppoll, so one that comes
// between the test and the wait still ends the wait.
int wait_breakable(int fd, int timeout_ms, int since, int key_fd = -1)
{
    out_flush();
    sigset_t watched = watched_signals(), old;
    sigprocmask(SIG_BLOCK, &watched, &old);
    int ready = -2;
    while (!broken(since)) {
        pollfd p[2] = {{.fd = fd, .events = POLLIN, .revents = 0},
                       {.fd = key_fd, .events = POLLIN, .revents = 0}};
        nfds_t count = key_fd >= 0 ? 2 : fd >= 0 ? 1 : 0;
        timespec limit = {.tv_sec = timeout_ms / 1000, .tv_nsec = timeout_ms % 1000 * 1000000L};
        int n = ppoll(count > 0 ? p : nullptr, count, timeout_ms >= 0 ? &limit : nullptr, &old);
        // Any other failure is left for the read to report.
        if (n >= 0 || errno != EINTR) {
            ready = n == 0 ? 0 : n > 0 && p[0].revents == 0 && count == 2 ? 2 : 1;
            break;
        }
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return ready;
}

void note_key_taken()
{
    last_key_ms = clock_ms();
    impatient = false;
}

bool key_typed()
{
    pollfd p = {.fd = keyboard_fd, .events = POLLIN, .revents = 0};
    return poll(&p, 1, 0) > 0;
}

// Take the keys the terminal holds now, to be read after the wait.
void take_typed_keys()
{
    // In one read as far as there is room: keys typed in a burst would
    // otherwise cost a look and a read each.
    while (typeahead_count < TYPEAHEAD_SIZE && key_typed()) {
        unsigned char keys[TYPEAHEAD_SIZE];
        ssize_t n = read(keyboard_fd, keys, static_cast<size_t>(TYPEAHEAD_SIZE - typeahead_count));
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; i++)
            typeahead[(typeahead_first + typeahead_count++) % TYPEAHEAD_SIZE] = keys[i];
    }
}

// From now on a key typed ends the reading; those typed before are queued.
void lose_patience()
{
    if (!impatient)
        take_typed_keys();
    impatient = true;
}

// A key has come: it ends the reading as an interrupt would (without the
// bell), and is read as a command afterwards. While the queue is full, keys
// stay in the terminal, behind those queued, and end nothing.
void end_reading_at_key()
{
    take_typed_keys();
    pending_signals = pending_signals | PENDING_KEY;
}

// The input has kept the viewer waiting: say so on the bottom line, and
// wait on for the input or a key. 1 when the input is ready, -2 when the
// wait was broken.
int wait_input_or_key(int fd)
{
    lose_patience();
    term_save_cursor();
    if (bottom_line_hook)
        bottom_line_hook("Waiting for data", "... (interrupt to stop)");
    bool room = typeahead_count < TYPEAHEAD_SIZE;
    int ready = wait_breakable(fd, -1, ON_ANY_PENDING, room ? keyboard_fd : -1);
    if (ready == 2) {
        end_reading_at_key();
        ready = -2;
    }
    // The paint that waited goes on where it was.
    term_lower_left();
    term_clear_eol();
    term_restore_cursor();
    return ready;
}

// A read that has gone on past the patience, waiting or not: whether a key
// typed since ends it. Keys are looked for now and then, not on every read.
bool key_ends_reading()
{
    int64_t now = clock_ms();
    if (now - last_key_ms < INPUT_PATIENCE_MS || now < next_key_check_ms)
        return false;
    next_key_check_ms = now + KEY_CHECK_MS;
    if (!impatient) {
        lose_patience();
        return false;
    }
    if (typeahead_count == TYPEAHEAD_SIZE || !key_typed())
        return false;
    end_reading_at_key();
    return true;
}

// The read behind read_interruptible and the key waits: it starts only
// when there is something to read, and what it returns is kept.
int read_breakable(int fd, void *buffer, int count, int since)
{
    if (wait_breakable(fd, -1, since) < 0)
        return -2;
    ssize_t n = read(fd, buffer, static_cast<size_t>(count));
    if (n < 0)
        return errno == EINTR ? -2 : -1;
    return static_cast<int>(n);
}

int key_since(int since, int other_fd = -1)
{
    if (typeahead_count == 0 && other_fd >= 0) {
        int ready = wait_breakable(other_fd, -1, since, keyboard_fd);
        if (ready == 1)
            return KEY_OTHER_READY;
        if (ready == -2)
            return -2;
    }
    if (typeahead_count == 0) {
        // All the terminal holds comes in one read: keys typed in a burst
        // (or a key held down) then cost no wait and no read each.
        unsigned char keys[TYPEAHEAD_SIZE];
        for (int empty = 0;;) {
            int n = read_breakable(keyboard_fd, keys, TYPEAHEAD_SIZE, since);
            if (n == -2)
                return -2;
            if (n < 0 || (n == 0 && ++empty >= KEYBOARD_EOF_LIMIT)) {
                if (fatal_hook)
                    fatal_hook(nullptr, 2);
                exit(2);
            }
            if (n > 0) {
                typeahead_first = 0;
                typeahead_count = n;
                for (int i = 0; i < n; i++)
                    typeahead[i] = keys[i];
                break;
            }
        }
    } else if (since == ON_ANY_PENDING ? pending_signals != 0 : broken(since)) {
        return -2;
    }
    unsigned char key = typeahead[typeahead_first];
    typeahead_first = (typeahead_first + 1) % TYPEAHEAD_SIZE;
    typeahead_count--;
    note_key_taken();
    return key;
}

// Give the terminal back, stop the job, and take the terminal back once
// continued; the screen is then repainted.
void stop_job()
{
    signal(SIGTTOU, SIG_IGN);
    int entered = term_leave_screen();
    out_flush();
    term_set_mode(0);
    signal(SIGTTOU, SIG_DFL);
    signal(SIGTSTP, SIG_DFL);
    // The whole job stops, as a shell expects: a viewer started by another
    // (the help viewer) must not stop alone while its parent waits for it
    // and the shell believes the job still runs.
    kill(0, SIGTSTP);
    install(SIGTSTP, on_stop);
    term_set_mode(1);
    // A stopped job is told of no new window size.
    term_setup();
    if (entered)
        term_init_screen();
    screen_stale = 1;
}

} // namespace

void winch(int)
{
    note_signal(PENDING_WINCH);
}

void signals_setup(int on)
{
    // Straight from one action to the other, with no moment at which an
    // interrupt would end the viewer by default.
    static struct sigaction quit_before;
    static bool quit_held;
    if (on) {
        install(SIGINT, on_interrupt);
        install(SIGTSTP, on_stop);
        install(SIGWINCH, winch);
        if (quit_held)
            sigaction(SIGQUIT, &quit_before, nullptr);
        quit_held = false;
    } else {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGQUIT, &ignore, quit_held ? nullptr : &quit_before);
        quit_held = true;
        install(SIGINT, SIG_IGN);
        install(SIGTSTP, SIG_DFL);
        install(SIGWINCH, SIG_IGN);
    }
}

void signals_set_ending_hook(void (*hook)())
{
    ending_hook = hook;
}

void signals_set_message_hooks(void (*fatal)(const char *message, int status),
                               void (*bottom_line)(const char *text, const char *suffix))
{
    fatal_hook = fatal;
    bottom_line_hook = bottom_line;
}

void signals_guard_terminal()
{
    for (int sig : FATAL_SIGNALS) {
        struct sigaction sa = {};
        sa.sa_handler = on_fatal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, &previous_action[sig]);
        // A signal the caller chose to ignore stays ignored.
        if (previous_action[sig].sa_handler == SIG_IGN)
            sigaction(sig, &previous_action[sig], nullptr);
    }
    // Standard output is the terminal: only a log on a pipe can lose its
    // reader, and that write failure is reported like any other. A handler
    // rather than SIG_IGN, which shell commands would inherit.
    install(SIGPIPE, on_broken_pipe);
    term_restore_at_exit();
}

int read_interruptible(int fd, void *buffer, int count)
{
    return read_breakable(fd, buffer, count, ON_ANY_PENDING);
}

int read_viewed_input(int fd, void *buffer, int count)
{
    // Before the screen is in use there is no one to tell, and without a
    // terminal to read keys from no key can end the wait.
    if (!screen_started || !keys_from_terminal)
        return read_interruptible(fd, buffer, count);
    if (key_ends_reading())
        return -2;
    int ready = wait_breakable(fd, INPUT_PATIENCE_MS, ON_ANY_PENDING);
    if (ready == 0)
        ready = wait_input_or_key(fd);
    if (ready < 0)
        return -2;
    return read_interruptible(fd, buffer, count);
}

int wait_viewed_input(int fd)
{
    if (!screen_started || !keys_from_terminal)
        return wait_for_input(fd, -1);
    if (key_ends_reading())
        return -2;
    int ready = wait_breakable(fd, INPUT_PATIENCE_MS, ON_ANY_PENDING);
    if (ready == 0)
        ready = wait_input_or_key(fd);
    return ready < 0 ? -2 : ready;
}

int wait_for_input(int fd, int timeout_ms)
{
    // Keys read already are waiting input as much as those in the terminal.
    int ready = fd == keyboard_fd && typeahead_count > 0
                    ? 1
                    : wait_breakable(fd, timeout_ms, ON_ANY_PENDING);
    return pending_signals ? -2 : ready;
}

int wait_for_input_or_key(int fd, int timeout_ms)
{
    if (!keys_from_terminal)
        return wait_for_input(fd, timeout_ms);
    if (typeahead_count > 0) {
        pending_signals = pending_signals | PENDING_KEY;
        return -2;
    }
    int ready = wait_breakable(fd, timeout_ms, ON_ANY_PENDING, keyboard_fd);
    if (ready == 2)
        end_reading_at_key();
    return pending_signals ? -2 : ready;
}

int key_queued()
{
    return typeahead_count > 0 ? typeahead[typeahead_first] : -1;
}

bool key_typed_ahead()
{
    if (typeahead_count == 0)
        take_typed_keys();
    return typeahead_count > 0;
}

int key_read()
{
    return key_since(ON_ANY_PENDING);
}

int key_read_or(int fd)
{
    return key_since(ON_ANY_PENDING, fd);
}

int key_wait()
{
    return key_since(signal_arrivals);
}

int signals_stop_if_pending()
{
    if (!(pending_signals & PENDING_STOP))
        return 0;
    pending_signals = pending_signals & ~PENDING_STOP;
    stop_job();
    return 1;
}

void key_queue(const char *text)
{
    pending_command_text = text;
}

void keyboard_setup()
{
    keyboard_fd = 2;
    keys_from_terminal = isatty(keyboard_fd);
    note_key_taken();
}

void signals_process()
{
    if (!pending_signals)
        return;
    // Taken with the signals held off, so that none arriving in between is lost.
    sigset_t watched = watched_signals(), old;
    sigprocmask(SIG_BLOCK, &watched, &old);
    int todo = pending_signals;
    pending_signals = 0;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (todo & PENDING_WINCH) {
        int rows = screen_rows, cols = screen_cols;
        term_setup();
        if (rows != screen_rows || cols != screen_cols)
            screen_stale = 1;
    }
    if (todo & PENDING_STOP)
        stop_job();
    if (todo & PENDING_INTERRUPT)
        term_bell();
}
