#include "tests/e2e/terminal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>
#include <vterm.h>

#include "tests/e2e/subprocess.h"

namespace {

// What the session leader tells the test about its job.
enum relay_kind { EV_STARTED, EV_STOPPED, EV_CONTINUED, EV_EXITED };

struct relay_event {
    int kind;
    int value;                      // pid, stop signal or exit status
    struct termios modes;           // with EV_EXITED: the modes left behind
};

using clock_type = std::chrono::steady_clock;

int ms_left(clock_type::time_point deadline)
{
    auto d = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    return d.count() > 0 ? int(d.count()) : 0;
}

void put_utf8(std::string &s, uint32_t c)
{
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | (c >> 6));
        s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += char(0xE0 | (c >> 12));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xF0 | (c >> 18));
        s += char(0x80 | ((c >> 12) & 0x3F));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
}

void write_all(int fd, const void *data, size_t len)
{
    const char *p = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t k = write(fd, p, len);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return;
        p += k;
        len -= size_t(k);
    }
}

// Replies the emulator owes the program (cursor reports and the like).
void answer_program(const char *s, size_t len, void *user)
{
    write_all(*static_cast<int *>(user), s, len);
}

int count_bell(void *user)
{
    ++*static_cast<int *>(user);
    return 1;
}

constexpr VTermScreenCallbacks screen_callbacks = {
    .damage = nullptr,
    .moverect = nullptr,
    .movecursor = nullptr,
    .settermprop = nullptr,
    .bell = count_bell,
    .resize = nullptr,
    .sb_pushline = nullptr,
    .sb_popline = nullptr,
};

void send_event(int fd, int kind, int value, const struct termios *modes = nullptr)
{
    relay_event e{};
    e.kind = kind;
    e.value = value;
    if (modes)
        e.modes = *modes;
    write_all(fd, &e, sizeof e);
}

// The program's side of the fork: own process group, foreground of the
// terminal, clean signal state, standard input as asked.
[[noreturn]] void exec_program(char *const *argv, char *const *envp, const char *cwd,
                               int stdin_fd)
{
    setpgid(0, 0);
    ::signal(SIGTTOU, SIG_IGN);
    tcsetpgrp(2, getpid());
    // Ignored signals survive exec; the test process ignores SIGPIPE.
    for (int sig : {SIGTTOU, SIGPIPE, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGHUP, SIGWINCH,
                    SIGTERM, SIGCHLD})
        ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (stdin_fd >= 0) {
        dup2(stdin_fd, 0);
        close(stdin_fd);
    }
    if (*cwd && chdir(cwd) < 0) {
        dprintf(2, "cannot change to %s: %s\r\n", cwd, strerror(errno));
        _exit(126);
    }
    execve(argv[0], argv, envp);
    dprintf(2, "cannot run %s: %s\r\n", argv[0], strerror(errno));
    _exit(127);
}

// The session leader: runs the program as its foreground job, the way a
// shell does, and reports the job's stops, continues and end.
[[noreturn]] void lead_session(int relay_fd, char *const *argv, char *const *envp,
                               const char *cwd, int stdin_fd)
{
    pid_t child = fork();
    if (child < 0)
        _exit(127);
    if (child == 0) {
        close(relay_fd);
        exec_program(argv, envp, cwd, stdin_fd);
    }
    // Both sides set the group, as a shell does, so that the job is in
    // the foreground before the test is told it started.
    setpgid(child, child);
    tcsetpgrp(0, child);
    if (stdin_fd >= 0)
        close(stdin_fd);
    send_event(relay_fd, EV_STARTED, child);
    while (true) {
        int st = 0;
        if (waitpid(child, &st, WUNTRACED | WCONTINUED) < 0) {
            if (errno == EINTR)
                continue;
            _exit(127);
        }
        if (WIFSTOPPED(st)) {
            send_event(relay_fd, EV_STOPPED, WSTOPSIG(st));
        } else if (WIFCONTINUED(st)) {
            send_event(relay_fd, EV_CONTINUED, 0);
        } else {
            struct termios modes {};
            tcgetattr(1, &modes);
            send_event(relay_fd, EV_EXITED,
                       WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), &modes);
            _exit(0);
        }
    }
}

} // namespace

pty_session::pty_session() = default;

pty_session::~pty_session()
{
    stop_everything();
}

bool pty_session::start(const std::vector<std::string> &argv, const pty_options &opts)
{
    if (leader_ > 0 || argv.empty())
        return false;
    home_ = make_temp_dir();
    if (home_.empty())
        return false;

    std::vector<std::string> env;
    const char *path = getenv("PATH");
    env.push_back(std::string("PATH=") + (path ? path : "/usr/local/bin:/usr/bin:/bin"));
    env.push_back("HOME=" + home_);
    if (!opts.term.empty())
        env.push_back("TERM=" + opts.term);
    env.push_back("LANG=C");
    env.push_back("LC_ALL=C");
    env.push_back("SHELL=/bin/sh");
    apply_env_changes(env, opts.env);
    // Everything the child needs is built before the fork.
    std::vector<char *> cargv = c_strings(argv), cenv = c_strings(env);

    int stdin_r = -1;
    if (opts.stdin_pipe) {
        int p[2];
        if (pipe2(p, O_CLOEXEC) < 0)
            return false;
        stdin_r = p[0];
        stdin_w_ = p[1];
        fcntl(stdin_w_, F_SETFL, O_NONBLOCK);
        // A program that quits before reading all its input must not kill the test.
        ::signal(SIGPIPE, SIG_IGN);
    } else if (!opts.stdin_file.empty()) {
        stdin_r = open(opts.stdin_file.c_str(), O_RDONLY | O_CLOEXEC);
        if (stdin_r < 0)
            return false;
    }

    int relay[2];
    struct winsize ws {};
    ws.ws_row = (unsigned short)opts.rows;
    ws.ws_col = (unsigned short)opts.cols;
    int slave = -1;
    if (pipe2(relay, O_CLOEXEC) < 0) {
        if (stdin_r >= 0)
            close(stdin_r);
        return false;
    }
    if (openpty(&master_, &slave, nullptr, nullptr, &ws) < 0) {
        master_ = -1;
        for (int fd : {relay[0], relay[1], stdin_r})
            if (fd >= 0)
                close(fd);
        return false;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    // The modes every program starts with; modes_restored() compares with them.
    tcgetattr(slave, &modes_before_);

    leader_ = fork();
    if (leader_ == 0) {
        close(master_);
        close(relay[0]);
        if (stdin_w_ >= 0)
            close(stdin_w_);
        if (login_tty(slave) < 0)
            _exit(127);
        lead_session(relay[1], cargv.data(), cenv.data(), opts.cwd.c_str(), stdin_r);
    }
    close(slave);
    close(relay[1]);
    if (stdin_r >= 0)
        close(stdin_r);
    relay_ = relay[0];
    if (leader_ < 0)
        return false;

    vt_ = vterm_new(opts.rows, opts.cols);
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, answer_program, &master_);
    VTermScreen *screen = vterm_obtain_screen(vt_);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_set_callbacks(screen, &screen_callbacks, &bells_);
    vterm_screen_reset(screen, 1);

    return wait_for([this] { return pid_ > 0; });
}

bool pty_session::send(std::string_view keys)
{
    if (master_ < 0)
        return false;
    write_all(master_, keys.data(), keys.size());
    return true;
}

std::string pty_session::ctrl(char c)
{
    return std::string(1, c == '?' ? '\x7f' : char(c & 0x1F));
}

bool pty_session::send_ctrl(char c)
{
    return send(ctrl(c));
}

void pty_session::write_stdin(std::string_view bytes)
{
    if (stdin_w_ < 0)
        return;
    stdin_pending_.append(bytes);
    write_pending_stdin();
}

void pty_session::close_stdin()
{
    stdin_closing_ = true;
    write_pending_stdin();
}

int pty_session::rows() const
{
    int r = 0, c = 0;
    if (vt_)
        vterm_get_size(vt_, &r, &c);
    return r;
}

int pty_session::cols() const
{
    int r = 0, c = 0;
    if (vt_)
        vterm_get_size(vt_, &r, &c);
    return c;
}

std::string pty_session::row_text(int row) const
{
    std::string s;
    if (!vt_ || row < 0 || row >= rows())
        return s;
    VTermScreen *screen = vterm_obtain_screen(vt_);
    for (int c = 0; c < cols(); c++) {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen, VTermPos{row, c}, &cell);
        if (cell.chars[0] == uint32_t(-1))      // right half of a wide character
            continue;
        if (cell.chars[0] == 0)
            s += ' ';
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; i++)
            put_utf8(s, cell.chars[i]);
    }
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

std::string pty_session::screen_text() const
{
    std::string s;
    for (int r = 0; r < rows(); r++) {
        if (r > 0)
            s += '\n';
        s += row_text(r);
    }
    return s;
}

text_attrs pty_session::cell_attrs(int row, int col) const
{
    text_attrs a;
    if (!vt_ || row < 0 || row >= rows() || col < 0 || col >= cols())
        return a;
    VTermScreenCell cell;
    vterm_screen_get_cell(vterm_obtain_screen(vt_), VTermPos{row, col}, &cell);
    a.bold = cell.attrs.bold;
    a.underline = cell.attrs.underline != VTERM_UNDERLINE_OFF;
    a.reverse = cell.attrs.reverse;
    if (!VTERM_COLOR_IS_DEFAULT_FG(&cell.fg) && VTERM_COLOR_IS_INDEXED(&cell.fg))
        a.foreground = cell.fg.indexed.idx;
    if (!VTERM_COLOR_IS_DEFAULT_BG(&cell.bg) && VTERM_COLOR_IS_INDEXED(&cell.bg))
        a.background = cell.bg.indexed.idx;
    return a;
}

std::string pty_session::row_attrs(int row) const
{
    std::string s;
    for (int c = 0; c < cols(); c++) {
        text_attrs a = cell_attrs(row, c);
        int n = a.bold + a.underline + a.reverse;
        s += n > 1 ? '*' : a.bold ? 'b' : a.underline ? 'u' : a.reverse ? 'r' : ' ';
    }
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

screen_point pty_session::cursor() const
{
    VTermPos p{0, 0};
    if (vt_)
        vterm_state_get_cursorpos(vterm_obtain_state(vt_), &p);
    return {p.row, p.col};
}

int pty_session::bell_count() const
{
    return bells_;
}

const std::string &pty_session::output() const
{
    return output_;
}

bool pty_session::wait_for(const std::function<bool()> &pred, int timeout_ms)
{
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        int left = ms_left(deadline);
        if (left == 0 || pump(left) < 0)
            return pred();
    }
    return true;
}

bool pty_session::wait_for_text(std::string_view text, int timeout_ms)
{
    return wait_for([&] { return screen_text().find(text) != std::string::npos; }, timeout_ms);
}

bool pty_session::wait_for_row(int row, const std::function<bool(const std::string &)> &pred,
                               int timeout_ms)
{
    return wait_for([&] { return pred(row_text(row)); }, timeout_ms);
}

bool pty_session::wait_quiet(int quiet_ms, int timeout_ms)
{
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
        int left = ms_left(deadline);
        if (left < quiet_ms)
            return false;
        if (pump(quiet_ms) <= 0)
            return true;
    }
}

bool pty_session::resize(int rows, int cols)
{
    if (master_ < 0)
        return false;
    vterm_set_size(vt_, rows, cols);
    struct winsize ws {};
    ws.ws_row = (unsigned short)rows;
    ws.ws_col = (unsigned short)cols;
    return ioctl(master_, TIOCSWINSZ, &ws) == 0;
}

bool pty_session::signal(int sig)
{
    if (pid_ <= 0 || exited_)
        return false;
    return kill(pid_, sig) == 0;
}

pid_t pty_session::pid() const
{
    return pid_;
}

bool pty_session::stopped() const
{
    return stopped_;
}

bool pty_session::exited() const
{
    return exited_;
}

bool pty_session::wait_stopped(int timeout_ms)
{
    return wait_for([this] { return stopped_; }, timeout_ms);
}

bool pty_session::wait_continued(int timeout_ms)
{
    return wait_for([this] { return !stopped_; }, timeout_ms);
}

int pty_session::wait_exit(int timeout_ms)
{
    // The far side of the terminal closes only after the program's last
    // write, so reading until then collects all its output. A background
    // child that keeps the terminal open only delays the status.
    wait_for([this] { return exited_ && master_ < 0; }, timeout_ms);
    if (!exited_)
        return -1;
    if (leader_ > 0) {
        waitpid(leader_, nullptr, 0);
        leader_ = 0;
    }
    return status_;
}

bool pty_session::modes_restored() const
{
    if (!have_modes_after_)
        return false;
    const struct termios &a = modes_before_, &b = modes_after_;
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

const std::string &pty_session::home() const
{
    return home_;
}

// Wait up to timeout_ms for one round of events and handle them: 1 when
// something happened, 0 on timeout, -1 when nothing is left to wait for.
int pty_session::pump(int timeout_ms)
{
    struct pollfd fds[3];
    int n = 0, m_i = -1, r_i = -1, s_i = -1;
    if (master_ >= 0) {
        fds[n] = {master_, POLLIN, 0};
        m_i = n++;
    }
    if (relay_ >= 0) {
        fds[n] = {relay_, POLLIN, 0};
        r_i = n++;
    }
    if (stdin_w_ >= 0 && (!stdin_pending_.empty() || stdin_closing_)) {
        fds[n] = {stdin_w_, POLLOUT, 0};
        s_i = n++;
    }
    if (n == 0)
        return -1;
    int k = poll(fds, nfds_t(n), timeout_ms);
    if (k < 0)
        return errno == EINTR ? 1 : -1;
    if (k == 0)
        return 0;
    if (m_i >= 0 && fds[m_i].revents)
        read_master();
    if (r_i >= 0 && fds[r_i].revents)
        read_relay();
    if (s_i >= 0 && fds[s_i].revents)
        write_pending_stdin();
    return 1;
}

void pty_session::read_master()
{
    char buf[4096];
    ssize_t k = read(master_, buf, sizeof buf);
    if (k < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (k <= 0) {
        // EIO: every descriptor of the far side is closed.
        close(master_);
        master_ = -1;
        return;
    }
    output_.append(buf, size_t(k));
    vterm_input_write(vt_, buf, size_t(k));
}

void pty_session::read_relay()
{
    char buf[512];
    ssize_t k = read(relay_, buf, sizeof buf);
    if (k < 0 && errno == EINTR)
        return;
    if (k <= 0) {
        close(relay_);
        relay_ = -1;
        return;
    }
    relay_buf_.append(buf, size_t(k));
    while (relay_buf_.size() >= sizeof(relay_event)) {
        relay_event e;
        memcpy(&e, relay_buf_.data(), sizeof e);
        relay_buf_.erase(0, sizeof e);
        switch (e.kind) {
        case EV_STARTED:
            pid_ = e.value;
            break;
        case EV_STOPPED:
            stopped_ = true;
            break;
        case EV_CONTINUED:
            stopped_ = false;
            break;
        case EV_EXITED:
            exited_ = true;
            stopped_ = false;
            status_ = e.value;
            modes_after_ = e.modes;
            have_modes_after_ = true;
            break;
        }
    }
}

void pty_session::write_pending_stdin()
{
    while (stdin_w_ >= 0 && !stdin_pending_.empty()) {
        ssize_t k = write(stdin_w_, stdin_pending_.data(), stdin_pending_.size());
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno == EAGAIN)
            return;
        if (k <= 0) {
            // The program closed its end: what it never read is dropped.
            stdin_pending_.clear();
            stdin_closing_ = true;
            break;
        }
        stdin_pending_.erase(0, size_t(k));
    }
    if (stdin_w_ >= 0 && stdin_closing_ && stdin_pending_.empty()) {
        close(stdin_w_);
        stdin_w_ = -1;
    }
}

void pty_session::stop_everything()
{
    if (pid_ > 0 && !exited_)
        kill(pid_, SIGKILL);
    if (leader_ > 0) {
        kill(leader_, SIGKILL);
        waitpid(leader_, nullptr, 0);
        leader_ = 0;
    }
    for (int *fd : {&master_, &relay_, &stdin_w_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (vt_)
        vterm_free(vt_);
    vt_ = nullptr;
    if (!home_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }
}
