#include "viewer/process/signals.h"

#include <csetjmp>
#include <unistd.h>

#include "viewer/control/command.h"
#include "viewer/control/program.h"
#include "viewer/navigation/linenum.h"
#include "viewer/options/option.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

volatile sig_atomic_t pending_signals;
int keyboard_fd;

namespace {

volatile sig_atomic_t in_read;
sigjmp_buf read_jump;
// Empty reads in a row from the keyboard: a terminal that hung up keeps
// returning end of file, and the viewer must not spin on it.
constexpr int KEYBOARD_EOF_LIMIT = 100;

[[noreturn]] void jump_out_of_read()
{
    // The handler's own signal is blocked while it runs, and the jump leaves
    // the handler without returning.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    siglongjmp(read_jump, 1);
}

void note_signal(int bit)
{
    pending_signals = pending_signals | bit;
    if (in_read)
        jump_out_of_read();
}

void on_interrupt(int)
{
    note_signal(PENDING_INTERRUPT);
}

void on_stop(int)
{
    note_signal(PENDING_STOP);
}

void install(int sig, void (*handler)(int))
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
}

} // namespace

void winch(int)
{
    note_signal(PENDING_WINCH);
}

void signals_setup(int on)
{
    if (on) {
        install(SIGINT, on_interrupt);
        install(SIGTSTP, on_stop);
        install(SIGWINCH, winch);
    } else {
        install(SIGINT, SIG_DFL);
        install(SIGTSTP, SIG_DFL);
        install(SIGWINCH, SIG_IGN);
    }
}

int read_interruptible(int fd, void *buffer, int count)
{
    // Nothing with a destructor may live in this frame: the handlers jump
    // back into it.
    // The mask is not saved: that would cost a system call for every block
    // read, and jump_out_of_read unblocks the signals itself.
    if (sigsetjmp(read_jump, 0)) {
        in_read = 0;
        return -2;
    }
    out_flush();
    in_read = 1;
    // A signal that came before in_read was set did not jump: without this
    // test the read below would wait for a key with the signal unseen.
    if (pending_signals) {
        in_read = 0;
        return -2;
    }
    ssize_t n = read(fd, buffer, static_cast<size_t>(count));
    in_read = 0;
    return n < 0 ? -1 : static_cast<int>(n);
}

int key_read()
{
    unsigned char c;
    for (int empty = 0;;) {
        int n = read_interruptible(keyboard_fd, &c, 1);
        if (n == -2)
            return -2;
        if (n < 0 || (n == 0 && ++empty >= KEYBOARD_EOF_LIMIT))
            finish_and_exit(2);
        if (n == 1)
            return c;
    }
}

void keyboard_setup()
{
    keyboard_fd = 2;
}

void signals_process()
{
    if (!pending_signals)
        return;
    int todo = pending_signals;
    pending_signals = 0;
    if (todo & PENDING_WINCH) {
        int rows = screen_rows, cols = screen_cols;
        term_setup();
        if (rows != screen_rows || cols != screen_cols) {
            scroll = (screen_rows + 1) / 2;
            screen_stale = 1;
        }
    }
    if (todo & PENDING_STOP) {
        signal(SIGTTOU, SIG_IGN);
        term_lower_left();
        term_clear_eol();
        term_deinit_screen();
        out_flush();
        term_set_mode(0);
        signal(SIGTTOU, SIG_DFL);
        signal(SIGTSTP, SIG_DFL);
        kill(getpid(), SIGTSTP);
        install(SIGTSTP, on_stop);
        term_set_mode(1);
        term_init_screen();
        screen_stale = 1;
    }
    if (todo & PENDING_INTERRUPT) {
        term_bell();
        if (linenum_busy) {
            linenum_busy = 0;
            opt_n = 0;
            show_error("Line numbers turned off");
        }
    }
}
