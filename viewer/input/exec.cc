#include "viewer/input/exec.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "viewer/process/child.h"
#include "viewer/process/signals.h"

int exec_fd = -1;

namespace {

// A line longer than this goes out in pieces.
constexpr int HELD_SIZE = 64 * 1024;
// A line's beginning waits this long for its end (or for more) before it
// goes out alone: a prompt without a newline still shows.
constexpr int QUIET_MS = 100;

// At the end of the streams, how long the command is waited for to end.
constexpr int REAP_TRIES = 10;
constexpr int REAP_PAUSE_MS = 5;

int stream_fd[2] = {-1, -1};        // 0 output, 1 errors
char held[2][HELD_SIZE];
int held_length[2];
int64_t held_since[2];              // when the bytes held began to wait
int emit_stream = -1;               // whose held bytes go out next
int emit_length;

// Read by the handler of a hang-up as well.
volatile sig_atomic_t command_pid;
bool command_ended;
bool reap_tries_done;               // waited for it once at the end
int command_status;
char status_text[48];
// Readable once the command has ended (-1 where the kernel has none), so
// that a wait for a key can tell the end at once.
int end_fd = -1;

// Input positions [first, second) that came from standard error, in order.
std::vector<std::pair<int64_t, int64_t>> error_ranges;

void note_error_range(int64_t from, int64_t to)
{
    if (!error_ranges.empty() && error_ranges.back().second == from)
        error_ranges.back().second = to;
    else
        error_ranges.emplace_back(from, to);
}

void close_stream(int s)
{
    if (stream_fd[s] < 0)
        return;
    epoll_ctl(exec_fd, EPOLL_CTL_DEL, stream_fd[s], nullptr);
    close(stream_fd[s]);
    stream_fd[s] = -1;
}

// Read what one stream has: its whole lines are then to go out; a
// stream's end lets out what it held.
void take(int s)
{
    int old = held_length[s];
    ssize_t n;
    while ((n = read(stream_fd[s], held[s] + old, HELD_SIZE - old)) < 0 && errno == EINTR) {
    }
    if (n < 0 && errno == EAGAIN)
        return;
    if (n <= 0) {
        close_stream(s);
        if (old > 0) {
            emit_stream = s;
            emit_length = old;
        }
        return;
    }
    held_length[s] = old + static_cast<int>(n);
    int last_newline = -1;
    for (int i = held_length[s] - 1; i >= old; i--)
        if (held[s][i] == '\n') {
            last_newline = i;
            break;
        }
    if (last_newline >= 0 || held_length[s] == HELD_SIZE) {
        emit_stream = s;
        emit_length = last_newline >= 0 ? last_newline + 1 : HELD_SIZE;
        held_since[s] = clock_ms();
    } else if (old == 0) {
        held_since[s] = clock_ms();
    }
}

void reap_quietly()
{
    if (command_pid > 0 && !command_ended && child_poll(command_pid, &command_status))
        command_ended = true;
}

} // namespace

int exec_start(char *const argv[])
{
    exec_stop();
    // Inherited as ignored, it would have the command reaped unseen and
    // its status lost.
    signal(SIGCHLD, SIG_DFL);
    int out[2];
    pid_t pid;
    int err = child_run(argv, out, &pid);
    if (err)
        return err;
    exec_fd = epoll_create1(EPOLL_CLOEXEC);
    if (exec_fd < 0) {
        err = errno;
        close(out[0]);
        close(out[1]);
        child_end(pid);
        return err;
    }
    for (int s = 0; s < 2; s++) {
        stream_fd[s] = out[s];
        epoll_event e = {};
        e.events = EPOLLIN;
        e.data.u32 = static_cast<uint32_t>(s);
        epoll_ctl(exec_fd, EPOLL_CTL_ADD, out[s], &e);
    }
    command_pid = pid;
    end_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return 0;
}

int exec_read(int64_t at, char *into, int count, bool wait)
{
    for (;;) {
        if (emit_length > 0) {
            int s = emit_stream;
            int n = std::min(count, emit_length);
            memcpy(into, held[s], static_cast<size_t>(n));
            memmove(held[s], held[s] + n, static_cast<size_t>(held_length[s] - n));
            held_length[s] -= n;
            emit_length -= n;
            if (s == 1)
                note_error_range(at, at + n);
            return n;
        }
        if (stream_fd[0] < 0 && stream_fd[1] < 0) {
            // Its streams close as it exits, a moment before it can be
            // reaped: the end of its output is told with its status.
            for (int tries = 0; !reap_tries_done && tries < REAP_TRIES && command_pid > 0 && !command_ended; tries++) {
                reap_quietly();
                if (!command_ended && wait_for_input(-1, REAP_PAUSE_MS) == -2)
                    break;
            }
            reap_tries_done = true;
            return 0;
        }
        // A line begun and not ended waits a moment for its end.
        int oldest = -1;
        for (int s = 0; s < 2; s++)
            if (held_length[s] > 0 && (oldest < 0 || held_since[s] < held_since[oldest]))
                oldest = s;
        int ready;
        if (oldest >= 0) {
            int64_t left = held_since[oldest] + QUIET_MS - clock_ms();
            ready = left <= 0 ? 0 : wait_for_input(exec_fd, wait ? static_cast<int>(left) : 0);
            if (ready == 0 && left <= 0) {
                emit_stream = oldest;
                emit_length = held_length[oldest];
                continue;
            }
        } else {
            ready = wait ? wait_viewed_input(exec_fd) : wait_for_input(exec_fd, 0);
        }
        if (ready == -2)
            return -2;
        if (ready == 0) {
            if (wait)
                continue;
            return 0;
        }
        // One stream at a time, so that what came first goes first.
        pollfd p[2] = {{stream_fd[0], POLLIN, 0}, {stream_fd[1], POLLIN, 0}};
        if (poll(p, 2, 0) <= 0)
            continue;
        for (int s = 0; s < 2; s++)
            if (stream_fd[s] >= 0 && p[s].revents) {
                take(s);
                break;
            }
    }
}

int exec_ready()
{
    if (emit_length > 0 || (stream_fd[0] < 0 && stream_fd[1] < 0))
        return 1;
    for (int s = 0; s < 2; s++)
        if (held_length[s] > 0 && clock_ms() - held_since[s] >= QUIET_MS)
            return 1;
    return wait_for_input(exec_fd, 0);
}

bool input_from_stderr(int64_t line_start)
{
    auto after = std::upper_bound(error_ranges.begin(), error_ranges.end(), line_start,
                                  [](int64_t pos, const std::pair<int64_t, int64_t> &r) {
                                      return pos < r.first;
                                  });
    return after != error_ranges.begin() && line_start < std::prev(after)->second;
}

const char *exec_status_text()
{
    reap_quietly();
    if (!command_ended)
        return nullptr;
    int st = command_status;
    if (WIFSIGNALED(st)) {
        const char *name = sigabbrev_np(WTERMSIG(st));
        if (name)
            snprintf(status_text, sizeof status_text, "signal SIG%s", name);
        else
            snprintf(status_text, sizeof status_text, "killed by signal %d", WTERMSIG(st));
    } else {
        snprintf(status_text, sizeof status_text, "exit %d", WEXITSTATUS(st));
    }
    return status_text;
}

int exec_end_fd()
{
    reap_quietly();
    return command_pid > 0 && !command_ended ? end_fd : -1;
}

int exec_wait_status()
{
    if (command_pid > 0 && !command_ended) {
        if (child_wait(command_pid, &command_status) != 1)
            return -2;
        command_ended = true;
    }
    if (WIFSIGNALED(command_status))
        return 128 + WTERMSIG(command_status);
    return WEXITSTATUS(command_status);
}

void exec_stop()
{
    close_stream(0);
    close_stream(1);
    if (exec_fd >= 0)
        close(exec_fd);
    exec_fd = -1;
    if (end_fd >= 0)
        close(end_fd);
    end_fd = -1;
    if (command_pid > 0 && !command_ended)
        child_end(command_pid);
    command_pid = 0;
    command_ended = reap_tries_done = false;
    command_status = 0;
    held_length[0] = held_length[1] = 0;
    emit_stream = -1;
    emit_length = 0;
    error_ranges.clear();
}

void exec_signal_end()
{
    pid_t pid = command_pid;
    if (pid > 0 && !command_ended)
        kill(-pid, SIGTERM);
}
