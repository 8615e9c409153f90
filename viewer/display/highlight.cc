#include "viewer/display/highlight.h"

#include <regex.h>

#include <cstring>

#include "common/clock.h"
#include "viewer/input/match.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

// Matches are looked for in at most this much of a raw line before and
// after the row: a row far into an enormous line is matched near itself.
constexpr int WINDOW = 32 * 1024;
constexpr int MAX_SPANS = 512;
// Highlighting may take this long in one paint; the rest of the screen is
// then shown without it, and the next paint tries again.
constexpr int64_t PAINT_BUDGET = 100 * 1000 * 1000;
// Past this much time in a paint, a key typed meanwhile ends highlighting
// for the paint, so that the key is served first.
constexpr int64_t KEY_CHECK_AFTER = 10 * 1000 * 1000;

struct span {
    file_pos from, to;          // input positions, to exclusive
    cell_style style;           // the highlight class it shows in
};

match_pattern *pattern;         // nullptr: nothing to highlight
bool pattern_folds;
bool enabled;

// The patterns added with *pattern or --highlight, the oldest first; the
// i-th shows in class STYLE_MATCH + 1 + i.
struct extra_pattern {
    match_pattern *compiled;
    bool folds;
};
extra_pattern extras[HIGHLIGHT_PATTERNS];
int extra_count;

// The part of a raw line around the last row asked for, and its matches.
char raw[2 * WINDOW];
char text[2 * WINDOW + 1];              // and a 0 byte after it
int32_t text_origin[2 * WINDOW + 1];    // where each text byte comes from in raw
file_pos window_from = NO_POSITION;     // the input the spans were found in
file_pos window_to = NO_POSITION;
bool window_cut;                        // the line goes on beyond the text
bool window_newline;                    // a newline ends the text
span spans[MAX_SPANS];
int span_count;

int64_t paint_spent;                    // time highlighting took in this paint
bool paint_given_up;

// Read the input from `from` up to a newline or `to` into raw; the length.
int read_window(file_pos from, file_pos to)
{
    if (buf_seek(from) != 0)
        return 0;
    int n = 0;
    window_cut = true;
    window_newline = false;
    for (file_pos p = from; p < to && n < 2 * WINDOW; p++) {
        int c = buf_next_byte();
        if (c == END_OF_INPUT || c == '\n' || pending_signals) {
            window_cut = false;
            window_newline = c == '\n';
            break;
        }
        raw[n++] = static_cast<char>(c);
    }
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

int64_t note_span(void *style, const match_span &m)
{
    if (m.to == m.from)
        return m.from + 1;
    spans[span_count++] = {window_from + text_origin[m.from], window_from + text_origin[m.to],
                           *static_cast<cell_style *>(style)};
    return span_count == MAX_SPANS ? -1 : m.to;
}

// The text of the window as one pattern matches it: folded or not. The
// length; text and text_origin hold it.
size_t shown_text(int n, bool folds)
{
    int how = match_how() | (folds ? MATCH_FOLD_CASE : 0) |
              (window_newline ? MATCH_LINE_END : 0);
    size_t len = match_shown(raw, static_cast<size_t>(n), text, text_origin, how);
    text[len] = '\0';
    return len;
}

// false when the time allowed ran out first.
bool find_spans(file_pos pos)
{
    int64_t start = clock_ns();
    span_count = 0;
    bool at_line_start;
    window_from = window_start(pos, &at_line_start);
    int n = read_window(window_from, pos + WINDOW);
    window_to = window_from + n;
    int flags = (at_line_start ? 0 : MATCH_NOT_BOL) | (window_cut ? MATCH_NOT_EOL : 0);
    // One budget for every pattern: the search's first, so that its spans
    // come before the others and win where they overlap.
    int64_t deadline = start + PAINT_BUDGET - paint_spent;
    int rc = 0;
    int folded = -1;  // how text was last made: 0 as is, 1 folded
    size_t len = 0;
    for (int i = -1; i < extra_count && rc >= 0 && span_count < MAX_SPANS; i++) {
        match_pattern *p = i < 0 ? pattern : extras[i].compiled;
        if (!p)
            continue;
        bool folds = i < 0 ? pattern_folds : extras[i].folds;
        if (folded != static_cast<int>(folds)) {
            len = shown_text(n, folds);
            folded = folds;
        }
        cell_style style = static_cast<cell_style>(STYLE_MATCH + 1 + i);
        rc = match_each(p, nullptr, text, static_cast<int64_t>(len), 0, flags, deadline,
                        note_span, &style);
    }
    paint_spent += clock_ns() - start;
    if (rc < 0) {
        // Not kept: the next paint looks again.
        window_from = window_to = NO_POSITION;
        span_count = 0;
        return false;
    }
    return true;
}

// A paint that has spent long on highlighting gives way to typed keys.
bool key_waiting()
{
    return paint_spent > KEY_CHECK_AFTER && wait_for_input(keyboard_fd, 0) == 1;
}

} // namespace

void highlight_set(const char *pattern_text, int cflags, int fold)
{
    match_free(pattern);
    pattern = nullptr;
    if (pattern_text) {
        char error[100];
        pattern = match_compile(pattern_text, cflags, error, sizeof error);
    }
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

void highlight_add(const char *pattern_text)
{
    if (strcmp(pattern_text, "!") == 0 || *pattern_text == '\0') {
        int keep = *pattern_text ? (extra_count > 0 ? extra_count - 1 : 0) : 0;
        while (extra_count > keep)
            match_free(extras[--extra_count].compiled);
    } else {
        if (extra_count == HIGHLIGHT_PATTERNS) {
            show_error("Only 8 highlight patterns (*! removes the last)");
            return;
        }
        char error[100];
        int cflags = REG_EXTENDED | (opt_i && text_locale_utf8() ? REG_ICASE : 0);
        match_pattern *p = match_compile(pattern_text, cflags, error, sizeof error);
        if (!p) {
            show_error(error);
            return;
        }
        extras[extra_count++] = {p, opt_i != 0};
    }
    window_from = window_to = NO_POSITION;
    screen_stale = 1;
}

int highlight_count()
{
    return extra_count;
}

void highlight_paint_begin()
{
    paint_spent = 0;
    paint_given_up = false;
}

namespace {

// Prepare for a row that begins at pos; false when nothing on it can be
// highlighted.
bool prepare_row(file_pos pos)
{
    // A standout that takes a column of its own would move the text.
    if (standout_on_width > 0 || pos < 0)
        return false;
    if ((!pattern || !enabled || !opt_H) && extra_count == 0)
        return false;
    if (paint_given_up || pending_signals || key_waiting()) {
        paint_given_up = true;
        return false;
    }
    if (pos < window_from || pos >= window_to) {
        if (!find_spans(pos)) {
            paint_given_up = true;
            return false;
        }
    }
    return span_count > 0;
}

// The class of the match that holds the character at pos, or 0.
cell_style class_at(file_pos pos)
{
    // The search's matches are found even while they are not shown.
    bool search_shown = pattern && enabled && opt_H;
    for (int i = 0; i < span_count; i++)
        if (pos >= spans[i].from && pos < spans[i].to &&
            (search_shown || spans[i].style != STYLE_MATCH))
            return spans[i].style;
    return STYLE_PLAIN;
}

} // namespace

void highlight_style(const display_row &row, cell_style *styles)
{
    // Cells that show no input (the padding of columns) are never matched.
    int first = 0;
    while (row.cells && first < row.count && row.positions[first] == NO_POSITION)
        first++;
    if (!row.cells || first == row.count || !prepare_row(row.positions[first]))
        return;
    cell_style shown = STYLE_PLAIN;
    for (int i = 0; i < row.count; i++) {
        line_cell c = row.cells[i];
        if ((c >= 0x20 || c == '\t') && (c & CELL_KIND) != CELL_ESCAPE &&
            (c & CELL_KIND) != CELL_EDGE)
            shown = class_at(row.positions[i]);
        styles[i] = static_cast<cell_style>((styles[i] & ~STYLE_CLASS) | shown);
    }
}

file_pos highlight_first_match(file_pos pos, file_pos *end)
{
    if (!pattern || pos < 0)
        return NO_POSITION;
    // As long as a paint may take, and no more.
    paint_spent = 0;
    if (!find_spans(pos))
        return NO_POSITION;
    for (int i = 0; i < span_count; i++) {
        if (spans[i].style == STYLE_MATCH && spans[i].from >= pos) {
            *end = spans[i].to;
            return spans[i].from;
        }
    }
    return NO_POSITION;
}
