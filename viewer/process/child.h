// A command whose standard output the viewer reads: an input preprocessor.
#pragma once
#include <sys/types.h>

// Start `sh -c command arg0 file` in a process group of its own, its
// standard input from in_fd (-1: /dev/null, so that it never takes the
// terminal's keys), its standard error the viewer's when keep_errors, else
// /dev/null. The file name reaches the command only as "$1". The read end
// of its standard output, or -1 when it could not be started; *pid is set.
int child_start(const char *command, const char *arg0, const char *file, int in_fd,
                bool keep_errors, pid_t *pid);
// Start argv[0] with the words of argv as given (no shell), found through
// PATH, in a process group of its own, its standard input /dev/null, its
// standard output and standard error on two pipes whose read ends are put
// in out[0] and out[1]. 0 on success with *pid set; otherwise the errno of
// the failed start (the command's exec too, which the child reports).
int child_run(char *const argv[], int out[2], pid_t *pid);
// Whether the child has ended, without waiting: 1 with its waitpid status
// in *status, 0 while it runs.
int child_poll(pid_t pid, int *status);
// Wait for the child to end, breakably: 1 with its waitpid status in
// *status, -2 when a signal was pending or arrived.
int child_wait(pid_t pid, int *status);
// End the child's whole group (SIGTERM, then SIGKILL after a second) and
// reap it. Its output's read end should be closed first.
void child_end(pid_t pid);
