// The interactive viewer on a pseudo-terminal: what the screen shows after
// start-up and moves, attributes and cut lines, a terminal without a
// description, window-size changes, signals, messages and the terminal
// modes left behind on every way out.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

// One fixture for every group of screen tests.
using ScreenFirstPaint = viewer_test;
using ScreenMoves = viewer_test;
using ScreenLines = viewer_test;
using ScreenTerminal = viewer_test;
using ScreenResize = viewer_test;
using ScreenSignals = viewer_test;
using ScreenExit = viewer_test;
using ScreenMessages = viewer_test;
// The viewer in a 10-row window with -c, reading a pipe the test writes.
class ScreenPipe : public viewer_test {
protected:
    bool start_piped(pty_session &s)
    {
        pty_options o = window(10);
        o.stdin_pipe = true;
        return start(s, {"-c"}, o);
    }
};

// "line from" to "line to", one per raw line, without a full stop.
std::string lines(int from, int to)
{
    return numbered(from, to, "line", "");
}

std::string repeat(char c, int n)
{
    return std::string(static_cast<size_t>(n), c);
}

// Send keys and wait for the bell to ring again.
bool rings(pty_session &s, const std::string &keys)
{
    int bells = s.bell_count();
    s.send(keys);
    return s.wait_for([&] { return s.bell_count() > bells; });
}

// The text rows expected when lines first..last fill the rows from top
// down, followed by rows showing `after`.
std::vector<std::string> rows_of(int top_row, int first, int last, int text_rows,
                                 const std::string &after)
{
    std::vector<std::string> rows(static_cast<size_t>(text_rows));
    int r = 0;
    for (; r < top_row; r++)
        rows[size_t(r)] = "";
    for (int n = first; n <= last && r < text_rows; n++, r++)
        rows[size_t(r)] = "line " + std::to_string(n);
    for (; r < text_rows; r++)
        rows[size_t(r)] = after;
    return rows;
}

void expect_rows(const pty_session &s, const std::vector<std::string> &want)
{
    for (size_t r = 0; r < want.size(); r++)
        EXPECT_EQ(s.row_text(int(r)), want[r]) << "row " << r;
}

// Wait until the text rows are exactly these.
bool rows_become(pty_session &s, const std::vector<std::string> &want)
{
    return s.wait_for([&] {
        for (size_t r = 0; r < want.size(); r++)
            if (s.row_text(int(r)) != want[r])
                return false;
        return true;
    });
}

// The prompt (or a message) on the bottom row, with the cursor after it.
// A text row there is not enough: the emulator keeps rows and clamps the
// cursor when the window shrinks, before the viewer has redrawn anything.
bool bottom_line_shown(pty_session &s, int row)
{
    return s.wait_for([&] {
        std::string t = s.row_text(row);
        return s.cursor().row == row && !t.empty() && t.rfind("line ", 0) != 0;
    });
}

// ---------------------------------------------------------------------------
// The first screen

TEST_F(ScreenFirstPaint, ShortAndLongFilesInEachRepaintMode)
{
    std::string five = file("five", lines(1, 5));
    std::string hundred = file("hundred", lines(1, 100));
    struct first_case {
        const char *what;
        std::vector<std::string> args;
        std::vector<std::string> rows;  // the 23 text rows of a 24-row screen
    } const cases[] = {
        // A short input stands at the top whatever the mode, as a repaint
        // shows it.
        {"short, scrolling", {five}, rows_of(0, 1, 5, 23, "~")},
        {"short, scrolling, no tildes", {"-w", five}, rows_of(0, 1, 5, 23, "")},
        {"short, clearing each line", {"-c", five}, rows_of(0, 1, 5, 23, "~")},
        {"short, painting from the top", {"-C", five}, rows_of(0, 1, 5, 23, "~")},
        {"short, clearing, no tildes", {"-c", "-w", five}, rows_of(0, 1, 5, 23, "")},
        {"short, top, no tildes", {"-C", "-w", five}, rows_of(0, 1, 5, 23, "")},
        {"short, start command", {"+g", five}, rows_of(0, 1, 5, 23, "~")},
        {"short, start command, no tildes", {"-w", "+g", five}, rows_of(0, 1, 5, 23, "")},
        {"long, scrolling", {hundred}, rows_of(0, 1, 23, 23, "")},
        {"long, clearing each line", {"-c", hundred}, rows_of(0, 1, 23, 23, "")},
        {"long, painting from the top", {"-C", hundred}, rows_of(0, 1, 23, 23, "")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        pty_session s;
        ASSERT_TRUE(start(s, c.args, window(24)));
        ASSERT_TRUE(rows_become(s, c.rows));
        EXPECT_TRUE(bottom_line_shown(s, 23));
        quit(s);
    }
}

TEST_F(ScreenFirstPaint, ShortInputAtTheTopOfAPipeAndOfTheNextFile)
{
    // A pipe shows its lines as they come, and the rows past the end once
    // it ends; a repaint changes nothing.
    std::string five = file("five", lines(1, 5));
    pty_session s;
    pty_options o = window(10);
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {"-", five}, o));
    s.write_stdin(lines(1, 2));
    ASSERT_TRUE(s.wait_for_text("line 2"));
    s.write_stdin(lines(3, 3));
    s.close_stdin();
    ASSERT_TRUE(bottom_has(s, "(END)"));
    expect_rows(s, rows_of(0, 1, 3, 9, "~"));
    s.send("r");
    ASSERT_TRUE(s.wait_quiet());
    expect_rows(s, rows_of(0, 1, 3, 9, "~"));
    // The next file, short as well.
    s.send(":n");
    ASSERT_TRUE(bottom_has(s, "(file 2 of 2) (END)"));
    expect_rows(s, rows_of(0, 1, 5, 9, "~"));
    quit(s);
}

TEST_F(ScreenFirstPaint, TallWindowPagesEveryRow)
{
    // Taller than the 100 rows the position table once had.
    std::string big = file("big", lines(1, 150));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", big}, window(120)));
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 119, 119, "")));
    EXPECT_TRUE(bottom_line_shown(s, 119));
    s.send(" ");
    ASSERT_TRUE(rows_become(s, rows_of(0, 120, 150, 119, "~")));
    s.send("b");
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 119, 119, "")));
    quit(s);
}

// ---------------------------------------------------------------------------
// Moving through the file

TEST_F(ScreenMoves, ScreensAndLinesForwardAndBackward)
{
    std::string hundred = file("hundred", lines(1, 100));
    // 10 rows: 9 text rows. Each step starts from the screen the one
    // before left.
    struct move_step {
        const char *keys;
        int first;          // line now on the top row
    } const steps[] = {
        {" ", 10}, {" ", 19}, {"b", 10}, {"j", 11}, {"3j", 14}, {"k", 13},
        {"5k", 8}, {"b", 1}, {"f", 10}, {"d", 15}, {"u", 10}, {"G", 92},
        {"g", 1}, {"40g", 40}, {"\r", 41},
    };
    for (const char *mode : {"-c", "-C", "-+c"}) {
        SCOPED_TRACE(mode);
        pty_session s;
        ASSERT_TRUE(start(s, {mode, hundred}, window(10)));
        ASSERT_TRUE(rows_become(s, rows_of(0, 1, 9, 9, "")));
        for (const auto &step : steps) {
            SCOPED_TRACE(step.keys);
            s.send(step.keys);
            ASSERT_TRUE(rows_become(s, rows_of(0, step.first, step.first + 8, 9, "")));
        }
        quit(s);
    }
}

TEST_F(ScreenMoves, SkippingLineScrollsOffAfterABigMove)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, window(10)));
    ASSERT_TRUE(row_is(s, 8, "line 9"));
    s.send("50g");
    ASSERT_TRUE(rows_become(s, rows_of(0, 50, 58, 9, "")));
    // It was written, and scrolled away with the nine lines after it.
    EXPECT_NE(s.output().find("...skipping..."), std::string::npos);
    EXPECT_EQ(s.screen_text().find("skipping"), std::string::npos);
    quit(s);
}

TEST_F(ScreenMoves, BellAtTheEndAndAtTheBeginning)
{
    std::string twenty = file("twenty", lines(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {twenty}, window(10)));
    ASSERT_TRUE(row_is(s, 8, "line 9"));
    ASSERT_TRUE(rings(s, "b"));
    EXPECT_EQ(s.row_text(0), "line 1");

    s.send("G");
    ASSERT_TRUE(rows_become(s, rows_of(0, 12, 20, 9, "")));
    ASSERT_TRUE(rings(s, " "));
    ASSERT_TRUE(rings(s, "j"));
    ASSERT_TRUE(s.wait_quiet());
    expect_rows(s, rows_of(0, 12, 20, 9, ""));

    // -q: no audible bell at the end of the file.
    pty_session quiet;
    ASSERT_TRUE(start(quiet, {"-q", "+G", twenty}, window(10)));
    ASSERT_TRUE(rows_become(quiet, rows_of(0, 12, 20, 9, "")));
    quiet.send("  j");
    ASSERT_TRUE(quiet.wait_quiet());
    EXPECT_EQ(quiet.bell_count(), 0);
    quit(quiet);
    quit(s);
}

TEST_F(ScreenMoves, ShortFileEndsAtTheLastLine)
{
    // The end of a short file is on the first screen: a forward move rings
    // and leaves the rows where they are.
    std::string five = file("five", lines(1, 5));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", five}, window(10)));
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 5, 9, "~")));
    ASSERT_TRUE(rings(s, " "));
    ASSERT_TRUE(s.wait_quiet());
    expect_rows(s, rows_of(0, 1, 5, 9, "~"));
    quit(s);
}

// ---------------------------------------------------------------------------
// What a line looks like

TEST_F(ScreenLines, OverstrikeShowsBoldAndUnderline)
{
    // Underline both ways round: "_" first or last.
    std::string f = file("over", "B\bBo\bol\bld plain _\bun\b_ x\bX _\b_\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", f}, window(6)));
    // A struck-out character gives way to the later one; "_" over "_" is
    // bold (equal characters win over the underscore rule).
    ASSERT_TRUE(row_is(s, 0, "Bold plain un X _"));
    EXPECT_EQ(s.row_attrs(0), "bbb        uu   b");
    EXPECT_TRUE(s.cell_attrs(0, 0).bold);
    EXPECT_FALSE(s.cell_attrs(0, 3).bold);
    EXPECT_TRUE(s.cell_attrs(0, 11).underline);
    EXPECT_FALSE(s.cell_attrs(0, 11).bold);
    quit(s);
}

TEST_F(ScreenLines, OverstrikeTakenLiterallyOrAsCarets)
{
    std::string f = file("back", "back\bspace\nX\bX\n");
    struct caret_case {
        const char *option;
        const char *row0;
        const char *row1;
    } const cases[] = {
        {"-u", "bacspace", "X"},            // the terminal overstrikes
        {"-U", "back^Hspace", "X^HX"},      // two columns each
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.option);
        pty_session s;
        ASSERT_TRUE(start(s, {"-c", c.option, f}, window(6)));
        ASSERT_TRUE(row_is(s, 0, c.row0));
        EXPECT_EQ(s.row_text(1), c.row1);
        EXPECT_EQ(s.row_attrs(1), "");
        quit(s);
    }
}

TEST_F(ScreenLines, DeleteShownAsCaretHighBytesSentAsThey)
{
    std::string f = file("bytes", "a\x7f" "b\nhigh \xbf \xc8 end\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", f}, window(6)));
    ASSERT_TRUE(row_is(s, 0, "a^?b"));
    // Text bytes with bit 7 set are the input's own, not caret marks.
    ASSERT_TRUE(s.wait_for_row(1, [](const std::string &t) {
        return t.rfind("high ", 0) == 0 && t.size() > 5 && t.substr(t.size() - 3) == "end";
    }));
    EXPECT_EQ(s.row_text(1).find("^?"), std::string::npos);
    EXPECT_EQ(s.row_text(1).find("^H"), std::string::npos);
    quit(s);
}

TEST_F(ScreenLines, TabsExpandedToTheTabStops)
{
    std::string f = file("tabs", "a\tb\n\tc\nabcdefg\th\n");
    struct tab_case {
        std::vector<std::string> options;
        std::vector<std::string> rows;
    } const cases[] = {
        {{}, {"a       b", "        c", "abcdefg h"}},
        {{"-x4"}, {"a   b", "    c", "abcdefg h"}},
        {{"-x3"}, {"a  b", "   c", "abcdefg  h"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rows[0]);
        pty_session s;
        ASSERT_TRUE(start(s, args_of(c.options, {"-c", f}), window(6)));
        ASSERT_TRUE(rows_become(s, c.rows));
        quit(s);
    }
}

TEST_F(ScreenLines, EveryDisplayLineIsOneRow)
{
    // Tab stops wider than the screen, a backspace at the margin and
    // attributed letters in the last column once made rows too wide.
    std::string x79 = repeat('x', 79), y79 = repeat('y', 79);
    std::string f = file("rows", "a\tb\tc\n\b" + repeat('z', 81) + "\n" + x79 + "A\bA\n" + y79 +
                                     "_\bB\n" + lines(1, 10));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", "-x100", f}, window(12)));
    const std::vector<std::string> rows = {"a", "", "b", "", "c", repeat('z', 80), "z",
                                           x79 + "A", y79 + "B", "line 1", "line 2"};
    ASSERT_TRUE(rows_become(s, rows));
    EXPECT_TRUE(s.cell_attrs(7, 79).bold);
    EXPECT_TRUE(s.cell_attrs(8, 79).underline);
    s.send("jjkk");
    ASSERT_TRUE(s.wait_quiet());
    expect_rows(s, rows);
    // A tab stop near the largest number still ends at the margin.
    s.send("-x2147483647\r");
    ASSERT_TRUE(s.wait_for_text("Tab stops every 2147483647 spaces"));
    ASSERT_TRUE(dismiss(s));
    expect_rows(s, rows);
    quit(s);
}

TEST_F(ScreenLines, LongLinesCutAtTheWidth)
{
    std::string eighty = repeat('a', 79) + "z";
    std::string f = file("wide", eighty + "\n" + eighty + "Q\n" + lines(1, 10));
    for (const char *mode : {"-c", "-C", "-+c"}) {
        SCOPED_TRACE(mode);
        pty_session s;
        ASSERT_TRUE(start(s, {mode, f}, window(6)));
        // 80 characters fill one row exactly; the 81st starts the next row.
        ASSERT_TRUE(rows_become(s, {eighty, eighty, "Q", "line 1", "line 2"}));
        // Line by line through the rows of the cut line, and back.
        s.send("j");
        ASSERT_TRUE(rows_become(s, {eighty, "Q", "line 1", "line 2", "line 3"}));
        s.send("j");
        ASSERT_TRUE(rows_become(s, {"Q", "line 1", "line 2", "line 3", "line 4"}));
        s.send("k");
        ASSERT_TRUE(rows_become(s, {eighty, "Q", "line 1", "line 2", "line 3"}));
        s.send("k");
        ASSERT_TRUE(rows_become(s, {eighty, eighty, "Q", "line 1", "line 2"}));
        // A screen back from below counts the cut line's rows one by one.
        s.send("6j");
        ASSERT_TRUE(row_is(s, 0, "line 4"));
        s.send("b");
        ASSERT_TRUE(rows_become(s, {eighty, "Q", "line 1", "line 2", "line 3"}));
        quit(s);
    }
}

TEST_F(ScreenLines, SqueezeRunsOfBlankLines)
{
    std::string f = file("blanks", "one\n\n\n\ntwo\n\nthree\n\n\nfour\n");
    struct squeeze_case {
        const char *option;
        std::vector<std::string> rows;
    } const cases[] = {
        {"-+s", {"one", "", "", "", "two", "", "three", "", "", "four"}},
        {"-s", {"one", "", "two", "", "three", "", "four", "~"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.option);
        pty_session s;
        ASSERT_TRUE(start(s, {"-c", c.option, f}, window(12)));
        ASSERT_TRUE(rows_become(s, c.rows));
        quit(s);
    }
    // Backward over the runs, one line at a time, with -s.
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", "-s", f}, window(4)));
    ASSERT_TRUE(rows_become(s, {"one", "", "two"}));
    s.send("G");
    ASSERT_TRUE(rows_become(s, {"three", "", "four"}));
    s.send("k");
    ASSERT_TRUE(rows_become(s, {"", "three", ""}));
    s.send("k");
    ASSERT_TRUE(rows_become(s, {"two", "", "three"}));
    s.send("k");
    ASSERT_TRUE(rows_become(s, {"", "two", ""}));
    quit(s);
}

// ---------------------------------------------------------------------------
// A terminal without a description

TEST_F(ScreenTerminal, UnknownTypeWarnsThenPages)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_options o = window(8);
    o.term = "nosuchterm";
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, o));
    ASSERT_TRUE(s.wait_for_text("(press RETURN)"));
    const char *const warnings[] = {
        "WARNING: terminal cannot \"clear to end of line\"",
        "WARNING: terminal cannot \"clear screen\"",
        "WARNING: terminal cannot \"home cursor\"",
        "WARNING: terminal cannot \"move cursor to lower left of screen\"",
        "WARNING: terminal cannot \"scroll backwards\"",
    };
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(s.row_text(i), warnings[i]) << "row " << i;
    EXPECT_EQ(s.screen_text().find("line 1"), std::string::npos);

    // A hard-copy terminal pages 24 rows whatever the window.
    s.send("\r");
    ASSERT_TRUE(s.wait_for_text("line 23"));
    EXPECT_EQ(s.screen_text().find("line 24"), std::string::npos);
    s.send(" ");
    ASSERT_TRUE(s.wait_for_text("line 46"));
    EXPECT_EQ(s.screen_text().find("line 47"), std::string::npos);
    // A new window size: the user knows already, and is not asked again.
    size_t written = s.output().size();
    ASSERT_TRUE(s.resize(10, 70));
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.output().find("WARNING", written), std::string::npos);
    quit(s);
}

TEST_F(ScreenTerminal, UnknownTypeWithoutWarnings)
{
    std::string five = file("five", lines(1, 5));
    pty_options o = window(8);
    o.term = "nosuchterm";
    pty_session s;
    ASSERT_TRUE(start(s, {"-d", five}, o));
    ASSERT_TRUE(s.wait_for_text("line 5"));
    EXPECT_EQ(s.screen_text().find("WARNING"), std::string::npos);
    EXPECT_EQ(s.screen_text().find("(press RETURN)"), std::string::npos);
    quit(s);
}

// ---------------------------------------------------------------------------
// Window-size changes

TEST_F(ScreenResize, RepaintedAtTheNewSize)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, window(24)));
    ASSERT_TRUE(row_is(s, 22, "line 23"));
    ASSERT_TRUE(s.resize(30, 100));
    // Redrawn at once, without a key.
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 29, 29, "")));
    EXPECT_TRUE(bottom_line_shown(s, 29));
    s.send(" ");
    ASSERT_TRUE(rows_become(s, rows_of(0, 30, 58, 29, "")));
    ASSERT_TRUE(bottom_line_shown(s, 29));

    // Smaller again: the text rows follow.
    ASSERT_TRUE(s.resize(6, 40));
    ASSERT_TRUE(rows_become(s, rows_of(0, 30, 34, 5, "")));
    // A key read while the size change is still pending is dropped, so
    // wait for the redrawn prompt first.
    ASSERT_TRUE(bottom_line_shown(s, 5));
    s.send("j");
    ASSERT_TRUE(rows_become(s, rows_of(0, 31, 35, 5, ""))) << s.screen_text();

    // A command being typed keeps its text through a new size, and the
    // keys after it still belong to it.
    s.send("/line 5");
    ASSERT_TRUE(bottom_is(s, "/line 5"));
    ASSERT_TRUE(s.resize(8, 40));
    ASSERT_TRUE(s.wait_quiet());
    ASSERT_TRUE(bottom_is(s, "/line 5")) << s.screen_text();
    s.send("0\r");
    ASSERT_TRUE(top_is(s, "line 50"));
    quit(s);
}

TEST_F(ScreenResize, SameSizeDoesNotRepaint)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, window(12)));
    ASSERT_TRUE(row_is(s, 10, "line 11"));
    ASSERT_TRUE(s.wait_quiet());
    std::string before = s.screen_text();
    size_t written = s.output().size();
    ASSERT_TRUE(s.resize(12, 80));
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.screen_text(), before);
    EXPECT_EQ(s.output().find("line", written), std::string::npos);
    s.send("j");
    ASSERT_TRUE(rows_become(s, rows_of(0, 2, 12, 11, "")));
    quit(s);
}

// ---------------------------------------------------------------------------
// Signals

TEST_F(ScreenSignals, InterruptRingsAndAbandonsTheCommand)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, window(10)));
    // The prompt after a move (the first one also names the file).
    s.send("j");
    ASSERT_TRUE(row_is(s, 8, "line 10"));
    ASSERT_TRUE(s.wait_quiet());
    std::string prompt = s.row_text(9);
    ASSERT_FALSE(prompt.empty());

    // While waiting for a command key.
    ASSERT_TRUE(rings(s, pty_session::ctrl('c')));
    ASSERT_TRUE(row_is(s, 9, prompt));

    // In the middle of a number: the number is dropped.
    s.send("5");
    ASSERT_TRUE(s.wait_for_row(9, [&](const std::string &t) { return t != prompt; }));
    ASSERT_TRUE(rings(s, pty_session::ctrl('c')));
    ASSERT_TRUE(row_is(s, 9, prompt));
    s.send("j");
    ASSERT_TRUE(rows_become(s, rows_of(0, 3, 11, 9, "")));
    EXPECT_FALSE(s.exited());
    quit(s);
}

TEST_F(ScreenSignals, SuspendAndContinue)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, window(10)));
    ASSERT_TRUE(row_is(s, 8, "line 9"));
    s.send_ctrl('z');
    ASSERT_TRUE(s.wait_stopped());
    // The harness cannot read the terminal's modes of a stopped job; the
    // cleared bottom line shows the way out was taken.
    EXPECT_EQ(s.row_text(9), "");
    size_t written = s.output().size();

    ASSERT_TRUE(s.signal(SIGCONT));
    ASSERT_TRUE(s.wait_continued());
    // The whole screen again.
    ASSERT_TRUE(s.wait_for([&] {
        return s.output().find("line 1\r\n", written) != std::string::npos &&
               s.output().find("line 9", written) != std::string::npos;
    }));
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 9, 9, "")));
    // Raw mode again: one key without RETURN acts.
    s.send("j");
    ASSERT_TRUE(rows_become(s, rows_of(0, 2, 10, 9, "")));

    // Stopped from outside, the same.
    ASSERT_TRUE(s.signal(SIGTSTP));
    ASSERT_TRUE(s.wait_stopped());
    ASSERT_TRUE(s.signal(SIGCONT));
    ASSERT_TRUE(s.wait_continued());
    s.send("k");
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 9, 9, "")));

    // At a message the stop is not put off until the message is gone: it
    // dismisses the message, and the whole screen comes back with the prompt.
    s.send("3jmA");
    ASSERT_TRUE(bottom_is(s, message("Choose a letter between 'a' and 'z'")));
    s.send_ctrl('z');
    ASSERT_TRUE(s.wait_stopped());
    ASSERT_TRUE(s.signal(SIGCONT));
    ASSERT_TRUE(s.wait_continued());
    ASSERT_TRUE(rows_become(s, rows_of(0, 4, 12, 9, "")));
    EXPECT_EQ(s.row_text(9), ":");
    quit(s);
}

// ---------------------------------------------------------------------------
// Every way out gives the terminal back

TEST_F(ScreenExit, ModesRestoredOnEveryWayOut)
{
    std::string five = file("five", lines(1, 5));
    std::string hundred = file("hundred", lines(1, 100));
    std::string missing = path("missing");
    struct exit_case {
        const char *what;
        std::vector<std::string> args;
        const char *wait;   // text on the screen before the keys
        const char *keys;
        int status;
    } const cases[] = {
        {"q", {hundred}, "line 23", "q", 0},
        {"ZZ", {hundred}, "line 23", "ZZ", 0},
        {":q", {hundred}, "line 23", ":q", 0},
        {"quit after a message", {hundred}, "line 23", ":n\rq", 0},
        {"end of the last file with -e", {"-e", five, five}, "line 5", "  ", 0},
        {"forward past the end with -e", {"-e", hundred}, "line 23", "G ", 0},
        {"at once at the end with -E", {"-E", five}, nullptr, "", 0},
        {"nothing to open", {missing}, nullptr, "", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        pty_session s;
        ASSERT_TRUE(start(s, c.args, window(24)));
        if (c.wait) {
            ASSERT_TRUE(s.wait_for_text(c.wait));
        }
        s.send(c.keys);
        expect_exit(s, c.status);
    }
}

TEST_F(ScreenExit, NoNextFileWithoutQuitAtEnd)
{
    // Without -e the end of the last file is only a message.
    std::string five = file("five", lines(1, 5));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", five}, window(10)));
    ASSERT_TRUE(row_is(s, 4, "line 5"));
    s.send(":n");
    ASSERT_TRUE(row_is(s, 9, "No (N-th) next file  (press RETURN)"));
    s.send("\r");
    ASSERT_TRUE(s.wait_for_row(9, [](const std::string &t) {
        return t.find("press RETURN") == std::string::npos;
    }));
    EXPECT_FALSE(s.exited());
    quit(s);
}

TEST_F(ScreenExit, ShortFileDoesNotEndTheNextOne)
{
    // The rows left blank below a short first file must not count as the
    // end of the file that follows it.
    std::string five = file("five", lines(1, 5));
    std::string hundred = file("hundred", lines(1, 100));
    for (const char *flag : {"-e", "-E"}) {
        SCOPED_TRACE(flag);
        pty_session s;
        ASSERT_TRUE(start(s, {flag, five, hundred}, window(10)));
        ASSERT_TRUE(s.wait_for_text("line 5"));
        s.send(" ");
        ASSERT_TRUE(row_is(s, 8, "line 9"));
        EXPECT_EQ(s.row_text(9).find("(END)"), std::string::npos);
        s.send(" ");
        ASSERT_TRUE(row_is(s, 8, "line 18"));
        EXPECT_FALSE(s.exited());
        quit(s);
    }
}

// ---------------------------------------------------------------------------
// Messages

TEST_F(ScreenMessages, ErrorsBeforeTheFirstScreenWaitForReturn)
{
    std::string missing = path("missing");
    std::string five = file("five", lines(1, 5));
    pty_session s;
    ASSERT_TRUE(start(s, {"-c", missing, five}, window(10)));
    ASSERT_TRUE(s.wait_for_text("(press RETURN)"));
    // The missing file's message went to standard error, on the terminal.
    EXPECT_NE(s.screen_text().find(missing), std::string::npos);
    EXPECT_EQ(s.screen_text().find("line 1"), std::string::npos);
    EXPECT_EQ(s.row_text(s.cursor().row), five + "  (press RETURN)");
    s.send("\r");
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 5, 9, "~")));
    quit(s);
}

// An interrupt still pending when a message comes does not take the
// message away: it waits for a key. A command that waited for its letter
// is abandoned by the interrupt, without a message.
TEST_F(ScreenMessages, MessageAfterAnInterruptWaitsForAKey)
{
    pty_options o = window(10);
    o.stdin_pipe = true;
    pty_session s;
    ASSERT_TRUE(start(s, {}, o));
    s.write_stdin(lines(1, 100));           // and the pipe stays open
    ASSERT_TRUE(row_is(s, 8, "line 9"));
    s.send("500g");
    ASSERT_TRUE(s.wait_quiet());            // waiting for more of the pipe
    s.send_ctrl('c');
    const std::string message = "File has only 100 lines  (press RETURN)";
    ASSERT_TRUE(row_is(s, 9, message));
    ASSERT_TRUE(s.wait_quiet(500));
    EXPECT_EQ(s.row_text(9), message);
    s.send("\r");
    ASSERT_TRUE(s.wait_for_row(9, [&](const std::string &t) { return t != message; }));
    for (const char *command : {"m", "'", "_"}) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(s.wait_quiet());
        std::string prompt = s.row_text(9);
        s.send(command);
        ASSERT_TRUE(s.wait_for_row(9, [&](const std::string &t) { return t != prompt; }));
        ASSERT_TRUE(rings(s, pty_session::ctrl('c')));
        ASSERT_TRUE(s.wait_quiet(500));
        EXPECT_EQ(s.row_text(9).find("(press RETURN)"), std::string::npos) << s.row_text(9);
    }
    quit(s);
}

TEST_F(ScreenMessages, MessageInStandoutAndDismissingKeys)
{
    std::string hundred = file("hundred", lines(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {hundred}, window(10)));
    ASSERT_TRUE(row_is(s, 8, "line 9"));
    s.send(":n");
    const std::string message = "No (N-th) next file  (press RETURN)";
    ASSERT_TRUE(row_is(s, 9, message));
    EXPECT_EQ(s.row_attrs(9).substr(0, message.size()), repeat('r', int(message.size())));

    // RETURN, newline and space only dismiss.
    for (const char *key : {"\r", "\n", " "}) {
        s.send(key);
        ASSERT_TRUE(s.wait_for_row(9, [&](const std::string &t) { return t != message; }));
        ASSERT_TRUE(s.wait_quiet());
        expect_rows(s, rows_of(0, 1, 9, 9, ""));
        s.send(":n");
        ASSERT_TRUE(row_is(s, 9, message));
    }
    // Any other key is the next command.
    s.send("j");
    ASSERT_TRUE(rows_become(s, rows_of(0, 2, 10, 9, "")));

    // "=" shows the status as a message; "q" then quits at once.
    s.send("=");
    ASSERT_TRUE(s.wait_for_text("(press RETURN)"));
    EXPECT_NE(s.row_text(9).find("hundred"), std::string::npos);
    quit(s);
}

TEST_F(ScreenMessages, LongMessageRepaintsAfterDismissal)
{
    std::string dir = subdir("a_rather_long_directory_name_for_status");
    std::string f = dir + "/file_with_a_long_name";
    write_file(f, lines(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window(8, 40)));
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 7, 7, "")));
    s.send("=");
    // Wider than the screen: it wraps and the screen scrolls.
    ASSERT_TRUE(s.wait_for([&] { return s.output().find("(press RETURN)") != std::string::npos; }));
    EXPECT_NE(s.row_text(0), "line 1");
    s.send("\r");
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 7, 7, "")));
    EXPECT_EQ(s.screen_text().find("press RETURN"), std::string::npos);
    quit(s);
}

TEST_F(ScreenMessages, MessageThatFitsLeavesTheRows)
{
    std::string f = file("f", lines(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window(8, 80)));
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 7, 7, "")));
    s.send("=");
    ASSERT_TRUE(s.wait_for_text("(press RETURN)"));
    expect_rows(s, rows_of(0, 1, 7, 7, ""));
    size_t written = s.output().size();
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.output().find("line", written), std::string::npos);
    quit(s);
}

// ---------------------------------------------------------------------------
// Piped standard input

TEST_F(ScreenPipe, PipedTextPagesWithKeysFromTheTerminal)
{
    pty_session s;
    ASSERT_TRUE(start_piped(s));
    s.write_stdin(lines(1, 50));
    s.close_stdin();
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 9, 9, "")));
    s.send(" ");
    ASSERT_TRUE(rows_become(s, rows_of(0, 10, 18, 9, "")));
    s.send("b");
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 9, 9, "")));
    s.send("G");
    ASSERT_TRUE(rows_become(s, rows_of(0, 42, 50, 9, "")));
    quit(s);
}

TEST_F(ScreenPipe, InterruptedEndShowsWhatWasRead)
{
    pty_session s;
    ASSERT_TRUE(start_piped(s));
    s.write_stdin(lines(1, 50));
    ASSERT_TRUE(rows_become(s, rows_of(0, 1, 9, 9, "")));
    // The pipe stays open: the end cannot be reached.
    s.send("G");
    ASSERT_TRUE(s.wait_quiet());
    s.send_ctrl('c');
    ASSERT_TRUE(rows_become(s, rows_of(0, 42, 50, 9, "")));
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 1; }));
    s.close_stdin();
    quit(s);
}

TEST_F(ScreenPipe, SilentPipeLetsTheUserQuitAfterAnInterrupt)
{
    pty_session s;
    ASSERT_TRUE(start_piped(s));
    ASSERT_TRUE(s.wait_quiet());
    s.send_ctrl('c');
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 1; }));
    // A move that waits for the pipe, broken off in turn.
    s.send("\r");
    ASSERT_TRUE(s.wait_quiet());
    s.send_ctrl('c');
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 2; }));
    ASSERT_TRUE(s.wait_quiet());
    quit(s);
}

// A keyboard that keeps returning end of file cannot be produced through a
// pseudo-terminal in non-canonical mode (the end-of-file character is then
// an ordinary byte), so that case has no test here.

} // namespace
