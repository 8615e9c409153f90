// The view's geometry: how the screen's rows and columns are shared among
// the text, the rows held for a header, the number column and the bottom
// line, and how far chopped lines are scrolled sideways. Painting, moves
// and commands ask here rather than working it out from the screen's size.
#pragma once
#include "viewer/input/buffer.h"

// The row of the bottom line (prompts and messages); as many rows stand
// above it.
int view_bottom_line();
// Rows held at the top for header lines (and the start line of the
// section shown), above the text rows; at least one text row is left.
int view_header_rows();
// Hold rows at the top (the painter learns how many the header takes).
void view_set_header_rows(int rows);
// Rows that show the text: the screen less the header and the bottom line.
int view_text_rows();
// Columns the number column (-N) takes beside the rows of the line that
// holds pos: 7 digits or as many as its number has, and a space; 0 when it
// is off or the window is too narrow for it.
int view_number_columns(file_pos pos);
// Columns a row of the line that holds pos may fill beside the number
// column, at least 1.
int view_text_columns(file_pos pos);
// The first column of each chopped line (-S) shown, 0 until the view is
// scrolled sideways.
int view_column();
// Scroll chopped lines so that `column` (at least 0) is the first shown.
void view_set_column(int column);
// The row a jump puts its target line on, counted from the top text row:
// rows, or with percent a share of the text rows; 0 the top row.
void view_set_jump_target(int rows, bool percent);
// The target as set: rows, or a share of them with *percent set.
int view_jump_target(bool *percent);
// That row for the current window, below the last text row never.
int view_jump_row();
