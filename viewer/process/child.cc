#include "viewer/process/child.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <sys/wait.h>
#include <unistd.h>

#include "viewer/process/signals.h"

namespace {

// How often an ending child is looked at.
constexpr int REAP_POLL_MS = 20;
constexpr int TERM_GRACE_MS = 1000;

// 1 reaped (status set), 0 still running, -1 no such child.
int reap(pid_t pid, int *status)
{
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid)
            return 1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// What a child does between the fork and the exec: its own group, the
// default signal actions and mask, and the given descriptors as 0, 1, 2
// (-1: 2 stays). Only what is safe after a fork.
void child_prepare(int in, int out, int err)
{
    setpgid(0, 0);
    for (int sig : {SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH, SIGPIPE})
        signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || (err >= 0 && dup2(err, 2) < 0))
        _exit(127);
}

} // namespace

int child_start(const char *command, const char *arg0, const char *file, int in_fd,
                bool keep_errors, pid_t *pid)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) < 0)
        return -1;
    // Opened before the fork: the child runs only what is safe after one.
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0) {
        close(out[0]);
        close(out[1]);
        return -1;
    }
    pid_t child = fork();
    if (child == 0) {
        child_prepare(in_fd >= 0 ? in_fd : null_fd, out[1], keep_errors ? -1 : null_fd);
        execl("/bin/sh", "sh", "-c", command, arg0, file, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(null_fd);
    if (child < 0) {
        close(out[0]);
        return -1;
    }
    // Both sides set the group, so that a signal sent to it at once finds it.
    setpgid(child, child);
    *pid = child;
    return out[0];
}

int child_run(char *const argv[], int out[2], pid_t *pid)
{
    // Output, errors, and a pipe that closes unread when the exec works
    // and otherwise carries its errno.
    int p[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    int null_fd = -1;
    auto close_all = [&] {
        for (auto &pair : p)
            for (int fd : pair)
                if (fd >= 0)
                    close(fd);
        if (null_fd >= 0)
            close(null_fd);
    };
    for (auto &pair : p)
        if (pipe2(pair, O_CLOEXEC) < 0) {
            int err = errno;
            close_all();
            return err;
        }
    null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd < 0) {
        int err = errno;
        close_all();
        return err;
    }
    pid_t child = fork();
    if (child == 0) {
        child_prepare(null_fd, p[0][1], p[1][1]);
        execvp(argv[0], argv);
        int err = errno;
        ssize_t ignored = write(p[2][1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    if (child < 0) {
        int err = errno;
        close_all();
        return err;
    }
    setpgid(child, child);
    close(p[0][1]);
    close(p[1][1]);
    close(p[2][1]);
    close(null_fd);
    p[0][1] = p[1][1] = p[2][1] = null_fd = -1;
    int err = 0;
    ssize_t n;
    while ((n = read(p[2][0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(p[2][0]);
    if (n == static_cast<ssize_t>(sizeof err) && err != 0) {
        int status;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        close(p[0][0]);
        close(p[1][0]);
        return err;
    }
    out[0] = p[0][0];
    out[1] = p[1][0];
    *pid = child;
    return 0;
}

int child_poll(pid_t pid, int *status)
{
    int r = reap(pid, status);
    if (r < 0)
        *status = 0;
    return r != 0;
}

int child_wait(pid_t pid, int *status)
{
    for (;;) {
        int r = reap(pid, status);
        if (r != 0)
            return r > 0 ? 1 : (*status = 0, 1);
        if (wait_for_input(-1, REAP_POLL_MS) == -2)
            return -2;
    }
}

void child_end(pid_t pid)
{
    int status;
    if (pid <= 0 || reap(pid, &status) != 0)
        return;
    kill(-pid, SIGTERM);
    for (int waited = 0; waited < TERM_GRACE_MS; waited += REAP_POLL_MS) {
        if (reap(pid, &status) != 0)
            return;
        // Not breakable: a pending key must not leave the child behind.
        usleep(REAP_POLL_MS * 1000);
    }
    kill(-pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}
