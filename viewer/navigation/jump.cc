#include "viewer/navigation/jump.h"

#include <cinttypes>
#include <cstdio>

#include "viewer/display/header.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/display/view.h"
#include "viewer/input/scan.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

file_pos marks[26] = {NO_POSITION};
// The top line before the last jump that repainted the screen.
file_pos quote_mark = NO_POSITION;
// The line the last jump to a target showed, and the top line it painted.
file_pos target_line = NO_POSITION;
file_pos target_top = NO_POSITION;

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
    paint_backward(view_text_rows(), p, 0, 0);
}

// On a pipe whose end is not known the read to the end may wait long:
// what has arrived is read first. Where that ends, or NO_POSITION when
// nothing was read that way.
file_pos read_arrived()
{
    if (!input_is_pipe || eof_position != NO_POSITION)
        return NO_POSITION;
    // Follow mode reads only what has arrived anyway.
    if (buf_pipe_nonblocking(1))
        return NO_POSITION;
    int broken = buf_seek_end();
    buf_pipe_nonblocking(0);
    buf_forget_end();
    return broken ? NO_POSITION : buf_tell();
}

// A whole screen from pos down.
void paint_from(file_pos pos)
{
    eof_count = 0;
    screen_stale = 0;
    paint_forward(view_text_rows(), pos, 1, 0);
}

} // namespace

void goto_position(file_pos pos)
{
    // The header lines are held above the text: a target among them is
    // shown there, and the text begins under them.
    if (pos < header_body_start())
        pos = header_body_start();
    // Only some lines shown: the first of them at or after pos, or the end
    // of the input when none is.
    if (line_filtered()) {
        file_pos shown = line_first_shown(pos);
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
    while (k < view_text_rows()) {
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

file_pos jump_target_top(file_pos pos)
{
    file_pos top = pos;
    for (int k = view_jump_row(); k > 0 && !pending_signals; k--) {
        file_pos prev = line_prev(top);
        if (prev == NO_POSITION)
            break;
        top = prev;
    }
    return top;
}

void goto_target(file_pos pos)
{
    int rows = view_jump_row();
    if (rows > 0 && line_filtered()) {
        pos = line_first_shown(pos);
        if (pending_signals || pos == buf_length()) {
            goto_position(pos);
            return;
        }
    }
    goto_position(jump_target_top(pos));
    target_line = pos;
    target_top = screen_pos(ROW_TOP);
}

int jump_search_row()
{
    int rows = view_jump_row();
    if (rows == 0)
        return 0;
    // Right after a jump the target may stand higher, near the start.
    if (target_top != NO_POSITION && target_top == screen_pos(ROW_TOP)) {
        int i = screen_line_of(target_line);
        if (i >= 0)
            return i;
    }
    while (rows > 0 && screen_pos(rows) == NO_POSITION)
        rows--;
    return rows;
}

void show_position(file_pos pos)
{
    pos = line_first_shown(pos);
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
    file_pos top = screen_pos(ROW_TOP);
    // The last screen of what has arrived is shown while the rest is read.
    file_pos arrived = read_arrived();
    if (arrived > 0 && arrived != screen_pos(ROW_AFTER_BOTTOM)) {
        quote_mark = top;
        paint_end_at(arrived);
    }
    if (buf_seek_end() != 0) {
        // Interrupted while reading a pipe: show what was read up to there,
        // unless the screen shows it already.
        file_pos reached = buf_tell();
        if (reached <= (arrived != NO_POSITION ? arrived : screen_pos(ROW_AFTER_BOTTOM))) {
            if (arrived == NO_POSITION)
                show_error("Cannot seek to end of file");
            return;
        }
        // The interrupt is put back once the screen is painted, so that it
        // is still answered as usual.
        int pending = pending_signals;
        pending_signals = 0;
        quote_mark = top;
        paint_end_at(reached);
        pending_signals = pending_signals | pending;
        return;
    }
    quote_mark = top;
    paint_end_at(buf_tell());
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
    goto_target(target);
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
        goto_target(start);
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
    else if (letter == '\'')
        // Back to the screen as it was, not to a target row.
        goto_position(pos);
    else
        goto_target(pos);
}

void marks_clear()
{
    for (file_pos &m : marks)
        m = NO_POSITION;
    quote_mark = NO_POSITION;
}
