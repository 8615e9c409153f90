// The viewer as the pager of other programs: colour passed by default,
// quitting when the input fits, keeping the screen, chopped lines scrolled
// sideways, the line-number column, --help and the mouse wheel.
#include "tests/e2e/viewer_test.h"

namespace {

const std::string ESC = "\x1b";
const std::string RIGHT = ESC + "[C";
const std::string LEFT = ESC + "OD";

class Pager : public viewer_test {
protected:
    Pager() : viewer_test(80) {}
};

TEST_F(Pager, ColourByDefaultOnEveryRowOfALine)
{
    std::string f = file("log", ESC + "[33mcommit c765735" + ESC + "[m\n" + ESC + "[1;31m" +
                                    std::string(85, 'r') + ESC + "[m plain\n" + ESC + "[35m" +
                                    ESC + "[K77" + ESC + "[m" + ESC + "[K:" + ESC + "[0Kerr\n" +
                                    numbered(1, 10));
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window(6)));
    ASSERT_TRUE(rows_are(s, {"commit c765735", std::string(80, 'r'), "rrrrr plain", "77:err"}));
    EXPECT_EQ(s.cell_attrs(0, 0).foreground, 3);
    // The wrapped row starts in the colour its line left, and ends it.
    EXPECT_EQ(s.cell_attrs(2, 0).foreground, 1);
    EXPECT_TRUE(s.cell_attrs(2, 0).bold);
    EXPECT_EQ(s.cell_attrs(2, 6).foreground, -1);
    EXPECT_EQ(s.cell_attrs(3, 0).foreground, 5);
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.cell_attrs(5, 0).foreground, -1);
    EXPECT_FALSE(s.cell_attrs(5, 0).bold);
    // -r shows the sequences in caret form; -R and -r again pass them.
    ASSERT_TRUE(gives_message(s, "-r", "Show colour escape sequences in caret form"));
    ASSERT_TRUE(row_is(s, 0, "^[[33mcommit c765735^[[m"));
    ASSERT_TRUE(gives_message(s, "-r", "Show colour escape sequences as colour"));
    ASSERT_TRUE(row_is(s, 0, "commit c765735"));
    quit(s);
}

TEST_F(Pager, HyperlinksPassedOtherSequencesInCaretForm)
{
    std::string link = ESC + "]8;id=1;http://example.com/a" + ESC + "\\";
    std::string f = file("links", "see " + link + "docs" + ESC + "]8;;\x07 now\n" +
                                      "bad " + ESC + "]8;;http://x\x01y\x07z\n" +
                                      "title " + ESC + "]2;t\x07 x\n" + "open " + link + "end\n" +
                                      numbered(1, 10));
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window(6)));
    ASSERT_TRUE(rows_are(s, {"see docs now", "bad ^[]8;;http://x^Ay^Gz", "title ^[]2;t^G x",
                             "open end"}));
    EXPECT_NE(s.output().find(link + "docs"), std::string::npos);
    // A link left open by its row is closed before the next one.
    EXPECT_NE(s.output().find(link + "end" + ESC + "]8;;" + ESC + "\\"), std::string::npos);
    quit(s);
}

TEST_F(Pager, QuitIfTheInputFitsOnOneScreen)
{
    std::string three = file("three", "one\ntwo\nthree\n");
    for (bool piped : {false, true}) {
        SCOPED_TRACE(piped ? "pipe" : "file");
        pty_session s;
        pty_options o = window(6);
        o.stdin_pipe = piped;
        ASSERT_TRUE(start(s, {"-FRX", piped ? "-" : three}, o));
        if (piped) {
            s.write_stdin("one\ntwo\nthree\n");
            s.close_stdin();
        }
        expect_exit(s, 0);
        EXPECT_TRUE(rows_are(s, {"one", "two", "three", ""}));
    }
    // A longer input is paged, with the screen-mode strings this time.
    pty_session s;
    ASSERT_TRUE(start(s, {"-F", file("long", numbered(1, 20))}, window(6)));
    ASSERT_TRUE(top_is(s, "line 1."));
    EXPECT_NE(s.output().find("\x1b[?1049h"), std::string::npos);
    quit(s);
}

TEST_F(Pager, NoScreenModeStringsLeaveTheTextShown)
{
    std::string f = file("f", numbered(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"-X", f}, window(6)));
    ASSERT_TRUE(s.wait_for_text("line 5."));
    s.send(" ");
    ASSERT_TRUE(bottom_is(s, ":"));
    quit(s);
    EXPECT_TRUE(rows_are(s, {"line 6.", "line 7.", "line 8.", "line 9.", "line 10."}));
    EXPECT_EQ(s.output().find("\x1b[?1049"), std::string::npos);

    // -E ends at the end, its last screen still there.
    pty_session e;
    ASSERT_TRUE(start(e, {"-EX", f}, window(6)));
    e.send("G");
    expect_exit(e, 0);
    EXPECT_TRUE(rows_are(e, {"line 16.", "line 17.", "line 18.", "line 19.", "line 20."}));
}

TEST_F(Pager, ChoppedLinesScrollSideways)
{
    std::string f = file("f", "first\n0123456789abcdefghijklmnopqrstuvwxyz\n\ttab\nshort\n" +
                                  numbered(1, 10));
    pty_session s;
    ASSERT_TRUE(start(s, {"-S", f}, window(8, 20)));
    // Each step: keys, then the rows 0 to 3 after them.
    const std::vector<std::pair<std::string, std::vector<std::string>>> steps = {
        {"", {"first", "0123456789abcdefghi>", "        tab", "short"}},
        {RIGHT, {"<", "<bcdefghijklmnopqrs>", "<", "<"}},
        {RIGHT, {"<", "<lmnopqrstuvwxyz", "<", "<"}},
        {LEFT + LEFT, {"first", "0123456789abcdefghi>", "        tab", "short"}},
        {"7" + RIGHT, {"<", "<89abcdefghijklmnop>", "<tab", "<"}},
        // A search moves the view to its match, on the top row: as the
        // pattern is typed, back on ESC, and for good on RETURN.
        {"g/vwx", {"<mnopqrstuvwxyz", "<", "<", "<"}},
        {"\x1b", {"<", "<89abcdefghijklmnop>", "<tab", "<"}},
        {"/vwx\r", {"<mnopqrstuvwxyz", "<", "<", "<"}},
    };
    for (const auto &[keys, rows] : steps) {
        SCOPED_TRACE(keys);
        s.send(keys);
        ASSERT_TRUE(rows_are(s, rows));
    }
    // The edge markers and the match in standout.
    ASSERT_TRUE(s.wait_for([&] { return s.row_attrs(0) == "r         rrr"; }));
    EXPECT_EQ(s.row_attrs(1), "r");
    s.send(LEFT + LEFT + LEFT);
    ASSERT_TRUE(row_is(s, 0, "0123456789abcdefghi>"));
    EXPECT_EQ(s.row_attrs(0), std::string(19, ' ') + "r");
    // Never left of the first column; without -S the arrows only ring.
    int bells = s.bell_count();
    s.send(LEFT);
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == bells + 1; }));
    quit(s);
    pty_session folded;
    ASSERT_TRUE(start(folded, {f}, window(8, 20)));
    ASSERT_TRUE(row_is(folded, 2, "klmnopqrstuvwxyz"));
    folded.send(RIGHT);
    ASSERT_TRUE(folded.wait_for([&] { return folded.bell_count() == 1; }));
    ASSERT_TRUE(bottom_is(folded, ":"));
    quit(folded);
}

TEST_F(Pager, LineNumberColumn)
{
    std::string f = file("f", "short\n" + std::string(90, 'a') + "\nend\n" + numbered(4, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"-N", f}, window(6)));
    ASSERT_TRUE(rows_are(s, {"      1 short", "      2 " + std::string(72, 'a'),
                             "        " + std::string(18, 'a'), "      3 end"}));
    ASSERT_TRUE(gives_message(s, "-n", "Don't use line numbers"));
    ASSERT_TRUE(rows_are(s, {"short", std::string(80, 'a'), std::string(10, 'a'), "end"}));
    ASSERT_TRUE(gives_message(s, "-N", "Don't show line numbers in a column"));
    ASSERT_TRUE(gives_message(s, "-N",
                              "Show line numbers in a column (none with -n)"));
    quit(s);
}

TEST_F(Pager, HelpAndVersion)
{
    for (const char *program : {QUOREL_BIN, MIVOKEY_BIN}) {
        std::string name = std::string(program).substr(std::string(program).rfind('/') + 1);
        run_result help = run_program({program, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("usage: " + name, 0), 0u) << help.out;
        EXPECT_LT(std::count(help.out.begin(), help.out.end(), '\n'), 70);
        run_result version = run_program({program, "--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out.rfind(name + (name == "quorel" ? " 97\n" : " version 97\n"), 0), 0u);
    }
    run_result other = run_program({QUOREL_BIN, "--verbose"});
    EXPECT_EQ(other.status, 2);
    EXPECT_EQ(other.err, "quorel: unknown option --verbose (see quorel --help)\n");
}

TEST_F(Pager, MouseWheelScrollsWhenAskedFor)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-Y", file("f", numbered(1, 30))}, window(6)));
    ASSERT_TRUE(top_is(s, "line 1."));
    EXPECT_NE(s.output().find("\x1b[?1000h\x1b[?1006h"), std::string::npos);
    s.send(ESC + "[<65;3;2M");
    ASSERT_TRUE(top_is(s, "line 4."));
    s.send(ESC + "[<69;3;2M" + ESC + "[<65;3;2M");  // with shift held too
    ASSERT_TRUE(top_is(s, "line 10."));
    s.send(ESC + "[<64;3;2M");
    ASSERT_TRUE(top_is(s, "line 7."));
    // A click is no command: nothing moves, nothing rings.
    s.send(ESC + "[<0;3;2M" + ESC + "[<0;3;2m");
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.row_text(0), "line 7.");
    EXPECT_EQ(s.bell_count(), 0);
    quit(s);
    size_t off = s.output().rfind("\x1b[?1006l\x1b[?1000l");
    ASSERT_NE(off, std::string::npos);
    EXPECT_LT(s.output().rfind("\x1b[?1000h"), off);
}

} // namespace
