// The matches of the last search, shown in standout on the rows painted.
#pragma once
#include "viewer/input/buffer.h"

// From now on highlight the matches of pattern, compiled with these regcomp
// flags, in lines folded the way a case-blind search folds them when fold is
// set; a null pattern turns highlighting off until the next search.
void highlight_set(const char *pattern, int cflags, int fold);
// Show the matches or not: a search for lines that do not match has none.
void highlight_enable(int on);
// A paint begins: highlighting may again take its time, up to a bound.
void highlight_paint_begin();
// Prepare for a row that begins at pos; false when nothing on it can be
// highlighted, so that the painter need not ask highlight_at.
bool highlight_row(file_pos pos);
// Whether the character that begins at pos lies in a match.
bool highlight_at(file_pos pos);
// The first match at or after pos on its line, shown or not: its start,
// with its end in *end; NO_POSITION when there is none.
file_pos highlight_first_match(file_pos pos, file_pos *end);
