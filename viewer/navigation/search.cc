#include "viewer/navigation/search.h"

#include <regex.h>

#include <cstdint>
#include <cstring>

#include "common/clock.h"
#include "common/strings.h"
#include "viewer/display/columns.h"
#include "viewer/display/highlight.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/input/linenum.h"
#include "viewer/input/match.h"
#include "viewer/input/parallel.h"
#include "viewer/input/scan.h"
#include "viewer/navigation/jump.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/text.h"

namespace {

// A compiled pattern with what the search needs to know of it.
struct pattern_slot {
    match_pattern *pattern;       // nullptr: none
    int cflags;                   // its regcomp flags
    bool fold;                    // -i when it was compiled
    bool match_wanted;
};
// The last search's pattern; apart from it, the one typed so far in an
// incremental search, the filter's, and the one of section starts.
pattern_slot previous, trial, filter, section;
char regex_error_text[100];

// The filter's pattern as given, and how lines were to be matched when it
// was compiled: a change of -i, -r or -u compiles it again.
char filter_source[LINE_BUFFER_SIZE];
int filter_how;
// The same for the pattern of section starts.
char section_source[LINE_BUFFER_SIZE];
int section_how;
// Counts the changes of the filter's and the section pattern: the lines
// found to start sections before may no longer be the ones that do.
uint64_t section_changes;

// The last search's highlighting, put back after an incremental search.
char shown_pattern[LINE_BUFFER_SIZE];
int shown_cflags;
bool shown_fold;
bool shown_enabled;

// Records are what the raw-line readers hand out: whole lines, and the
// pieces of longer ones.
static_assert(MATCH_PIECE == LINE_BUFFER_SIZE - 1);
constexpr int PIECE = MATCH_PIECE;

// Runs handed to the fast path at once.
constexpr int64_t REGION_MAX = MATCH_REGION_MAX;
// Backward searches look at a region in slices this long, keeping the
// candidate lines of one slice to try them last to first.
constexpr int64_t SLICE = 32 * 1024;
int32_t candidates[SLICE + 1];
// A long search tells the line-number table where it is at most this often.
constexpr file_pos FEED_DISTANCE = 64 * 1024;

// A forward search reads this far alone before it asks threads to help.
constexpr file_pos ALONE_FIRST = 4 << 20;

// A line longer than a piece is matched whole, this much of it at a time;
// matches that start in the last OVERLAP bytes are left to the next look,
// which begins there.
constexpr int64_t GATHER_MAX = 256 * 1024;
constexpr int64_t OVERLAP = 32 * 1024;
// Bytes before a piece that matching sees, for the anchors and word edges.
constexpr int64_t CONTEXT = 4;
// Each with room for the 0 byte after the text.
char gathered[GATHER_MAX + 1];
char shown[GATHER_MAX + 1];
int32_t shown_origin[GATHER_MAX + 1];

// Compile pattern into slot; nullptr on success, else the message to show.
// An empty pattern keeps the one compiled before.
const char *regex_compile(pattern_slot &slot, const char *pattern)
{
    if (!pattern || !*pattern)
        return slot.pattern ? nullptr : "no previous regular expression";
    match_free(slot.pattern);
    slot.pattern = nullptr;
    // In a UTF-8 locale -i folds every letter, not only ASCII ones.
    int cflags = REG_EXTENDED | (opt_i && text_locale_utf8() ? REG_ICASE : 0);
    slot.pattern = match_compile(pattern, cflags, regex_error_text, sizeof regex_error_text);
    if (!slot.pattern)
        return regex_error_text;
    slot.cflags = cflags;
    return nullptr;
}

// How lines are matched against a slot's pattern: folded as -i was when
// it was compiled.
int how_for(const pattern_slot &slot)
{
    return (match_how() & ~MATCH_FOLD_CASE) |
           (slot.fold || (slot.cflags & REG_ICASE) ? MATCH_FOLD_CASE : 0);
}

// Where a forward search starts reading, by the -a setting.
file_pos forward_start()
{
    if (opt_a == 1)
        return screen_pos(ROW_AFTER_BOTTOM);
    int row = jump_search_row();
    if (opt_a == 2)
        return screen_pos(row + 1);
    file_pos second = screen_pos(row + 1);
    file_pos p = screen_pos(row);
    do
        p = raw_line_next(p);
    while (p != NO_POSITION && p < second);
    return p;
}

// ---- The search loop.

// long_line: the region holds a line longer than a piece, to be read
// again whole (st.long_at).
enum class outcome { go_on, hit, stopped, long_line };

// The state of one search command, or of a run of the filter's or an
// incremental search's pattern.
struct search_state {
    const match_pattern *pattern;
    int wanted;                // hits still to find
    bool match_wanted;
    bool fast;                 // the fast path may be taken
    int how;                   // how lines are matched (match_how)
    bool filtered;             // only the lines the filter shows count
    bool whole_lines;          // a hit in a long line is its start, not a piece's
    search_bound bound;
    file_pos origin;           // where the run began
    int64_t deadline;          // clock_ns nanoseconds; 0: none
    int64_t line;              // number of the line being looked at; 0: not kept
    file_pos fed;              // where the line-number table was last told
    file_pos hit;
    // outcome::long_line: forward, where the line begins; backward, where
    // the line after it begins, st.line being that line's number.
    file_pos long_at;
};
constinit search_state st{};

// Whether a run that has come to p has gone as far as its bound lets it.
bool past_bound(file_pos p)
{
    if (st.bound.bytes > 0 && (p > st.origin ? p - st.origin : st.origin - p) > st.bound.bytes)
        return true;
    if (st.deadline > 0 && clock_ns() > st.deadline)
        return true;
    return st.bound.until_key && wait_for_input(keyboard_fd, 0) == 1;
}

bool stop_here(file_pos p)
{
    return pending_signals || past_bound(p);
}

// Whether a short line (text[0, len), as read, its newline after it) matches the slot's pattern,
// as it is wanted.
bool record_matches(const pattern_slot &slot, const char *text, int64_t len, int how)
{
    char line[LINE_BUFFER_SIZE];
    size_t n = match_shown(text, static_cast<size_t>(len), line, nullptr, how | MATCH_LINE_END);
    line[n] = '\0';
    return match_line(slot.pattern, line, n) == 1;
}

// Whether a short line (as above) is one the search wants, counting it when it is;
// on the last wanted, st.hit is set to at.
bool wanted_record(const char *text, int64_t len, file_pos at)
{
    char line[LINE_BUFFER_SIZE];
    size_t n = match_shown(text, static_cast<size_t>(len), line, nullptr, st.how | MATCH_LINE_END);
    line[n] = '\0';
    if ((match_line(st.pattern, line, n) == 1) != st.match_wanted ||
        (st.filtered && record_matches(filter, text, len, how_for(filter)) != filter.match_wanted) ||
        --st.wanted > 0)
        return false;
    st.hit = at;
    return true;
}

void count_lines(const char *data, int64_t len, int direction)
{
    if (st.line != 0)
        st.line += direction * scan_count_newlines(data, static_cast<size_t>(len));
}

void feed_table(file_pos line_start)
{
    if (st.line == 0 || !opt_n)
        return;
    if (line_start - st.fed < FEED_DISTANCE && st.fed - line_start < FEED_DISTANCE)
        return;
    linenum_add(st.line, line_start);
    st.fed = line_start;
}

const char *newline_in(const char *from, const char *end)
{
    return static_cast<const char *>(memchr(from, '\n', static_cast<size_t>(end - from)));
}

// ---- Lines longer than a piece, read whole through the buffers.

// Copy the input from `from` on into gathered, up to a newline (left out),
// max bytes, or the end of the input; the count, or -1 when a signal
// stopped it. *ended: a newline or the end was reached, *after being the
// position after it.
int64_t gather_line(file_pos from, int64_t max, bool *ended, file_pos *after)
{
    int64_t n = 0;
    *ended = false;
    while (n < max) {
        if (pending_signals)
            return -1;
        const char *data;
        int64_t len = buf_span(from + n, &data);
        if (len == 0) {
            *ended = true;
            *after = from + n;
            return pending_signals ? -1 : n;
        }
        if (len > max - n)
            len = max - n;
        const char *nl = newline_in(data, data + len);
        int64_t take = nl ? nl - data : len;
        memcpy(gathered + n, data, static_cast<size_t>(take));
        n += take;
        if (nl) {
            *ended = true;
            *after = from + n + 1;
            return n;
        }
    }
    return n;
}

// Bytes of the line before p that matching sees (at most CONTEXT); 0 when
// a line begins at p, or nothing before it is held.
int64_t context_before(file_pos p)
{
    int64_t back = 0;
    if (p > 0 && buf_seek(p) == 0)
        for (int c; back < CONTEXT && (c = buf_prev_byte()) != END_OF_INPUT && c != '\n';)
            back++;
    return back;
}

// One look at a stretch of a long line: the subject to match, as shown,
// and where its bytes come from in the input.
struct stretch {
    file_pos base;
    const char *subject;
    int64_t len;
    const int32_t *origin;     // nullptr: subject is gathered as it is
    int flags;
};

// Make a stretch of the n gathered bytes: the line as shown, and the
// characters cut at its front (by where it begins) left out. after is
// where gather_line said the next line begins.
stretch make_stretch(file_pos base, int64_t n, int64_t back, bool line_start, bool ended,
                     file_pos after, int how)
{
    int flags = (line_start ? 0 : MATCH_NOT_BOL) | (ended ? 0 : MATCH_NOT_EOL);
    if (ended && after == base + n + 1)
        how |= MATCH_LINE_END;
    stretch s = {base, gathered, n, nullptr, flags};
    auto size = static_cast<size_t>(n);
    gathered[n] = '\0';
    if ((how & MATCH_FOLD_CASE) || match_reshaped(gathered, size, how)) {
        s.len = static_cast<int64_t>(match_shown(gathered, size, shown, shown_origin, how));
        shown[s.len] = '\0';
        s.subject = shown;
        s.origin = shown_origin;
    }
    if (how & MATCH_UTF8) {
        // The context may begin inside a character.
        int64_t skip = 0;
        while (skip < back && skip < s.len &&
               (static_cast<unsigned char>(s.subject[skip]) & 0xC0) == 0x80)
            skip++;
        s.subject += skip;
        s.len -= skip;
        if (s.origin)
            s.origin += skip;
        else
            s.base += skip;
    }
    return s;
}

// The input position where the subject's byte i comes from.
file_pos raw_of(const stretch &s, int64_t i)
{
    return s.base + (s.origin ? s.origin[i] : i);
}

// The first subject byte that comes from pos or later.
int64_t subject_at(const stretch &s, file_pos pos)
{
    int64_t lo = 0, hi = s.len;
    while (lo < hi) {
        int64_t mid = (lo + hi) / 2;
        if (raw_of(s, mid) < pos)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// In a search for records without a match, count pieces first to last
// (inclusive, numbered from the walk's first); true when the wanted one is
// among them, st.hit set to start + its number times the step.
bool count_plain_pieces(int64_t first, int64_t last, file_pos start, int64_t step)
{
    if (st.match_wanted || last < first)
        return false;
    if (last - first + 1 < st.wanted) {
        st.wanted -= static_cast<int>(last - first + 1);
        return false;
    }
    st.hit = start + (first + st.wanted - 1) * step;
    st.wanted = 0;
    return true;
}

int64_t note_any(void *context, const match_span &)
{
    *static_cast<bool *>(context) = true;
    return -1;
}

// Whether the filter shows the line that goes on from `from` (its start,
// or where a search takes it up): whether its pattern matches there.
bool line_shown(file_pos from)
{
    int how = how_for(filter);
    for (;;) {
        int64_t back = context_before(from);
        bool ended;
        file_pos after;
        int64_t n = gather_line(from - back, GATHER_MAX, &ended, &after);
        if (n < 0)
            return false;
        stretch s = make_stretch(from - back, n, back, back == 0, ended, after, how);
        bool found = false;
        if (match_each(filter.pattern, nullptr, s.subject, s.len, subject_at(s, from), s.flags,
                       st.deadline, note_any, &found) < 0)
            return false;
        if (found || ended)
            return found == filter.match_wanted;
        from = from - back + n - OVERLAP;
    }
}

// Whether the search's pattern matches in the line that goes on from p:
// 1 or 0, -1 when a signal stopped the look. *end: where its text ends;
// *after: where the next line begins, or the end of the input.
int line_has_match(file_pos p, file_pos *end, file_pos *after)
{
    bool found = false;
    for (file_pos from = p;;) {
        if (from > p && stop_here(from))
            return -1;
        int64_t back = context_before(from);
        bool ended;
        *after = NO_POSITION;
        int64_t n = gather_line(from - back, GATHER_MAX, &ended, after);
        if (n < 0)
            return -1;
        *end = from - back + n;
        // Once a match is seen only the line's end is still wanted.
        if (!found) {
            stretch s = make_stretch(from - back, n, back, back == 0, ended, *after, st.how);
            if (match_each(st.pattern, nullptr, s.subject, s.len, subject_at(s, from), s.flags,
                           st.deadline, note_any, &found) < 0)
                return -1;
        }
        if (ended)
            return found ? 1 : 0;
        from = *end - OVERLAP > from ? *end - OVERLAP : *end;
    }
}

// A search for lines without a match takes a long line whole: it is one
// record, wanted when no match lies anywhere in it.
outcome line_forward_unmatched(file_pos p, file_pos *next)
{
    // The rest of a line the search starts inside was judged with it.
    bool counts = (p == 0 || buf_newline_before(p)) && (!st.filtered || line_shown(p));
    file_pos end, after;
    int found = line_has_match(p, &end, &after);
    if (found < 0)
        return outcome::stopped;
    if (end == p && after == p) {
        *next = p;   // the end of the input: no record here
        return outcome::go_on;
    }
    if (counts && found == 0 && --st.wanted == 0) {
        st.hit = p;
        return outcome::hit;
    }
    *next = after;
    if (st.line != 0 && after > end)
        st.line++;
    return outcome::go_on;
}

// A forward walk over the pieces of a line from p on.
struct forward_walk {
    const stretch *s;
    file_pos p;                // pieces are counted from here
    file_pos cut;              // matches from here on are for the next look
    int64_t last_piece;        // once the end of the line is in sight; else -1
    int64_t next_piece;        // the first piece not judged yet
    bool hit;
};

int64_t visit_forward(void *context, const match_span &m)
{
    auto &w = *static_cast<forward_walk *>(context);
    file_pos at = raw_of(*w.s, m.from);
    if (at >= w.cut)
        return -1;
    int64_t k = (at - w.p) / PIECE;
    if (w.last_piece >= 0 && k > w.last_piece)
        k = w.last_piece;   // an empty match at the end of the line
    if (k >= w.next_piece) {
        if (count_plain_pieces(w.next_piece, k - 1, w.p, PIECE) ||
            (st.match_wanted && --st.wanted == 0)) {
            if (st.match_wanted)
                st.hit = w.p + k * PIECE;
            w.hit = true;
            return -1;
        }
        w.next_piece = k + 1;
    }
    file_pos next = w.p + w.next_piece * PIECE;
    return next >= w.cut ? -1 : subject_at(*w.s, next);
}

// The records of the line from p on (its start, or a piece start inside
// it): its pieces, each holding a hit when a match of the whole line starts
// in it. *next: where the next line begins, or the end of the input.
outcome line_forward(file_pos p, file_pos *next)
{
    if (!st.match_wanted)
        return line_forward_unmatched(p, next);
    forward_walk w = {nullptr, p, p, -1, 0, false};
    // A line the filter hides holds no record that counts, but its end is
    // still to be found.
    bool counts = !st.filtered || line_shown(p);
    for (file_pos from = p;;) {
        if (from > p && stop_here(from))
            return outcome::stopped;
        int64_t back = context_before(from);
        bool ended;
        file_pos after = NO_POSITION;
        int64_t n = gather_line(from - back, GATHER_MAX, &ended, &after);
        if (n < 0)
            return outcome::stopped;
        if (n == back && after == from) {
            *next = from;   // the end of the input: no record here
            return outcome::go_on;
        }
        stretch s = make_stretch(from - back, n, back, back == 0, ended, after, st.how);
        file_pos end = from - back + n;
        if (ended) {
            w.last_piece = end > p ? (end - p - 1) / PIECE : 0;
            w.cut = end + 1;
        } else {
            // The next look begins at a piece start, so that pieces stay
            // where the raw-line reader cuts them.
            w.cut = p + (end - OVERLAP - p) / PIECE * PIECE;
        }
        w.s = &s;
        if (counts && match_each(st.pattern, nullptr, s.subject, s.len, subject_at(s, from),
                                 s.flags, st.deadline, visit_forward, &w) < 0)
            return outcome::stopped;
        int64_t judged = ended ? w.last_piece + 1 : (w.cut - p) / PIECE;
        if (w.hit || (counts && count_plain_pieces(w.next_piece, judged - 1, p, PIECE))) {
            if (st.whole_lines)
                st.hit = p;
            return outcome::hit;
        }
        w.next_piece = judged;
        if (ended) {
            *next = after;
            if (st.line != 0 && after > end)
                st.line++;
            return outcome::go_on;
        }
        from = w.cut;
    }
}

// A backward walk over the pieces of a line that ends at e, cut from e.
struct backward_walk {
    const stretch *s;
    file_pos e;
    bool line_ends;            // at e, rather than going on after it
    file_pos hi;               // matches that start here or later were seen
    int64_t first;             // the piece of this look nearest the end
    bool matched[GATHER_MAX / PIECE + 2];
};

int64_t visit_backward(void *context, const match_span &m)
{
    auto &w = *static_cast<backward_walk *>(context);
    file_pos at = raw_of(*w.s, m.from);
    // An empty match at the end of the line is in its last piece.
    if (at > w.hi || (at == w.hi && !(at == w.e && w.line_ends)))
        return -1;
    int64_t j = at == w.e ? 0 : (w.e - 1 - at) / PIECE;
    w.matched[j - w.first] = true;
    // On from where this piece ends.
    file_pos next = w.e - j * PIECE;
    return next >= w.hi ? -1 : subject_at(*w.s, next);
}

// The start of the line that holds the byte before hi, when it lies at or
// after lo; else NO_POSITION.
file_pos line_start_after(file_pos lo, file_pos hi)
{
    for (file_pos at = hi; at > lo;) {
        const char *data;
        int64_t n = pending_signals ? 0 : buf_span_back(at, &data);
        if (n == 0)
            return at;   // the beginning of the input, or of what is held
        if (n > at - lo) {
            data += n - (at - lo);
            n = at - lo;
        }
        auto *nl = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(n)));
        if (nl)
            return at - n + (nl - data) + 1;
        at -= n;
    }
    return lo == 0 ? 0 : NO_POSITION;
}

// The records of the line that holds the byte before p, last first: its
// pieces, cut from its end (or from p, inside it). *start: where it begins.
outcome line_backward(file_pos p, file_pos *start)
{
    static backward_walk w;
    file_pos e = buf_newline_before(p) ? p - 1 : p;
    constexpr int64_t LOOK = (GATHER_MAX - OVERLAP - CONTEXT) / PIECE;
    w.e = e;
    w.line_ends = e != p || buf_length() == p;
    w.hi = e;
    w.first = 0;
    if (st.filtered || !st.match_wanted) {
        file_pos ls = line_start_after(0, e);
        if (st.filtered && !line_shown(ls)) {
            *start = ls;
            return pending_signals ? outcome::stopped : outcome::go_on;
        }
        if (!st.match_wanted) {
            // Taken whole, as forward, even where the search starts inside it.
            file_pos end, after;
            int found = line_has_match(ls, &end, &after);
            if (found < 0)
                return outcome::stopped;
            if (found == 0 && --st.wanted == 0) {
                st.hit = ls;
                return outcome::hit;
            }
            *start = ls;
            return outcome::go_on;
        }
    }
    for (;;) {
        if (stop_here(w.hi))
            return outcome::stopped;
        file_pos lo = e - (w.first + LOOK) * PIECE;
        file_pos ls = line_start_after(lo > 0 ? lo : 0, w.hi);
        bool at_start = ls != NO_POSITION;
        if (at_start)
            lo = ls;
        int64_t back = at_start ? 0 : context_before(lo);
        bool ended;
        file_pos after;
        int64_t n = gather_line(lo - back, w.hi + OVERLAP - (lo - back), &ended, &after);
        if (n < 0)
            return outcome::stopped;
        stretch s = make_stretch(lo - back, n, back, at_start, ended, after, st.how);
        w.s = &s;
        int64_t last = w.hi > lo ? (e - 1 - lo) / PIECE : w.first;
        std::memset(w.matched, 0, sizeof w.matched);
        if (match_each(st.pattern, nullptr, s.subject, s.len, subject_at(s, lo), s.flags,
                       st.deadline, visit_backward, &w) < 0)
            return outcome::stopped;
        for (int64_t j = w.first; j <= last; j++) {
            if (w.matched[j - w.first] == st.match_wanted && --st.wanted == 0) {
                file_pos piece = e - (j + 1) * PIECE;
                st.hit = piece > lo ? piece : lo;
                if (st.whole_lines)
                    st.hit = line_start_after(0, e - j * PIECE);
                return outcome::hit;
            }
        }
        if (at_start) {
            *start = lo;
            return outcome::go_on;
        }
        w.first = last + 1;
        w.hi = lo;
    }
}

// ---- Whole lines in memory.

// Forward over the records of whole lines, each line ending with a
// newline inside the len bytes at data (file position base).
outcome records_forward(const char *data, int64_t len, file_pos base)
{
    for (int64_t off = 0; off < len;) {
        if (pending_signals)
            return outcome::stopped;
        int64_t end = newline_in(data + off, data + len) - data;
        if (end - off > PIECE) {
            st.long_at = base + off;
            return outcome::long_line;
        }
        if (wanted_record(data + off, end - off, base + off))
            return outcome::hit;
        if (st.line != 0)
            st.line++;
        off = end + 1;
    }
    return outcome::go_on;
}

// Forward over whole lines: the fast path finds the lines worth a look,
// regexec judges them.
outcome lines_forward(const char *data, int64_t len, file_pos base)
{
    if (!st.fast)
        return records_forward(data, len, base);
    match_region(nullptr, st.pattern, st.how, data, len);
    for (int64_t off = 0; off < len;) {
        if (pending_signals)
            return outcome::stopped;
        bool unfit;
        int64_t start = match_region_next(nullptr, off, &unfit);
        if (start == -2)
            return records_forward(data + off, len - off, base + off);
        count_lines(data + off, start - off, 1);
        if (start == len)
            return outcome::go_on;
        int64_t end = newline_in(data + start, data + len) - data;
        if (end - start > PIECE) {
            st.long_at = base + start;
            return outcome::long_line;
        }
        if (wanted_record(data + start, end - start, base + start))
            return outcome::hit;
        if (st.line != 0)
            st.line++;
        off = end + 1;
    }
    return outcome::go_on;
}

// Forward from p to the n-th wanted record, over the lines that begin
// before limit (NO_POSITION: to the end); p is left where the search
// stopped looking.
outcome search_forward(file_pos &p, file_pos limit)
{
    if (p > 0 && !buf_newline_before(p) && buf_held_before(p)) {
        // Inside a line: the rest of it first, matched with its context.
        outcome o = line_forward(p, &p);
        if (o != outcome::go_on)
            return o;
    }
    for (bool first = true;; first = false) {
        if (limit != NO_POSITION && p >= limit)
            return outcome::go_on;
        if (!first && stop_here(p))
            return outcome::stopped;
        const char *data;
        int64_t len = buf_span(p, &data);
        if (len == 0)
            return pending_signals ? outcome::stopped : outcome::go_on;
        int64_t window = len < REGION_MAX ? len : REGION_MAX;
        if (limit != NO_POSITION && limit - p < window) {
            // Only the lines that begin before the limit.
            const char *nl = newline_in(data + (limit - 1 - p), data + window);
            if (nl)
                window = nl - data + 1;
        }
        auto *last = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(window)));
        outcome o = outcome::long_line;
        st.long_at = p;
        if (last) {
            int64_t region = last - data + 1;
            o = lines_forward(data, region, p);
            if (o == outcome::go_on) {
                p += region;
                feed_table(p);
                continue;
            }
        }
        // A line longer than the window, or one the run does not hold whole.
        if (o == outcome::long_line)
            o = line_forward(st.long_at, &p);
        if (o != outcome::go_on)
            return o;
    }
}

// Forward from p as search_forward does, with threads finding the lines
// worth a look in a long stretch of a named file; the main thread judges
// them in file order, so the first wanted one wins. Runs that have a
// bound, and the first stretch, which holds most hits, stay with the main
// thread alone.
outcome search_forward_threaded(file_pos &p)
{
    if (st.bound.bytes > 0 || st.bound.ms > 0 || st.bound.until_key || !st.fast)
        return search_forward(p, NO_POSITION);
    outcome o = search_forward(p, p + ALONE_FIRST);
    if (o != outcome::go_on)
        return o;
    file_pos end = buf_length();
    if (!parallel_worth(p, end))
        return search_forward(p, NO_POSITION);
    parallel_start(p, end, st.pattern, st.how);
    parallel_result r;
    int rc = 0;
    while (o == outcome::go_on && (rc = parallel_next(&r)) == 1) {
        if (p >= r.to)
            continue;   // passed already, inside a long line
        if (p != r.line_start) {
            o = search_forward(p, r.to);
        } else if (r.found == NO_POSITION) {
            if (st.line != 0)
                st.line += r.newlines;
            p = r.next_start;
            feed_table(p);
        } else {
            if (st.line != 0)
                st.line += r.newlines;
            p = r.found;
            o = search_forward(p, r.to);
        }
    }
    parallel_stop();
    if (o != outcome::go_on)
        return o;
    if (rc == -1)
        return outcome::stopped;
    // What is left: the rest after a failed read, or what the file gained.
    return search_forward(p, NO_POSITION);
}

// Backward over the records of whole lines in data[0, len), each ending
// with a newline; st.line is the number of the line after them.
outcome records_backward(const char *data, int64_t len, file_pos base)
{
    for (int64_t end = len; end > 0;) {
        if (pending_signals)
            return outcome::stopped;
        int64_t newline = end - 1;
        auto *before = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(newline)));
        int64_t start = before ? before - data + 1 : 0;
        if (newline - start > PIECE) {
            st.long_at = base + end;
            return outcome::long_line;
        }
        if (st.line != 0)
            st.line--;
        if (wanted_record(data + start, newline - start, base + start))
            return outcome::hit;
        end = start;
    }
    return outcome::go_on;
}

// Backward over whole lines in data[0, len): the lines worth a look (the
// fast path's candidates, and the lines it cannot judge) are found front to
// back and then tried last first.
outcome slice_backward(const char *data, int64_t len, file_pos base)
{
    if (!st.fast)
        return records_backward(data, len, base);
    match_region(nullptr, st.pattern, st.how, data, len);
    // A candidate is stored as its line start, an unfit line as -1 - start.
    int count = 0;
    for (int64_t off = 0; off < len;) {
        bool unfit;
        int64_t start = match_region_next(nullptr, off, &unfit);
        if (start == -2)
            return records_backward(data, len, base);
        if (start == len)
            break;
        candidates[count++] = static_cast<int32_t>(unfit ? -1 - start : start);
        off = newline_in(data + start, data + len) - data + 1;
    }
    int64_t known = len;   // st.line is the number of the line starting here
    for (int i = count - 1; i >= 0; i--) {
        if (pending_signals)
            return outcome::stopped;
        int64_t start = candidates[i] >= 0 ? candidates[i] : -1 - int64_t{candidates[i]};
        int64_t end = newline_in(data + start, data + len) - data;
        count_lines(data + end + 1, known - end - 1, -1);
        known = end + 1;
        if (end - start > PIECE) {
            st.long_at = base + known;
            return outcome::long_line;
        }
        count_lines(data + start, known - start, -1);
        known = start;
        if (wanted_record(data + start, end - start, base + start))
            return outcome::hit;
    }
    count_lines(data, known, -1);
    return outcome::go_on;
}

// Backward over whole lines in data[0, len), a slice at a time from the end.
outcome lines_backward(const char *data, int64_t len, file_pos base)
{
    for (int64_t end = len; end > 0;) {
        if (pending_signals)
            return outcome::stopped;
        int64_t start = 0;
        if (end - SLICE > 0) {
            auto *nl = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(end - SLICE)));
            start = nl ? nl - data + 1 : 0;
        }
        outcome o = slice_backward(data + start, end - start, base + start);
        if (o != outcome::go_on)
            return o;
        end = start;
    }
    return outcome::go_on;
}

// Backward from p (the end of a record) to the n-th wanted record.
outcome search_backward(file_pos p)
{
    for (bool first = true;; first = false) {
        if (!first && stop_here(p))
            return outcome::stopped;
        if (!buf_held_before(p))
            return outcome::go_on;
        const char *data;
        int64_t len = buf_span_back(p, &data);
        if (len == 0)
            return pending_signals ? outcome::stopped : outcome::go_on;
        if (len > REGION_MAX) {
            data += len - REGION_MAX;
            len = REGION_MAX;
        }
        file_pos base = p - len;
        bool at_beginning = !buf_held_before(base);
        // First the line that holds the byte before p: in place when the
        // run holds it whole and it is short; otherwise read again whole,
        // as it may go on before the run, or after p.
        bool ended = data[len - 1] == '\n';
        int64_t end = ended ? len - 1 : len;
        auto *nl = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(end)));
        int64_t start = nl ? nl - data + 1 : 0;
        if (st.line != 0 && ended)
            st.line--;
        if (ended && (nl || at_beginning) && end - start <= PIECE) {
            if (wanted_record(data + start, end - start, base + start))
                return outcome::hit;
            p = base + start;
        } else {
            outcome o = line_backward(p, &p);
            if (o != outcome::go_on)
                return o;
            continue;
        }
        // Then the whole lines before it that the run holds.
        if (p > base) {
            int64_t upto = p - base;
            auto *first_nl = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(upto)));
            int64_t from = at_beginning ? 0 : first_nl ? first_nl - data + 1 : upto;
            outcome o = lines_backward(data + from, upto - from, base + from);
            if (o == outcome::long_line) {
                p = st.long_at;
                continue;
            }
            if (o != outcome::go_on)
                return o;
            p = base + from;
        }
        feed_table(p);
    }
}

// A pattern as the search takes it: cut to a line, folded as -i asks.
void copy_pattern(char *to, const char *from)
{
    size_t n = strnlen(from, LINE_BUFFER_SIZE - 1);
    for (size_t i = 0; i < n; i++)
        to[i] = opt_i ? scan_fold_char(from[i]) : from[i];
    to[n] = '\0';
}

void free_slot(pattern_slot &slot)
{
    match_free(slot.pattern);
    slot.pattern = nullptr;
}

// Set up st for a run from p of the slot's pattern; line numbers are learnt
// on the way when line is not 0.
void begin_run(const pattern_slot &slot, file_pos p, int n, bool match_wanted, int64_t line,
               search_bound bound)
{
    st.pattern = slot.pattern;
    st.line = line;
    st.wanted = n < 1 ? 1 : n;
    st.match_wanted = match_wanted;
    st.how = how_for(slot);
    // Lines that do not match cannot be found by looking for ones that do.
    st.fast = st.match_wanted && match_fast(slot.pattern, st.how);
    st.filtered = filter.pattern && &slot != &filter;
    st.whole_lines = &slot == &filter || &slot == &section;
    st.fed = p;
    st.hit = NO_POSITION;
    st.bound = bound;
    st.origin = p;
    st.deadline = bound.ms > 0 ? clock_ns() + bound.ms * int64_t{1000000} : 0;
}

// The hit of a run from p in the pattern slot, or NO_POSITION.
file_pos run_slot(pattern_slot &slot, int forward, file_pos p, int n, search_bound bound)
{
    if (!slot.pattern || p == NO_POSITION)
        return NO_POSITION;
    begin_run(slot, p, n, slot.match_wanted, 0, bound);
    outcome o = forward ? search_forward_threaded(p) : search_backward(p);
    return o == outcome::hit ? st.hit : NO_POSITION;
}

// Compile pattern into a slot, folded as -i says; the message when it
// does not compile.
const char *compile_slot(pattern_slot &slot, const char *pattern, int match_wanted)
{
    char text[LINE_BUFFER_SIZE];
    copy_pattern(text, pattern);
    const char *problem = regex_compile(slot, text);
    slot.fold = opt_i;
    slot.match_wanted = match_wanted != 0;
    return problem;
}

void show_matches(const char *pattern, int cflags, bool fold, bool enabled)
{
    if (pattern)
        highlight_set(pattern, cflags, fold);
    highlight_enable(enabled);
}

} // namespace

file_pos search_start(int forward)
{
    if (screen_pos(ROW_TOP) == NO_POSITION)
        return 0;
    return forward ? forward_start() : screen_pos(jump_search_row());
}

void search_text(int forward, char *pattern, int n, int match_wanted)
{
    search_text_from(search_start(forward), forward, pattern, n, match_wanted);
}

namespace {

// Chopped lines are scrolled sideways to show the match on the line at
// hit; whether the view moved.
bool reveal_match(file_pos hit, int match_wanted)
{
    file_pos match_end;
    bool chopped = opt_S || columns_active();
    file_pos match = chopped && match_wanted ? highlight_first_match(hit, &match_end) : NO_POSITION;
    return match != NO_POSITION && line_reveal(match, match_end);
}

} // namespace

void search_text_from(file_pos p, int forward, char *pattern, int n, int match_wanted)
{
    if (pattern && *pattern && opt_i)
        for (char *c = pattern; *c; c++)
            *c = scan_fold_char(*c);
    if (const char *problem = regex_compile(previous, pattern)) {
        show_error(problem);
        return;
    }
    if (pattern && *pattern) {
        copy_pattern(shown_pattern, pattern);
        shown_cflags = previous.cflags;
        shown_fold = opt_i;
    }
    shown_enabled = match_wanted;
    show_matches(pattern && *pattern ? pattern : nullptr, previous.cflags, opt_i, match_wanted);
    if (p == NO_POSITION) {
        show_error("Nothing to search");
        return;
    }
    int64_t line = linenum_of(p);
    if (pending_signals)
        return;
    // -i as it is now, as it always was for the last search.
    previous.fold = opt_i;
    begin_run(previous, p, n, match_wanted != 0, line, {});
    outcome o = forward ? search_forward_threaded(p) : search_backward(p);
    if (o == outcome::stopped)
        return;
    if (o != outcome::hit) {
        show_error("Pattern not found");
        return;
    }
    if (st.line != 0 && opt_n && buf_newline_before(st.hit))
        linenum_add(st.line, st.hit);
    if (reveal_match(st.hit, match_wanted))
        screen_stale = 1;
    goto_target(st.hit);
}

file_pos search_preview(file_pos start, int forward, const char *pattern, int n, int match_wanted,
                        search_bound bound)
{
    if (!pattern || !*pattern || compile_slot(trial, pattern, match_wanted))
        return NO_POSITION;
    char text[LINE_BUFFER_SIZE];
    copy_pattern(text, pattern);
    show_matches(text, trial.cflags, trial.fold, match_wanted);
    file_pos hit = run_slot(trial, forward, start, n, bound);
    if (hit != NO_POSITION && !pending_signals)
        reveal_match(hit, match_wanted);
    return hit;
}

void search_preview_end()
{
    show_matches(shown_pattern[0] ? shown_pattern : nullptr, shown_cflags, shown_fold,
                 shown_enabled);
}

const char *search_filter_compile(const char *pattern, int match_wanted)
{
    // Tried apart first: a pattern that does not compile leaves the filter.
    if (pattern && *pattern)
        if (const char *problem = compile_slot(trial, pattern, match_wanted))
            return problem;
    free_slot(filter);
    filter_source[0] = '\0';
    section_changes++;
    if (!pattern || !*pattern)
        return nullptr;
    copy_bounded(filter_source, pattern, sizeof filter_source);
    filter_how = match_how();
    return compile_slot(filter, pattern, match_wanted);
}

bool search_filter_renew()
{
    if (!filter.pattern || filter_how == match_how())
        return false;
    // Kept as it was should it no longer compile; it is not tried again.
    filter_how = match_how();
    char source[LINE_BUFFER_SIZE];
    memcpy(source, filter_source, sizeof source);
    search_filter_compile(source, filter.match_wanted);
    return true;
}

file_pos search_filter_next(file_pos pos, int64_t bytes)
{
    if (!filter.pattern)
        return pos;
    return run_slot(filter, 1, pos, 1, {.bytes = bytes});
}

file_pos search_filter_prev(file_pos pos, int64_t bytes)
{
    return run_slot(filter, 0, pos, 1, {.bytes = bytes});
}

const char *search_section_compile(const char *pattern)
{
    if (pattern && *pattern)
        if (const char *problem = compile_slot(trial, pattern, 1))
            return problem;
    free_slot(section);
    section_source[0] = '\0';
    section_changes++;
    if (!pattern || !*pattern)
        return nullptr;
    copy_bounded(section_source, pattern, sizeof section_source);
    section_how = match_how();
    return compile_slot(section, pattern, 1);
}

namespace {

// -i, -r or -u changed since the pattern of section starts was compiled:
// it is compiled again, as the filter's is.
void renew_section()
{
    if (!section.pattern || section_how == match_how())
        return;
    char source[LINE_BUFFER_SIZE];
    memcpy(source, section_source, sizeof source);
    search_section_compile(source);
}

} // namespace

file_pos search_section(file_pos pos, int forward, int n, int64_t bytes)
{
    renew_section();
    return run_slot(section, forward, pos, n, {.bytes = bytes});
}

file_pos search_section_last(file_pos from, file_pos to)
{
    renew_section();
    if (!section.pattern)
        return NO_POSITION;
    // The lines that begin from `from` on: the one it may stand inside
    // began before.
    file_pos p = from > 0 && !buf_newline_before(from) ? buf_line_end(from) : from;
    file_pos last = NO_POSITION;
    while (p < to && !pending_signals) {
        begin_run(section, p, 1, true, 0, {});
        if (search_forward(p, to) != outcome::hit)
            break;
        last = st.hit;
        file_pos next = buf_line_end(st.hit);
        if (next <= st.hit)
            break;
        p = next;
    }
    return pending_signals ? NO_POSITION : last;
}

uint64_t search_section_changes()
{
    if (section.pattern && section_how != match_how())
        section_changes++;
    return section_changes;
}
