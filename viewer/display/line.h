// Line assembly: input bytes into display lines with attribute markers.
#pragma once
#include <cstdint>
#include "viewer/display/cell.h"
#include "viewer/input/buffer.h"

constexpr int LINE_BUFFER_SIZE = 1024;
// Once more than this many cells are stored, line_add refuses every byte, so
// the markers and the terminator that finishing adds always fit.
constexpr int LINE_FULL_MARK = 1012;

// The text of the last raw line read by raw_line_next / raw_line_prev;
// writable, so a search may fold its case in place.
extern char *raw_line_text;

void line_start();
// Add one input byte that is a character by itself: 0 taken, 1 it does not
// fit (it begins the next line). ch == 0 finishes the line, and fills row
// with it when one is given.
int line_add(int ch, display_row *row = nullptr);

// Which lines a filter shows, for a view of only some lines: the first
// shown line at or after pos; the same without waiting for a pipe, which
// may give a position not yet judged (the end of what has arrived); and
// where the last shown line before pos ends (NO_POSITION: none). A pos
// inside a line comes back as it is.
struct line_filter {
    file_pos (*shown_after)(file_pos pos);
    file_pos (*shown_ahead)(file_pos pos);
    file_pos (*shown_before)(file_pos pos);
};
// Show only the lines the filter passes from now on (it must outlive its
// use); nullptr shows every line again.
void line_set_filter(const line_filter *filter);
// Whether only some lines are shown.
bool line_filtered();
// The first line shown at or after pos, waiting for a pipe if need be; pos
// itself when every line is shown.
file_pos line_first_shown(file_pos pos);

// Build the row at pos, into row when one is given (a row past the end has
// no cells); where the next one begins, or NO_POSITION.
file_pos line_next(file_pos pos, display_row *row = nullptr);
// Build the row that ends at pos, the one shown above it, into row when one
// is given; where it begins, or NO_POSITION. No row is built above the
// floor.
file_pos line_prev(file_pos pos, display_row *row = nullptr);
// line_next whatever the filter shows: for rows held at the top (the
// header lines are the input's first lines, shown or not).
file_pos line_next_all(file_pos pos, display_row *row);
// Rows above pos are held elsewhere (the header lines): going backward
// stops there as at the beginning of the input. 0 by default.
void line_set_floor(file_pos pos);
// Copy the raw line at pos (at most 1023 bytes); the position after it.
file_pos raw_line_next(file_pos pos);
// Copy the raw line that ends just before pos; where it begins.
file_pos raw_line_prev(file_pos pos);
// Screen columns of a cell, markers at their cookie widths; tabs and
// backspaces depend on where they stand and count 0 here.
int cell_columns(line_cell c);
// Bring the input from `from` to `to` (a match, say) into the view of
// chopped lines; whether the view moved.
bool line_reveal(file_pos from, file_pos to);
