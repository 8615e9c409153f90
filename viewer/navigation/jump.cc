#include "viewer/navigation/jump.h"

#include <cinttypes>
#include <cstdio>

#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/input/scan.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

file_pos marks[26] = {NO_POSITION};
// The top line before the last jump that repainted the screen.
file_pos quote_mark = NO_POSITION;

bool is_mark_letter(int letter)
{
    return letter >= 'a' && letter <= 'z';
}

// Rebuild the screen from p backward: the last screenful ending there.
void paint_end_at(file_pos p)
{
    term_clear();
    screen_pos_clear();
    screen_pos_insert_top(p);
    paint_backward(screen_rows - 1, p, 0, 0);
}

void show_end_at(file_pos p)
{
    quote_mark = screen_pos(ROW_TOP);
    paint_end_at(p);
}

// A whole screen from pos down.
void paint_from(file_pos pos)
{
    eof_count = 0;
    screen_stale = 0;
    paint_forward(screen_rows - 1, pos, 1, 0);
}

} // namespace

void goto_position(file_pos pos)
{
    // Only some lines shown: the first of them at or after pos, or the end
    // of the input when none is.
    if (line_shown_after) {
        file_pos shown = line_shown_after(pos);
        if (pending_signals)
            return;
        if (shown != pos && shown == buf_length()) {
            goto_end();
            return;
        }
        pos = shown;
    }
    int i = screen_line_of(pos);
    if (i >= 0) {
        paint_forward(i, screen_pos(ROW_AFTER_BOTTOM), 1, 0);
        return;
    }
    if (buf_seek(pos) != 0) {
        show_error("Cannot seek to that position");
        return;
    }
    file_pos top = screen_pos(ROW_TOP);
    if (top == NO_POSITION || top <= pos) {
        quote_mark = top;
        paint_from(pos);
        return;
    }
    // Above the screen: count the lines from pos down to the top line.
    int k = 0;
    file_pos p = pos;
    while (screen_rows >= 2 && k < screen_rows - 1) {
        file_pos next = line_next(p);
        if (next == NO_POSITION)
            break;
        p = next;
        k++;
        if (p >= top)
            break;
    }
    if (p < top) {
        quote_mark = top;
        term_clear();
        screen_pos_clear();
        screen_pos_insert_top(p);
    }
    paint_backward(k, p, 1, 0);
}

void show_position(file_pos pos)
{
    if (line_shown_after)
        pos = line_shown_after(pos);
    // Nothing from there on: the last lines before it.
    if (pos == buf_length()) {
        paint_end_at(pos);
        return;
    }
    screen_pos_clear();
    paint_from(pos);
}

void goto_end()
{
    if (buf_seek_end() != 0) {
        if (buf_tell() <= screen_pos(ROW_AFTER_BOTTOM)) {
            show_error("Cannot seek to end of file");
            return;
        }
        // Interrupted while reading a pipe: show what was read up to there.
        // The interrupt is put back once the screen is painted, so that it
        // is still answered as usual.
        int pending = pending_signals;
        pending_signals = 0;
        show_end_at(buf_tell());
        pending_signals = pending_signals | pending;
        return;
    }
    show_end_at(buf_tell());
}

void goto_line_number(int64_t n)
{
    if (buf_seek(0) != 0) {
        if (n <= 1 && buf_seek_begin() == 0)
            goto_position(buf_tell());
        show_error("Cannot get to beginning of file");
        return;
    }
    // Line n starts after the (n - 1)-th newline; whole runs are counted
    // at once and only the one holding it is walked.
    file_pos target = 0;
    int64_t newlines = 0;
    for (file_pos at = 0; n >= 2;) {
        if (at > 0 && pending_signals)
            return;
        const char *data;
        int64_t len = buf_span(at, &data);
        if (len == 0) {
            char message[64];
            snprintf(message, sizeof message, "File has only %" PRId64 " lines", newlines);
            show_error(message);
            return;
        }
        int64_t k = scan_find_newline(data, static_cast<size_t>(len), n - 1 - newlines);
        if (k >= 0) {
            target = at + k + 1;
            break;
        }
        newlines += scan_count_newlines(data, static_cast<size_t>(len));
        at += len;
    }
    goto_position(target);
}

void goto_percent(int p)
{
    file_pos len = buf_length();
    if (len == NO_POSITION) {
        show_error("Don't know length of file");
        return;
    }
    // len * p could overflow for lengths near the top of the range.
    file_pos pos = len / 100 * p + len % 100 * p / 100;
    if (buf_seek(pos) != 0) {
        goto_position(pos);
        return;
    }
    file_pos start = buf_line_start(pos);
    if (start != NO_POSITION)
        goto_position(start);
}

void mark_set(int letter)
{
    if (!is_mark_letter(letter)) {
        show_error("Choose a letter between 'a' and 'z'");
        return;
    }
    marks[letter - 'a'] = screen_pos(ROW_TOP);
}

void mark_goto(int letter)
{
    file_pos pos;
    if (letter == '\'') {
        pos = quote_mark;
    } else if (is_mark_letter(letter)) {
        pos = marks[letter - 'a'];
    } else {
        show_error("Choose a letter between 'a' and 'z'");
        return;
    }
    if (pos == NO_POSITION)
        show_error("mark not set");
    else
        goto_position(pos);
}

void marks_clear()
{
    for (file_pos &m : marks)
        m = NO_POSITION;
    quote_mark = NO_POSITION;
}
