// Searching for lines that match, or do not match, a regular expression.
#pragma once
#include <cstdint>

#include "viewer/input/buffer.h"

// How far a search may go: bytes past where it began and milliseconds (0:
// no limit), and whether a key typed meanwhile ends it.
struct search_bound {
    int64_t bytes = 0;
    int ms = 0;
    bool until_key = false;
};

// Where a search from the screen begins, as the -a setting says; 0 when
// nothing is on the screen, NO_POSITION when there is nothing to search.
file_pos search_start(int forward);
// Move to the n-th line after (forward) or before the screen whose match
// of the pattern equals match_wanted. A null or empty pattern means the
// previous one; the pattern may be folded to lower case in place.
void search_text(int forward, char *pattern, int n, int match_wanted);
// search_text from start (an answer of search_start), which need not be
// where the screen is now.
void search_text_from(file_pos start, int forward, char *pattern, int n, int match_wanted);

// The search as its pattern is typed: compiled apart from the last
// search's, its matches highlighted, the line found within the bound; the
// line's position, or NO_POSITION (also for a pattern that does not
// compile). Nothing is shown and the view does not move.
file_pos search_preview(file_pos start, int forward, const char *pattern, int n, int match_wanted,
                        search_bound bound);
// Highlight the last search's matches again, as before the previews.
void search_preview_end();

// The filter's pattern (nullptr or "": none) for the two operations below,
// lines that match it shown when match_wanted, else those that do not;
// the message when it does not compile, and the filter is then unchanged.
// Searches count only the lines the filter shows.
const char *search_filter_compile(const char *pattern, int match_wanted);
// Whether -i, -r or -u changed since the filter's pattern was compiled; it
// is then compiled again for the settings in force, and every line is to
// be judged again.
bool search_filter_renew();
// The first line shown at or after pos; NO_POSITION at the end, when
// interrupted, or when bytes (0: no limit) were judged in vain.
file_pos search_filter_next(file_pos pos, int64_t bytes);
// The last line shown before pos; NO_POSITION as above.
file_pos search_filter_prev(file_pos pos, int64_t bytes);

// The pattern of the lines that start sections (nullptr or "": none); the
// message when it does not compile, and the pattern is then unchanged.
// Only the lines the filter shows start sections.
const char *search_section_compile(const char *pattern);
// The n-th line that starts a section: forward, at or after pos; backward,
// before it. Within about bytes of pos (0: no limit: the bound is looked
// at between the runs read); NO_POSITION when there is none, when
// interrupted, or past the bound.
file_pos search_section(file_pos pos, int forward, int n, int64_t bytes = 0);
// The last of the lines that begin in [from, to) and start a section, read
// forward (only what lies between is read); NO_POSITION as above.
file_pos search_section_last(file_pos from, file_pos to);
// Changes whenever the lines found to start sections may have changed (a
// new pattern, a new filter, -i): what was learnt of them is then stale.
uint64_t search_section_changes();
