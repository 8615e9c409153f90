#include "viewer/input/linenum.h"

#include <array>
#include <cstring>
#include <ctime>

#include "viewer/input/parallel.h"
#include "viewer/input/scan.h"
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
    int64_t line;          // counted from 1
};

// Position 0 is always line 1; this entry is never dropped.
linenum_entry linenum_origin = {&linenum_origin, &linenum_origin, 0, 0, 1};
std::array<linenum_entry, LINENUM_CAPACITY> linenum_pool;
linenum_entry *linenum_unused;
// The record that lets an add proceed before one is dropped; nullptr only
// while the pool is exhausted inside linenum_add (or before the first reset).
linenum_entry *linenum_reserve;

// Seconds a count runs before the user is told about it.
constexpr time_t NOTICE_DELAY = 2;
// A count of fewer bytes than this takes well under a millisecond.
constexpr file_pos LONG_COUNT = file_pos{1} << 20;
// How far past the position asked for a count looks for the start of the
// next line, to store a line start rather than nothing.
constexpr file_pos NEAR_LINE_START = 64 * 1024;
// The painters learn the bottom row's number only when a known entry lies
// within this many bytes; a longer count waits until a number is shown.
constexpr file_pos LEARN_DISTANCE = 4 * 1024 * 1024;

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

// The clock is read once per run of input counted, and the notice goes up
// at most once per count.
struct count_clock {
    time_t start;
    bool done;
};

void clock_check(count_clock &clock)
{
    if (clock.done || time(nullptr) < clock.start + NOTICE_DELAY)
        return;
    show_notice("Calculating line numbers");
    linenum_busy = 1;
    clock.done = true;
}

// Newlines in [from, to) of a named file, counted by threads; *first and
// *last are the positions of the first and the last (NO_POSITION when
// none). false when the threads could not count it all.
bool count_threaded(file_pos from, file_pos to, count_clock &clock, int64_t *newlines,
                    file_pos *first, file_pos *last)
{
    *newlines = 0;
    *first = *last = NO_POSITION;
    parallel_start(from, to, nullptr, 0);
    parallel_result r;
    int rc;
    while ((rc = parallel_next(&r)) == 1) {
        *newlines += r.newlines;
        if (*first == NO_POSITION)
            *first = r.first_newline;
        if (r.last_newline != NO_POSITION)
            *last = r.last_newline;
        clock_check(clock);
    }
    parallel_stop();
    return rc == 0;
}

// Newlines in [from, to), a run of memory at a time; *last is the position
// of the last one (NO_POSITION when none). false when the input ends first,
// the data is no longer held or a signal stops the count.
bool count_forward(file_pos from, file_pos to, count_clock &clock, int64_t *newlines,
                   file_pos *last)
{
    file_pos first;
    if (parallel_worth(from, to) && count_threaded(from, to, clock, newlines, &first, last))
        return true;
    if (pending_signals)
        return false;
    *newlines = 0;
    *last = NO_POSITION;
    for (file_pos at = from; at < to;) {
        if (pending_signals)
            return false;
        const char *data;
        int64_t n = buf_span(at, &data);
        if (n <= 0)
            return false;
        if (n > to - at)
            n = to - at;
        if (int64_t k = scan_count_newlines(data, static_cast<size_t>(n))) {
            *newlines += k;
            *last = at + (static_cast<const char *>(memrchr(data, '\n', n)) - data);
        }
        at += n;
        clock_check(clock);
    }
    return true;
}

// Newlines in [to, from), counted backward; *first is the position of the
// first one (NO_POSITION when none).
bool count_backward(file_pos from, file_pos to, count_clock &clock, int64_t *newlines,
                    file_pos *first)
{
    file_pos last;
    if (parallel_worth(to, from) && count_threaded(to, from, clock, newlines, first, &last))
        return true;
    if (pending_signals)
        return false;
    *newlines = 0;
    *first = NO_POSITION;
    for (file_pos at = from; at > to;) {
        if (pending_signals)
            return false;
        const char *data;
        int64_t n = buf_span_back(at, &data);
        if (n <= 0)
            return false;
        if (n > at - to) {
            data += n - (at - to);
            n = at - to;
        }
        if (int64_t k = scan_count_newlines(data, static_cast<size_t>(n))) {
            *newlines += k;
            *first = at - n + (static_cast<const char *>(memchr(data, '\n', n)) - data);
        }
        at -= n;
        clock_check(clock);
    }
    return true;
}

// The first newline at or after pos within a short look ahead, or
// NO_POSITION.
file_pos newline_after(file_pos pos)
{
    // Only what a pipe holds already: this must not wait for more input.
    if (input_is_pipe && pos >= pipe_offset)
        return NO_POSITION;
    const char *data;
    int64_t n = buf_span(pos, &data);
    if (n > NEAR_LINE_START)
        n = NEAR_LINE_START;
    auto *nl = n > 0 ? static_cast<const char *>(memchr(data, '\n', n)) : nullptr;
    return nl ? pos + (nl - data) : NO_POSITION;
}

// The last newline before pos within a short look back, or NO_POSITION.
file_pos newline_before(file_pos pos)
{
    const char *data;
    int64_t n = buf_span_back(pos, &data);
    if (n > NEAR_LINE_START) {
        data += n - NEAR_LINE_START;
        n = NEAR_LINE_START;
    }
    auto *nl = n > 0 ? static_cast<const char *>(memrchr(data, '\n', n)) : nullptr;
    return nl ? pos - n + (nl - data) : NO_POSITION;
}

// The last number answered, so that the rows of a paint, one after another,
// are each counted from the one before: a few bytes, not a walk of the
// table and a count from its nearest entry. Every answer sets it, and a
// reset forgets it with the table.
file_pos recent_pos = NO_POSITION;
int64_t recent_line;
// Farther from the last answer, the table is asked.
constexpr file_pos RECENT_DISTANCE = 64 * 1024;

// The number of the line that holds pos counted from the last answer, or 0
// when that is too far or the bytes between are not all at hand.
int64_t near_recent(file_pos pos)
{
    if (recent_pos == NO_POSITION || pending_signals)
        return 0;
    file_pos from = pos < recent_pos ? pos : recent_pos;
    file_pos to = pos < recent_pos ? recent_pos : pos;
    if (to - from > RECENT_DISTANCE)
        return 0;
    int64_t newlines = 0;
    for (file_pos at = from; at < to;) {
        const char *data;
        int64_t n = buf_span(at, &data);
        if (n <= 0)
            return 0;
        if (n > to - at)
            n = to - at;
        newlines += scan_count_newlines(data, static_cast<size_t>(n));
        at += n;
    }
    int64_t line = pos < recent_pos ? recent_line - newlines : recent_line + newlines;
    recent_pos = pos;
    recent_line = line;
    return line;
}

int64_t answered(file_pos pos, int64_t line)
{
    recent_pos = pos;
    recent_line = line;
    return line;
}

// The entries around pos: the last one before it and the first one at or
// after it (nullptr when pos lies beyond every entry).
void entries_around(file_pos pos, linenum_entry **before, linenum_entry **after)
{
    linenum_entry *e = linenum_origin.next;
    while (e != &linenum_origin && e->position < pos)
        e = e->next;
    *before = e->prev;
    *after = e == &linenum_origin ? nullptr : e;
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
    recent_pos = NO_POSITION;
}

bool linenum_interrupted()
{
    if (!linenum_busy)
        return false;
    linenum_busy = 0;
    return true;
}

// Record that line number line starts at pos.
void linenum_add(int64_t line, file_pos pos)
{
    if (linenum_unused == nullptr && linenum_reserve == nullptr)
        linenum_reset();
    // The origin entry already answers for position 0.
    if (pos <= 0)
        return;
    linenum_entry *at;
    const linenum_entry *last = linenum_origin.prev;
    if (line > last->line && pos > last->position) {
        // Beyond every entry, with a number above the last one's (numbers
        // grow with positions): nothing to walk.
        at = &linenum_origin;
    } else {
        at = linenum_origin.next;
        for (; at != &linenum_origin && at->position < pos; at = at->next)
            if (at->line == line)
                return;
        // An identical entry would only take a record from the pool.
        if (at != &linenum_origin && at->position == pos && at->line == line)
            return;
    }

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
int64_t linenum_of(file_pos pos)
{
    if (!opt_n || pos < 0)
        return 0;
    if (pos == 0)
        return 1;
    if (int64_t line = near_recent(pos))
        return line;
    linenum_entry *before, *after;
    entries_around(pos, &before, &after);
    if (after != nullptr && after->position == pos)
        return answered(pos, after->line);

    // The screen should be complete before a count that may take a while.
    // A short one is over long before anyone could see it; a write for it
    // would cost more than the count, for every numbered row painted.
    file_pos span = pos - before->position;
    if (after != nullptr && after->position - pos < span)
        span = after->position - pos;
    if (span >= LONG_COUNT)
        out_flush();
    count_clock clock = {time(nullptr), false};
    int64_t newlines;

    // Only the bytes between the entry and pos are counted; the entry
    // stored is a line start found on the way or just beside pos.
    if (after != nullptr && pos - before->position >= after->position - pos) {
        file_pos first;
        if (!count_backward(after->position, pos, clock, &newlines, &first))
            return 0;
        int64_t line = after->line - newlines;
        linenum_busy = 0;
        file_pos start = newline_before(pos);
        if (start != NO_POSITION)
            linenum_add(line, start + 1);
        else if (first != NO_POSITION)
            linenum_add(line + 1, first + 1);
        return answered(pos, line);
    }

    file_pos last;
    if (!count_forward(before->position, pos, clock, &newlines, &last))
        return 0;
    int64_t line = before->line + newlines;
    linenum_busy = 0;
    if (last == pos - 1) {
        linenum_add(line, pos);
    } else {
        file_pos next = newline_after(pos);
        if (next != NO_POSITION)
            linenum_add(line + 1, next + 1);
        else if (last != NO_POSITION)
            linenum_add(line, last + 1);
    }
    return answered(pos, line);
}

int64_t linenum_of_row(file_pos pos)
{
    return linenum_of(pos == NO_POSITION ? buf_length() : pos);
}

// Count a row's number early only when it is cheap.
void linenum_learn(file_pos pos)
{
    file_pos p = pos == NO_POSITION ? buf_length() : pos;
    if (!opt_n || p < 0)
        return;
    // Counted from the rows just painted: the table learns it all the same,
    // so that a jump back to here later counts from near by.
    if (int64_t line = p > 0 ? near_recent(p) : 0) {
        linenum_add(line, p);
        return;
    }
    linenum_entry *before, *after;
    entries_around(p, &before, &after);
    file_pos distance = p - before->position;
    if (after != nullptr && after->position - p < distance)
        distance = after->position - p;
    if (distance <= LEARN_DISTANCE)
        linenum_of(p);
}
