// The sideways view of chopped lines (-S): scrolling it (the offset itself
// is the view's geometry), and the cells of one line cut to it.
#pragma once
#include "viewer/display/cell.h"
#include "viewer/input/buffer.h"

// The most cells a cut line holds, its terminator aside.
constexpr int CHOP_VIEW_CELLS = 4096;

// Scroll the view by n columns (negative: to the left), never left of
// column 0; whether it moved.
bool chop_scroll(int n);
// Scroll so that the columns from `from` to `to` (exclusive) are in a view
// `width` columns wide, when they are not; whether it moved.
bool chop_reveal(int from, int to, int width);

// Cut one line to the view, `width` columns wide: chop_begin, then every
// cell of the line in order, then chop_finish.
void chop_begin(int width);
// A cell that starts at line column `column` and takes `width` columns (a
// backspace -1, markers and escapes their own); escape holds an escape
// cell's bytes. false once the view is complete: a cell lay beyond it.
bool chop_take(line_cell c, int column, int width, file_pos from, const char *escape);
// The cut line, as a row's cells, columns, positions and escapes.
void chop_finish(display_row *row);
