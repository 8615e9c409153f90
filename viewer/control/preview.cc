#include "viewer/control/preview.h"

#include "viewer/control/edit.h"
#include "viewer/display/chop.h"
#include "viewer/display/screen.h"
#include "viewer/display/view.h"
#include "viewer/input/buffer.h"
#include "viewer/navigation/jump.h"
#include "viewer/navigation/search.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

// How far one key's look goes past the start: typing must never lag.
constexpr int64_t PREVIEW_BYTES = 64 << 20;
constexpr int PREVIEW_MS = 50;

bool active;
int forward;
file_pos start;
file_pos home;          // the top line when the search began
int home_column;        // and the first column shown of chopped lines
// The screen shows something else now. The jumps leave the marks alone:
// the search that RETURN runs sets them as it always has.
bool moved;

void go_home()
{
    if (moved) {
        chop_scroll(home_column - view_column());
        show_position(home);
    }
    moved = false;
}

} // namespace

void preview_begin(int search_forward)
{
    forward = search_forward;
    start = search_start(forward);
    home = screen_pos(ROW_TOP);
    home_column = view_column();
    moved = false;
    active = !opt_I && term_paints_quickly() && home != NO_POSITION &&
             !(pending_command_text && *pending_command_text);
}

void preview_update(const char *pattern, int n, int match_wanted)
{
    // A key already waiting would make this look a wasted one. (The wait
    // sends what is buffered: the key shows before the look begins.)
    if (!active || wait_for_input(keyboard_fd, 0) != 0)
        return;
    // Only what a pipe has sent is looked at: a wait for more would keep the
    // keys being typed from being read.
    bool end_known = eof_position != NO_POSITION;
    buf_pipe_nonblocking(1);
    file_pos hit = search_preview(start, forward, pattern, n, match_wanted,
                                  {.bytes = PREVIEW_BYTES, .ms = PREVIEW_MS, .until_key = true});
    if (!pending_signals) {
        if (hit == NO_POSITION) {
            search_preview_end();
            go_home();
        } else {
            show_position(jump_target_top(hit));
            moved = true;
        }
    }
    buf_pipe_nonblocking(0);
    if (input_is_pipe && !end_known && eof_position != NO_POSITION)
        buf_forget_end();
    if (pending_signals)
        return;
    edit_redraw();
    out_flush();
}

file_pos preview_finish()
{
    if (active) {
        go_home();
        search_preview_end();
    }
    active = false;
    return start;
}
