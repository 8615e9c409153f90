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
        setpgid(0, 0);
        for (int sig : {SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH, SIGPIPE})
            signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(in_fd >= 0 ? in_fd : null_fd, 0) < 0 || dup2(out[1], 1) < 0 ||
            (!keep_errors && dup2(null_fd, 2) < 0))
            _exit(127);
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
