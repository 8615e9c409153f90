// Whole runs of the viewer for the commands that take typed text: searches,
// option changes while viewing, shell commands, examine, the editor and
// help. Every check is on what the screen shows or what a child left behind.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <regex.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ROWS = 10;            // nine text rows and the bottom line
constexpr int BOTTOM = ROWS - 1;

// The viewer in the test directory, ten rows of 80 columns unless a test
// asks for another window.
class Commands : public viewer_test {};

// ---------------------------------------------------------------------------
// Search

// Line 1 is 100 characters, three screen rows, with "word" on its second row.
std::string long_top_line_text()
{
    std::string text = std::string(45, 'A') + "word" + std::string(51, 'B') + "\n";
    for (int i = 2; i <= 40; i++)
        text += tag("line", i) + (i == 5 || i == 30 ? " word" : "") + "\n";
    return text;
}

TEST_F(Commands, ForwardSearchStartsWhereTheDashASettingSays)
{
    struct start_case {
        std::string option;
        std::string top;
    };
    const std::vector<start_case> cases = {
        // The first real line after the top one, not the middle of it.
        {"", "line 5. word"},
        // -a: from the line after the bottom one.
        {"-a", "line 30. word"},
        // -A: from the second screen line, in the middle of the long one.
        {"-A", std::string(5, 'A') + "word" + std::string(31, 'B')},
    };
    std::string f = file("f", long_top_line_text());
    for (const start_case &c : cases) {
        SCOPED_TRACE(c.option);
        pty_session s;
        std::vector<std::string> options;
        if (!c.option.empty())
            options.push_back(c.option);
        ASSERT_TRUE(start(s, args_of(options, {f}), window(ROWS, 40)));
        ASSERT_TRUE(s.wait_for_text("line 7."));
        s.send("/word");
        ASSERT_TRUE(bottom_is(s, "/word"));
        s.send("\r");
        ASSERT_TRUE(top_is(s, c.top));
        quit(s);
    }
}

TEST_F(Commands, SearchFromTheBottomOfAScreenThatShowsTheEnd)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-a", file("f", numbered(1, 30))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    // From the bottom of the first screen a later line is found.
    s.send("/line 2\r");
    ASSERT_TRUE(top_is(s, "line 20."));
    // The last line on the last row: the search starts at the very end.
    s.send("G");
    ASSERT_TRUE(top_is(s, "line 22."));
    s.send("/line\r");
    ASSERT_TRUE(bottom_is(s, message("Pattern not found")));
    ASSERT_TRUE(dismiss(s));
    // Rows past the end on the screen: there is no line after the bottom.
    s.send("100p");
    ASSERT_TRUE(top_is(s, "~"));
    s.send("/line\r");
    ASSERT_TRUE(bottom_is(s, message("Nothing to search")));
    EXPECT_EQ(s.row_text(0), "~");
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Commands, SearchAsTheFirstCommandExaminesLineOne)
{
    struct first_case {
        std::string command;
        std::string top;
    };
    const std::vector<first_case> cases = {
        {"+/first", "first 1."},
        {"+/first 7", "first 7."},
        {"+/^first [0-9]+0\\.", "first 10."},
    };
    std::string f = file("f", numbered(1, 30, "first"));
    for (const first_case &c : cases) {
        SCOPED_TRACE(c.command);
        pty_session s;
        ASSERT_TRUE(start(s, {c.command, f}));
        ASSERT_TRUE(top_is(s, c.top));
        quit(s);
    }
}

TEST_F(Commands, EmptyPatternRepeatsTheLastOneForward)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    // Before any search there is nothing to repeat.
    s.send("/\r");
    ASSERT_TRUE(bottom_is(s, message("no previous regular expression")));
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.row_text(0), "line 1.");

    s.send("/0\\.\r");
    ASSERT_TRUE(top_is(s, "line 10."));
    s.send("/\r");
    ASSERT_TRUE(top_is(s, "line 20."));
    // After a backward search "/" RETURN still goes forward.
    s.send("?5\\.\r");
    ASSERT_TRUE(top_is(s, "line 15."));
    s.send("/\r");
    ASSERT_TRUE(top_is(s, "line 25."));
    s.send("n");
    ASSERT_TRUE(top_is(s, "line 35."));
    quit(s);
}

TEST_F(Commands, InvalidPatternForgetsThePreviousOne)
{
    regex_t re;
    int err = regcomp(&re, "(", REG_EXTENDED);
    ASSERT_NE(err, 0);
    char expected[100];
    regerror(err, &re, expected, sizeof expected);

    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}, window()));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("/0\\.\r");
    ASSERT_TRUE(top_is(s, "line 10."));
    s.send("/(\r");
    ASSERT_TRUE(bottom_is(s, message(expected)));
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.row_text(0), "line 10.");
    s.send("n");
    ASSERT_TRUE(bottom_is(s, message("no previous regular expression")));
    EXPECT_EQ(s.row_text(0), "line 10.");
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Commands, IgnoringCaseFoldsPatternAndLines)
{
    std::string text = "start\n123\nERROR three\n456\nerror five\nabc six\nError seven\n";
    text += numbered(8, 40, "0", "");
    std::string f = file("f", text);
    struct case_case {
        std::vector<std::string> options;
        std::string pattern;
        std::vector<std::string> tops;  // after the search, then after each "n"
    };
    const std::vector<case_case> cases = {
        {{"-i"}, "Error", {"ERROR three", "error five", "Error seven"}},
        {{}, "Error", {"Error seven"}},
        {{}, "ERROR", {"ERROR three"}},
        // [A-Z] is folded to [a-z]: left alone it could match no folded line.
        {{"-i"}, "^[A-Z]", {"ERROR three", "error five", "abc six", "Error seven"}},
        {{}, "^[a-z]", {"error five", "abc six"}},
    };
    for (const case_case &c : cases) {
        SCOPED_TRACE(c.pattern);
        pty_session s;
        ASSERT_TRUE(start(s, args_of(c.options, {f})));
        ASSERT_TRUE(s.wait_for_text("0 9"));
        s.send("/" + c.pattern + "\r");
        for (size_t i = 0; i < c.tops.size(); i++) {
            if (i > 0)
                s.send("n");
            ASSERT_TRUE(top_is(s, c.tops[i])) << "hit " << i;
        }
        s.send("n");
        ASSERT_TRUE(bottom_is(s, message("Pattern not found")));
        EXPECT_EQ(s.row_text(0), c.tops.back());
        ASSERT_TRUE(dismiss(s));
        quit(s);
    }
}

TEST_F(Commands, IgnoringCaseMatchesOverstruckTextByItsLastCharacters)
{
    std::string text = "start\nplain\n_\bfoo\nX\bX\n";
    text += numbered(5, 30, "line", "");
    std::string f = file("f", text);
    struct overstrike_case {
        std::vector<std::string> options;
        std::string pattern;
        std::string result;             // the top row, or a message
        std::string second;             // the row below the hit
    };
    const std::vector<overstrike_case> cases = {
        {{"-i"}, "^foo$", "foo", "X"},
        {{"-i"}, "^x$", "X", "line 5"},
        // Overstriking is taken off with or without -i, unless backspaces
        // are shown as ^H.
        {{}, "^foo$", "foo", "X"},
        {{}, "^X$", "X", "line 5"},
        {{"-U"}, "^foo$", message("Pattern not found"), ""},
    };
    for (const overstrike_case &c : cases) {
        SCOPED_TRACE(c.pattern);
        pty_session s;
        ASSERT_TRUE(start(s, args_of(c.options, {f})));
        ASSERT_TRUE(s.wait_for_text("line 9"));
        s.send("/" + c.pattern + "\r");
        if (c.result.find("RETURN") != std::string::npos) {
            ASSERT_TRUE(bottom_is(s, c.result));
            EXPECT_EQ(s.row_text(0), "start");
            ASSERT_TRUE(dismiss(s));
        } else {
            ASSERT_TRUE(top_is(s, c.result));
            EXPECT_EQ(s.row_text(1), c.second);
        }
        quit(s);
    }
}

TEST_F(Commands, CountedSearchForLinesThatDoNotMatch)
{
    std::string text = "top\nkeep\ndrop a\nkeep\ndrop b\ndrop c\nkeep\ndrop d\n";
    text += numbered(9, 30, "keep", "");
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", text)}));
    ASSERT_TRUE(s.wait_for_text("keep 9"));
    s.send("3/");
    ASSERT_TRUE(bottom_is(s, "/"));
    s.send("!keep");
    ASSERT_TRUE(bottom_is(s, "!/keep"));
    s.send("\r");
    ASSERT_TRUE(top_is(s, "drop c"));
    // "n" repeats the sense, once, and shows it.
    size_t before = s.output().size();
    s.send("n");
    ASSERT_TRUE(top_is(s, "drop d"));
    EXPECT_NE(s.output().find("!/", before), std::string::npos);
    s.send("n");
    ASSERT_TRUE(bottom_is(s, message("Pattern not found")));
    EXPECT_EQ(s.row_text(0), "drop d");
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Commands, BackwardSearchFromTheTopFindsNothing)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("?line\r");
    ASSERT_TRUE(bottom_is(s, message("Pattern not found")));
    EXPECT_EQ(s.row_text(0), "line 1.");
    ASSERT_TRUE(dismiss(s));
    // From further down the same search finds the line above the top.
    s.send("5j");
    ASSERT_TRUE(top_is(s, "line 6."));
    s.send("?line\r");
    ASSERT_TRUE(top_is(s, "line 5."));
    quit(s);
}

TEST_F(Commands, RepeatBeforeAnySearch)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    size_t before = s.output().size();
    s.send("n");
    ASSERT_TRUE(bottom_is(s, message("no previous regular expression")));
    size_t prompt = s.output().find("!?", before);
    ASSERT_NE(prompt, std::string::npos);
    EXPECT_LT(prompt, s.output().find("no previous", before));
    EXPECT_EQ(s.row_text(0), "line 1.");
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

// ---------------------------------------------------------------------------
// Options while viewing

TEST_F(Commands, ToggledAndShownOptionMessages)
{
    struct option_case {
        std::vector<std::string> options;
        std::string keys;
        std::string text;
    };
    const std::vector<option_case> cases = {
        {{}, "-i", "Ignore case in searches"},
        {{"-i"}, "-i", "Case is significant in searches"},
        {{"-i"}, "_i", "Ignore case in searches"},
        {{}, "-E", "Quit immediately at end-of-file"},
        {{"-E"}, "-E", "Don't quit at end-of-file"},
        {{"-e"}, "-E", "Quit immediately at end-of-file"},
        {{"-E"}, "-e", "Quit at end-of-file"},
        {{"-e"}, "-e", "Don't quit at end-of-file"},
        {{"-e"}, "_e", "Quit at end-of-file"},
        {{}, "-m", "Medium prompt"},
        {{}, "-M", "Long prompt"},
        {{}, "_x", "Tab stops every 8 spaces"},
        {{}, "-x\r", "Tab stops every 8 spaces"},
        {{"-x3"}, "_x", "Tab stops every 3 spaces"},
        {{}, "-b5\r", "10 buffers"},
        {{}, "-b20\r", "20 buffers"},
        {{}, "-z\r", "Scroll window size is -1 lines"},
        {{}, "-d", "-d: no such flag."},
        {{}, "_d", "-d: no such flag."},
        {{}, "-k", "-k: no such flag."},
        {{}, "-W", "-W: no such flag."},
        {{}, "_l", "no log file"},
        {{}, "_L", "no log file"},
        {{}, "-L\r", "no log file"},
        {{}, "-t\r", "no tag"},
        {{}, "-P\r", "?n?f%f .?m(file %i of %m) ..?e(END) ?x- Next\\: %x..%t"},
        {{"-Pshort"}, "-P\r", "short"},
        {{"-m", "-Pmmedium"}, "-P\r", "medium"},
    };
    std::string f = file("f", numbered(1, 40));
    for (const option_case &c : cases) {
        SCOPED_TRACE(c.keys + " " + c.text);
        pty_session s;
        ASSERT_TRUE(start(s, args_of(c.options, {f}), window()));
        ASSERT_TRUE(s.wait_for_text("line 9."));
        s.send(c.keys);
        ASSERT_TRUE(bottom_is(s, message(c.text)));
        ASSERT_TRUE(dismiss(s));
        EXPECT_EQ(s.row_text(0), "line 1.");
        quit(s);
    }
}

TEST_F(Commands, ToggleIsKeptForLaterCommands)
{
    // -i changed while viewing applies to the next search; twice gives it back.
    std::string f = file("f", "start\nERROR two\n3\n4\n5\n6\n7\n8\n9\nerror ten\n11\n12\n");
    pty_session s;
    ASSERT_TRUE(start(s, {f}, window()));
    ASSERT_TRUE(s.wait_for_text("8"));
    s.send("-i");
    ASSERT_TRUE(bottom_is(s, message("Ignore case in searches")));
    // No repaint for -i: no line is sent again.
    size_t before = s.output().size();
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.output().find("start", before), std::string::npos);
    s.send("/error\r");
    ASSERT_TRUE(top_is(s, "ERROR two"));
    s.send("-i");
    ASSERT_TRUE(bottom_is(s, message("Case is significant in searches")));
    ASSERT_TRUE(dismiss(s));
    s.send("/error\r");
    ASSERT_TRUE(top_is(s, "error ten"));
    quit(s);
}

TEST_F(Commands, SqueezeRepaintsOnceTheMessageIsDismissed)
{
    std::string f = file("f", "one\n\n\n\ntwo\n\n\nthree\nfour\nfive\nsix\nseven\n");
    pty_session s;
    ASSERT_TRUE(start(s, {f}));
    ASSERT_TRUE(row_is(s, 4, "two"));
    s.send("-s");
    ASSERT_TRUE(bottom_is(s, message("Squeeze multiple blank lines")));
    EXPECT_EQ(s.row_text(4), "two");
    s.send("\r");
    ASSERT_TRUE(row_is(s, 2, "two"));
    EXPECT_EQ(s.row_text(1), "");
    EXPECT_EQ(s.row_text(4), "three");
    s.send("-s");
    ASSERT_TRUE(bottom_is(s, message("Don't squeeze multiple blank lines")));
    s.send("\r");
    ASSERT_TRUE(row_is(s, 4, "two"));
    quit(s);
}

TEST_F(Commands, TabStopsShownKeptOrChanged)
{
    std::string f = file("f", "a\tb\n" + numbered(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {f}));
    ASSERT_TRUE(top_is(s, "a       b"));
    // Shown only: no repaint follows.
    s.send("-x\r");
    ASSERT_TRUE(bottom_is(s, message("Tab stops every 8 spaces")));
    size_t before = s.output().size();
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.output().find("line 2.", before), std::string::npos);
    s.send("-x4\r");
    ASSERT_TRUE(bottom_is(s, message("Tab stops every 4 spaces")));
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(top_is(s, "a   b"));
    s.send("_x");
    ASSERT_TRUE(bottom_is(s, message("Tab stops every 4 spaces")));
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.row_text(0), "a   b");
    quit(s);
}

TEST_F(Commands, BackScrollLimitFollowsTheScreenAndTheRepaintMode)
{
    struct limit_case {
        std::vector<std::string> options;
        std::string text;
    };
    const std::vector<limit_case> cases = {
        {{}, "Backwards scroll limit is 24 lines"},
        {{"-c"}, "Backwards scroll limit is 23 lines"},
        {{"-h5"}, "Backwards scroll limit is 5 lines"},
    };
    std::string f = file("f", numbered(1, 60));
    for (const limit_case &c : cases) {
        SCOPED_TRACE(c.text);
        pty_session s;
        ASSERT_TRUE(start(s, args_of(c.options, {f}), window(25, 80)));
        ASSERT_TRUE(s.wait_for_text("line 24."));
        s.send("-h\r");
        ASSERT_TRUE(bottom_is(s, message(c.text)));
        ASSERT_TRUE(dismiss(s));
        quit(s);
    }
}

TEST_F(Commands, DeleteAfterDashIsNoFlagWhenItIsNotTheEraseKey)
{
    // Erase moved to ^H, so that DEL reaches the option command as a letter.
    std::string f = file("f", numbered(1, 30));
    pty_session s;
    pty_options o = window();
    ASSERT_TRUE(s.start({"/bin/sh", "-c", "stty erase '^H' && exec \"$0\" \"$1\"", QUOREL_BIN, f},
                        o));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("-" + pty_session::ctrl('?'));
    ASSERT_TRUE(bottom_is(s, message("-^?: no such flag.")));
    ASSERT_TRUE(dismiss(s));
    // Erase with nothing typed abandons the command.
    s.send("-");
    ASSERT_TRUE(bottom_is(s, "-"));
    s.send(pty_session::ctrl('h'));
    ASSERT_TRUE(bottom_is(s, ":"));
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    s.send("q");
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST_F(Commands, LogFileOnlyForAPipe)
{
    std::string f = file("f", numbered(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {f}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("-llog\r");
    ASSERT_TRUE(bottom_is(s, message("input is not a pipe")));
    ASSERT_TRUE(dismiss(s));
    EXPECT_FALSE(std::filesystem::exists(path("log")));
    s.send("_l");
    ASSERT_TRUE(bottom_is(s, message("no log file")));
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Commands, LogFileNamedWhileViewingAPipe)
{
    // The name is given after part of the input has been read: the log
    // still holds the input from its first byte. A long name is shown whole.
    const std::string name = "log_" + std::string(100, 'n');
    pty_session s;
    pty_options o = window(ROWS, 200);
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {}, o));
    const std::string text = numbered(1, 50);
    s.write_stdin(text);
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("-l" + name + "\r");
    ASSERT_TRUE(s.wait_for([&] { return std::filesystem::exists(path(name)); }));
    s.send("_l");
    ASSERT_TRUE(bottom_is(s, message("log file \"" + name + "\"")));
    ASSERT_TRUE(dismiss(s));
    s.send("-lother\r");
    ASSERT_TRUE(bottom_is(s, message("log file is already in use")));
    ASSERT_TRUE(dismiss(s));
    s.close_stdin();
    quit(s);
    EXPECT_EQ(read_file(path(name)), text);
    EXPECT_FALSE(std::filesystem::exists(path("other")));
}

// ---------------------------------------------------------------------------
// Shell commands

TEST_F(Commands, ShellCommandWithFileNameAndRepeat)
{
    std::string f = file("f", numbered(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {"f"}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("3j");
    ASSERT_TRUE(top_is(s, "line 4."));
    s.send("!echo %-% >> out");
    ASSERT_TRUE(bottom_is(s, "!echo %-% >> out"));
    s.send("\r");
    ASSERT_TRUE(s.wait_for_text(message("!done")));
    EXPECT_EQ(read_file(path("out")), "f-f\n");
    // The command was announced with the names put in.
    EXPECT_NE(s.output().find("!echo f-f >> out"), std::string::npos);
    s.send("\r");
    // The screen comes back as it was, and keys act without RETURN again.
    ASSERT_TRUE(top_is(s, "line 4."));
    ASSERT_TRUE(row_is(s, 8, "line 12."));
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 5."));

    // "!!" runs the expanded command again; the rest of the text is ignored.
    size_t before = s.output().size();
    s.send("!!anything\r");
    ASSERT_TRUE(s.wait_for([&] { return s.output().find("!done", before) != std::string::npos; }));
    EXPECT_EQ(read_file(path("out")), "f-f\nf-f\n");
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(top_is(s, "line 5."));
    quit(s);
}

TEST_F(Commands, ShellCommandLongerThanAnyFixedLine)
{
    // A file name of 200 bytes put in three times: the command line is
    // far longer than 256 bytes and must reach the shell whole.
    const std::string name = std::string(200, 'x');
    file(name, numbered(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {name}, window(ROWS, 120)));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("!echo %%% > out\r");
    ASSERT_TRUE(s.wait_for_text(message("!done")));
    EXPECT_EQ(read_file(path("out")), name + name + name + "\n");
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Commands, ShellCommandReadsTheTerminalWhileTheViewerReadsAPipe)
{
    pty_session s;
    pty_options o = window(ROWS, 60);
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {}, o));
    s.write_stdin(numbered(1, 20));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    // The quotes keep the echo of the typed command from reading "ready".
    s.send("!echo re''ady; head -n 1 > got\r");
    ASSERT_TRUE(s.wait_for_text("ready"));
    s.send("typed\r");
    ASSERT_TRUE(s.wait_for_text(message("!done")));
    EXPECT_EQ(read_file(path("got")), "typed\n");
    ASSERT_TRUE(dismiss(s));
    ASSERT_TRUE(top_is(s, "line 1."));
    // The pipe is still the viewer's input.
    s.write_stdin(numbered(21, 30));
    s.close_stdin();
    s.send("G");
    ASSERT_TRUE(top_is(s, "line 22."));
    ASSERT_TRUE(row_is(s, 8, "line 30."));
    quit(s);
}

// ---------------------------------------------------------------------------
// Examine

TEST_F(Commands, ExamineByNameByPatternPreviousAndCurrent)
{
    file("first", numbered(1, 30, "first"));
    file("second", numbered(1, 30, "second"));
    file("third.txt", numbered(1, 30, "third"));
    pty_session s;
    ASSERT_TRUE(start(s, {"first"}));
    ASSERT_TRUE(s.wait_for_text("first 9."));
    s.send("4j");
    ASSERT_TRUE(top_is(s, "first 5."));

    s.send("E");
    ASSERT_TRUE(bottom_is(s, "Examine:"));
    s.send("second\r");
    ASSERT_TRUE(top_is(s, "second 1."));
    // "#" goes back to the previous file, at the line that was on top.
    s.send(":e#\r");
    ASSERT_TRUE(top_is(s, "first 5."));
    // A pattern that the shell expands to one name.
    s.send("E  th*.t?t\r");
    ASSERT_TRUE(top_is(s, "third 1."));
    // Nothing typed: the current entry of the file list again.
    s.send("E\r");
    ASSERT_TRUE(top_is(s, "first 1."));
    // A pattern matching several files gives a name that does not exist.
    s.send("E*i*\r");
    ASSERT_TRUE(bottom_has(s, "(press RETURN)"));
    EXPECT_NE(s.row_text(BOTTOM).find("first third.txt"), std::string::npos);
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.row_text(0), "first 1.");
    quit(s);
}

// The shell's echo of a pattern may take its time: a stop suspends the
// viewer and the expansion goes on after it; an interrupt abandons it, and
// the pattern is taken as typed.
TEST_F(Commands, ExpansionGoesOnAfterAStopAndEndsAtAnInterrupt)
{
    file("first", numbered(1, 30, "first"));
    file("second", numbered(1, 30, "second"));
    const std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pty_session s;
    ASSERT_TRUE(start(s, {"first"}));
    ASSERT_TRUE(s.wait_for_text("first 9."));

    s.send("E$(cat fifo)\r");
    ASSERT_TRUE(s.wait_quiet());
    s.send_ctrl('z');
    ASSERT_TRUE(s.wait_stopped());
    ASSERT_TRUE(s.signal(SIGCONT));
    ASSERT_TRUE(s.wait_continued());
    // The shell still reads the fifo: the name arrives, the file opens.
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "second\n", 7), 7);
    close(fd);
    ASSERT_TRUE(top_is(s, "second 1."));

    s.send("E$(cat fifo)\r");
    ASSERT_TRUE(s.wait_quiet());
    s.send_ctrl('c');
    ASSERT_TRUE(bottom_has(s, "$(cat fifo): No such file or directory"));
    ASSERT_TRUE(dismiss(s));
    EXPECT_EQ(s.row_text(0), "second 1.");
    quit(s);
}

TEST_F(Commands, ExpansionIsCutToItsFirst127Characters)
{
    // "a*" expands to the 127-byte name, a space and "ab": cut, it is the
    // name of the long file alone.
    const std::string long_name(127, 'a');
    file(long_name, numbered(1, 30, "long"));
    file("ab", numbered(1, 30, "ab"));
    pty_session s;
    ASSERT_TRUE(start(s, {"ab"}));
    ASSERT_TRUE(s.wait_for_text("ab 9."));
    s.send("Ea*\r");
    ASSERT_TRUE(top_is(s, "long 1."));
    quit(s);
}

// ---------------------------------------------------------------------------
// Editor and help

TEST_F(Commands, EveryFileCommandsThatOpenFilesOrReplaceThemselves)
{
    file("a", numbered(1, 30, "a"));
    file("b", numbered(1, 30, "b"));
    struct first_case {
        std::vector<std::string> args;
        const char *top;
    } const cases[] = {
        // Opening a file from the every-file command does not run it again.
        {{"++:e\r", "a", "b"}, "a 1."},
        {{"++:n", "a", "b"}, "b 1."},
        // The command replaces itself while it runs.
        {{"+++5g\r", "a"}, "a 1."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        pty_session s;
        ASSERT_TRUE(start(s, c.args));
        ASSERT_TRUE(top_is(s, c.top));
        quit(s);
    }
}

TEST_F(Commands, EditorChangesAreShownAfterwards)
{
    // The "editor" rewrites the file in place: its first line changes and
    // a line is added at the end.
    std::string editor = file("edit.sh", "#!/bin/sh\n"
                                         "echo \"$1\" > edited\n"
                                         "{ echo 'edited 1.'; tail -n +2 \"$1\"; echo appended; } > new\n"
                                         "cat new > \"$1\"\n");
    ASSERT_EQ(chmod(editor.c_str(), 0755), 0);
    file("f", numbered(1, 20));
    pty_session s;
    pty_options o = window();
    o.env = {"EDITOR=" + editor};
    ASSERT_TRUE(start(s, {"f"}, o));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("v");
    // Nothing of the old buffers is shown again.
    ASSERT_TRUE(top_is(s, "edited 1."));
    EXPECT_EQ(read_file(path("edited")), "f\n");
    EXPECT_NE(s.output().find("!" + editor + " 'f'"), std::string::npos);
    s.send("G");
    ASSERT_TRUE(row_is(s, 8, "appended"));
    EXPECT_EQ(s.row_text(0), "line 13.");
    quit(s);
}

// The file name reaches the editor as one argument, whatever it holds,
// through the user's shell or without one; nothing in it runs.
TEST_F(Commands, EditorGetsTheFileNameAsOneWord)
{
    std::string editor = file("edit.sh", "#!/bin/sh\necho \"$#:$1\" >> args\n");
    ASSERT_EQ(chmod(editor.c_str(), 0755), 0);
    const std::vector<std::string> names = {"x;touch pwned", "a b",
                                            "it's \"$(touch pwned)\" `touch pwned`"};
    for (const char *shell : {"SHELL=/bin/sh", "SHELL"}) {
        for (const std::string &name : names) {
            SCOPED_TRACE(std::string(shell) + " " + name);
            file(name, numbered(1, 20));
            std::filesystem::remove(path("args"));
            pty_session s;
            pty_options o = window();
            o.env = {"EDITOR=" + editor, shell};
            ASSERT_TRUE(start(s, {name}, o));
            ASSERT_TRUE(s.wait_for_text("line 9."));
            s.send("v");
            ASSERT_TRUE(s.wait_for([&] { return read_file(path("args")) == "1:" + name + "\n"; }))
                << read_file(path("args"));
            ASSERT_TRUE(row_is(s, 8, "line 9."));
            quit(s);
            EXPECT_FALSE(std::filesystem::exists(path("pwned")));
        }
    }
}

TEST_F(Commands, EditorRefusesStandardInput)
{
    pty_session s;
    pty_options o = window();
    o.stdin_pipe = true;
    o.env = {"EDITOR=/bin/false"};
    ASSERT_TRUE(start(s, {}, o));
    s.write_stdin(numbered(1, 20));
    s.close_stdin();
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("v");
    ASSERT_TRUE(bottom_is(s, message("Cannot edit standard input")));
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

TEST_F(Commands, HelpRunsASecondViewer)
{
    std::string bin_dir = std::filesystem::path(QUOREL_BIN).parent_path().string();
    const char *inherited = getenv("PATH");
    pty_session s;
    pty_options o = window();
    o.env = {"PATH=" + bin_dir + ":" + (inherited ? inherited : "/usr/bin:/bin")};
    ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}, o));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("h");
    const std::string help_prompt = "HELP -- Press RETURN for more, or q when done";
    // Where the help file is installed is fixed at build time: when it is
    // missing the second viewer only reports it and ends by itself.
    ASSERT_TRUE(s.wait_for([&] {
        return s.row_text(BOTTOM) == help_prompt ||
               s.row_text(BOTTOM) == message("End of help");
    })) << s.screen_text();
    if (s.row_text(BOTTOM) == help_prompt) {
        EXPECT_NE(s.row_text(0), "line 1.");
        s.send("q");
    } else {
        // The second viewer named the file it could not open.
        EXPECT_NE(s.output().find("quorel.help"), std::string::npos) << s.output();
    }
    ASSERT_TRUE(bottom_is(s, message("End of help")));
    s.send("\r");
    ASSERT_TRUE(top_is(s, "line 1."));
    ASSERT_TRUE(row_is(s, 8, "line 9."));
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    quit(s);
}

// Help is the viewer's own program on the help file of the source tree it
// was built from, also when no viewer is on the search path; a start
// command asking for it opens it once, since the help viewer reads the same
// MIVO but does not start help again from it.
TEST_F(Commands, HelpWithoutTheViewerOnThePathAndFromAStartCommand)
{
    for (const char *mivo : {"MIVO=", "MIVO=+h"}) {
        SCOPED_TRACE(mivo);
        bool at_start = mivo[5] != '\0';
        pty_session s;
        pty_options o = window();
        o.env = {"PATH=/usr/bin:/bin", mivo};
        ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}, o));
        if (!at_start) {
            ASSERT_TRUE(s.wait_for_text("line 9."));
            s.send("h");
        }
        ASSERT_TRUE(bottom_is(s, "HELP -- Press RETURN for more, or q when done"));
        EXPECT_NE(s.screen_text().find("QUOREL  --  SUMMARY OF COMMANDS"), std::string::npos)
            << s.screen_text();
        s.send("q");
        ASSERT_TRUE(bottom_is(s, message("End of help")));
        s.send("\r");
        ASSERT_TRUE(top_is(s, "line 1."));
        quit(s);
    }
}

} // namespace
