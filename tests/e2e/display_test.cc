// What reaches the screen from the bytes of a file, a file name and typed
// text: control bytes in caret form, UTF-8 text laid out by character, and
// colour sequences passed through unless -r asks for their caret form.
#include "tests/e2e/viewer_test.h"

namespace {

class Display : public viewer_test {
protected:
    Display() : viewer_test(40) {}

    // A window whose locale is UTF-8.
    pty_options utf8_window(int rows, int cols)
    {
        pty_options o = window(rows, cols);
        o.env.push_back("LC_ALL=C.UTF-8");
        return o;
    }
};

TEST_F(Display, ControlBytesNeverReachTheTerminal)
{
    std::string f = file("unsafe",
                         "title \x1b]0;pwned\x07 end\n"
                         "clear \x1b[2J here\n"
                         "alt \x1b[?1049l x\n"
                         "feed \f y\n"
                         "crlf text\r\n"
                         "lone\rcr\n"
                         "marks \x15u\x16 \x17" "b\x18\n"
                         "last\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", f}, window(10)));
    ASSERT_TRUE(rows_are(s, {"title ^[]0;pwned^G end", "clear ^[[2J here", "alt ^[[?1049l x",
                             "feed ^L y", "crlf text", "lone^Mcr", "marks ^Uu^V ^Wb^X", "last",
                             "~"}));
    EXPECT_EQ(s.row_attrs(6), "");
    EXPECT_EQ(s.output().find("\x1b]"), std::string::npos);
    EXPECT_EQ(s.output().find("\x1b[2J"), std::string::npos);
    EXPECT_EQ(s.output().find('\f'), std::string::npos);
    // Typed text and the messages about it are shown the same way. (An
    // escape sequence typed is consumed whole: the bottom line's own test.)
    s.send("/\x02[2J");
    ASSERT_TRUE(bottom_is(s, "/^B[2J"));
    // Kill the text, then erase on the empty text abandons the command.
    s.send(pty_session::ctrl('u'));
    s.send("\x7f");
    s.send("-\r");
    ASSERT_TRUE(bottom_is(s, message("-^J: no such flag.")));
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Display, ColourSequencesUnlessCaretFormAsked)
{
    std::string f = file("colour", "\x1b[31mred\x1b[0m plain \x1b[1;32mgreen\n"
                                   "next \x1b[7;34mblue\n");
    pty_session plain;
    ASSERT_TRUE(start(plain, {"-c", "-r", f}, window(6)));
    ASSERT_TRUE(row_is(plain, 0, "^[[31mred^[[0m plain ^[[1;32mgreen"));
    quit(plain);

    pty_session s;
    ASSERT_TRUE(start(s, {"-c", "-R", f}, window(6, 80)));
    ASSERT_TRUE(rows_are(s, {"red plain green", "next blue"}));
    EXPECT_EQ(s.cell_attrs(0, 0).foreground, 1);
    EXPECT_EQ(s.cell_attrs(0, 4).foreground, -1);
    EXPECT_EQ(s.cell_attrs(0, 10).foreground, 2);
    EXPECT_TRUE(s.cell_attrs(0, 10).bold);
    // No colour carried into the next row, nor into the prompt.
    EXPECT_EQ(s.cell_attrs(1, 0).foreground, -1);
    EXPECT_EQ(s.cell_attrs(1, 5).foreground, 4);
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.cell_attrs(5, 0).foreground, -1);
    EXPECT_FALSE(s.cell_attrs(5, 0).bold);
    // Off while viewing: the sequences are text once more.
    s.send("-r");
    ASSERT_TRUE(bottom_is(s, message("Show colour escape sequences in caret form")));
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(row_is(s, 1, "next ^[[7;34mblue"));
    quit(s);
}

// Plain text over git-like colour: the text, no colour; back while viewing.
TEST_F(Display, PlainTakesColourAndLinksOut)
{
    std::string f = file("log", "\x1b[33mcommit 1a2b\x1b[m\n"
                                "\x1b[1mdiff --git a/x b/x\x1b[m\n"
                                "\x1b[32m+added \x1b]8;;http://h/\x1b\\link\x1b]8;;\x1b\\\x1b[m\n"
                                "\x1b[31m-gone\x1b[m\n");
    for (const char *r : {"-R", "-r"}) {
        pty_session s;
        ASSERT_TRUE(start(s, {"-c", "--plain", r, f}, window(6)));
        ASSERT_TRUE(rows_are(s, {"commit 1a2b", "diff --git a/x b/x", "+added link", "-gone"}))
            << r;
        for (int row = 0; row < 4; row++)
            for (int col = 0; col < 4; col++) {
                EXPECT_EQ(s.cell_attrs(row, col).foreground, -1) << r << row;
                EXPECT_FALSE(s.cell_attrs(row, col).bold) << r << row;
            }
        EXPECT_EQ(s.output().find("\x1b]8"), std::string::npos);
        s.send("--plain\r");
        ASSERT_TRUE(bottom_is(s, message("Keep colour in the text")));
        ASSERT_TRUE(dismiss(s));
        if (r[1] == 'R') {
            ASSERT_TRUE(s.wait_for([&] { return s.cell_attrs(0, 0).foreground == 3; }));
            EXPECT_TRUE(s.cell_attrs(1, 0).bold);
        } else {
            ASSERT_TRUE(row_is(s, 4, "^[[31m-gone^[[m"));
        }
        quit(s);
    }
}

// Word wrap folds after the last space before the edge, the same rows
// painted forward from the top and backward from the end.
TEST_F(Display, WordWrapFoldsBetweenWords)
{
    const std::string para = "The quick brown fox jumps over the lazy dog and keeps running "
                             "through the orange-wrap field until night falls on the quiet "
                             "valley below.\n";
    const std::vector<std::string> rows = {"The quick brown fox jumps over",
                                           "the lazy dog and keeps running",
                                           "through the orange-wrap field",
                                           "until night falls on the quiet", "valley below."};
    std::string f = file("prose", para + numbered(1, 20) + para);
    pty_session s;
    ASSERT_TRUE(start(s, {"--wrap=word", f}, window(7, 30)));
    ASSERT_TRUE(rows_are(s, rows));
    s.send("G");
    ASSERT_TRUE(row_is(s, 5, rows[4]));
    for (int i = 0; i < 5; i++)
        EXPECT_TRUE(row_is(s, i + 1, rows[i]));
    // Back to folding at the edge while viewing.
    s.send("--wrap=char\r");
    ASSERT_TRUE(s.wait_for_text("Fold long lines at the edge"));
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(row_is(s, 5, "et valley below."));
    quit(s);
}

TEST_F(Display, Utf8TextLaidOutByCharacter)
{
    std::string f = file("utf8",
                         "日本語のテキストを表示する\n"          // 26 columns
                         "a日本語のテキストを表示\n"              // the 10th at column 19
                         "cafe\xcc\x81 ok\n"                      // a combining accent
                         "bad \xff( \xed\xa0 \xc2\x85 e\n"
                         "\xc3\xa9\b\xc3\xa9 _\b日\n"
                         + numbered(1, 12));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", f}, utf8_window(9, 20)));
    const std::vector<std::string> first = {
        "日本語のテキストを表", "示する", "a日本語のテキストを", "表示", "cafe\xcc\x81 ok",
        "bad <FF>( <ED><A0>", "<C2><85> e", "\xc3\xa9 日"};
    ASSERT_TRUE(rows_are(s, first));
    EXPECT_TRUE(s.cell_attrs(7, 0).bold);
    EXPECT_TRUE(s.cell_attrs(7, 2).underline);
    // The same rows coming back, a line and a screen at a time.
    s.send("jjj");
    ASSERT_TRUE(row_is(s, 0, "表示"));
    s.send("kkk");
    ASSERT_TRUE(rows_are(s, first));
    s.send(" ");
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    s.send("b");
    ASSERT_TRUE(rows_are(s, first));
    quit(s);
}

TEST_F(Display, CaseBlindSearchFoldsEveryLetter)
{
    std::string f = file("f", numbered(1, 12) + "Ш\xc3\x89" "COLE d'\xc3\xa9t\xc3\xa9\n" + numbered(13, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", "-i", f}, utf8_window(6, 40)));
    s.send("/\xc3\xa9" "cole\r");
    ASSERT_TRUE(row_is(s, 0, "Ш\xc3\x89" "COLE d'\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(s.row_attrs(0), " rrrrr");
    s.send("g/шэ\r");
    ASSERT_TRUE(bottom_is(s, message("Pattern not found")));
    quit(s);
}

TEST_F(Display, FileNamesInPromptsAndMessages)
{
    file("файл", numbered(1, 3));
    file("a\x1b[2Jb", numbered(1, 3));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", "файл", "a\x1b[2Jb"}, utf8_window(6, 60)));
    ASSERT_TRUE(bottom_has(s, "файл (file 1 of 2)"));
    s.send(":n");
    ASSERT_TRUE(bottom_has(s, "a^[[2Jb (file 2 of 2)"));
    s.send(":e \x02missing\r");
    ASSERT_TRUE(bottom_has(s, "^Bmissing: No such file or directory"));
    quit(s);
}

TEST_F(Display, SearchMatchesInStandout)
{
    std::string f = file("f", "one\nbeta\nalpha betabeta\n" + std::string(38, 'x') + "beta\n" +
                                  numbered(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", f}, window(7)));
    s.send("/beta\r");
    ASSERT_TRUE(row_is(s, 0, "beta"));
    // A match cut by the end of a row is shown on both rows.
    const std::vector<std::string> marked = {"rrrr", "      rrrrrrrr", std::string(38, ' ') + "rr",
                                             "rr", ""};
    ASSERT_TRUE(s.wait_for([&] { return s.row_attrs(3) == "rr"; }));
    for (size_t r = 0; r < marked.size(); r++)
        EXPECT_EQ(s.row_attrs(static_cast<int>(r)), marked[r]) << "row " << r;
    // Turned off, and back on; a search for lines without a match marks nothing.
    s.send("-H");
    ASSERT_TRUE(bottom_is(s, message("Don't highlight matches")));
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(s.wait_for([&] { return s.row_attrs(0).empty(); }));
    s.send("-H");
    ASSERT_TRUE(bottom_is(s, message("Highlight matches")));
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(s.wait_for([&] { return s.row_attrs(0) == "rrrr"; }));
    s.send("g/!beta\r");
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    s.send("b");
    ASSERT_TRUE(row_is(s, 1, "beta"));
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.row_attrs(1), "");
    quit(s);

    // On a terminal whose standout takes a column, matches are not marked.
    std::string source = file("cookie.src", "xterm-cookie|standout that takes a column,\n"
                                            "\txmc#1, use=xterm,\n");
    ASSERT_EQ(system(("tic -x -o " + dir() + " " + source + " 2>/dev/null").c_str()), 0);
    pty_options o = window(7);
    o.term = "xterm-cookie";
    o.env.push_back("TERMINFO=" + dir());
    pty_session cookie;
    ASSERT_TRUE(start(cookie, {"-c", f}, o));
    cookie.send("/beta\r");
    ASSERT_TRUE(row_is(cookie, 0, "beta"));
    ASSERT_TRUE(cookie.wait_quiet());
    EXPECT_EQ(cookie.row_attrs(0), "");
    quit(cookie);
}

} // namespace
