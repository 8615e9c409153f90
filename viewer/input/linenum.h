// Line numbers, computed from a small table of known ones.
#pragma once
#include <cstdint>
#include "viewer/input/buffer.h"

constexpr int LINENUM_CAPACITY = 50;

// Set while the "Calculating line numbers" notice is up for a running count.
extern int linenum_busy;

void linenum_reset();
// After an interrupt: whether it stopped a count of lines (then over).
bool linenum_interrupted();
// Record that the line holding pos (normally starting there) is number line.
void linenum_add(int64_t line, file_pos pos);
// The number of the line that holds pos, counted from 1 by newlines; 0 when
// there is none to show.
int64_t linenum_of(file_pos pos);
// linenum_of for the line a screen row begins at; NO_POSITION, a row
// without a line, stands for the end of the input.
int64_t linenum_of_row(file_pos pos);
// Learn the number of such a row ahead of time, as the painters do, but
// only when a known entry is near enough for the count to be quick.
void linenum_learn(file_pos pos);
