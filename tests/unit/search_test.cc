#include "viewer/navigation/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <csignal>
#include <regex.h>
#include <string>
#include <sys/time.h>
#include <sys/wait.h>
#include <vector>

#include "viewer/control/program.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/input/buffer.h"
#include "viewer/navigation/jump.h"
#include "viewer/input/linenum.h"
#include "viewer/input/match.h"
#include "viewer/input/parallel.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "tests/unit/fixtures.h"

namespace {

// Text with every kind of line the search must treat alike on both paths:
// words and digits, overstruck words, long lines, NULs, UTF-8 (valid and
// not), empty lines, and a last line without a newline. More than two
// read-ahead windows long, so lines straddle where runs end.
std::string sample_text()
{
    const std::vector<std::string> words = {
        "alpha", "bravo", "Error", "ERROR", "foo", "bar", "baz", "word", "words", "123x4b", "x7f",
        "ab", "abab", "end", "a)", "caf\xc3\xa9s", "\xc4\xb1x", "\xc4\xb0X", "\xc3\x89t\xc3\xa9"};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    std::string text;
    while (text.size() < 300000) {
        unsigned kind = next() % 100;
        if (kind < 2) {
            // A long line: its second piece starts with "b", and "zzword"
            // is cut in two where its second piece ends.
            std::string line(2100 + next() % 2000, 'q');
            for (size_t i = 0; i < line.size(); i += 5)
                line[i] = static_cast<char>('a' + next() % 26);
            line[1023] = 'b';
            line.replace(2043, 6, "zzword");
            line.replace(600, 5, "\033[31m");
            line.replace(1500, 3, "\033[m");
            text += line;
        } else if (kind < 4) {
            const char *struck[] = {"_\bE_\br_\br_\bo_\br here", "E\bEr\brR\bRO\bOr\br bold",
                                    "C\bCA\bAF\bF\xc3\x89\b\xc3\x89s",
                                    "_\b\xe6\x97\xa5\b_ e\b_r\b_r"};
            text += struck[next() % 4];
        } else if (kind < 5) {
            text += "bad \xff\xfe caf\xc3";
        } else if (kind < 6) {
            text += std::string("nul\0alpha", 9);
        } else if (kind < 7) {
            // Colour and links, taken out as the screen does; text that only
            // looks like them; lines ending in a carriage return.
            const char *coloured[] = {"\033[31m-beta\033[m",
                                      "\033[01;31m\033[K[ERROR]\033[m\033[K disk alpha",
                                      "\033]8;;http://e.x/\033\\see here\033]8;;\a",
                                      "\033Zraw \033[31 m not colour", "crlf end\r",
                                      "alpha\r\r", "as\033[k text"};
            text += coloured[next() % 7];
        } else if (kind >= 8) {
            if (next() % 3 == 0)
                text += std::to_string(100 + next() % 900) + " ";
            for (unsigned k = 0, n = 1 + next() % 8; k < n; k++)
                text += words[next() % words.size()] + (k + 1 < n ? " " : "");
        }
        text += '\n';
    }
    return text + "last alpha end";
}

struct search_case {
    std::string pattern;
    bool icase;
    bool wanted;   // lines that match (true) or, as after "!", that do not
};

// A line as the screen shows it, in small letters under -i: without the
// colour and link sequences of sample_text, each overstruck group as the
// character shown (the last, unless an underscore underlines it), whole
// characters in UTF-8. origin gets, for each byte,
// where its group begins in line, and then the line's length.
std::string shown(const std::string &line, bool icase, bool utf8, std::vector<size_t> &origin)
{
    auto char_len = [&](size_t i) -> size_t {
        auto c = static_cast<unsigned char>(line[i]);
        size_t n = !utf8 || c < 0xC2 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 1;
        if (i + n > line.size())
            return 1;
        for (size_t k = 1; k < n; k++)
            if ((static_cast<unsigned char>(line[i + k]) & 0xC0) != 0x80)
                return 1;
        return n;
    };
    std::string out;
    std::vector<size_t> starts;   // where each character of out begins
    origin.clear();
    size_t group = SIZE_MAX;
    static const std::string sequences[] = {"\033[31m", "\033[m", "\033[01;31m", "\033[K",
                                            "\033]8;;http://e.x/\033\\", "\033]8;;\a"};
    for (size_t i = 0; i < line.size();) {
        // Under -r (caret form) they are text.
        auto sequence = std::find_if(std::begin(sequences), std::end(sequences), [&](auto &s) {
            return opt_r != 1 && line.compare(i, s.size(), s) == 0;
        });
        if (sequence != std::end(sequences)) {
            i += sequence->size();
            continue;
        }
        if (line[i] == '\b' && !out.empty()) {
            if (i + 1 < line.size() && line[i + 1] == '_') {
                i += 2;
                continue;
            }
            group = origin[starts.back()];
            out.resize(starts.back());
            origin.resize(starts.back());
            starts.pop_back();
            i++;
            continue;
        }
        size_t n = char_len(i);
        starts.push_back(out.size());
        for (size_t k = 0; k < n; k++) {
            char c = line[i + k];
            out += icase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            origin.push_back(group != SIZE_MAX ? group : i);
        }
        group = SIZE_MAX;
        i += n;
    }
    origin.push_back(line.size());
    return out;
}

// A line of the text as the oracle reads it: where it starts, its length,
// and how it is shown with case kept [0] and folded [1].
struct text_line {
    size_t start, len;
    std::string shown[2];
    std::vector<size_t> origin[2];
};

std::vector<text_line> lines_of(const std::string &text, bool utf8)
{
    std::vector<text_line> lines;
    for (size_t at = 0; at < text.size();) {
        size_t nl = std::min(text.find('\n', at), text.size());
        text_line l{at, nl - at, {}, {}};
        std::string raw = text.substr(at, nl - at);
        std::replace(raw.begin(), raw.end(), '\0', '@');
        if (nl < text.size() && !raw.empty() && raw.back() == '\r')
            raw.pop_back();   // part of the line end
        for (int fold : {0, 1})
            l.shown[fold] = shown(raw, fold, utf8, l.origin[fold]);
        lines.push_back(std::move(l));
        at = nl + 1;
    }
    return lines;
}

// Where the search stops, in order, forward [0] and backward [1]: the
// records the raw-line readers hand out (lines, and pieces of 1023 bytes of
// longer ones, cut from the front forward and from the end backward), each
// holding a hit when a match of its whole line, by regexec alone, starts in
// it. A search for lines without a match takes a long line whole.
std::array<std::vector<file_pos>, 2> expected_hits(const search_case &c, bool utf8,
                                                   const std::vector<text_line> &lines)
{
    regex_t re;
    int flags = REG_EXTENDED | (c.icase && utf8 ? REG_ICASE : 0);
    std::string pattern = c.pattern;
    if (c.icase)
        for (char &ch : pattern)
            ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    EXPECT_EQ(regcomp(&re, pattern.c_str(), flags), 0) << c.pattern;
    std::array<std::vector<file_pos>, 2> hits;
    const size_t piece = 1023;
    for (const text_line &l : lines) {
        const std::string &line = l.shown[c.icase];
        size_t pieces = std::max<size_t>(1, (l.len + piece - 1) / piece);
        std::vector<bool> matched[2] = {std::vector<bool>(pieces), std::vector<bool>(pieces)};
        for (size_t x = 0; x <= line.size();) {
            regmatch_t m[1] = {{static_cast<regoff_t>(x), static_cast<regoff_t>(line.size())}};
            if (regexec(&re, line.c_str(), 1, m, REG_STARTEND) != 0)
                break;
            size_t from = l.origin[c.icase][m[0].rm_so];
            matched[0][std::min(from / piece, pieces - 1)] = true;
            matched[1][from == l.len ? 0 : (l.len - 1 - from) / piece] = true;
            x = m[0].rm_so + 1;
            while (utf8 && x < line.size() && (static_cast<unsigned char>(line[x]) & 0xC0) == 0x80)
                x++;
        }
        if (!c.wanted) {
            if (std::find(matched[0].begin(), matched[0].end(), true) == matched[0].end())
                for (auto &h : hits)
                    h.push_back(static_cast<file_pos>(l.start));
            continue;
        }
        for (size_t k = 0; k < pieces; k++) {
            if (matched[0][k] == c.wanted)
                hits[0].push_back(static_cast<file_pos>(l.start + k * piece));
            // Backward, the last piece of the text first: reversed below.
            size_t j = pieces - 1 - k;
            if (matched[1][j] == c.wanted)
                hits[1].push_back(static_cast<file_pos>(
                    l.len > (j + 1) * piece ? l.start + l.len - (j + 1) * piece : l.start));
        }
    }
    std::reverse(hits[1].begin(), hits[1].end());
    regfree(&re);
    return hits;
}

int64_t line_of(const std::string &text, file_pos pos)
{
    return 1 + std::count(text.begin(), text.begin() + pos, '\n');
}

class Search : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        screen_reset(5, 80);
    }

    void TearDown() override
    {
        setlocale(LC_ALL, "C");
        settings_reset();
        input_close();
    }

    // The screen before a search: nothing shown (forward), or the end of
    // the input at the top (backward).
    static void start_screen(bool forward, file_pos end)
    {
        screen_pos_clear();
        if (!forward)
            screen_pos_insert_top(end);
    }

    // Where the screen's top goes when a search stops at the line at pos.
    static file_pos top_for(file_pos pos, bool forward, file_pos end)
    {
        start_screen(forward, end);
        captured(1, [&] { goto_position(pos); });
        return screen_pos(ROW_TOP);
    }

    // Search from the top of the input (forward) or from its end; the top
    // position afterwards and what went to standard error.
    static std::pair<file_pos, std::string> run(const search_case &c, bool forward, int n,
                                                file_pos end)
    {
        start_screen(forward, end);
        opt_i = c.icase;
        std::string pattern = c.pattern;
        std::string errors = captured(2, [&] {
            captured(1, [&] { search_text(forward, pattern.data(), n, c.wanted); });
        });
        return {screen_pos(ROW_TOP), errors};
    }

    // Both paths give the same lines: the n-th hit for a few n, and the
    // line number the table then gives for it.
    static void compare(const std::string &text, const std::vector<search_case> &cases, bool utf8)
    {
        const file_pos end = static_cast<file_pos>(text.size());
        const std::vector<text_line> lines = lines_of(text, utf8);
        for (const search_case &c : cases) {
            auto both = expected_hits(c, utf8, lines);
            for (bool forward : {true, false}) {
                SCOPED_TRACE((forward ? "/" : "?") + std::string(c.wanted ? "" : "!") + c.pattern +
                             (c.icase ? " -i" : "") + (utf8 ? " UTF-8" : " C"));
                linenum_reset();
                const std::vector<file_pos> &hits = both[forward ? 0 : 1];
                int count = static_cast<int>(hits.size());
                for (int n : {1, 2, 3, count / 2, count, count + 1}) {
                    if (n < 1)
                        continue;
                    auto [top, errors] = run(c, forward, n, end);
                    if (n > count) {
                        EXPECT_NE(errors.find("Pattern not found"), std::string::npos) << "n " << n;
                        continue;
                    }
                    EXPECT_EQ(errors, "") << "n " << n;
                    ASSERT_EQ(top, top_for(hits[n - 1], forward, end)) << "n " << n << " of " << count;
                    EXPECT_EQ(linenum_of(top), line_of(text, top)) << "n " << n;
                }
            }
        }
    }
};

const std::vector<search_case> &all_cases()
{
    static const std::vector<search_case> cases = {
        {"zqxj", false, true},                 // an absent literal
        {"alpha", false, true},                // a frequent one
        {"[0-9]+x[a-f]", false, true},         // classes
        {"^[0-9]{3} ", false, true},           // anchors
        {"end$", false, true},
        {"^b", false, true},                   // matches only where a long line is cut
        {"zzword", false, true},               // cut in two by a piece boundary
        {"foo|ba[rz]", false, true},           // alternation
        {"error", true, true},                 // -i, with overstruck words
        {"ERROR", false, true},
        {"ix", true, true},                    // -i meets dotless i and dotted I
        {"\xc3\xa9t", true, true},             // -i on a non-ASCII letter
        {"a", false, false},                   // "!": lines that do not match
        {"(ab)\\1", false, true},              // a back-reference
        {"[[=a=]]b", false, true},             // an equivalence class
        {"\\<word\\>", false, true},           // GNU word anchors
        {std::string(252, '(') + "alpha" + std::string(252, ')'), false, true},  // too deep for PCRE2
        {"caf.s", false, true},                // '.' against a two-byte character
        {"[^a-z ]", false, true},              // a negated class
        {"caf[^a-z]s", false, true},           // ... against a two-byte character
        {"[[:upper:]]{2}", false, true},
        {"x*", false, true},                   // an empty match: every line
        {"ab**", false, true},                 // repeats of repeats
        {"b+?a", false, true},
        {"q{2,}b", false, true},
        {"r{,1}o", false, true},
        {"a\\sb\\w", false, true},            // GNU escapes
        {"[0-9]\\s\\S|7f\\W", false, true},
        {"a)", false, true},                   // an unmatched parenthesis
        {"last", false, true},                 // the last line, without a newline
        {"caf\xc3\xa9s", true, true},           // -i on overstruck UTF-8 letters
        {"\xe6\x97\xa5 err", false, true},        // an underlined wide one, underscores under
        {"foo", false, false},                 // "!", where long lines have matches
        {"^-beta|^\\[ERROR\\] disk", false, true},  // coloured lines as shown
        {"ERROR\\] disk", false, true},          // across sequences
        {"error\\] DISK", true, true},
        {"\\[31|31m", false, true},              // sequences are no text
        {"here$|end$|a$", false, true},        // before a link's end, a carriage return
        {"\\[m", false, false},                  // "!" on coloured lines
        {"a.\\[m", false, true},                 // a sequence as text, under -r
        {"s.\\[k", false, true},                 // what only looks like one
        {"S.\\[K", true, true},
    };
    return cases;
}

// The sequences the screen passes or drops are no text; what only begins
// like one (cut at the end of the bytes, ESC before another byte, too
// long) is text, as the screen shows it; so is everything under -r.
TEST(MatchShown, TakesOutWhatTheScreenDoesNotShow)
{
    const int colour = MATCH_COLOUR, strike = MATCH_OVERSTRIKE, end = MATCH_LINE_END;
    const std::string long_colour = "\033[" + std::string(61, '1') + "m";
    const struct {
        std::string raw;
        int how;
        std::string shown;
    } cases[] = {
        {"\033[31m-beta\033[m", colour, "-beta"},
        {"\033[31m-beta\033[m", 0, "\033[31m-beta\033[m"},
        {"ab\033[3", colour, "ab\033[3"},
        {"ab\033", colour, "ab\033"},
        {"\033Zx\033(B", colour, "\033Zx\033(B"},
        {"\033[Kx\033[0Ky\033[1K", colour, "xy\033[1K"},
        {"\033]8;;http://e.x/\ax\033]8;;\a", colour, "x"},
        {"\033]8;id=1;http://e.x/\033\\x\033]8;;\033\\", colour, "x"},
        {"\033]8;;http://e.x/\033", colour, "\033]8;;http://e.x/\033"},
        {"\033]8;;a b\033x", colour, "\033]8;;a b\033x"},
        {"\033]7;;u\a", colour, "\033]7;;u\a"},
        {long_colour + "x", colour, "x"},
        {"\033[1" + long_colour.substr(2), colour, "\033[1" + long_colour.substr(2)},
        {"\033[1mB\bB\033[m", colour | strike, "B"},
        {"a\r", end, "a"},
        {"a\r", 0, "a\r"},
        {"a\r\r", end, "a\r"},
        {"\033[31ma\033[m\r", colour | end, "a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.raw));
        std::vector<char> out(c.raw.size() + 1);
        std::vector<int32_t> origin(c.raw.size() + 1);
        size_t n = match_shown(c.raw.data(), c.raw.size(), out.data(), origin.data(), c.how);
        EXPECT_EQ(std::string(out.data(), n), c.shown);
        if (c.shown != c.raw) {
            EXPECT_TRUE(match_reshaped(c.raw.data(), c.raw.size(), c.how));
        }
    }
    // Each character comes from where it stands; the end, from where the
    // last sequences begin, so that a match is drawn on its own cells.
    const std::string raw = "\033[31mbe\033[1mta\033[m\r";
    std::vector<char> out(raw.size() + 1);
    std::vector<int32_t> origin(raw.size() + 1);
    ASSERT_EQ(match_shown(raw.data(), raw.size(), out.data(), origin.data(), colour | end), 4u);
    EXPECT_EQ(std::vector<int32_t>(origin.begin(), origin.begin() + 5),
              (std::vector<int32_t>{5, 6, 11, 12, 16}));
}

TEST_F(Search, FastPathFindsTheSameLinesAsRegexecAlone)
{
    const std::string text = sample_text();
    ASSERT_GE(input_from_text(text, 10), 0);
    compare(text, all_cases(), false);
    opt_r = 1;
    compare(text, {all_cases().end() - 9, all_cases().end()}, false);
    opt_r = 0;
    if (!setlocale(LC_ALL, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    compare(text, all_cases(), true);
}

TEST_F(Search, FastPathOnAPipe)
{
    // A pipe's first records are not consecutive in memory, so runs are
    // short and records straddle their ends.
    const std::string text = sample_text();
    pid_t writer = input_from_child(text, static_cast<int64_t>(text.size()), 10);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(buf_seek_end(), 0);
    waitpid(writer, nullptr, 0);
    ASSERT_EQ(buf_length(), static_cast<file_pos>(text.size()));
    std::vector<search_case> some(all_cases().begin(), all_cases().begin() + 13);
    compare(text, some, false);
}

// A search through a file long enough for threads: the lines worth a look
// lie in different stretches, the first a decoy that PCRE2 takes and
// regexec turns down, one in a long line across two stretches; the hits
// come in file order, with their line numbers.
TEST_F(Search, ThreadsTakeTheFirstHitInFileOrder)
{
    std::string text;
    auto fill_to = [&](size_t offset) {
        while (text.size() < offset)
            text += "filler " + std::to_string(text.size()) + "\n";
    };
    fill_to(5 << 20);
    text += "a swordfish\n";
    fill_to(9 << 20);
    size_t first = text.size();
    text += "the word here\n";
    fill_to((12 << 20) - 2000);
    size_t long_line = text.size();
    std::string line(5000, 'q');
    line.replace(3500, 6, " word ");
    text += line + "\n";
    fill_to(17 << 20);
    size_t last = text.size();
    text += "word\n";
    fill_to(20 << 20);
    ASSERT_GE(input_from_text(text, 10), 0);
    const std::vector<file_pos> hits = {static_cast<file_pos>(first),
                                        static_cast<file_pos>(long_line + 3 * 1023),
                                        static_cast<file_pos>(last)};
    for (int n = 1; n <= 4; n++) {
        SCOPED_TRACE(n);
        linenum_reset();
        auto [top, errors] = run({"\\<word\\>", false, true}, true, n, 0);
        if (n == 4) {
            EXPECT_NE(errors.find("Pattern not found"), std::string::npos);
            continue;
        }
        EXPECT_EQ(errors, "");
        ASSERT_EQ(top, top_for(hits[n - 1], true, 0));
        EXPECT_EQ(linenum_of(top), line_of(text, top));
    }
}

void note_interrupt(int)
{
    pending_signals = pending_signals | PENDING_INTERRUPT;
}

// An interrupt while a scan runs through memory (no read to break) ends
// it at the next run: the scans would otherwise take hours.
TEST_F(Search, InterruptStopsLongScans)
{
    int fd = temp_file("");
    ASSERT_GE(fd, 0);
    const file_pos size = 64LL << 30;
    if (ftruncate(fd, size) < 0) {
        close(fd);
        GTEST_SKIP() << "this file system cannot hold a 64 GiB sparse file";
    }
    input_attach(fd, 0, 10);
    struct {
        const char *name;
        void (*scan)();
    } scans[] = {
        {"forward search", [] { search_text(1, const_cast<char *>("zqxj"), 1, 1); }},
        {"backward search", [] {
             screen_pos_insert_top(buf_length());
             search_text(0, const_cast<char *>("zqxj"), 1, 1);
         }},
        {"line count", [] { EXPECT_EQ(linenum_of(buf_length()), 0); }},
        {"threaded scan", [] {
             // Threads reading the file, the main thread waiting on them.
             char error[100];
             match_pattern *p = match_compile("zqxj", REG_EXTENDED, error, sizeof error);
             ASSERT_TRUE(p);
             parallel_start(0, buf_length(), p, 0);
             parallel_result r;
             int rc;
             while ((rc = parallel_next(&r)) == 1) {
             }
             parallel_stop();
             match_free(p);
             EXPECT_EQ(rc, -1);
         }},
    };
    struct sigaction sa = {}, old;
    sa.sa_handler = note_interrupt;
    sigaction(SIGALRM, &sa, &old);
    for (const auto &s : scans) {
        SCOPED_TRACE(s.name);
        pending_signals = 0;
        screen_pos_clear();
        linenum_reset();
        itimerval later = {{0, 0}, {0, 100000}};
        setitimer(ITIMER_REAL, &later, nullptr);
        std::string errors = captured(2, [&] { captured(1, s.scan); });
        EXPECT_EQ(pending_signals, PENDING_INTERRUPT);
        EXPECT_EQ(errors, "");
        EXPECT_EQ(screen_pos(ROW_TOP), s.name[0] == 'b' ? size : NO_POSITION);
    }
    pending_signals = 0;
    sigaction(SIGALRM, &old, nullptr);
}

} // namespace
