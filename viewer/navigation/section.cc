#include "viewer/navigation/section.h"

#include <cstring>

#include "viewer/display/header.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/input/buffer.h"
#include "viewer/navigation/jump.h"
#include "viewer/navigation/search.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

namespace {

constexpr int PATTERN_SIZE = 1024;
// Lines passed by a move are read forward for a section start up to this
// many bytes; beyond, a backward search from the new top is quicker.
constexpr file_pos FORWARD_READ = 256 * 1024;
char pattern_text[PATTERN_SIZE];

// What was learnt of the last top line: the last section start before it
// (NO_POSITION: none), when known. Unknown once a search for it was
// interrupted: a repaint of the same screen then does not search again,
// and a move forward searches only the lines it passed.
struct learnt_start {
    file_pos top = NO_POSITION;
    file_pos start = NO_POSITION;
    bool known = false;
    uint64_t input = 0, changes = 0;
    file_pos floor = 0;
};
learnt_start learnt;

file_pos start_at_or_above(file_pos hit, file_pos floor)
{
    return hit != NO_POSITION && hit >= floor ? hit : NO_POSITION;
}

// The last section start before top, as the header asks for it: from
// what was learnt of the last top line when it can be, else by a search
// backward from top, which an interrupt stops.
file_pos start_before(file_pos top, file_pos floor)
{
    uint64_t changes = search_section_changes();
    if (learnt.input != input_generation || learnt.changes != changes || learnt.floor != floor)
        learnt = {.input = input_generation, .changes = changes, .floor = floor};
    if (learnt.top != NO_POSITION) {
        if (top == learnt.top)
            return learnt.known ? learnt.start : NO_POSITION;
        if (top > learnt.top) {
            // Only the lines from the last top line on are new: read
            // forward when they are few (a move by lines or screens), from
            // top backward when they are many (a jump).
            file_pos hit = top - learnt.top <= FORWARD_READ
                               ? search_section_last(learnt.top, top)
                               : search_section(top, 0, 1, top - learnt.top);
            if (pending_signals) {
                // Not looked for again on this screen: a repaint after the
                // interrupt must not start the same search.
                learnt.top = top;
                learnt.start = NO_POSITION;
                learnt.known = false;
                return NO_POSITION;
            }
            if (hit != NO_POSITION) {
                learnt.start = start_at_or_above(hit, floor);
                learnt.known = true;
            }
            learnt.top = top;
            return learnt.known ? learnt.start : NO_POSITION;
        }
        // None lies between the start known and the last top line.
        if (learnt.known && (learnt.start == NO_POSITION || top > learnt.start)) {
            learnt.top = top;
            return learnt.start;
        }
    }
    file_pos hit = search_section(top, 0, 1);
    learnt.top = top;
    learnt.known = !pending_signals;
    learnt.start = learnt.known ? start_at_or_above(hit, floor) : NO_POSITION;
    return learnt.start;
}

// The top line that shows the section starting at start: the row after
// its start line's first, which the held row shows.
file_pos top_for(file_pos start)
{
    file_pos next = line_next(start);
    file_pos end = buf_length();
    if (next == NO_POSITION || (end != NO_POSITION && next >= end))
        return start;
    return next;
}

} // namespace

bool section_set(const char *pattern)
{
    if (const char *problem = search_section_compile(pattern)) {
        show_error(problem);
        return false;
    }
    size_t n = pattern ? strnlen(pattern, PATTERN_SIZE - 1) : 0;
    memcpy(pattern_text, pattern ? pattern : "", n);
    pattern_text[n] = '\0';
    header_set_sections(n ? start_before : nullptr);
    return true;
}

const char *section_pattern()
{
    return pattern_text[0] ? pattern_text : nullptr;
}

void section_move(int forward, int n)
{
    if (!pattern_text[0]) {
        show_error("No section pattern (--section)");
        return;
    }
    file_pos top = screen_pos(ROW_TOP);
    if (top == NO_POSITION)
        return;
    file_pos floor = header_body_start();
    file_pos from = top;
    if (forward) {
        // A line the top row continues belongs to the section shown.
        if (from > 0 && !buf_newline_before(from))
            from = buf_line_end(from);
    } else {
        // From the row above the top one: at a section's start, that row
        // is the start held, and the move goes to the one before it.
        file_pos above = line_prev(top);
        if (above != NO_POSITION)
            from = above;
    }
    file_pos hit = search_section(from, forward, n);
    if (pending_signals)
        return;
    if (hit == NO_POSITION || hit < floor) {
        show_error("Pattern not found");
        return;
    }
    file_pos shown = top_for(hit);
    if (pending_signals)
        return;
    // What the held row shows is known already, unless the section's start
    // is its last row and stands on the top row itself.
    if (shown > hit)
        learnt = {.top = shown, .start = hit, .known = true, .input = input_generation,
                  .changes = search_section_changes(), .floor = floor};
    goto_position(shown);
}
