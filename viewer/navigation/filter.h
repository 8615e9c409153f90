// Showing only the lines that match a pattern, or only those that do not.
// Lines are judged as the display reaches them, never all at once.
#pragma once
#include <cstdint>

#include "viewer/input/buffer.h"

// Show only the lines of the current input that match pattern (with
// match_wanted 0, those that do not); nullptr or "" shows every line again.
// A pattern that does not compile is reported and changes nothing: false.
// The caller paints the screen afresh.
bool filter_set(const char *pattern, int match_wanted);
// The filter as typed ("!" in front for lines that do not match), or
// nullptr when every line is shown.
const char *filter_text();
// Lines shown, or -1 while not every line has been judged in order.
int64_t filter_count();
// The current input is now the named file: its own filter comes back, if
// it had one; any other input starts unfiltered.
void filter_input_changed(const char *name);
// With a filter on: the first line at or after pos (a line start) that it
// shows; NO_POSITION when none comes before the end of the input (as far
// as it has arrived) or a signal broke the search off.
file_pos filter_next_shown(file_pos pos);
// on != 0: lines are judged only near where the display asks, as after an
// interrupt: the screen then shows what has been found.
void filter_hurry(int on);
