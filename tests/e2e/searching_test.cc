// Searches find what the screen shows, wherever it lies in a line, and no
// pattern can hold the viewer up.
#include "tests/e2e/viewer_test.h"

#include <random>

namespace {

class Searching : public viewer_test {
protected:
    Searching() : viewer_test(80) {}

    pty_options utf8_window(int rows)
    {
        pty_options o = window(rows);
        o.env.push_back("LC_ALL=C.UTF-8");
        return o;
    }
};

// Each character struck twice (bold), or over an underscore (underlined),
// as formatted manual pages come.
std::string bold(const std::string &word)
{
    std::string out;
    for (char c : word)
        out += std::string{c, '\b', c};
    return out;
}

std::string underlined(const std::string &word)
{
    std::string out;
    for (char c : word)
        out += std::string{'_', '\b', c};
    return out;
}

bool top_starts(pty_session &s, const std::string &text)
{
    return s.wait_for_row(0, [&](const std::string &t) { return t.rfind(text, 0) == 0; });
}

TEST_F(Searching, OverstruckWordsAreMatchedAsShown)
{
    std::string f = file("page", numbered(1, 10) + bold("DESCRIPTION") + "\n" + "       " +
                                     underlined("--sort") + "=WORD\n" + bold("AUTHOR") + "\n" +
                                     numbered(11, 20));
    // Overstriking shown as bold and underline, or left to the terminal.
    for (bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "-u" : "");
        pty_session s;
        std::vector<std::string> options;
        if (terminal)
            options.push_back("-u");
        ASSERT_TRUE(start(s, args_of(options, {f}), window(6)));
        s.send("/DESCRIPTION\r");
        ASSERT_TRUE(top_is(s, "DESCRIPTION"));
        const std::string marked(11, terminal ? 'r' : '*');
        EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == marked; })) << s.row_attrs(0);
        s.send("/--sort\r");
        ASSERT_TRUE(top_is(s, "       --sort=WORD"));
        s.send("/^AUTHOR\r");
        ASSERT_TRUE(top_is(s, "AUTHOR"));
        quit(s);
    }
    // Backspaces shown as ^H are text like any other.
    pty_session s;
    ASSERT_TRUE(start(s, {"-U", f}, window(6)));
    ASSERT_TRUE(gives_message(s, "/DESCRIPTION\r", "Pattern not found"));
    s.send("/D.D\r");
    ASSERT_TRUE(top_starts(s, "D^HDE^HE"));
    quit(s);
}

TEST_F(Searching, CaseBlindSearchTakesOverstruckLettersWhole)
{
    std::string f = file("f", numbered(1, 10) + "x C\bCA\bAF\bF\xc3\x89\b\xc3\x89 y\n" +
                                  numbered(11, 20) +
                                  "cjk _\b\xe6\x97\xa5\b__\b\xe6\x9c\xac\b_ z\n" + numbered(21, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {"-i", f}, utf8_window(6)));
    s.send("/caf\xc3\xa9\r");
    ASSERT_TRUE(top_is(s, "x CAF\xc3\x89 y"));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == "  ****"; })) << s.row_attrs(0);
    s.send("/\xe6\x97\xa5\xe6\x9c\xac\r");
    ASSERT_TRUE(top_starts(s, "cjk "));
    quit(s);
}

TEST_F(Searching, MatchesAnywhereInALongLine)
{
    // The first across the end of a raw-line piece, the second across
    // where a read of the file ends.
    std::string across_piece(3000, 'x');
    across_piece.replace(1020, 6, "NEEDLE");
    std::string across_read(200000, 'y');
    across_read.replace(131069, 7, "NEEDLE2");
    std::string f = file("f", numbered(1, 5) + across_piece + "\n" + numbered(6, 10) + across_read +
                                  "\n" + numbered(11, 40));
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window(24)));
    s.send("/NEEDLE\r");
    ASSERT_TRUE(top_is(s, std::string(80, 'x')));
    ASSERT_TRUE(row_is(s, 12, std::string(60, 'x') + "NEEDLE" + std::string(14, 'x')));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(12) == std::string(60, ' ') + "rrrrrr"; }))
        << s.row_attrs(12);
    // It stops at the piece that holds the match: 128 pieces of 1023 bytes in.
    s.send("/NEEDLE2\r");
    ASSERT_TRUE(row_is(s, 1, std::string(45, 'y') + "NEEDLE2" + std::string(28, 'y')));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(1) == std::string(45, ' ') + "rrrrrrr"; }))
        << s.row_attrs(1);
    quit(s);

    // A search for lines without a match takes a long line whole, once;
    // a tab after a match is not part of it.
    std::string g = file("g", "one\neee\n" + std::string(1023, 'e') + "abc\neeee\n" +
                                  numbered(1, 30) + "\terror\t.\n");
    pty_session v;
    ASSERT_TRUE(start(v, {"-I", g}, window(10)));
    for (const std::string &top : {std::string("eee"), std::string(80, 'e'), std::string("eeee")}) {
        v.send(top == "eee" ? "/!^l\r" : "n");
        ASSERT_TRUE(top_is(v, top));
    }
    v.send("/error\r");
    ASSERT_TRUE(top_is(v, "        error   ."));
    EXPECT_TRUE(v.wait_for([&] { return v.row_attrs(0) == "        rrrrr"; })) << v.row_attrs(0);
    quit(v);
    // Backward from inside a long line, the whole line is judged.
    pty_session b;
    ASSERT_TRUE(start(b, {file("h", "one\n" + std::string(3000, 'X') + "e\neee\n")}, window(10)));
    b.send("G");
    ASSERT_TRUE(bottom_is(b, "(END)"));
    b.send("?!e\r");
    ASSERT_TRUE(bottom_is(b, message("Pattern not found")));
    quit(b);
}

TEST_F(Searching, APatternSlowToMatchNeverHoldsTheViewer)
{
    // Half a megabyte of one line without an "m", where regexec alone takes
    // minutes to be sure that .+-?maa is absent.
    std::mt19937 random(17);
    const std::string letters = "abcdefghijklnopqrstuvwxyz    ";
    std::string line;
    for (int i = 0; i < 522000; i++)
        line += letters[random() % letters.size()];
    std::string f = file("long1.txt", line + "\n");
    pty_session s;
    ASSERT_TRUE(start(s, {f}, utf8_window(24)));
    ASSERT_TRUE(gives_message(s, "/.+-?maa\r", "Pattern not found"));
    // The repaint after RETURN highlights, within bounds, and keys are heard.
    quit(s);
    // A pattern PCRE2 cannot take is judged by regexec a little at a time:
    // the interrupt key ends the search.
    pty_session slow;
    ASSERT_TRUE(start(slow, {f}, utf8_window(24)));
    std::string top = line.substr(0, 80);
    top.erase(top.find_last_not_of(' ') + 1);
    ASSERT_TRUE(top_is(slow, top));
    slow.send("/(..*)\\1-?maa");
    ASSERT_TRUE(bottom_is(slow, "/(..*)\\1-?maa"));
    slow.send("\r");
    // The cursor goes to the margin as the search begins.
    ASSERT_TRUE(slow.wait_for([&] { return slow.cursor().col == 0; }));
    slow.send_ctrl('c');
    ASSERT_TRUE(bottom_is(slow, ":"));
    EXPECT_EQ(slow.row_text(0), top);
    quit(slow);
}

// Under the settings that pass colour, searches, the filter and the preview
// see the line as shown: its colour and link sequences taken out, and
// the matches are drawn on the shown cells; under -r the bytes are text.
TEST_F(Searching, ColouredLinesAreMatchedAsShown)
{
    std::string f = file("f", "x\n\033[31m-beta\033[m\n\033[33mcommit abc\033[m\n" +
                                  numbered(1, 5) +
                                  "\033[01;31m\033[K[ERROR]\033[m\033[K disk\n"
                                  "\033]8;;http://e.x/\033\\see here\033]8;;\a\n" +
                                  numbered(6, 30));
    struct step {
        std::vector<std::string> options;
        std::string keys, top, attrs;   // attrs: "" to leave unchecked
    };
    const step steps[] = {
        {{}, "/^-beta\r", "-beta", "rrrrr"},
        {{}, "/beta\r", "-beta", " rrrr"},
        {{}, "/\\[31m\r", "", ""},
        {{}, "/^commit\r", "commit abc", "rrrrrr"},
        {{}, "&\\[ERROR\\]\r", "[ERROR] disk", ""},
        {{}, "/^see here$\r", "see here", "rrrrrrrr"},
        {{"-R"}, "/^commit\r", "commit abc", ""},
        {{}, "/^comm", "commit abc", ""},          // the preview while typing
        {{}, "/!^[-a-z]\r", "[ERROR] disk", ""},
        {{"-r"}, "/\\[31m\r", "^[[31m-beta^[[m", ""},
        {{"-r"}, "/^-beta\r", "", ""},
    };
    for (const step &t : steps) {
        SCOPED_TRACE(t.keys);
        pty_session s;
        ASSERT_TRUE(start(s, args_of(t.options, {f}), window(6)));
        ASSERT_TRUE(top_is(s, "x"));
        if (t.top.empty()) {
            ASSERT_TRUE(gives_message(s, t.keys, "Pattern not found"));
        } else {
            s.send(t.keys);
            ASSERT_TRUE(top_is(s, t.top));
        }
        if (!t.attrs.empty()) {
            EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == t.attrs; })) << s.row_attrs(0);
        }
        if (t.keys.back() != '\r') {
            s.send("\r");
            ASSERT_TRUE(top_is(s, t.top));
        }
        quit(s);
    }
}

// A carriage return before a newline is part of the line end, on screen
// and in what is matched.
TEST_F(Searching, LinesEndingInCarriageReturnsAreMatchedAsShown)
{
    std::string text = numbered(1, 30), crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string f = file("f", crlf);
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window(6)));
    s.send("/line 17\\.$\r");
    ASSERT_TRUE(top_is(s, "line 17."));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == "rrrrrrrr"; })) << s.row_attrs(0);
    s.send("&9\\.$\r");
    ASSERT_TRUE(rows_are(s, {"line 19.", "line 29.", "~"}));
    s.send("g");
    ASSERT_TRUE(rows_are(s, {"line 9.", "line 19.", "line 29."}));
    quit(s);
}

// The filter follows -i as it is changed, as searches do.
TEST_F(Searching, FilterFollowsTheCaseSetting)
{
    std::string f = file("f", "error 1\nERROR 2\nerror 3\n" + numbered(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"-i", f}, window(6)));
    s.send("&error\r");
    ASSERT_TRUE(rows_are(s, {"error 1", "ERROR 2", "error 3", "~"}));
    s.send("-i");
    ASSERT_TRUE(bottom_is(s, message("Case is significant in searches")));
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(rows_are(s, {"error 1", "error 3", "~"}));
    s.send("-i");
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(rows_are(s, {"error 1", "ERROR 2", "error 3", "~"}));
    quit(s);
}

} // namespace
