// Column mode (--columns): each line split into fields at a delimiter and
// shown aligned, every column as wide as its widest field in a window of
// lines around the screen. The cells keep their input positions, so that
// searches and highlights, which match the line as it is in the input,
// land on the right cells.
#pragma once
#include "viewer/display/cell.h"
#include "viewer/display/style.h"
#include "viewer/input/buffer.h"

// Delimiters besides a single byte: runs of two or more spaces, and none
// (the first screenful decides).
constexpr int COLUMNS_SPACES = 256;
constexpr int COLUMNS_DETECT = -1;

// A field of a line: the bytes it shows, [begin, end), without the outer
// quotes of a quoted one (whose doubled quotes show once); `after` is the
// delimiter that ends it, -1 for the last.
struct column_field {
    int begin, end, after;
    bool quoted;
};

// Split length bytes of one line (no newline) at delimiter, a byte or
// COLUMNS_SPACES, into at most max fields; how many. A field that begins
// with '"' is quoted (not between spaces): delimiters and doubled quotes
// may stand inside, and an unclosed quote runs to the line's end. With
// skip_escapes, colour and link sequences are passed over whole.
int columns_split(const char *line, int length, int delimiter, bool skip_escapes,
                  column_field *fields, int max);
// The delimiter that the lines of text (length bytes, the first screenful)
// use most consistently: tab, comma, semicolon, '|' or COLUMNS_SPACES.
int columns_detect(const char *text, int length);
// Whether a field's bytes are a number, shown right-aligned.
bool columns_numeric(const char *s, int length);

// Set column mode from the value of --columns: empty (on, the delimiter
// detected), "off", "tab", "spaces" or a single byte. false: no such value.
bool columns_set(const char *value);
// Whether lines are shown in columns: every line is then one row.
bool columns_active();
// What "_ -" says of the setting, into out (size bytes).
void columns_describe(char *out, int size);

// Build the row of the line that begins at start into row, cut to the
// view; where the next line begins (the cursor is left there), or
// NO_POSITION. *blank: the line is empty.
file_pos columns_row(file_pos start, display_row *row, bool *blank);
// Move the sideways view n columns of the table (negative: left); whether
// it moved.
bool columns_scroll(int n);
// Scroll so that the input from `from` to `to` on its line is in view;
// whether the view moved.
bool columns_reveal(file_pos from, file_pos to);
// The style pass of --column-colours: the text of every other column tinted.
void columns_style(const display_row &row, cell_style *styles);
