// The line-number column (-N): the rows that begin a line show its number.
#pragma once
#include <cstdint>
#include "viewer/input/buffer.h"

// The number to show beside a row whose input begins at row: the number of
// its line, from the line-number table, when the row begins that line; 0
// for a row that continues a line, and when the column is off.
int64_t numcol_number(file_pos row);
// Count the number of the line at pos before a paint, so that the rows
// painted after it are counted from near by.
void numcol_prepare(file_pos pos);
// Paint the column of a row: number right-aligned in width - 1 columns, or
// blank for 0, then mark.
void numcol_paint(int64_t number, int width, char mark = ' ');
