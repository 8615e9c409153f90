// The log file: a copy of everything read from a piped standard input.
#pragma once

extern char *log_file_name;   // -l/-L name, or nullptr
extern int log_overwrite;     // -L: replace an existing file without asking
extern int log_fd;            // -1 when no log is open
extern int log_failed;        // a write to the log failed; logging stopped

// Append bytes of the piped input to the log, if one is open. A write that
// fails is reported once and ends logging.
void log_write(const char *data, int n);
// Open or create the log, asking about an existing file.
void log_start();
// Write what the buffers hold of the current input into the log.
void log_copy_buffered();
// Copy the rest of a piped input into the log, then close it.
void log_finish();
