// Line assembly: input bytes into display lines with attribute markers.
#pragma once
#include <cstdint>
#include "viewer/display/cell.h"
#include "viewer/input/buffer.h"

constexpr int LINE_BUFFER_SIZE = 1024;
// Once more than this many cells are stored, line_add refuses every byte, so
// the markers and the terminator that finishing adds always fit.
constexpr int LINE_FULL_MARK = 1012;

// What the painter shows next; nullptr for a row past the end of the input.
extern const line_cell *line_text;
// For each cell of line_text, the input position of the character it shows.
extern const file_pos *line_positions;
// The bytes of line_text's escape cells.
extern const char *line_escapes;
// Where the input of the row in line_text begins (with -S the start of its
// line); NO_POSITION for a line made by line_add.
extern file_pos line_row_start;
// The text of the last raw line read by raw_line_next / raw_line_prev;
// writable, so a search may fold its case in place.
extern char *raw_line_text;

void line_start();
// Add one input byte that is a character by itself: 0 taken, 1 it does not
// fit (it begins the next line). ch == 0 finishes the line.
int line_add(int ch);
// Registered while only some lines are shown (a filter): the first shown
// line at or after pos; the same without waiting for a pipe, which may
// give a position not yet judged (the end of what has arrived); and where
// the last shown line before pos ends (NO_POSITION: none). A pos inside a
// line comes back as it is.
extern file_pos (*line_shown_after)(file_pos pos);
extern file_pos (*line_shown_ahead)(file_pos pos);
extern file_pos (*line_shown_before)(file_pos pos);
// Where the row line_next assembled last begins: its pos, or past it the
// first line shown.
extern file_pos line_next_row;

// Assemble the display line at pos; where the next one begins, or NO_POSITION.
file_pos line_next(file_pos pos);
// Assemble the display line that ends at pos; where it begins, or NO_POSITION.
file_pos line_prev(file_pos pos);
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
