#include "viewer/display/highlight.h"

#include <regex.h>

#include "viewer/input/scan.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

// Matches are looked for in at most this much of a raw line before and
// after the row: a row far into an enormous line is matched near itself.
constexpr int WINDOW = 32 * 1024;
constexpr int MAX_SPANS = 256;

struct span {
    file_pos from, to;          // input positions, to exclusive
};

regex_t pattern_regex;
bool pattern_valid;
bool pattern_folds;
bool enabled;

// The part of a raw line around the last row asked for, and its matches.
char text[2 * WINDOW + 1];
file_pos text_origin[2 * WINDOW + 1];   // input position of each text byte
file_pos window_from = NO_POSITION;     // the input the spans were found in
file_pos window_to = NO_POSITION;
bool window_cut;                        // the line goes on beyond the text
span spans[MAX_SPANS];
int span_count;

// Read the input from `from` up to a newline or `to` into text, folded as
// the search folds a line; the length.
int read_window(file_pos from, file_pos to)
{
    if (buf_seek(from) != 0)
        return 0;
    int n = 0;
    window_cut = true;
    for (file_pos p = from; p < to && n < 2 * WINDOW; p++) {
        int c = buf_next_byte();
        if (c == END_OF_INPUT || c == '\n' || pending_signals) {
            window_cut = false;
            break;
        }
        if (pattern_folds && c == '\b' && n > 0) {
            n--;
            continue;
        }
        text[n] = pattern_folds ? scan_fold_char(static_cast<char>(c)) : static_cast<char>(c);
        text_origin[n++] = p;
    }
    text[n] = '\0';
    return n;
}

// The start of the raw line that holds pos, looking back at most WINDOW bytes.
file_pos window_start(file_pos pos, bool *at_line_start)
{
    *at_line_start = true;
    if (buf_seek(pos) != 0)
        return pos;
    for (int k = 0; k < WINDOW; k++) {
        int c = buf_prev_byte();
        if (c == END_OF_INPUT)
            return buf_tell();
        if (c == '\n')
            return buf_tell() + 1;
    }
    *at_line_start = false;
    return buf_tell();
}

void find_spans(file_pos pos)
{
    span_count = 0;
    bool at_line_start;
    window_from = window_start(pos, &at_line_start);
    int n = read_window(window_from, pos + WINDOW);
    window_to = n > 0 ? text_origin[n - 1] + 1 : window_from;
    for (int at = 0; at <= n && span_count < MAX_SPANS;) {
        regmatch_t m;
        int flags = (at > 0 || !at_line_start ? REG_NOTBOL : 0) | (window_cut ? REG_NOTEOL : 0);
        if (regexec(&pattern_regex, text + at, 1, &m, flags) != 0)
            break;
        int from = at + static_cast<int>(m.rm_so), to = at + static_cast<int>(m.rm_eo);
        if (to > from) {
            spans[span_count++] = {text_origin[from], text_origin[to - 1] + 1};
            at = to;
        } else {
            at = from + 1;
        }
    }
}

} // namespace

void highlight_set(const char *pattern, int cflags, int fold)
{
    if (pattern_valid)
        regfree(&pattern_regex);
    pattern_valid = pattern && regcomp(&pattern_regex, pattern, cflags) == 0;
    pattern_folds = fold;
    window_from = window_to = NO_POSITION;
    // Rows painted before show the old matches, or none.
    screen_stale = 1;
}

void highlight_enable(int on)
{
    if (enabled != (on != 0))
        screen_stale = 1;
    enabled = on != 0;
}

bool highlight_row(file_pos pos)
{
    // A standout that takes a column of its own would move the text.
    if (!pattern_valid || !enabled || !opt_H || standout_on_width > 0 || pos < 0)
        return false;
    if (pos < window_from || pos >= window_to)
        find_spans(pos);
    return span_count > 0;
}

bool highlight_at(file_pos pos)
{
    for (int i = 0; i < span_count; i++)
        if (pos >= spans[i].from && pos < spans[i].to)
            return true;
    return false;
}

file_pos highlight_first_match(file_pos pos, file_pos *end)
{
    if (!pattern_valid || pos < 0)
        return NO_POSITION;
    find_spans(pos);
    for (int i = 0; i < span_count; i++) {
        if (spans[i].from >= pos) {
            *end = spans[i].to;
            return spans[i].from;
        }
    }
    return NO_POSITION;
}
