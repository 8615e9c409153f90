// The screen: position table, forward and backward painting.
#pragma once
#include "viewer/display/cell.h"
#include "viewer/input/buffer.h"

#include "viewer/terminal/term.h"

// One entry per row, and one for where the next forward move begins.
constexpr int SCREEN_POS_CAPACITY = MAX_SCREEN_ROWS + 1;
// Row selectors for screen_pos; other values are row numbers from 0.
constexpr int ROW_TOP = 0;
constexpr int ROW_BOTTOM = -1;        // the last text row
constexpr int ROW_AFTER_BOTTOM = -2;  // where the next forward move begins
constexpr int ROW_MIDDLE = -3;

// Times the end of the input was reached since the last jump or repaint.
extern int eof_count;
// On a hard-copy terminal the very first paint may leave the rows past the
// end of a short input unpainted (set by the program; not when a start
// command or tag ran first).
extern int screen_defer_blank_rows;
// Set while a move is made whose screen nobody will see (a move typed
// already replaces it, or the whole screen is painted afresh after it): the
// paints keep the position table, the end count and the bells as ever, but
// send no rows.
extern int screen_unseen;

file_pos screen_pos(int where);
void screen_pos_clear();
void screen_pos_insert_bottom(file_pos pos);
void screen_pos_insert_top(file_pos pos);
// The row whose line holds pos, or -1.
int screen_line_of(file_pos pos);
void paint_forward(int n, file_pos pos, int force, int only_last);
void paint_backward(int n, file_pos pos, int force, int only_last);
void scroll_forward(int n, int only_last);
void scroll_backward(int n, int only_last);
void repaint_screen();
// Paint a row where the cursor stands: its styles are given by the style
// passes, and the painter only writes its cells in them. A row without
// cells is one past the end of the input.
void show_line(const display_row &row);
// Largest backward move done by scrolling.
int back_scroll_limit();
// When the whole input fits in the text rows of one screen, write its rows
// where the cursor stands, as plain output, and say so; false when it does
// not fit (or a signal came first), having read only a screenful more.
bool screen_print_if_fits();
