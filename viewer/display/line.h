// Line assembly: input bytes into display lines with attribute markers.
#pragma once
#include <cstdint>
#include "viewer/input/buffer.h"

constexpr int LINE_BUFFER_SIZE = 1024;
// Once more than this many cells are stored, line_add refuses every byte, so
// the markers and the terminator that finishing adds always fit.
constexpr int LINE_FULL_MARK = 1012;

// A display line is a 0-terminated string of 16-bit cells. Cells below 0x100
// are bytes sent as they are, except tab, backspace and the four attribute
// markers. A DEL (and with -u 2 a backspace) becomes a caret mark, a cell of
// its own above 0x100 that the painter shows as '^' and the letter, so it can
// never be taken for a text byte such as 0xBF.
using line_cell = uint16_t;
constexpr line_cell MARK_UNDERLINE_ON = 0x15;
constexpr line_cell MARK_UNDERLINE_OFF = 0x16;
constexpr line_cell MARK_BOLD_ON = 0x17;
constexpr line_cell MARK_BOLD_OFF = 0x18;
constexpr line_cell MARK_CARET = 0x100;   // | letter: shown as '^', letter

// What the painter shows next; nullptr for a row past the end of the input.
extern const line_cell *line_text;
// The text of the last raw line read by raw_line_next / raw_line_prev;
// writable, so a search may fold its case in place.
extern char *raw_line_text;

void line_start();
// Add one input byte: 0 taken, 1 it does not fit (it begins the next line).
// ch == 0 finishes the line.
int line_add(int ch);
// Assemble the display line at pos; where the next one begins, or NO_POSITION.
file_pos line_next(file_pos pos);
// Assemble the display line that ends at pos; where it begins, or NO_POSITION.
file_pos line_prev(file_pos pos);
// Copy the raw line at pos (at most 1023 bytes); the position after it.
file_pos raw_line_next(file_pos pos);
// Copy the raw line that ends just before pos; where it begins.
file_pos raw_line_prev(file_pos pos);
// 1 for the bytes shown in caret form (DEL only).
int char_is_control(int ch);
// The letter of the caret form.
int char_control_form(int ch);
