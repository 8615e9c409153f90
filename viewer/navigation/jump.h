// Jumps to the end, a line, a percentage or a mark.
#pragma once
#include <cstdint>
#include "viewer/input/buffer.h"

void goto_position(file_pos pos);
// Go to the line at pos, shown on the jump target row (--jump-target) when
// enough lines lie before it.
void goto_target(file_pos pos);
// The top line that shows the line at pos on the jump target row.
file_pos jump_target_top(file_pos pos);
// Paint a whole screen from pos as a jump does (the last one when nothing
// is shown from pos on), but leave the marks alone.
// The screen row searches start from: the target row of jumps (0 without
// one), or where the last jump's target stands while its screen is shown.
int jump_search_row();
void show_position(file_pos pos);
void goto_end();
// Show the input from line n, counted from 1 by newlines.
void goto_line_number(int64_t n);
void goto_percent(int p);
void mark_set(int letter);
void mark_goto(int letter);
void marks_clear();
