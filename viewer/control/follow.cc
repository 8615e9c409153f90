#include "viewer/control/follow.h"

#include "viewer/control/program.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/display/view.h"
#include "viewer/input/buffer.h"
#include "viewer/navigation/jump.h"
#include "viewer/input/linenum.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

// How often a file's size, or a pipe whose writer has gone, is looked at.
constexpr int POLL_MS = 100;
// Polls for which "File truncated" stays on the bottom line.
constexpr int TRUNCATED_POLLS = 10;

// Whether there is a byte at pos, reading only what has arrived.
bool has_byte_at(file_pos pos)
{
    return buf_seek(pos) == 0 && buf_next_byte() != END_OF_INPUT;
}

bool line_ends_before(file_pos pos)
{
    return pos == 0 || (buf_seek(pos - 1) == 0 && buf_next_byte() == '\n');
}

// New lines scroll in below a screen whose last row is a whole line, and a
// screen not yet full fills from its top. A last row that the new bytes
// continue, or more than a screenful of news: the last screen afresh.
void show_arrived()
{
    file_pos after = screen_pos(ROW_AFTER_BOTTOM);
    if (after != NO_POSITION && !has_byte_at(after))
        return;
    // Only some lines shown: news without one of them changes nothing.
    if (after != NO_POSITION && line_filtered() && !has_byte_at(line_first_shown(after)))
        return;
    if (after != NO_POSITION && line_ends_before(after)) {
        paint_forward(view_text_rows(), after, 0, 0);
    } else if (after == NO_POSITION && screen_pos(ROW_TOP) != NO_POSITION) {
        repaint_screen();
    } else {
        goto_end();
        return;
    }
    after = screen_pos(ROW_AFTER_BOTTOM);
    if (!pending_signals && after != NO_POSITION && has_byte_at(after))
        goto_end();
}

// The file is shorter than what was read of it: it was truncated, and is
// read again from its start.
void start_over()
{
    buf_attach(0, 0);
    linenum_reset();
    goto_end();
}

// The bottom line: what happened to the file while that is news, else
// what the viewer is doing.
void show_bottom(bool truncated)
{
    if (!truncated) {
        show_notice("Waiting for data");
        return;
    }
    show_bottom_line("File truncated");
}

} // namespace

void follow_input()
{
    buf_pipe_nonblocking(1);
    goto_end();
    file_pos seen = buf_length();       // file mode: the size shown
    bool writer_gone = false;
    int truncated_polls = 0;            // "File truncated" stays this long
    bool bottom_stale = true;
    for (;;) {
        // A key typed is the next command, and following ends for it.
        if (pending_signals & (PENDING_INTERRUPT | PENDING_KEY))
            break;
        if (pending_signals) {
            // A new window size or a suspension: carry on at the end.
            signals_process();
            if (screen_stale)
                goto_end();
            bottom_stale = true;
            continue;
        }
        if (bottom_stale)
            show_bottom(truncated_polls > 0);
        bottom_stale = false;
        // A pipe is waited on until data comes; a file's size can only be
        // looked at now and then, and so can a pipe that no one writes to
        // (a named pipe may get a new writer).
        bool watch_pipe = input_is_pipe && !writer_gone;
        int ready = wait_for_input_or_key(watch_pipe ? input_fd : -1, watch_pipe ? -1 : POLL_MS);
        if (ready == -2)
            continue;
        if (truncated_polls > 0 && --truncated_polls == 0)
            bottom_stale = true;
        if (input_is_pipe) {
            buf_forget_end();
            writer_gone = !has_byte_at(pipe_offset);
            if (writer_gone)
                continue;
        } else {
            file_pos size = buf_length();
            if (size < seen) {
                start_over();
                seen = buf_length();
                truncated_polls = TRUNCATED_POLLS;
                bottom_stale = true;
                continue;
            }
            if (size == seen)
                continue;
            seen = size;
            buf_forget_end();
        }
        show_arrived();
        bottom_stale = true;
    }
    buf_pipe_nonblocking(0);
    buf_forget_end();
}
