// pty_time: run a command in a pseudo-terminal and time how long it takes
// until a given text appears on its screen, then quit it with a key and
// report the child's peak memory.
//
//     pty_time [-r rows] [-c cols] [-i file] [-k keys] [-e keys] [-s keys -a text]
//              [-p keys -a text] [-t seconds] -w text -- command [arg...]
//
// -i feeds the file to the command's standard input through a pipe, from
// `cat file` (as `cat file | command` would). Once the text has
// appeared, -e types keys one at a time, each as soon as the keys typed so
// far show on the screen; then -s types keys at once and waits for the
// text of -a. -p instead types its keys over and over, as fast as the
// terminal takes them (a full terminal input queue holds the rest back),
// until the text of -a shows: paging by SPACE, say, with a key always
// waiting. The output is "seconds=S maxrss_kb=K status=X" on standard
// output, with before the status "echo_max=E" for -e (the longest wait for
// a key to show) and "after=A" for -a (the seconds from the -s keys to its
// text). The exit status is 0 when every text was seen, 1 on a timeout, 2
// on a usage or system error.
//
// Escape sequences and control characters are dropped from the output and
// each one leaves a single separator, so the text is matched against what a
// reader of the screen would see as one run of characters. A text ending in
// a digit only matches when the next character is not a digit, so that
// "line 12" does not match "line 123".
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct settings {
    int rows = 24;
    int cols = 80;
    const char *input_file = nullptr;
    const char *wanted = nullptr;
    const char *quit_keys = "q";
    const char *echo_keys = nullptr;
    const char *then_keys = nullptr;
    const char *then_wanted = nullptr;
    bool repeat_keys = false;   // -p: then_keys are typed until then_wanted
    double timeout = 300;
    char **command = nullptr;
};

// Where the escape-sequence filter stands between two reads.
enum class scan_state { text, escape, csi, osc, osc_escape, charset };

scan_state state = scan_state::text;
std::string screen_text;        // filtered output, trimmed to a window
std::size_t scanned = 0;        // screen_text before this has no match start

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void add_separator()
{
    if (screen_text.empty() || screen_text.back() != '\n')
        screen_text.push_back('\n');
}

// Append output bytes to screen_text with escape sequences and controls
// reduced to separators.
void filter(const char *p, std::size_t n)
{
    for (std::size_t i = 0; i < n; i++) {
        unsigned char c = p[i];
        switch (state) {
        case scan_state::text:
            if (c == 0x1b) {
                state = scan_state::escape;
                add_separator();
            } else if (c < 0x20 || c == 0x7f) {
                add_separator();
            } else {
                screen_text.push_back(static_cast<char>(c));
            }
            break;
        case scan_state::escape:
            if (c == '[')
                state = scan_state::csi;
            else if (c == ']')
                state = scan_state::osc;
            else if (c == '(' || c == ')' || c == '*' || c == '+' || c == '#')
                state = scan_state::charset;
            else
                state = scan_state::text;
            break;
        case scan_state::csi:
            if (c >= 0x40 && c <= 0x7e)
                state = scan_state::text;
            break;
        case scan_state::osc:
            if (c == 0x07)
                state = scan_state::text;
            else if (c == 0x1b)
                state = scan_state::osc_escape;
            break;
        case scan_state::osc_escape:
            state = c == '\\' ? scan_state::text : scan_state::osc;
            break;
        case scan_state::charset:
            state = scan_state::text;
            break;
        }
    }
}

// Whether the wanted text has appeared, complete with the character after it.
bool seen(const char *wanted)
{
    std::size_t len = std::strlen(wanted);
    bool ends_in_digit = len > 0 && wanted[len - 1] >= '0' && wanted[len - 1] <= '9';
    for (std::size_t at = screen_text.find(wanted, scanned); at != std::string::npos;
         at = screen_text.find(wanted, at + 1)) {
        std::size_t after = at + len;
        if (!ends_in_digit)
            return true;
        if (after >= screen_text.size()) {
            scanned = at;       // wait for the next character
            return false;
        }
        char c = screen_text[after];
        if (c < '0' || c > '9')
            return true;
    }
    // Keep a tail long enough for a match that straddles two reads.
    if (screen_text.size() > len) {
        std::size_t keep = len;
        screen_text.erase(0, screen_text.size() - keep);
    }
    scanned = 0;
    return false;
}

void usage()
{
    std::fprintf(stderr, "usage: pty_time [-r rows] [-c cols] [-i file] [-k keys] [-e keys] "
                         "[-s keys -a text] [-p keys -a text] [-t seconds] -w text -- command [arg...]\n");
    std::exit(2);
}

settings parse(int argc, char **argv)
{
    settings s;
    int opt;
    while ((opt = getopt(argc, argv, "+r:c:i:k:e:s:p:a:t:w:")) != -1) {
        switch (opt) {
        case 'r': s.rows = std::atoi(optarg); break;
        case 'c': s.cols = std::atoi(optarg); break;
        case 'i': s.input_file = optarg; break;
        case 'k': s.quit_keys = optarg; break;
        case 'e': s.echo_keys = optarg; break;
        case 's': s.then_keys = optarg; break;
        case 'p': s.then_keys = optarg; s.repeat_keys = true; break;
        case 'a': s.then_wanted = optarg; break;
        case 't': s.timeout = std::atof(optarg); break;
        case 'w': s.wanted = optarg; break;
        default: usage();
        }
    }
    if (!s.wanted || !s.then_keys != !s.then_wanted || (s.repeat_keys && !*s.then_keys) || optind >= argc || s.rows < 2 || s.cols < 2 || s.timeout <= 0)
        usage();
    s.command = argv + optind;
    return s;
}

// Start `cat file` writing into a new pipe, as a shell would for
// `cat file | command`; returns the read end, and cat's id through *writer.
int start_feeder(const char *file, pid_t *writer)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) < 0) {
        std::perror("pipe");
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return -1;
    }
    if (pid == 0) {
        close(pipe_fds[0]);
        dup2(pipe_fds[1], 1);
        close(pipe_fds[1]);
        signal(SIGPIPE, SIG_DFL);
        execlp("cat", "cat", "--", file, static_cast<char *>(nullptr));
        std::perror("cat");
        _exit(127);
    }
    close(pipe_fds[1]);
    *writer = pid;
    return pipe_fds[0];
}

// Read what the child writes until the wanted text shows or time runs out.
// Returns the elapsed seconds, -1 on a timeout, or -2 when the child closed
// the terminal first.
// With repeat set, its keys are typed over and over meanwhile, whenever
// the terminal has room for them.
double wait_for_text(int master, const settings &s, const char *wanted, double start,
                     const char *repeat = nullptr)
{
    char chunk[1 << 16];
    char keys[4096];
    std::size_t key_count = 0;
    if (repeat) {
        std::size_t n = std::strlen(repeat);
        while (key_count + n <= sizeof keys) {
            std::memcpy(keys + key_count, repeat, n);
            key_count += n;
        }
    }
    std::size_t key_at = 0;     // the next key in keys, to keep whole repeats
    for (;;) {
        double left = start + s.timeout - now();
        if (left <= 0)
            return -1;
        pollfd p = {master, static_cast<short>(POLLIN | (repeat ? POLLOUT : 0)), 0};
        int r = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        if (p.revents & POLLOUT) {
            ssize_t w = write(master, keys + key_at, key_count - key_at);
            if (w > 0)
                key_at = (key_at + static_cast<std::size_t>(w)) % key_count;
        }
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            return -2;      // EIO: every holder of the slave side is gone
        filter(chunk, static_cast<std::size_t>(n));
        if (seen(wanted))
            return now() - start;
    }
}

// Drain the terminal until the child has closed it, so that the child never
// blocks on a full terminal while it shuts down.
void drain(int master, double deadline)
{
    char chunk[1 << 16];
    while (now() < deadline) {
        pollfd p = {master, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0 && errno != EINTR)
            return;
        if (r > 0 && read(master, chunk, sizeof chunk) <= 0)
            return;
    }
}

} // namespace

int main(int argc, char **argv)
{
    settings s = parse(argc, argv);
    signal(SIGPIPE, SIG_IGN);

    pid_t writer = -1;
    int input = -1;
    if (s.input_file && (input = start_feeder(s.input_file, &writer)) < 0)
        return 2;

    winsize ws = {};
    ws.ws_row = static_cast<unsigned short>(s.rows);
    ws.ws_col = static_cast<unsigned short>(s.cols);
    int master;
    double start = now();
    pid_t child = forkpty(&master, nullptr, nullptr, &ws);
    if (child < 0) {
        std::perror("forkpty");
        return 2;
    }
    if (child == 0) {
        if (input >= 0) {
            dup2(input, 0);
            close(input);
        }
        setenv("TERM", "xterm", 1);
        signal(SIGPIPE, SIG_DFL);
        execvp(s.command[0], s.command);
        std::perror(s.command[0]);
        _exit(127);
    }
    if (input >= 0)
        close(input);

    double elapsed = wait_for_text(master, s, s.wanted, start);
    double echo_max = 0;
    std::string typed;
    for (const char *k = s.echo_keys; elapsed >= 0 && k && *k; k++) {
        screen_text.clear();
        scanned = 0;
        typed += *k;
        double sent = now();
        if (write(master, k, 1) != 1 || wait_for_text(master, s, typed.c_str(), sent) < 0) {
            std::fprintf(stderr, "pty_time: the echo of \"%s\" was not seen\n", typed.c_str());
            elapsed = -1;
            break;
        }
        echo_max = std::max(echo_max, now() - sent);
    }
    double after = 0;
    if (elapsed >= 0 && s.then_keys) {
        screen_text.clear();
        scanned = 0;
        double sent = now();
        size_t n = std::strlen(s.then_keys);
        bool typed_all = true;
        if (s.repeat_keys) {
            // Writes that a full queue would block are left for later.
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
            after = wait_for_text(master, s, s.then_wanted, sent, s.then_keys);
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) & ~O_NONBLOCK);
        } else {
            typed_all = write(master, s.then_keys, n) == static_cast<ssize_t>(n);
            if (typed_all)
                after = wait_for_text(master, s, s.then_wanted, sent);
        }
        if (!typed_all || after < 0) {
            std::fprintf(stderr, "pty_time: \"%s\" not seen after the keys\n", s.then_wanted);
            elapsed = -1;
        }
    }
    if (elapsed >= 0) {
        // The quit keys wait behind any keys typed ahead; while the terminal's
        // queue is full the command's output is read on, so that a command
        // blocked writing can go on to read its keys.
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        const char *q = s.quit_keys;
        size_t left = std::strlen(q);
        double give_up = now() + 60;
        while (left > 0 && now() < give_up) {
            ssize_t w = write(master, q, left);
            if (w > 0) {
                q += w;
                left -= static_cast<size_t>(w);
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            } else {
                drain(master, now() + 0.01);
            }
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) & ~O_NONBLOCK);
        drain(master, now() + 60);
    } else {
        if (elapsed < -1.5)
            std::fprintf(stderr, "pty_time: the command ended before \"%s\" was seen\n", s.wanted);
        else
            std::fprintf(stderr, "pty_time: \"%s\" not seen within %g s\n", s.wanted, s.timeout);
        kill(child, SIGKILL);
    }

    // A child that ignores the quit key would hold us here forever.
    int status = 0;
    rusage child_usage = {};
    double deadline = now() + 30;
    pid_t got;
    while ((got = wait4(child, &status, WNOHANG, &child_usage)) == 0 && now() < deadline)
        usleep(10000);
    if (got == 0) {
        kill(child, SIGKILL);
        got = wait4(child, &status, 0, &child_usage);
    }
    if (writer > 0) {
        kill(writer, SIGTERM);
        waitpid(writer, nullptr, 0);
    }
    close(master);
    if (got < 0) {
        std::perror("wait4");
        return 2;
    }

    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("seconds=%.6f maxrss_kb=%ld ", elapsed, child_usage.ru_maxrss);
    if (s.echo_keys)
        std::printf("echo_max=%.3f ", echo_max);
    if (s.then_keys)
        std::printf("after=%.6f ", after);
    std::printf("status=%d\n", code);
    return elapsed >= 0 ? 0 : 1;
}
