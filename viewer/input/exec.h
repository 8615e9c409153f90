// A command's standard output and standard error read as one input, in
// the order they arrive, with the lines that came from its errors known.
#pragma once
#include <cstdint>
#include <sys/types.h>

// The descriptor the input waits on (readable when either stream has
// something or ended) while a command is the input; -1 otherwise.
extern int exec_fd;

// Start argv (no shell) as the input. 0 on success; else the errno of the
// failed start, and nothing runs.
int exec_start(char *const argv[]);
// Up to count bytes of the merged streams, at input position at: whole
// lines where a line arrives whole, a partial line once its stream has
// been quiet a moment. As read_viewed_input (wait is false: as after a
// wait that found nothing, 0): bytes, 0 at the end, -2 broken.
int exec_read(int64_t at, char *into, int count, bool wait);
// 1 when exec_read would give something (or the end) without waiting.
int exec_ready();
// Whether the line that starts at line_start came from standard error.
// Lines go out whole, so any position in the line (a folded row's start)
// answers for it. Cheap, no allocation (a search of a sorted list): for
// the painter.
bool input_from_stderr(int64_t line_start);
// How the command ended, "exit 3" or "signal SIGTERM", or nullptr while
// it runs (or none ran). Looked at without waiting.
const char *exec_status_text();
// A descriptor readable once the running command ends, for waits that
// should end then too; -1 when no command runs (or it ended already).
int exec_end_fd();
// The command's exit status as a shell would give it (128 + a signal),
// once it ended and was reaped, waiting for that; -2 when a signal broke
// the wait.
int exec_wait_status();
// Close the streams and end the command's group: SIGTERM, then SIGKILL
// after a second. Everything recorded is forgotten.
void exec_stop();
// From a signal handler: SIGTERM to the command's group, if one runs.
void exec_signal_end();
