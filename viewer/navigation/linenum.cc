#include "viewer/navigation/linenum.h"

#include <array>
#include <cstring>
#include <ctime>

#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"

int linenum_busy;

namespace {

struct linenum_entry {
    linenum_entry *next;   // following entry by position; circular through the origin
    linenum_entry *prev;
    file_pos position;     // where the line starts
    int64_t span;          // next->position - prev->position: the hole left by removal
    int line;              // counted from 1
};

// Position 0 is always line 1; this entry is never dropped.
linenum_entry linenum_origin = {&linenum_origin, &linenum_origin, 0, 0, 1};
std::array<linenum_entry, LINENUM_CAPACITY> linenum_pool;
linenum_entry *linenum_unused;
// The record that lets an add proceed before one is dropped; nullptr only
// while the pool is exhausted inside linenum_add (or before the first reset).
linenum_entry *linenum_reserve;

// Lines counted between looks at the clock, less one.
constexpr int CLOCK_INTERVAL = 100;
// Seconds a count runs before the user is told about it.
constexpr time_t NOTICE_DELAY = 2;

void update_span(linenum_entry *e)
{
    if (e != &linenum_origin && e->next != &linenum_origin)
        e->span = e->next->position - e->prev->position;
}

// Drop the entry whose removal leaves the smallest hole, the later one on a
// tie; the origin and the last entry stay.
void drop_closest()
{
    linenum_entry *last = linenum_origin.prev;
    linenum_entry *victim = nullptr;
    for (linenum_entry *e = linenum_origin.next; e != last; e = e->next)
        if (victim == nullptr || e->span <= victim->span)
            victim = e;
    if (victim == nullptr)
        return;
    victim->prev->next = victim->next;
    victim->next->prev = victim->prev;
    // The neighbours' holes have grown; later choices depend on them.
    update_span(victim->prev);
    update_span(victim->next);
    linenum_reserve = victim;
}

// Counting state shared by both directions: the clock is read only every
// CLOCK_INTERVAL + 1 lines, and the notice goes up at most once per count.
struct count_clock {
    time_t start;
    int lines;
    bool done;
};

// The longest piece of a raw line that the raw-line readers hand out; a
// longer line counts as several lines, and counting must agree with them.
constexpr file_pos RAW_PIECE = LINE_BUFFER_SIZE - 1;

void clock_add_lines(count_clock &clock, int64_t lines)
{
    if (clock.done || lines <= 0)
        return;
    clock.lines += static_cast<int>(lines < CLOCK_INTERVAL + 1 ? lines : CLOCK_INTERVAL + 1);
    // The clock is read once more than CLOCK_INTERVAL lines have passed.
    if (clock.lines <= CLOCK_INTERVAL)
        return;
    clock.lines = 0;
    if (time(nullptr) >= clock.start + NOTICE_DELAY) {
        show_notice("Calculating line numbers");
        linenum_busy = 1;
        clock.done = true;
    }
}

// The lines that begin and end inside the run at the cursor (at s, the
// start of a line) are shorter than a piece, so each is one line: count
// them all at once when the last of them still begins before pos.
void count_short_lines(file_pos &s, int &line, file_pos pos, count_clock &clock)
{
    const char *data;
    int n = buf_run(&data);
    if (n <= 0)
        return;
    auto *last = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(n)));
    if (!last)
        return;
    file_pos last_position = buf_tell() + (last - data);
    if (last_position >= pos)
        return;
    int newlines = 0;
    for (const char *c = data; c <= last; c++)
        newlines += *c == '\n';
    line += newlines;
    clock_add_lines(clock, newlines);
    buf_skip(static_cast<int>(last - data) + 1);
    s = last_position + 1;
}

// Count raw lines forward from p until p reaches pos, each line exactly as
// raw_line_next would step over it, pieces of long lines included. Whole
// runs of buffered bytes are scanned for newlines instead of copying every
// line, since counting is what large files spend their time on. false when
// the end of the input, data no longer held or a signal stops the count.
bool count_forward(file_pos &p, int &line, file_pos pos, count_clock &clock)
{
    if (buf_seek(p) != 0)
        return false;
    file_pos s = p;
    while (s < pos) {
        file_pos q;
        bool at_end = false;
        // Runs without a newline count for the clock too, so that a count
        // through one enormous line is still noticed.
        int64_t runs = 0;
        for (;;) {
            const char *data;
            int n = buf_run(&data);
            if (pending_signals)
                return false;
            if (n == 0) {
                at_end = true;
                q = buf_tell();
                break;
            }
            auto *nl = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(n)));
            if (nl) {
                int k = static_cast<int>(nl - data);
                q = buf_tell() + k;
                buf_skip(k + 1);
                break;
            }
            buf_skip(n);
            runs++;
        }
        file_pos length = q - s;
        if (at_end && length == 0)
            return false;
        file_pos pieces = length == 0 ? 1 : 1 + (length - 1) / RAW_PIECE;
        if (s + RAW_PIECE * (pieces - 1) >= pos) {
            file_pos before_pos = (pos - s + RAW_PIECE - 1) / RAW_PIECE;
            line += static_cast<int>(before_pos);
            p = s + RAW_PIECE * before_pos;
            return true;
        }
        line += static_cast<int>(pieces);
        clock_add_lines(clock, pieces + runs);
        s = at_end ? q : q + 1;
        if (!at_end)
            count_short_lines(s, line, pos, clock);
    }
    p = s;
    return true;
}

} // namespace

// Forget every learnt line number.
void linenum_reset()
{
    for (int i = 0; i < LINENUM_CAPACITY - 1; i++)
        linenum_pool[i].next = i + 1 < LINENUM_CAPACITY - 1 ? &linenum_pool[i + 1] : nullptr;
    linenum_unused = &linenum_pool[0];
    linenum_reserve = &linenum_pool[LINENUM_CAPACITY - 1];
    linenum_origin = {&linenum_origin, &linenum_origin, 0, 0, 1};
}

// Record that line number line starts at pos.
void linenum_add(int line, file_pos pos)
{
    if (linenum_unused == nullptr && linenum_reserve == nullptr)
        linenum_reset();
    // The origin entry already answers for position 0.
    if (pos <= 0)
        return;
    linenum_entry *at = linenum_origin.next;
    for (; at != &linenum_origin && at->position < pos; at = at->next)
        if (at->line == line)
            return;
    // An identical entry would only take a record from the pool.
    if (at != &linenum_origin && at->position == pos && at->line == line)
        return;

    linenum_entry *e;
    if (linenum_unused != nullptr) {
        e = linenum_unused;
        linenum_unused = e->next;
    } else {
        e = linenum_reserve;
        linenum_reserve = nullptr;
    }
    e->next = at;
    e->prev = at->prev;
    at->prev->next = e;
    at->prev = e;
    e->position = pos;
    e->line = line;
    e->span = 0;
    update_span(e);
    update_span(e->next);
    update_span(e->prev);

    if (linenum_reserve == nullptr)
        drop_closest();
}

// The line number that holds pos, counted from the nearest known entry.
int linenum_of(file_pos pos)
{
    if (!opt_n || pos < 0)
        return 0;
    if (pos == 0)
        return 1;
    linenum_entry *after = linenum_origin.next;
    while (after != &linenum_origin && after->position < pos)
        after = after->next;
    if (after != &linenum_origin && after->position == pos)
        return after->line;
    linenum_entry *before = after->prev;
    if (after == &linenum_origin)
        after = nullptr;

    // The screen should be complete before a count that may take a while.
    out_flush();
    count_clock clock = {time(nullptr), 0, false};

    if (after != nullptr && pos - before->position >= after->position - pos) {
        if (buf_seek(after->position) != 0)
            return 0;
        int line = after->line;
        file_pos p = after->position;
        while (p > pos) {
            p = raw_line_prev(p);
            if (pending_signals != 0 || p == NO_POSITION)
                return 0;
            line--;
            clock_add_lines(clock, 1);
        }
        linenum_busy = 0;
        linenum_add(line, p);
        return line;
    }

    int line = before->line;
    file_pos p = before->position;
    if (!count_forward(p, line, pos, clock))
        return 0;
    linenum_busy = 0;
    linenum_add(line, p);
    return p == pos ? line : line - 1;
}

// linenum_of for a screen row; a row without a line stands for the end.
int linenum_of_screen(int where)
{
    file_pos p = screen_pos(where);
    if (p == NO_POSITION)
        p = buf_length();
    return linenum_of(p);
}
