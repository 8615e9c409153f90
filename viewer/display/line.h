// Line assembly: input bytes into display lines with attribute markers.
#pragma once
#include <cstdint>
#include "viewer/input/buffer.h"

constexpr int LINE_BUFFER_SIZE = 1024;
// Once more than this many cells are stored, line_add refuses every byte, so
// the markers and the terminator that finishing adds always fit.
constexpr int LINE_FULL_MARK = 1012;

// A display line is a 0-terminated string of cells, one per character.
// The low bits hold the character: a byte in a single-byte locale, a code
// point in a UTF-8 one; the kind bits say how it is shown. Every control
// byte of the input becomes a caret cell, so a plain cell below 0x20 is
// always the viewer's own: tab, backspace or one of the four markers.
using line_cell = uint32_t;
constexpr line_cell MARK_UNDERLINE_ON = 0x15;
constexpr line_cell MARK_UNDERLINE_OFF = 0x16;
constexpr line_cell MARK_BOLD_ON = 0x17;
constexpr line_cell MARK_BOLD_OFF = 0x18;
constexpr line_cell CELL_KIND = 0xFu << 24;
constexpr line_cell CELL_CHAR = 0xFFFFFF;     // the character bits
constexpr line_cell CELL_WIDE = 1u << 24;     // a character two columns wide
constexpr line_cell CELL_ZERO = 2u << 24;     // a combining character, no column
constexpr line_cell CELL_CARET = 3u << 24;    // '^' and the letter in the low byte
constexpr line_cell CELL_HEX = 4u << 24;      // "<XX>" for the byte in the low byte
constexpr line_cell CELL_ESCAPE = 5u << 24;   // a byte of a colour sequence (-R), no column
constexpr line_cell CELL_HEXCODE = 6u << 24;  // a character that is not printable:
                                              // "<XX>" for each byte of its UTF-8 form

// What the painter shows next; nullptr for a row past the end of the input.
extern const line_cell *line_text;
// For each cell of line_text, the input position of the character it shows.
extern const file_pos *line_positions;
// The text of the last raw line read by raw_line_next / raw_line_prev;
// writable, so a search may fold its case in place.
extern char *raw_line_text;

void line_start();
// Add one input byte that is a character by itself: 0 taken, 1 it does not
// fit (it begins the next line). ch == 0 finishes the line.
int line_add(int ch);
// Registered while only some lines are shown (a filter): the first shown
// line at or after pos, and where the last shown line before pos ends
// (NO_POSITION: none). A pos inside a line comes back as it is.
extern file_pos (*line_shown_after)(file_pos pos);
extern file_pos (*line_shown_before)(file_pos pos);

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
