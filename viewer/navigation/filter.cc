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

// Lines shown, counted while the display goes through the input in order:
// every line before counted_to has been judged.
file_pos counted_to;
int64_t counted;
bool count_done;
uint64_t counted_generation;

void count_restart()
{
    counted_to = 0;
    counted = 0;
    count_done = false;
    counted_generation = input_generation;
}

// Where the line holding pos ends: after its newline, or at the end.
file_pos line_end(file_pos pos)
{
    for (;;) {
        const char *data;
        int64_t n = buf_span(pos, &data);
        if (n == 0)
            return pos;
        auto *nl = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(n)));
        if (nl)
            return pos + (nl - data) + 1;
        pos += n;
    }
}

// The end of the input as the display knows it: where line_next finds no
// line. Past a broken-off judgement the screen ends there for now.
file_pos input_end(file_pos reached)
{
    file_pos length = buf_length();
    return length != NO_POSITION ? length : reached;
}

// The display's hook for the line after a row: the first shown line at or
// after pos. Only whole lines are judged; a row that continues a long line
// is not a place to judge.
file_pos shown_after(file_pos pos)
{
    if (pos > 0 && !buf_newline_before(pos))
        return pos;
    if (counted_generation != input_generation)
        count_restart();
    file_pos found = search_filter_next(pos, hurry ? HURRY_BYTES : 0);
    bool ended = found == NO_POSITION;
    if (ended)
        found = input_end(pos);
    if (pos == counted_to && !count_done && !hurry && !pending_signals) {
        if (ended) {
            count_done = found == buf_length();
        } else {
            counted++;
            counted_to = line_end(found);
        }
    }
    return found;
}

// The display's hook for the line before a row: where the last shown line
// before pos ends, so that its rows are assembled back from there.
file_pos shown_before(file_pos pos)
{
    if (pos <= 0 || (!buf_newline_before(pos) && pos != buf_length()))
        return pos;
    file_pos found = search_filter_prev(pos, hurry ? HURRY_BYTES : 0);
    if (found == NO_POSITION)
        return NO_POSITION;
    file_pos end = line_end(found);
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
        line_shown_after = nullptr;
        line_shown_before = nullptr;
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
    line_shown_after = shown_after;
    line_shown_before = shown_before;
    count_restart();
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
    return text[0] && count_done && counted_generation == input_generation ? counted : -1;
}

void filter_input_changed(const char *name)
{
    free(input_name);
    input_name = name ? strdup(name) : nullptr;
    remembered_filter *r = entry_of(input_name);
    const char *kept = r ? r->text : "";
    apply(kept[0] == '!' ? kept + 1 : kept, kept[0] != '!');
}

void filter_hurry(int on)
{
    hurry = on != 0;
}
