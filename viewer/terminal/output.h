// The output buffer in front of descriptor 1.
#pragma once
#include <cstddef>

// A whole screen fits, colours and all, so that a screen is one write.
constexpr int OUTPUT_BUFFER_SIZE = 64 * 1024;

// Set when the screen may no longer show what the viewer believes: a failed
// terminal write, a size change, a resume, a shell command, a broken paint.
// Cleared by every full repaint.
extern int screen_stale;
// The screen is in use: messages go to the bottom line, not standard error,
// and reads of the input that keep the viewer waiting say so there.
extern int screen_started;

// Append one byte (the low 8 bits); flushes first when the buffer is full.
int out_char(int ch);
void out_string(const char *s);
// Write all pending bytes; no system call when nothing is pending.
void out_flush();
// Where the output stands now, for out_discard.
long long out_mark();
// Take back what was output since mark, if none of it has been written:
// 1 when it was taken back, 0 when it stays.
int out_discard(long long mark);
// Copying mode: flush, then write n bytes straight through. A write error
// there ends the program.
void out_bytes(const char *data, size_t n);
// Copying mode: write failures end the program instead of marking the screen.
void out_set_copying(int on);
// After the terminal is given back: say on standard error that terminal
// output was lost, if it was; 1 when it was.
int out_report_failure();
