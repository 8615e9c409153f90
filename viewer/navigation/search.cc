#include "viewer/navigation/search.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <regex.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwctype>
#include <string>
#include <utility>

#include "viewer/display/highlight.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/input/scan.h"
#include "viewer/input/linenum.h"
#include "viewer/navigation/jump.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/text.h"

namespace {

regex_t search_regex;
int search_regex_valid;
int search_cflags;                // the regcomp flags of search_regex
char regex_error_text[100];

// Lines are matched as the raw-line readers hand them out: at most this
// many bytes, so a longer line is matched piece by piece.
constexpr int RAW_PIECE = LINE_BUFFER_SIZE - 1;

// The fast path. regexec stays the judge of every line; a PCRE2 pattern
// that matches wherever the POSIX one can (and maybe elsewhere) finds the
// few lines worth asking it about, over large runs of the input at once.
pcre2_code *fast_code;            // nullptr: every line goes to regexec
pcre2_match_data *fast_match;
pcre2_match_context *fast_context;
pcre2_jit_stack *fast_stack;
bool fast_utf8;                   // compiled for a UTF-8 locale
bool fast_fold;                   // the subject must be folded to small letters

// The pattern regexec judges with: the last search's, or one swapped in.
regex_t *judge = &search_regex;

// A pattern compiled apart from the last search's: the one typed so far
// in an incremental search, and the filter's. The search loop works on
// the globals above; one of these is swapped in for the length of a run.
struct pattern_slot {
    regex_t regex;
    int valid;
    int cflags;
    pcre2_code *fast;
    bool fast_utf8;
    bool fast_fold;
    bool fold;                    // -i when it was compiled
    bool match_wanted;
};
pattern_slot trial, filter;

// The last search's highlighting, put back after an incremental search.
char shown_pattern[LINE_BUFFER_SIZE];
int shown_cflags;
bool shown_fold;
bool shown_enabled;

void exchange(pattern_slot &slot)
{
    std::swap(search_regex_valid, slot.valid);
    std::swap(search_cflags, slot.cflags);
    std::swap(fast_code, slot.fast);
    std::swap(fast_utf8, slot.fast_utf8);
    std::swap(fast_fold, slot.fast_fold);
    judge = judge == &search_regex ? &slot.regex : &search_regex;
}

// Runs handed to the fast path at once; the folded copy lives here.
constexpr int64_t REGION_MAX = 256 * 1024;
char fold_buffer[REGION_MAX];
// Backward searches look at a region in slices this long, keeping the
// candidate lines of one slice to try them last to first.
constexpr int64_t SLICE = 32 * 1024;
int32_t candidates[SLICE + 1];
// A long search tells the line-number table where it is at most this often.
constexpr file_pos FEED_DISTANCE = 64 * 1024;

// ---- Translation of a POSIX extended pattern into a broader PCRE2 one.

void append_code(std::string &out, unsigned c)
{
    char text[16];
    snprintf(text, sizeof text, "\\x{%x}", c);
    out += text;
}

// A literal byte of the pattern.
void append_literal(std::string &out, unsigned char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        out += static_cast<char>(c);
    else
        append_code(out, c);
}

// What REG_ICASE may take for each ASCII character in a UTF-8 locale, past
// the character itself: the non-ASCII characters of the same case class.
struct partner_table {
    static constexpr int MAX = 6;
    wint_t of[128][MAX];
    int count[128];
    bool overflow[128];
};

void note_partner(partner_table &t, wint_t a, wint_t c)
{
    for (int k = 0; k < t.count[a]; k++)
        if (t.of[a][k] == c)
            return;
    if (t.count[a] == partner_table::MAX)
        t.overflow[a] = true;
    else
        t.of[a][t.count[a]++] = c;
}

void find_partners(partner_table &t)
{
    memset(&t, 0, sizeof t);
    // Case mappings end below U+20000.
    for (wint_t c = 0x80; c < 0x20000; c++)
        for (wint_t mapped : {towupper(c), towlower(c)})
            if (mapped < 128)
                for (wint_t a : {mapped, towlower(mapped), towupper(mapped)})
                    note_partner(t, a, c);
}

// The members of one bracket expression as regexec sees them, by asking it
// about every ASCII character (every byte outside UTF-8); in a UTF-8 locale
// every non-ASCII character is let in unless the bracket cannot hold one.
bool translate_bracket(const char *text, size_t len, bool utf8, int cflags, std::string &out)
{
    std::string alone(text, len);
    regex_t one;
    if (regcomp(&one, alone.c_str(), cflags | REG_NOSUB) != 0)
        return false;
    std::string members;
    int top = utf8 ? 127 : 255;
    for (int c = 1; c <= top; c++) {
        char probe[2] = {static_cast<char>(c), '\0'};
        if (c != '\n' && regexec(&one, probe, 0, nullptr, 0) == 0)
            append_code(members, static_cast<unsigned>(c));
    }
    regfree(&one);
    bool plain = len >= 2 && text[1] != '^' && !(cflags & REG_ICASE);
    for (size_t i = 1; plain && i + 1 < len; i++) {
        auto c = static_cast<unsigned char>(text[i]);
        // A range or a class may hold non-ASCII characters in some locale.
        if (c >= 0x80 || (c == '-' && i > 1 && i + 2 < len) || (c == '[' && text[i + 1] == ':'))
            plain = false;
    }
    if (utf8 && !plain)
        members += "\\x{80}-\\x{10ffff}";
    if (members.empty())
        out += "(*FAIL)";
    else
        out += "[" + members + "]";
    return true;
}

// The end of the bracket expression that starts at p (its ']'), or nullptr
// for one this translation does not handle.
const char *bracket_end(const char *p)
{
    p++;
    if (*p == '^')
        p++;
    if (*p == ']')
        p++;
    for (; *p && *p != ']'; p++) {
        if (*p == '[' && (p[1] == '=' || p[1] == '.'))
            return nullptr;  // equivalence classes and collating symbols
        if (*p == '[' && p[1] == ':') {
            const char *close = strstr(p + 2, ":]");
            if (!close)
                return nullptr;
            p = close + 1;
        }
    }
    return *p == ']' ? p : nullptr;
}

// A PCRE2 pattern matching wherever the extended regular expression
// `pattern` (compiled with cflags) can match; false for what this does not
// handle: back-references, equivalence classes, collating symbols, and
// forms whose reading is in doubt.
bool translate(const char *pattern, int cflags, bool utf8, std::string &out)
{
    enum { START, ATOM, REPEAT, ANCHOR } last = START;
    bool icase = cflags & REG_ICASE;
    partner_table partners;
    if (icase && utf8)
        find_partners(partners);
    size_t atom = 0;             // where the last atom's text begins in out
    size_t group_starts[256];
    int depth = 0;
    for (const char *p = pattern; *p;) {
        auto c = static_cast<unsigned char>(*p);
        size_t here = out.size();
        if (c == '*' || c == '+' || c == '?' || c == '{') {
            if (last == START || last == ANCHOR)
                return false;
            std::string repeat(1, static_cast<char>(c));
            p++;
            if (c == '{') {
                // {m}, {m,}, {m,n} and {,n}; anything else is left alone.
                const char *q = p, *low = p;
                while (*q >= '0' && *q <= '9')
                    q++;
                size_t low_digits = static_cast<size_t>(q - low);
                bool comma = *q == ',';
                if (comma)
                    q++;
                const char *high = q;
                while (comma && *q >= '0' && *q <= '9')
                    q++;
                auto high_digits = static_cast<size_t>(q - high);
                if (*q != '}' || low_digits + high_digits == 0 || low_digits > 5 || high_digits > 5)
                    return false;
                repeat = "{";
                repeat.append(low_digits ? low : "0", low_digits ? low_digits : 1);
                if (comma)
                    repeat.append(",").append(high, high_digits);
                repeat += '}';
                p = q + 1;
            }
            // A repeat of a repeat applies to the whole: (?:a*)+, never PCRE2's
            // possessive or lazy forms.
            if (last == REPEAT) {
                out.insert(atom, "(?:");
                out += ')';
            }
            out += repeat;
            last = REPEAT;
            continue;
        }
        p++;
        switch (c) {
        case '^':
        case '$':
            out += static_cast<char>(c);
            last = ANCHOR;
            continue;
        case '|':
            out += '|';
            last = START;
            continue;
        case '(':
            if (depth == 255)
                return false;
            group_starts[depth++] = here;
            out += "(?:";
            last = START;
            continue;
        case ')':
            if (depth > 0) {
                out += ')';
                atom = group_starts[--depth];
                last = ATOM;
                continue;
            }
            break;  // an unmatched ')' stands for itself
        case '.':
            out += '.';
            atom = here;
            last = ATOM;
            continue;
        case '[': {
            const char *end = bracket_end(p - 1);
            if (!end || !translate_bracket(p - 1, end + 1 - (p - 1), utf8, cflags, out))
                return false;
            p = end + 1;
            atom = here;
            last = ATOM;
            continue;
        }
        case '\\': {
            auto e = static_cast<unsigned char>(*p);
            if (e == 0 || (e >= '1' && e <= '9'))
                return false;  // back-references
            p++;
            const char *word = utf8 ? "[0-9A-Z_a-z\\x{80}-\\x{10ffff}]" : "[0-9A-Z_a-z]";
            const char *space = utf8 ? "[\\t\\x{b}\\f\\r \\x{80}-\\x{10ffff}]" : "[\\t\\x{b}\\f\\r ]";
            switch (e) {
            case '<': case '>': case 'b': case 'B':
                // Word edges are left out: broader, and blind to where a
                // long line was cut into pieces.
                last = ANCHOR;
                continue;
            case '`': out += '^'; last = ANCHOR; continue;
            case '\'': out += '$'; last = ANCHOR; continue;
            case 'w': out += word; break;
            case 'W': out += "[^0-9A-Z_a-z\\n]"; break;
            case 's': out += space; break;
            case 'S': out += "[^\\t\\n\\x{b}\\f\\r ]"; break;
            default:
                c = e;  // any other escaped character stands for itself
                goto literal;
            }
            atom = here;
            last = ATOM;
            continue;
        }
        default:
            break;
        }
    literal:
        atom = here;
        last = ATOM;
        if (c >= 0x80 && utf8) {
            unsigned char low, high;
            int len = text_utf8_length(c, low, high);
            if (len == 0)
                return false;
            for (int k = 1; k < len; k++) {
                auto next = static_cast<unsigned char>(p[k - 1]);
                if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
                    return false;
            }
            if (icase) {
                out += "[^\\n]";  // any character may share its case class
            } else {
                out.append(p - 1, len);
            }
            p += len - 1;
            continue;
        }
        if (icase && utf8 && c < 0x80) {
            if (partners.overflow[c])
                return false;
            if (partners.count[c] == 0) {
                append_literal(out, c);
            } else {
                out += '[';
                append_code(out, c);
                for (int k = 0; k < partners.count[c]; k++)
                    append_code(out, partners.of[c][k]);
                out += ']';
            }
            continue;
        }
        append_literal(out, c);
    }
    return depth == 0;
}

void fast_free()
{
    pcre2_code_free(fast_code);
    fast_code = nullptr;
}

// Prepare the fast path for the pattern just compiled; without it every
// line goes to regexec.
void fast_compile(const char *pattern, int cflags, bool utf8)
{
    fast_free();
    std::string text;
    if (!translate(pattern, cflags, utf8, text))
        return;
    int error;
    PCRE2_SIZE offset;
    uint32_t options = PCRE2_MULTILINE | (utf8 ? PCRE2_UTF : 0);
    fast_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.c_str()), text.size(), options,
                              &error, &offset, nullptr);
    if (!fast_code)
        return;
    pcre2_jit_compile(fast_code, PCRE2_JIT_COMPLETE);
    if (!fast_match)
        fast_match = pcre2_match_data_create(1, nullptr);
    if (!fast_context) {
        fast_context = pcre2_match_context_create(nullptr);
        fast_stack = pcre2_jit_stack_create(32 * 1024, 1024 * 1024, nullptr);
        if (fast_context) {
            pcre2_set_match_limit(fast_context, 10000000);
            pcre2_set_depth_limit(fast_context, 100000);
            pcre2_jit_stack_assign(fast_context, nullptr, fast_stack);
        }
    }
    if (!fast_match || !fast_context)
        fast_free();
    fast_utf8 = utf8;
    fast_fold = cflags & REG_ICASE;
}

// nullptr on success, else the message to show.
const char *regex_compile(const char *pattern)
{
    if (!pattern || !*pattern)
        return search_regex_valid ? nullptr : "no previous regular expression";
    if (search_regex_valid) {
        regfree(judge);
        search_regex_valid = 0;
        fast_free();
    }
    bool utf8 = text_locale_utf8();
    // In a UTF-8 locale -i folds every letter, not only ASCII ones.
    int cflags = REG_EXTENDED | (opt_i && utf8 ? REG_ICASE : 0);
    int err = regcomp(judge, pattern, cflags);
    if (err == 0) {
        search_regex_valid = 1;
        search_cflags = cflags;
        fast_compile(pattern, cflags, utf8);
        return nullptr;
    }
    regerror(err, judge, regex_error_text, sizeof regex_error_text);
    regex_error_text[sizeof regex_error_text - 1] = '\0';
    return regex_error_text;
}

int regex_match(const char *line)
{
    if (!search_regex_valid)
        return -1;
    return regexec(judge, line, 0, nullptr, 0) == 0 ? 1 : 0;
}

// Fold a line for case-blind matching: capitals to small letters, and each
// overstrike (a character, backspace, another) down to the last character.
void fold_line(char *text)
{
    char *out = text;
    for (const char *in = text; *in; in++) {
        if (*in == '\b' && out > text)
            out--;
        else
            *out++ = scan_fold_char(*in);
    }
    *out = '\0';
}

// Where a forward search starts reading, by the -a setting.
file_pos forward_start()
{
    if (opt_a == 1)
        return screen_pos(ROW_AFTER_BOTTOM);
    if (opt_a == 2)
        return screen_pos(1);
    file_pos second = screen_pos(1);
    file_pos p = screen_pos(ROW_TOP);
    do
        p = raw_line_next(p);
    while (p != NO_POSITION && p < second);
    return p;
}

// ---- The search loop.

enum class outcome { go_on, hit, stopped };

// The state of one search command.
struct search_state {
    int wanted;                // hits still to find
    bool match_wanted;
    bool fast;                 // the fast path may be taken
    bool fold;                 // lines are folded as -i folds them
    bool filtered;             // only the lines the filter shows count
    int64_t line;              // number of the line being looked at; 0: not kept
    file_pos fed;              // where the line-number table was last told
    file_pos hit;
    search_bound bound;
    file_pos origin;           // where the run began
    int64_t deadline_ns;       // 0: none
};
search_state st;

int64_t now_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Whether a run that has come to p has gone as far as its bound lets it.
bool past_bound(file_pos p)
{
    if (st.bound.bytes > 0 && (p > st.origin ? p - st.origin : st.origin - p) > st.bound.bytes)
        return true;
    if (st.deadline_ns > 0 && now_ns() > st.deadline_ns)
        return true;
    return st.bound.until_key && wait_for_input(keyboard_fd, 0) == 1;
}

// A record's text as a line to match, folded as -i folds it when fold is set.
void record_line(char *line, const char *text, int64_t len, bool fold)
{
    memcpy(line, text, static_cast<size_t>(len));
    line[len] = '\0';
    if (fold)
        fold_line(line);
}

// Whether the filter shows a record.
bool filter_shows(const char *text, int64_t len)
{
    char line[LINE_BUFFER_SIZE];
    record_line(line, text, len, filter.fold);
    return (regexec(&filter.regex, line, 0, nullptr, 0) == 0) == filter.match_wanted;
}

// Whether the record (the bytes of at most one raw piece) is one the search
// wants, as regexec judges its text; when it completes the n-th hit, st.hit
// is set to at.
bool wanted_record(const char *text, int64_t len, file_pos at)
{
    char line[LINE_BUFFER_SIZE];
    record_line(line, text, len, st.fold);
    if ((regex_match(line) == 1) != st.match_wanted || (st.filtered && !filter_shows(text, len)) ||
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

// Finds, front to back, the lines of a run that the fast path cannot
// judge: lines longer than a piece (regexec sees them cut), lines with
// bytes that are no UTF-8 character in a UTF-8 locale, and under -i lines
// with a backspace (folding drops the overstruck letter). Each kind is
// looked for once and again only after the search has passed it.
struct unfit_finder {
    const char *data;
    int64_t len;
    int64_t long_line = -2;   // line starts; -1: none left; -2: not looked for yet
    int64_t bad_byte = -2;
    int64_t backspace = -2;
};

// The start of the line holding data[at], looking back no further than from.
int64_t line_start_of(const char *data, int64_t from, int64_t at)
{
    auto *nl = static_cast<const char *>(memrchr(data + from, '\n', static_cast<size_t>(at - from)));
    return nl ? nl - data + 1 : from;
}

// The start of the first unfit line at or after off (a line start), or
// f.len when there is none.
int64_t next_unfit(unfit_finder &f, int64_t off)
{
    auto rest = static_cast<size_t>(f.len - off);
    if (f.long_line == -2 || (f.long_line >= 0 && f.long_line < off)) {
        int64_t at = scan_long_line(f.data + off, rest, RAW_PIECE);
        f.long_line = at < 0 ? -1 : off + at;
    }
    if (fast_utf8 && (f.bad_byte == -2 || (f.bad_byte >= 0 && f.bad_byte < off))) {
        int64_t at = scan_invalid_utf8(f.data + off, rest);
        f.bad_byte = at < 0 ? -1 : line_start_of(f.data, off, off + at);
    }
    if (st.fold && (f.backspace == -2 || (f.backspace >= 0 && f.backspace < off))) {
        auto *bs = static_cast<const char *>(memchr(f.data + off, '\b', rest));
        f.backspace = bs ? line_start_of(f.data, off, bs - f.data) : -1;
    }
    int64_t first = f.len;
    for (int64_t at : {f.long_line, f.bad_byte, f.backspace})
        if (at >= 0 && at < first)
            first = at;
    return first;
}

// The bytes the PCRE2 pattern runs over.
const char *fast_subject(const char *data, int64_t len)
{
    if (!st.fold && !fast_fold)
        return data;
    scan_fold_ascii(fold_buffer, data, static_cast<size_t>(len));
    return fold_buffer;
}

// Start of the next candidate line in subject from off on, -1 when there is
// none, -2 when PCRE2 gave up.
int64_t next_candidate(const char *subject, int64_t len, int64_t off)
{
    int rc = pcre2_match(fast_code, reinterpret_cast<PCRE2_SPTR>(subject), static_cast<size_t>(len),
                         static_cast<size_t>(off), fast_utf8 ? PCRE2_NO_UTF_CHECK : 0,
                         fast_match, fast_context);
    if (rc == PCRE2_ERROR_NOMATCH)
        return -1;
    if (rc < 0)
        return -2;
    auto m = static_cast<int64_t>(pcre2_get_ovector_pointer(fast_match)[0]);
    if (m >= len)
        return -1;
    auto *nl = static_cast<const char *>(memrchr(subject + off, '\n', static_cast<size_t>(m - off)));
    return nl ? nl - subject + 1 : off;
}

// Forward over the records of whole lines, each line ending with a
// newline inside the len bytes at data (file position base).
outcome records_forward(const char *data, int64_t len, file_pos base)
{
    for (int64_t off = 0; off < len;) {
        if (pending_signals)
            return outcome::stopped;
        auto *nl = static_cast<const char *>(memchr(data + off, '\n', static_cast<size_t>(len - off)));
        int64_t end = nl - data, s = off;
        for (; end - s > RAW_PIECE; s += RAW_PIECE)
            if (wanted_record(data + s, RAW_PIECE, base + s))
                return outcome::hit;
        if (wanted_record(data + s, end - s, base + s))
            return outcome::hit;
        if (st.line != 0)
            st.line++;
        off = end + 1;
    }
    return outcome::go_on;
}

// Forward over whole short lines, asking regexec only about candidates.
outcome fast_forward(const char *data, int64_t len, file_pos base)
{
    const char *subject = fast_subject(data, len);
    for (int64_t off = 0; off < len;) {
        if (pending_signals)
            return outcome::stopped;
        int64_t start = next_candidate(subject, len, off);
        if (start == -2)
            return records_forward(data + off, len - off, base + off);
        if (start < 0) {
            count_lines(data + off, len - off, 1);
            return outcome::go_on;
        }
        count_lines(data + off, start - off, 1);
        auto *nl = static_cast<const char *>(memchr(data + start, '\n', static_cast<size_t>(len - start)));
        if (wanted_record(data + start, nl - data - start, base + start))
            return outcome::hit;
        if (st.line != 0)
            st.line++;
        off = nl - data + 1;
    }
    return outcome::go_on;
}

// Forward over whole lines: stretches of lines the fast path can judge go
// through it, the others record by record.
outcome lines_forward(const char *data, int64_t len, file_pos base)
{
    if (!st.fast)
        return records_forward(data, len, base);
    unfit_finder unfit = {data, len};
    for (int64_t off = 0; off < len;) {
        int64_t bad = next_unfit(unfit, off);
        outcome o = fast_forward(data + off, bad - off, base + off);
        if (o != outcome::go_on || bad == len)
            return o;
        auto *nl = static_cast<const char *>(memchr(data + bad, '\n', static_cast<size_t>(len - bad)));
        off = nl - data + 1;
        o = records_forward(data + bad, off - bad, base + bad);
        if (o != outcome::go_on)
            return o;
    }
    return outcome::go_on;
}

// Forward from p (the start of a record) to the n-th wanted record.
outcome search_forward(file_pos p)
{
    for (bool first = true;; first = false) {
        if (!first && (pending_signals || past_bound(p)))
            return outcome::stopped;
        const char *data;
        int64_t len = buf_span(p, &data);
        if (len == 0)
            return pending_signals ? outcome::stopped : outcome::go_on;
        int64_t window = len < REGION_MAX ? len : REGION_MAX;
        auto *last = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(window)));
        if (last) {
            int64_t region = last - data + 1;
            outcome o = lines_forward(data, region, p);
            if (o != outcome::go_on)
                return o;
            p += region;
            feed_table(p);
            continue;
        }
        if (window > RAW_PIECE) {
            // Inside a line longer than the window: whole pieces, each with
            // a byte after it that is not a newline.
            int64_t pieces = (window - 1) / RAW_PIECE;
            for (int64_t k = 0; k < pieces; k++, p += RAW_PIECE)
                if (wanted_record(data + k * RAW_PIECE, RAW_PIECE, p))
                    return outcome::hit;
            continue;
        }
        // A record that the run in memory does not hold whole: read it the
        // ordinary way.
        file_pos start = p;
        p = raw_line_next(p);
        if (p == NO_POSITION)
            return pending_signals ? outcome::stopped : outcome::go_on;
        bool ended_line = buf_newline_before(p);
        if (wanted_record(raw_line_text, static_cast<int64_t>(strlen(raw_line_text)), start))
            return outcome::hit;
        if (st.line != 0 && ended_line)
            st.line++;
    }
}

// The pieces of one line, last first: its bytes are [start, end) of data
// (file position base); pieces are cut from the end as raw_line_prev does.
outcome pieces_backward(const char *data, int64_t start, int64_t end, file_pos base)
{
    for (;;) {
        int64_t s = end - start > RAW_PIECE ? end - RAW_PIECE : start;
        if (wanted_record(data + s, end - s, base + s))
            return outcome::hit;
        if (s == start)
            return outcome::go_on;
        end = s;
    }
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
        if (st.line != 0)
            st.line--;
        outcome o = pieces_backward(data, start, newline, base);
        if (o != outcome::go_on)
            return o;
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
    const char *subject = fast_subject(data, len);
    unfit_finder unfit = {data, len};
    // A candidate is stored as its line start, an unfit line as -1 - start.
    int count = 0;
    for (int64_t off = 0; off < len;) {
        int64_t bad = next_unfit(unfit, off);
        while (off < bad) {
            int64_t start = next_candidate(subject + off, bad - off, 0);
            if (start == -2)
                return records_backward(data, len, base);
            if (start < 0)
                break;
            start += off;
            candidates[count++] = static_cast<int32_t>(start);
            off = static_cast<const char *>(memchr(data + start, '\n', static_cast<size_t>(len - start))) - data + 1;
        }
        if (bad == len)
            break;
        candidates[count++] = static_cast<int32_t>(-1 - bad);
        off = static_cast<const char *>(memchr(data + bad, '\n', static_cast<size_t>(len - bad))) - data + 1;
    }
    int64_t known = len;   // st.line is the number of the line starting here
    for (int i = count - 1; i >= 0; i--) {
        if (pending_signals)
            return outcome::stopped;
        bool judged = candidates[i] >= 0;
        int64_t start = judged ? candidates[i] : -1 - int64_t{candidates[i]};
        count_lines(data + start, known - start, -1);
        known = start;
        int64_t end = static_cast<const char *>(memchr(data + start, '\n', static_cast<size_t>(len - start))) - data;
        outcome o = judged ? (wanted_record(data + start, end - start, base + start) ? outcome::hit : outcome::go_on)
                           : pieces_backward(data, start, end, base);
        if (o != outcome::go_on)
            return o;
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
        if (!first && (pending_signals || past_bound(p)))
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
        // First the line that holds the byte before p, which may go on
        // before the run or end at p without a newline.
        bool ended = data[len - 1] == '\n';
        int64_t end = ended ? len - 1 : len;
        auto *nl = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(end)));
        if (nl || at_beginning) {
            int64_t start = nl ? nl - data + 1 : 0;
            if (st.line != 0 && ended)
                st.line--;
            outcome o = pieces_backward(data, start, end, base);
            if (o != outcome::go_on)
                return o;
            p = base + start;
        } else if (end > RAW_PIECE) {
            // A line longer than the run: the pieces that end inside it,
            // each with a byte before it that is not a newline.
            if (st.line != 0 && ended)
                st.line--;
            int64_t s = end;
            for (; s - RAW_PIECE > 0; s -= RAW_PIECE)
                if (wanted_record(data + s - RAW_PIECE, RAW_PIECE, base + s - RAW_PIECE))
                    return outcome::hit;
            p = base + s;
            continue;
        } else {
            // Too little in memory to tell: read one record the ordinary way.
            if (st.line != 0 && buf_newline_before(p))
                st.line--;
            p = raw_line_prev(p);
            if (p == NO_POSITION)
                return pending_signals ? outcome::stopped : outcome::go_on;
            if (wanted_record(raw_line_text, static_cast<int64_t>(strlen(raw_line_text)), p))
                return outcome::hit;
            continue;
        }
        // Then the whole lines before it that the run holds.
        if (p > base) {
            int64_t upto = p - base;
            auto *first_nl = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(upto)));
            int64_t from = at_beginning ? 0 : first_nl ? first_nl - data + 1 : upto;
            outcome o = lines_backward(data + from, upto - from, base + from);
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
    exchange(slot);
    if (search_regex_valid) {
        regfree(judge);
        fast_free();
        search_regex_valid = 0;
    }
    exchange(slot);
}

// Set up st for a run from p; line numbers are learnt on the way when
// line is not 0.
void begin_run(file_pos p, int n, bool match_wanted, bool fold, int64_t line, search_bound bound)
{
    st.line = line;
    st.wanted = n < 1 ? 1 : n;
    st.match_wanted = match_wanted;
    // Lines that do not match cannot be found by looking for ones that do.
    st.fast = fast_code != nullptr && st.match_wanted;
    st.fold = fold;
    st.filtered = filter.valid && judge != &filter.regex;
    st.fed = p;
    st.hit = NO_POSITION;
    st.bound = bound;
    st.origin = p;
    st.deadline_ns = bound.ms > 0 ? now_ns() + bound.ms * 1000000LL : 0;
}

// The hit of a run from p in the pattern slot, or NO_POSITION.
file_pos run_slot(pattern_slot &slot, int forward, file_pos p, int n, search_bound bound)
{
    if (!slot.valid || p == NO_POSITION)
        return NO_POSITION;
    exchange(slot);
    begin_run(p, n, slot.match_wanted, slot.fold, 0, bound);
    outcome o = forward ? search_forward(p) : search_backward(p);
    exchange(slot);
    return o == outcome::hit ? st.hit : NO_POSITION;
}

// Compile pattern into a slot, folded as -i says; the message when it
// does not compile.
const char *compile_slot(pattern_slot &slot, const char *pattern, int match_wanted)
{
    char text[LINE_BUFFER_SIZE];
    copy_pattern(text, pattern);
    exchange(slot);
    const char *problem = regex_compile(text);
    exchange(slot);
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
    return forward ? forward_start() : screen_pos(ROW_TOP);
}

void search_text(int forward, char *pattern, int n, int match_wanted)
{
    search_text_from(search_start(forward), forward, pattern, n, match_wanted);
}

void search_text_from(file_pos p, int forward, char *pattern, int n, int match_wanted)
{
    if (pattern && *pattern && opt_i)
        for (char *c = pattern; *c; c++)
            *c = scan_fold_char(*c);
    if (const char *problem = regex_compile(pattern)) {
        show_error(problem);
        return;
    }
    if (pattern && *pattern) {
        copy_pattern(shown_pattern, pattern);
        shown_cflags = search_cflags;
        shown_fold = opt_i;
    }
    shown_enabled = match_wanted;
    show_matches(pattern && *pattern ? pattern : nullptr, search_cflags, opt_i, match_wanted);
    if (p == NO_POSITION) {
        show_error("Nothing to search");
        return;
    }
    int64_t line = linenum_of(p);
    if (pending_signals)
        return;
    begin_run(p, n, match_wanted != 0, opt_i, line, {});
    outcome o = forward ? search_forward(p) : search_backward(p);
    if (o == outcome::stopped)
        return;
    if (o != outcome::hit) {
        show_error("Pattern not found");
        return;
    }
    if (st.line != 0 && opt_n && buf_newline_before(st.hit))
        linenum_add(st.line, st.hit);
    // Chopped lines are scrolled sideways to show the match.
    file_pos match_end;
    file_pos match = opt_S && match_wanted ? highlight_first_match(st.hit, &match_end) : NO_POSITION;
    if (match != NO_POSITION && line_reveal(match, match_end))
        screen_stale = 1;
    goto_position(st.hit);
}

file_pos search_preview(file_pos start, int forward, const char *pattern, int n, int match_wanted,
                        search_bound bound)
{
    if (!pattern || !*pattern || compile_slot(trial, pattern, match_wanted))
        return NO_POSITION;
    char text[LINE_BUFFER_SIZE];
    copy_pattern(text, pattern);
    show_matches(text, trial.cflags, trial.fold, match_wanted);
    return run_slot(trial, forward, start, n, bound);
}

void search_preview_end()
{
    show_matches(shown_pattern[0] ? shown_pattern : nullptr, shown_cflags, shown_fold, shown_enabled);
}

const char *search_filter_compile(const char *pattern, int match_wanted)
{
    // Tried apart first: a pattern that does not compile leaves the filter.
    if (pattern && *pattern)
        if (const char *problem = compile_slot(trial, pattern, match_wanted))
            return problem;
    free_slot(filter);
    return pattern && *pattern ? compile_slot(filter, pattern, match_wanted) : nullptr;
}

file_pos search_filter_next(file_pos pos, int64_t bytes)
{
    if (!filter.valid)
        return pos;
    return run_slot(filter, 1, pos, 1, {.bytes = bytes});
}

file_pos search_filter_prev(file_pos pos, int64_t bytes)
{
    return run_slot(filter, 0, pos, 1, {.bytes = bytes});
}
