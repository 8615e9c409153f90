#include "viewer/input/match.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <regex.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "common/clock.h"
#include "viewer/input/escape.h"
#include "viewer/input/scan.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/text.h"

struct match_pattern {
    regex_t posix;
    pcre2_code *fast;      // nullptr: regexec judges every line alone
    // For whole lines as read, where a carriage return may end them: as
    // they are, and with the sequences that colour is passed as let in, for
    // subjects as read and folded. Compiled when a search first needs them.
    std::string region_text[3];
    pcre2_code *region[3];
    bool region_tried[3];
    bool cheap;            // the coloured forms cost no more: a first byte is known
    bool utf8;             // compiled for a UTF-8 locale
    bool fold;             // REG_ICASE: PCRE2 sees subjects in small letters
    bool exact;            // the PCRE2 pattern matches only where regexec does
};

struct match_worker {
    pcre2_match_data *data;       // nullptr: PCRE2 is not used
    pcre2_match_context *context;
    pcre2_jit_stack *stack;
    char *folded;                 // MATCH_REGION_MAX bytes; the main thread's made on first use
    // The region being looked at.
    const match_pattern *pattern;
    int how;
    const char *region;
    int64_t len;
    const char *subject;          // region, or its folded copy
    const pcre2_code *code;       // the pattern's PCRE2 form for this region
    // Starts of the next unfit lines of each kind; -1: none left; -2: not
    // looked for yet. Each is looked for again only once passed.
    int64_t long_line, bad_byte, backspace;
};

namespace {

match_worker main_worker;

// Time regexec is given: from a candidate's start to this far past the end
// PCRE2 found, so that the longest match may run on; at most the second
// bound from the start where the PCRE2 pattern is exact (regexec then
// matches at the start, in time linear in the bytes), else the third (a
// start where regexec fails costs it the square of the bytes).
constexpr int64_t JUDGE_MARGIN = 256;
constexpr int64_t JUDGE_EXACT_MAX = 1 << 20;
constexpr int64_t JUDGE_BROAD_MAX = 2048;
// Without PCRE2, regexec is asked about a piece at a time, seeing this far
// beyond it.
constexpr int64_t ALONE_LOOKAHEAD = 256;

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
bool translate_bracket(const char *text, size_t len, bool utf8, int cflags, std::string &out,
                       bool &exact)
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
    if (utf8 && !plain) {
        members += "\\x{80}-\\x{10ffff}";
        exact = false;
    }
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

// The colour and link sequences (and erasures) that the screen passes,
// as they may stand between two characters of a line as it is read: taken
// whole, never in part, as what is shown holds none of their bytes. The
// erasure's letter comes apart: a folded subject has it small, and there
// an erasure cannot be told from text that only looks like one, so the
// sequences may be given back.
constexpr const char *GAP_START = "(?:\\x{1b}(?:\\[(?:[0-9;:]{0,61}m|0?";
constexpr const char *GAP_END =
    ")|\\]8;(?=[\\x{20}-\\x{7e}]{0,2043}\\x{7}|[\\x{20}-\\x{7e}]{0,2042}\\x{1b}\\\\)"
    "[\\x{20}-\\x{7e}]*;[\\x{20}-\\x{7e}]*(?:\\x{7}|\\x{1b}\\\\)))*";

// A PCRE2 pattern matching wherever the extended regular expression
// `pattern` (compiled with cflags) can match; false for what this does not
// handle: back-references, equivalence classes, collating symbols, and
// forms whose reading is in doubt. exact is cleared where the PCRE2 pattern
// may match where the POSIX one does not. For lines as read, where
// the text shown matches: with LINES a carriage return may come before a
// line's end; with GAPS sequences may follow each character and a line's
// start, and with FOLDED in a subject in small letters. partners are
// those of find_partners where the pattern ignores case in UTF-8.
constexpr int LINES = 1;
constexpr int GAPS = 2;
constexpr int FOLDED = 4;
bool translate(const char *pattern, int cflags, bool utf8, const partner_table &partners, int form,
               std::string &out, bool &exact)
{
    std::string gap;
    if (form & GAPS)
        gap = std::string(GAP_START) + (form & FOLDED ? "k" : "K") + GAP_END +
              (form & FOLDED ? "" : "+");
    enum { START, ATOM, REPEAT, ANCHOR } last = START;
    bool icase = cflags & REG_ICASE;
    exact = !(icase && utf8);
    std::string start_anchor = "^" + gap;
    const char *end_anchor = form & LINES ? "\\r?$" : "$";
    size_t atom = 0;             // where the last atom's text begins in out
    size_t group_starts[256];
    int depth = 0;
    // An atom whose sequences after it are not added yet: they go inside
    // it, so that a repeat takes them along.
    size_t pending = std::string::npos;
    auto close_atom = [&] {
        if (!gap.empty() && pending != std::string::npos) {
            out.insert(pending, "(?:");
            out += gap;
            out += ')';
        }
        pending = std::string::npos;
    };
    for (const char *p = pattern; *p;) {
        close_atom();
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
            out += c == '^' ? start_anchor : end_anchor;
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
            atom = pending = here;
            last = ATOM;
            continue;
        case '[': {
            const char *end = bracket_end(p - 1);
            if (!end || !translate_bracket(p - 1, end + 1 - (p - 1), utf8, cflags, out, exact))
                return false;
            p = end + 1;
            atom = pending = here;
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
            if (utf8 && strchr("wWsS", e))
                exact = false;  // non-ASCII characters let in
            switch (e) {
            case '<': case '>': case 'b': case 'B':
                // Word edges are left out: broader, and blind to where a
                // region of lines begins.
                exact = false;
                last = ANCHOR;
                continue;
            case '`': out += start_anchor; last = ANCHOR; continue;
            case '\'': out += end_anchor; last = ANCHOR; continue;
            case 'w': out += word; break;
            case 'W': out += "[^0-9A-Z_a-z\\n]"; break;
            case 's': out += space; break;
            case 'S': out += "[^\\t\\n\\x{b}\\f\\r ]"; break;
            default:
                c = e;  // any other escaped character stands for itself
                goto literal;
            }
            atom = pending = here;
            last = ATOM;
            continue;
        }
        default:
            break;
        }
    literal:
        atom = pending = here;
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
    close_atom();
    return depth == 0;
}

pcre2_code *compile_fast(const std::string &text, bool utf8)
{
    int code;
    PCRE2_SIZE offset;
    uint32_t options = PCRE2_MULTILINE | (utf8 ? PCRE2_UTF : 0);
    pcre2_code *fast = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.c_str()), text.size(),
                                     options, &code, &offset, nullptr);
    if (fast)
        pcre2_jit_compile(fast, PCRE2_JIT_COMPLETE);
    return fast;
}

void setup_worker(match_worker &w)
{
    w.data = pcre2_match_data_create(1, nullptr);
    w.context = pcre2_match_context_create(nullptr);
    w.stack = pcre2_jit_stack_create(32 * 1024, 1024 * 1024, nullptr);
    if (!w.data || !w.context || !w.stack) {
        pcre2_match_data_free(w.data);
        pcre2_match_context_free(w.context);
        pcre2_jit_stack_free(w.stack);
        w.data = nullptr;
        w.context = nullptr;
        w.stack = nullptr;
        return;
    }
    // Each call stays short, so the caller can look at the signals.
    pcre2_set_match_limit(w.context, 10000000);
    pcre2_set_depth_limit(w.context, 100000);
    pcre2_jit_stack_assign(w.context, nullptr, w.stack);
}

match_worker *worker_of(match_worker *w)
{
    if (w)
        return w;
    static bool made;
    if (!made) {
        setup_worker(main_worker);
        made = true;
    }
    return &main_worker;
}

bool can_use_pcre(const match_pattern *p, const match_worker *w)
{
    return p->fast && w->data;
}

// Bytes of the character at s (n bytes left): a UTF-8 sequence when utf8
// and it is whole and valid, else 1.
size_t char_length(const char *s, size_t n, bool utf8)
{
    auto lead = static_cast<unsigned char>(*s);
    if (!utf8 || lead < 0x80)
        return 1;
    unsigned char low, high;
    auto len = static_cast<size_t>(text_utf8_length(lead, low, high));
    if (len == 0 || len > n)
        return 1;
    auto second = static_cast<unsigned char>(s[1]);
    if (second < low || second > high)
        return 1;
    for (size_t k = 2; k < len; k++)
        if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80)
            return 1;
    return len;
}

// Where the character that ends just before text[end] begins.
size_t char_start(const char *text, size_t end, bool utf8)
{
    size_t at = end - 1;
    while (utf8 && at > 0 && end - at < 4 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        at--;
    return char_length(text + at, end - at, utf8) == end - at ? at : end - 1;
}

// The first character boundary at or after at.
int64_t boundary_after(const char *s, int64_t len, int64_t at, bool utf8)
{
    for (int k = 0; utf8 && k < 3 && at < len; k++) {
        if ((static_cast<unsigned char>(s[at]) & 0xC0) != 0x80)
            break;
        at++;
    }
    return at;
}

bool stop_now(int64_t deadline)
{
    return pending_signals || (deadline != 0 && clock_ns() >= deadline);
}

// regexec over subject[from, to), with what lies before as context: the
// match it finds, which is the leftmost starting at or after from.
bool posix_match(const match_pattern *p, const char *subject, int64_t len, int64_t from, int64_t to,
                 int flags, match_span *m)
{
    regmatch_t r[1];
    r[0].rm_so = from;
    r[0].rm_eo = to;
    int eflags = REG_STARTEND | (flags & MATCH_NOT_BOL ? REG_NOTBOL : 0) |
                 (to < len || (flags & MATCH_NOT_EOL) ? REG_NOTEOL : 0);
    if (regexec(&p->posix, subject, 1, r, eflags) != 0)
        return false;
    *m = {r[0].rm_so, r[0].rm_eo};
    return true;
}

// Without PCRE2: regexec a piece at a time.
int each_alone(const match_pattern *p, const char *subject, int64_t len, int64_t from, int flags,
               int64_t deadline, match_visit visit, void *context)
{
    for (int64_t at = boundary_after(subject, len, from, p->utf8); at < len;) {
        if (stop_now(deadline))
            return -1;
        int64_t end = at + MATCH_PIECE < len ? at + MATCH_PIECE : len;
        end = boundary_after(subject, len, end, p->utf8);
        int64_t to = end + ALONE_LOOKAHEAD < len ? end + ALONE_LOOKAHEAD : len;
        match_span m;
        if (posix_match(p, subject, len, at, to, flags, &m) && m.from < end) {
            int64_t next = visit(context, m);
            if (next < 0)
                return 0;
            at = boundary_after(subject, len, next > at ? next : at + 1, p->utf8);
        } else {
            at = end;
        }
    }
    return 0;
}

} // namespace

int match_how()
{
    return (opt_i ? MATCH_FOLD_CASE : 0) | (opt_u != 2 ? MATCH_OVERSTRIKE : 0) |
           (text_locale_utf8() ? MATCH_UTF8 : 0) | (escape_passed() ? MATCH_COLOUR : 0);
}

match_pattern *match_compile(const char *pattern, int cflags, char *error, size_t error_size)
{
    auto *p = new match_pattern{};
    int err = regcomp(&p->posix, pattern, cflags);
    if (err != 0) {
        regerror(err, &p->posix, error, error_size);
        error[error_size - 1] = '\0';
        delete p;
        return nullptr;
    }
    p->utf8 = text_locale_utf8();
    p->fold = cflags & REG_ICASE;
    std::string text;
    bool broad;
    const int forms[] = {LINES, LINES | GAPS, LINES | GAPS | FOLDED};
    partner_table partners;
    if ((cflags & REG_ICASE) && p->utf8)
        find_partners(partners);
    if (!translate(pattern, cflags, p->utf8, partners, 0, text, p->exact))
        return p;
    for (int k = 0; k < 3; k++)
        if (!translate(pattern, cflags, p->utf8, partners, forms[k], p->region_text[k], broad))
            return p;
    p->fast = compile_fast(text, p->utf8);
    return p;
}

void match_free(match_pattern *p)
{
    if (!p)
        return;
    regfree(&p->posix);
    pcre2_code_free(p->fast);
    for (pcre2_code *code : p->region)
        pcre2_code_free(code);
    delete p;
}

namespace {

// The form of the pattern for regions that region_form picks, compiled.
bool region_ready(match_pattern *p, int form)
{
    if (!p->region_tried[form]) {
        p->region_tried[form] = true;
        p->region[form] = compile_fast(p->region_text[form], p->utf8);
        uint32_t first = 0;
        if (form > 0 && p->region[form])
            pcre2_pattern_info(p->region[form], PCRE2_INFO_FIRSTCODETYPE, &first);
        if (form > 0)
            p->cheap = first == 1;
    }
    return p->region[form] != nullptr;
}

// Which form a region needs: 0 as it is, 1 coloured, 2 coloured and folded.
int coloured_form(const match_pattern *p, int how)
{
    return (how & MATCH_FOLD_CASE) || p->fold ? 2 : 1;
}

} // namespace

bool match_fast(match_pattern *p, int how)
{
    if (!p->fast || !worker_of(nullptr)->data)
        return false;
    if (!(how & MATCH_COLOUR))
        return region_ready(p, 0);
    // A region without an escape is looked at as it is, unless that costs
    // as much as looking at it coloured.
    return region_ready(p, coloured_form(p, how)) && (p->cheap || region_ready(p, 0));
}

bool match_utf8(const match_pattern *p)
{
    return p->utf8;
}

match_worker *match_worker_new()
{
    // Made whole here: a thread must not run out of memory on its own.
    auto *w = new match_worker{};
    w->folded = new char[MATCH_REGION_MAX];
    setup_worker(*w);
    return w;
}

void match_worker_free(match_worker *w)
{
    if (!w || w == &main_worker)
        return;
    pcre2_match_data_free(w->data);
    pcre2_match_context_free(w->context);
    pcre2_jit_stack_free(w->stack);
    delete[] w->folded;
    delete w;
}

size_t match_shown(const char *raw, size_t n, char *out, int32_t *origin, int how)
{
    bool strike = how & MATCH_OVERSTRIKE, fold = how & MATCH_FOLD_CASE, utf8 = how & MATCH_UTF8;
    bool colour = how & MATCH_COLOUR;
    if ((how & MATCH_LINE_END) && n > 0 && raw[n - 1] == '\r')
        n--;
    size_t o = 0;
    int32_t group = -1;   // where the group of the next character began, when earlier
    for (size_t i = 0; i < n;) {
        if (colour && raw[i] == 0x1B) {
            escape_kind kind;
            if (int length = escape_length(raw + i, n - i, &kind)) {
                i += static_cast<size_t>(length);
                continue;
            }
        }
        if (strike && raw[i] == '\b' && o > 0) {
            // An underscore struck over a character underlines it; any
            // other character replaces the one before.
            if (i + 1 < n && raw[i + 1] == '_') {
                i += 2;
                continue;
            }
            o = char_start(out, o, utf8);
            if (origin)
                group = origin[o];
            i++;
            continue;
        }
        size_t len = char_length(raw + i, n - i, utf8);
        for (size_t k = 0; k < len; k++) {
            out[o + k] = fold ? scan_fold_char(raw[i + k]) : raw[i + k];
            if (origin)
                origin[o + k] = group >= 0 ? group : static_cast<int32_t>(i);
        }
        group = -1;
        o += len;
        i += len;
    }
    if (origin)
        origin[o] = static_cast<int32_t>(n);
    return o;
}

bool match_reshaped(const char *raw, size_t n, int how)
{
    return ((how & MATCH_OVERSTRIKE) && memchr(raw, '\b', n)) ||
           ((how & MATCH_COLOUR) && memchr(raw, 0x1B, n)) ||
           ((how & MATCH_LINE_END) && n > 0 && raw[n - 1] == '\r');
}

int match_each(const match_pattern *p, match_worker *w, const char *subject, int64_t len,
               int64_t from, int flags, int64_t deadline, match_visit visit, void *context)
{
    w = worker_of(w);
    auto n = static_cast<size_t>(len);
    if (!can_use_pcre(p, w) || (p->utf8 && scan_invalid_utf8(subject, n) >= 0))
        return each_alone(p, subject, len, from, flags, deadline, visit, context);
    uint32_t options = (p->utf8 ? PCRE2_NO_UTF_CHECK : 0) |
                       (flags & MATCH_NOT_BOL ? PCRE2_NOTBOL : 0) |
                       (flags & MATCH_NOT_EOL ? PCRE2_NOTEOL : 0);
    int64_t cap = p->exact ? JUDGE_EXACT_MAX : JUDGE_BROAD_MAX;
    // regexec found no match that starts in [dry_from, dry_to) and ends there.
    int64_t dry_from = -1, dry_to = -1;
    for (int64_t at = boundary_after(subject, len, from, p->utf8); at <= len;) {
        if (stop_now(deadline))
            return -1;
        int rc = pcre2_match(p->fast, reinterpret_cast<PCRE2_SPTR>(subject), n,
                             static_cast<size_t>(at), options, w->data, w->context);
        if (rc == PCRE2_ERROR_NOMATCH)
            return 0;
        if (rc < 0)
            return each_alone(p, subject, len, at, flags, deadline, visit, context);
        const PCRE2_SIZE *v = pcre2_get_ovector_pointer(w->data);
        auto s = static_cast<int64_t>(v[0]), e = static_cast<int64_t>(v[1]);
        int64_t to = (e > s ? e : s) + JUDGE_MARGIN;
        if (to > s + cap)
            to = s + cap;
        if (to > len)
            to = len;
        // A stretch regexec has turned down holds no match to find again.
        if (s < dry_from || to > dry_to) {
            match_span m;
            if (posix_match(p, subject, len, s, to, flags, &m)) {
                int64_t next = visit(context, m);
                if (next < 0)
                    return 0;
                at = boundary_after(subject, len, next > s ? next : s + 1, p->utf8);
                continue;
            }
            dry_from = s;
            dry_to = to;
        }
        if (s >= len)
            return 0;
        size_t step = char_length(subject + s, n - static_cast<size_t>(s), p->utf8);
        at = s + static_cast<int64_t>(step);
    }
    return 0;
}

int match_line(const match_pattern *p, const char *line, size_t len)
{
    match_span m;
    auto n = static_cast<int64_t>(len);
    return posix_match(p, line, n, 0, n, 0, &m) ? 1 : 0;
}

namespace {

// The start of the line holding data[at], looking back no further than from.
int64_t line_start_of(const char *data, int64_t from, int64_t at)
{
    auto *nl = static_cast<const char *>(memrchr(data + from, '\n', static_cast<size_t>(at - from)));
    return nl ? nl - data + 1 : from;
}

// The start of the first unfit line at or after off (a line start), or the
// region's length when there is none.
int64_t next_unfit(match_worker *w, int64_t off)
{
    const char *data = w->region;
    auto rest = static_cast<size_t>(w->len - off);
    if (w->long_line == -2 || (w->long_line >= 0 && w->long_line < off)) {
        int64_t at = scan_long_line(data + off, rest, MATCH_PIECE);
        w->long_line = at < 0 ? -1 : off + at;
    }
    if (w->pattern->utf8 && (w->bad_byte == -2 || (w->bad_byte >= 0 && w->bad_byte < off))) {
        int64_t at = scan_invalid_utf8(data + off, rest);
        w->bad_byte = at < 0 ? -1 : line_start_of(data, off, off + at);
    }
    bool passed = w->backspace == -2 || (w->backspace >= 0 && w->backspace < off);
    if ((w->how & MATCH_OVERSTRIKE) && passed) {
        auto *bs = static_cast<const char *>(memchr(data + off, '\b', rest));
        w->backspace = bs ? line_start_of(data, off, bs - data) : -1;
    }
    int64_t first = w->len;
    for (int64_t at : {w->long_line, w->bad_byte, w->backspace})
        if (at >= 0 && at < first)
            first = at;
    return first;
}

} // namespace

void match_region(match_worker *w, const match_pattern *p, int how, const char *data, int64_t len)
{
    w = worker_of(w);
    w->pattern = p;
    w->how = how;
    w->region = data;
    w->len = len;
    w->subject = data;
    w->long_line = w->bad_byte = w->backspace = -2;
    // Letting sequences in slows a pattern that has no first byte to look
    // for: it is used only where a sequence may be.
    auto n = static_cast<size_t>(len);
    bool colour = (how & MATCH_COLOUR) && (p->cheap || memchr(data, 0x1B, n));
    w->code = p->region[colour ? coloured_form(p, how) : 0];
    if ((how & MATCH_FOLD_CASE) || p->fold) {
        if (!w->folded)
            w->folded = new char[MATCH_REGION_MAX];
        scan_fold_ascii(w->folded, data, n);
        w->subject = w->folded;
    }
}

int64_t match_region_next(match_worker *w, int64_t off, bool *unfit)
{
    w = worker_of(w);
    if (!w->code)
        return -2;   // not made ready by match_fast
    int64_t bad = next_unfit(w, off);
    *unfit = false;
    if (off < bad) {
        int rc = pcre2_match(w->code, reinterpret_cast<PCRE2_SPTR>(w->subject),
                             static_cast<size_t>(bad), static_cast<size_t>(off),
                             w->pattern->utf8 ? PCRE2_NO_UTF_CHECK : 0, w->data, w->context);
        if (rc < 0 && rc != PCRE2_ERROR_NOMATCH)
            return -2;
        if (rc >= 0) {
            auto m = static_cast<int64_t>(pcre2_get_ovector_pointer(w->data)[0]);
            if (m < bad)
                return line_start_of(w->subject, off, m);
        }
    }
    *unfit = bad < w->len;
    return bad;
}
