// The matches of the last search, shown in standout on the rows painted,
// and of the patterns added to highlight, each in a colour of its own.
#pragma once
#include "viewer/display/cell.h"
#include "viewer/display/style.h"
#include "viewer/input/buffer.h"

// From now on highlight the matches of pattern, compiled with these regcomp
// flags, in lines folded the way a case-blind search folds them when fold is
// set; a null pattern turns highlighting off until the next search.
void highlight_set(const char *pattern, int cflags, int fold);
// Show the matches or not: a search for lines that do not match has none.
void highlight_enable(int on);
// The most patterns highlight_add keeps.
constexpr int HIGHLIGHT_PATTERNS = 8;
// Add a pattern to highlight in a colour of its own, matched as a search
// matches (by -i as it is now); "" removes them all, "!" the last added.
void highlight_add(const char *pattern);
// How many patterns highlight_add keeps now.
int highlight_count();
// A paint begins: highlighting may again take its time, up to a bound.
void highlight_paint_begin();
// The highlight pass over a row: the characters that lie in a match take
// its class; the cells that show no character of their own keep the class
// of the one before them, so that they change no mode.
void highlight_style(const display_row &row, cell_style *styles);
// The first match at or after pos on its line, shown or not: its start,
// with its end in *end; NO_POSITION when there is none.
file_pos highlight_first_match(file_pos pos, file_pos *end);
