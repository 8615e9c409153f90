// Line numbers, computed from a small table of known ones.
#pragma once
#include "viewer/input/buffer.h"

constexpr int LINENUM_CAPACITY = 50;

// Set while the "Calculating line numbers" notice is up for a running count.
extern int linenum_busy;

void linenum_reset();
void linenum_add(int line, file_pos pos);
// The number of the line that holds pos; 0 when there is none to show.
int linenum_of(file_pos pos);
// linenum_of for a screen row (selector or number).
int linenum_of_screen(int where);
