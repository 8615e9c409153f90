// The bottom line as a new user types on it: editing keys, history,
// searching as the pattern is typed, the filter and name completion.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <fstream>
#include <csignal>
#include <string>
#include <sys/stat.h>

namespace {

const std::string ESC = "\x1b";
const std::string LEFT = ESC + "[D", HOME_KEY = ESC + "[H", UP = ESC + "[A";

class BottomLine : public viewer_test {};

TEST_F(BottomLine, EditingInTheMiddleOfAPattern)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-I", file("f", numbered(1, 60))}));
    ASSERT_TRUE(top_is(s, "line 1."));
    // Insert, delete under the cursor, word erase, an unknown key.
    s.send("/lne 24" + HOME_KEY + ESC + "[C" + "i" + ESC + "[1;5F" + LEFT + ESC + "[3~");
    ASSERT_TRUE(bottom_is(s, "/line 2"));
    int bells = s.bell_count();
    s.send(ESC + "[20~" + "7 x" + pty_session::ctrl('w'));
    ASSERT_TRUE(bottom_is(s, "/line 27"));
    EXPECT_EQ(s.bell_count(), bells + 1) << "one bell for the whole unknown sequence";
    s.send("\x7f\r");
    ASSERT_TRUE(top_is(s, "line 27."));
    quit(s);
}

TEST_F(BottomLine, EscapeCancelsAndKeepsThePreviousPattern)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-I", file("f", numbered(1, 60))}));
    s.send("/line 1\r");
    ASSERT_TRUE(top_is(s, "line 10."));
    // A pattern, an option letter and a letter awaited alike.
    for (const std::string typed : {"/[", "-", "_"}) {
        s.send(typed);
        ASSERT_TRUE(bottom_is(s, typed));
        s.send(ESC);
        ASSERT_TRUE(bottom_is(s, ":"));
    }
    s.send("n");
    ASSERT_TRUE(top_is(s, "line 11."));
    // After '-' a keypad key is no option letter.
    s.send("-" + LEFT + "S");
    ASSERT_TRUE(bottom_is(s, "Chop long lines  (press RETURN)"));
    quit(s);
}

TEST_F(BottomLine, HistoryAcrossTwoRunsInAPrivateFile)
{
    std::string f = file("f", numbered(1, 60));
    std::string state = home() + "/.local/state/quorel";
    {
        pty_session s;
        ASSERT_TRUE(start(s, {"-I", f}));
        s.send("/line 7\r");
        ASSERT_TRUE(top_is(s, "line 7."));
        s.send("?!line\r");
        ASSERT_TRUE(bottom_is(s, message("Pattern not found")));
        quit(s);
    }
    struct stat st;
    ASSERT_EQ(stat((state + "/history").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    pty_session s;
    ASSERT_TRUE(start(s, {"-I", f}));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("/" + UP);
    ASSERT_TRUE(bottom_is(s, "!/line"));
    s.send(UP);
    ASSERT_TRUE(bottom_is(s, "/line 7"));
    int bells = s.bell_count();
    s.send(UP);
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == bells + 1; }));
    s.send("\x7f" "8\r");
    ASSERT_TRUE(top_is(s, "line 8."));
    // A hang-up (the terminal window closed) keeps what was typed.
    ASSERT_TRUE(s.signal(SIGHUP));
    ASSERT_TRUE(s.wait_for([&] { return s.exited(); }));
    EXPECT_NE(read_file(state + "/history").find("/line 8\n"), std::string::npos);
}

TEST_F(BottomLine, TwoViewersSharingTheFileKeepBothTheirEntries)
{
    std::string f = file("f", numbered(1, 60));
    std::string hist = file("hist", "/old\n");
    pty_options o = window();
    o.env = {"QUOREL_HISTORY=" + hist};
    for (bool together : {false, true}) {
        SCOPED_TRACE(together ? "quitting at the same moment" : "quitting one after the other");
        pty_session a, b;
        ASSERT_TRUE(start(a, {"-I", f}, o));
        ASSERT_TRUE(start(b, {"-I", f}, o));
        const std::string typed_a = together ? "line 3" : "line 11";
        const std::string typed_b = together ? "line 4" : "line 22";
        a.send("/" + typed_a + "\r");
        b.send("/" + typed_b + "\r");
        ASSERT_TRUE(top_is(a, typed_a + "."));
        ASSERT_TRUE(top_is(b, typed_b + "."));
        if (together) {
            a.send("q");
            b.send("q");
            expect_exit(a, 0);
            expect_exit(b, 0);
        } else {
            quit(a);
            quit(b);
        }
    }
    std::string saved = read_file(hist);
    const std::string first = "/old\n/line 11\n/line 22\n";
    EXPECT_TRUE(saved == first + "/line 3\n/line 4\n" || saved == first + "/line 4\n/line 3\n")
        << saved;
}

TEST_F(BottomLine, NulIsRefusedWhileTyping)
{
    std::string hist = path("hist");
    pty_options o = window();
    o.env = {"QUOREL_HISTORY=" + hist};
    pty_session s;
    ASSERT_TRUE(start(s, {"-I", file("f", "first\nab only\n" + numbered(1, 30) + "abcd here\n")}, o));
    ASSERT_TRUE(top_is(s, "first"));
    int bells = s.bell_count();
    s.send("/ab" + std::string(1, '\0') + "cd");
    ASSERT_TRUE(bottom_is(s, "/abcd"));
    EXPECT_EQ(s.bell_count(), bells + 1);
    s.send("\r");
    ASSERT_TRUE(top_is(s, "abcd here"));
    quit(s);
    EXPECT_EQ(read_file(hist), "/abcd\n");
}

TEST_F(BottomLine, SearchMovesAsThePatternIsTypedAndComesBack)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("/line 4");
    ASSERT_TRUE(top_is(s, "line 4."));
    EXPECT_TRUE(s.cell_attrs(0, 0).reverse) << "the match is highlighted";
    s.send("2");
    ASSERT_TRUE(top_is(s, "line 42."));
    // Not yet a valid expression: back where the search started.
    s.send("(");
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("\x7f");
    ASSERT_TRUE(top_is(s, "line 42."));
    s.send(ESC);
    ASSERT_TRUE(top_is(s, "line 1."));
    ASSERT_TRUE(bottom_is(s, ":"));
    // RETURN searches from the same start as ever; n goes on from there.
    s.send("/line 5\r");
    ASSERT_TRUE(top_is(s, "line 5."));
    s.send("n");
    ASSERT_TRUE(top_is(s, "line 50."));
    quit(s);
}

// Lines 2, 20-29 match "line 2"; nine text rows.
TEST_F(BottomLine, FilterMovesAmongTheShownLines)
{
    pty_session s;
    file("f", numbered(1, 60));
    file("g", numbered(1, 5));
    // Given at start, the filter paints the first screen.
    ASSERT_TRUE(start(s, {"-M", "+&line 2", "f", "g"}));
    ASSERT_TRUE(top_is(s, "line 2."));
    ASSERT_TRUE(row_is(s, 8, "line 27."));
    ASSERT_TRUE(bottom_has(s, "f [filter: line 2] (file 1 of 2) line 2 "));
    s.send("G");
    ASSERT_TRUE(top_is(s, "line 21."));
    ASSERT_TRUE(row_is(s, 8, "line 29."));
    s.send("15g");
    ASSERT_TRUE(top_is(s, "line 20."));
    s.send("g/[4-6]\r");
    ASSERT_TRUE(top_is(s, "line 24."));
    s.send("n");
    ASSERT_TRUE(top_is(s, "line 25."));
    s.send("gk");
    ASSERT_TRUE(top_is(s, "line 2."));
    s.send("  =");
    ASSERT_TRUE(s.wait_for_text("f [filter: line 2, 11 lines] (file 1 of 2)"));
    s.send("\r");
    // The other way round, then for a file of its own.
    s.send("&!line [1-5]\r");
    ASSERT_TRUE(top_is(s, "line 60."));
    s.send("g");
    ASSERT_TRUE(top_is(s, "line 6."));
    ASSERT_TRUE(row_is(s, 4, "line 60."));
    s.send(":n");
    ASSERT_TRUE(row_is(s, 4, "line 5."));
    s.send(":p");
    ASSERT_TRUE(top_is(s, "line 6."));
    ASSERT_TRUE(bottom_has(s, "[filter: !line [1-5]]"));
    s.send("&\r");
    ASSERT_TRUE(row_is(s, 4, "line 10."));
    quit(s);
}

// Each matching line is shown as soon as it has come, with the pipe still
// open, and lines that come later are judged like the others.
TEST_F(BottomLine, FilterShowsPipedLinesAsTheyCome)
{
    pty_session s;
    pty_options o = window(4);
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {"+&ERROR"}, o));
    s.write_stdin("a ERROR\nc ERROR\nd info\n");
    ASSERT_TRUE(rows_are(s, {"", "a ERROR", "c ERROR"}));
    s.write_stdin("e info\nf ERROR\n");
    ASSERT_TRUE(row_is(s, 2, "f ERROR"));
    ASSERT_TRUE(bottom_has(s, "[filter: ERROR]"));
    s.write_stdin("g info\nh ERROR\n");
    s.send("1000j");
    ASSERT_TRUE(rows_are(s, {"c ERROR", "f ERROR", "h ERROR"}));
    s.close_stdin();
    quit(s);
}

// Lines added to a file are judged, whether scrolled to or followed.
TEST_F(BottomLine, FilterJudgesLinesAddedToAFile)
{
    std::string log = file("log", numbered(1, 20, "ERROR"));
    auto append = [&](const std::string &bytes) { std::ofstream(log, std::ios::app) << bytes; };
    pty_session s;
    ASSERT_TRUE(start(s, {"log"}));
    s.send("&ERROR 1\r ");
    ASSERT_TRUE(row_is(s, 8, "ERROR 19."));
    append("info new\nERROR 1j\n");
    s.send("j");
    ASSERT_TRUE(row_is(s, 8, "ERROR 1j"));
    EXPECT_EQ(s.row_text(7), "ERROR 19.");
    s.send("F");
    ASSERT_TRUE(bottom_has(s, "Waiting for data"));
    int bells = s.bell_count();
    append("info new\n");
    ASSERT_TRUE(s.wait_quiet(300));
    append("ERROR 1F\n");
    ASSERT_TRUE(row_is(s, 8, "ERROR 1F"));
    EXPECT_EQ(s.row_text(7), "ERROR 1j");
    EXPECT_EQ(s.bell_count(), bells) << "news without a shown line is no end to ring at";
    s.send_ctrl('c');
    quit(s);
}

TEST_F(BottomLine, TabCompletesFileNamesInExamine)
{
    file("alpha.txt", "first alpha\n");
    file("alpine.txt", "alpine\n");
    subdir("beta");
    file("beta/inner", "inside beta\n");
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send(":eb\t");
    ASSERT_TRUE(bottom_is(s, "Examine: beta/"));
    s.send("\t\r");
    ASSERT_TRUE(top_is(s, "inside beta"));
    int bells = s.bell_count();
    s.send(":eal\t");
    ASSERT_TRUE(bottom_is(s, "Examine: alp"));
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == bells + 1; }));
    s.send("\t");
    ASSERT_TRUE(row_is(s, 8, "alpha.txt   alpine.txt"));
    s.send("h");
    ASSERT_TRUE(row_is(s, 8, "~"));
    s.send("\t\r");
    ASSERT_TRUE(top_is(s, "first alpha"));
    quit(s);
}

} // namespace
