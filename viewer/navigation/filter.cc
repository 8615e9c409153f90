#include "viewer/navigation/filter.h"

#include <cstdlib>
#include <cstring>

#include "viewer/display/line.h"
#include "viewer/input/buffer.h"
#include "viewer/navigation/search.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

namespace {

// Typed text of a filter, its "!" included.
constexpr int TEXT_SIZE = 128;
// Files whose filters are remembered for when the user comes back.
constexpr int REMEMBERED = 16;
// How far judging may go for one line while hurrying.
constexpr int64_t HURRY_BYTES = 1 << 20;

struct remembered_filter {
    char *name;                 // heap copy; nullptr: a free slot
    char text[TEXT_SIZE];
    unsigned long last_use;
};

char text[TEXT_SIZE];           // empty: every line is shown
char *input_name;               // the current input's, for remembering
remembered_filter remembered[REMEMBERED];
unsigned long uses;
bool hurry;

// What judging has found out, kept so that nothing is judged twice: the
// display asks about a row's line when it comes to the row, having asked
// already when it assembled the row before, and a growing input is judged
// on from where judging stopped.
struct judged_stretch {
    file_pos from;              // NO_POSITION: nothing known
    file_pos to;
    file_pos end;
};
// No line from hit.from up to hit.to is shown; the line at hit.to is.
judged_stretch hit;
// No line from tail.from up to tail.to is shown, and the input ended at
// tail.end, in the line that begins at tail.to or right there: once there
// is more, judging goes on from tail.to.
judged_stretch tail;
uint64_t judged_generation;

// Lines shown, counted as judging goes through the input in order: every
// line before counted_to has been judged, and every line was if the input
// still ends at counted_end.
file_pos counted_to;
int64_t counted;
file_pos counted_end;

void forget_judged()
{
    hit.from = NO_POSITION;
    tail.from = NO_POSITION;
    counted_to = 0;
    counted = 0;
    counted_end = NO_POSITION;
    judged_generation = input_generation;
}

// A filter follows the case and display settings in force: what was judged
// under others is judged again.
void follow_settings()
{
    if (text[0] && search_filter_renew())
        forget_judged();
}

// Count what a judgement found, when it follows on from what is counted.
void count(const judged_stretch &s, bool shown)
{
    if (counted_to < s.from || counted_to > s.to)
        return;
    if (shown) {
        counted++;
        counted_to = buf_line_end(s.to);
    } else {
        counted_to = s.to;
        counted_end = s.end;
    }
}

// The first shown line at or after pos, a line start; NO_POSITION when
// judging ran to the end of the input (as far as it has come), was broken
// off, or went as far as hurrying lets it.
file_pos judge(file_pos pos)
{
    if (hit.from != NO_POSITION && pos >= hit.from && pos <= hit.to) {
        count(hit, true);
        return hit.to;
    }
    file_pos from = pos;
    for (;;) {
        if (tail.from != NO_POSITION && ((pos >= tail.from && pos <= tail.to) || pos == tail.end)) {
            from = tail.from;
            pos = tail.to;
        }
        // A file is read at least this far, even if it grows meanwhile.
        file_pos size = input_is_pipe ? NO_POSITION : buf_length();
        file_pos found = search_filter_next(pos, hurry ? HURRY_BYTES : 0);
        if (found != NO_POSITION) {
            hit = {from, found, NO_POSITION};
            // Past the end that was: a row there is one of a shown line.
            if (found >= tail.to)
                tail.from = NO_POSITION;
            count(hit, true);
            return found;
        }
        file_pos end = eof_position != NO_POSITION ? eof_position : size;
        if (hurry || pending_signals || end == NO_POSITION || end < pos)
            return NO_POSITION;
        // A last line without its newline may still grow: it is judged again.
        file_pos last = end > pos && !buf_newline_before(end) ? buf_line_start(end) : end;
        if (last == NO_POSITION || last < pos)
            return NO_POSITION;
        tail = {from, last, end};
        count(tail, false);
        // A file that has grown since its end was met is read on.
        if (input_is_pipe || eof_position == NO_POSITION || buf_length() <= end)
            return NO_POSITION;
        buf_forget_end();
        pos = last;
    }
}

// The end of the input as the display knows it: where line_next finds no
// line. Past a broken-off judgement the screen ends there for now.
file_pos input_end(file_pos reached)
{
    file_pos length = buf_length();
    return length != NO_POSITION ? length : reached;
}

// The display's hook for a row's line: the first shown line at or after
// pos. Only whole lines are judged: a row that continues a long line is not
// a place to judge, but the end of a line that was judged before it was
// whole is.
file_pos shown_after(file_pos pos)
{
    follow_settings();
    if (judged_generation != input_generation)
        forget_judged();
    if (pos > 0 && !(tail.from != NO_POSITION && pos == tail.end) && !buf_newline_before(pos))
        return pos;
    file_pos found = judge(pos);
    return found != NO_POSITION ? found : input_end(pos);
}

// The display's hook for the line after a row, asked before the row is
// shown: as shown_after, but a pipe is not waited on. What has not come
// yet is judged when the display asks for the next row.
file_pos shown_ahead(file_pos pos)
{
    if (!input_is_pipe || eof_position != NO_POSITION)
        return shown_after(pos);
    int was = buf_pipe_nonblocking(1);
    file_pos found = shown_after(pos);
    buf_pipe_nonblocking(was);
    // The end met was only that of what has arrived, unless the caller
    // reads this way itself and takes the end back when it is done.
    if (!was)
        buf_forget_end();
    return found;
}

// The display's hook for the line before a row: where the last shown line
// before pos ends, so that its rows are assembled back from there.
file_pos shown_before(file_pos pos)
{
    follow_settings();
    if (pos <= 0 || (!buf_newline_before(pos) && pos != buf_length()))
        return pos;
    file_pos found = search_filter_prev(pos, hurry ? HURRY_BYTES : 0);
    if (found == NO_POSITION)
        return NO_POSITION;
    file_pos end = buf_line_end(found);
    return end < pos ? end : pos;
}

remembered_filter *entry_of(const char *name)
{
    for (remembered_filter &r : remembered)
        if (r.name && name && strcmp(r.name, name) == 0)
            return &r;
    return nullptr;
}

// Remember the current input's filter (or that it has none).
void remember()
{
    if (!input_name)
        return;
    remembered_filter *r = entry_of(input_name);
    if (!r && !text[0])
        return;
    if (!r) {
        r = &remembered[0];
        for (remembered_filter &e : remembered)
            if (!e.name || e.last_use < r->last_use)
                r = &e;
        free(r->name);
        r->name = strdup(input_name);
        if (!r->name)
            return;
    }
    memcpy(r->text, text, sizeof text);
    r->last_use = ++uses;
}

bool apply(const char *pattern, int match_wanted)
{
    if (!pattern || !*pattern) {
        search_filter_compile(nullptr, 0);
        text[0] = '\0';
        line_set_filter(nullptr);
        return true;
    }
    if (const char *problem = search_filter_compile(pattern, match_wanted)) {
        show_error(problem);
        return false;
    }
    text[0] = match_wanted ? '\0' : '!';
    size_t n = strnlen(pattern, TEXT_SIZE - 2);
    memcpy(text + (match_wanted ? 0 : 1), pattern, n);
    text[n + (match_wanted ? 0 : 1)] = '\0';
    static const line_filter shown = {shown_after, shown_ahead, shown_before};
    line_set_filter(&shown);
    forget_judged();
    return true;
}

} // namespace

bool filter_set(const char *pattern, int match_wanted)
{
    if (!apply(pattern, match_wanted))
        return false;
    remember();
    return true;
}

const char *filter_text()
{
    return text[0] ? text : nullptr;
}

int64_t filter_count()
{
    follow_settings();
    bool all = text[0] && judged_generation == input_generation && counted_end != NO_POSITION &&
               counted_end == buf_length();
    return all ? counted : -1;
}

void filter_input_changed(const char *name)
{
    free(input_name);
    input_name = name ? strdup(name) : nullptr;
    remembered_filter *r = entry_of(input_name);
    const char *kept = r ? r->text : "";
    apply(kept[0] == '!' ? kept + 1 : kept, kept[0] != '!');
}

file_pos filter_next_shown(file_pos pos)
{
    follow_settings();
    if (judged_generation != input_generation)
        forget_judged();
    return judge(pos);
}

void filter_hurry(int on)
{
    hurry = on != 0;
}
