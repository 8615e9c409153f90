// Whole runs of the viewer on a pseudo-terminal: how keys become commands,
// the command loop's number and text editing, jumps and marks, the prompt
// line, and line numbers. Every check is on what the screen shows.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int ROWS = 10;            // nine text rows and the bottom line
constexpr int COLS = 40;
constexpr int BOTTOM = ROWS - 1;

// The prompts' percentage for the screen that ends before line n of text.
std::string percent_before_line(const std::string &text, int n)
{
    size_t pos = 0;
    for (int line = 1; line < n; line++)
        pos = text.find('\n', pos) + 1;
    return std::to_string(pos * 100 / text.size()) + "%";
}

std::string keys(int count, char key)
{
    return std::string(static_cast<size_t>(count), key);
}

// The viewer in the test directory, in a narrow window.
class Paging : public viewer_test {
protected:
    Paging() : viewer_test(COLS) {}
};

// ---------------------------------------------------------------------------
// Key decoding

TEST_F(Paging, UserBindingOfQRepaintsWhileColonQAndZZStillQuit)
{
    compile_keys("q repaint\n");
    std::string f = file("f", numbered(1, 30));
    for (const char *quit_keys : {":q", "ZZ"}) {
        SCOPED_TRACE(quit_keys);
        pty_session s;
        ASSERT_TRUE(start(s, {f}));
        ASSERT_TRUE(s.wait_for_text("line 9."));
        s.send("j");
        ASSERT_TRUE(top_is(s, "line 2."));
        size_t before = s.output().size();
        s.send("q");
        // A repaint sends the rows again; the viewer keeps running.
        ASSERT_TRUE(s.wait_for([&] {
            return s.output().find("line 10.", before) != std::string::npos &&
                   s.row_text(BOTTOM) == ":";
        }));
        EXPECT_FALSE(s.exited());
        EXPECT_EQ(s.row_text(0), "line 2.");
        EXPECT_EQ(s.bell_count(), 0);
        s.send(quit_keys);
        expect_exit(s, 0);
    }
}

TEST_F(Paging, LongerUserBindingShadowsTheDefaultG)
{
    compile_keys("gx goto-end\n");
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 50))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("g");
    ASSERT_TRUE(bottom_is(s, "& g"));
    s.send("x");
    ASSERT_TRUE(top_is(s, "line 42."));
    EXPECT_EQ(s.row_text(8), "line 50.");

    // g alone no longer goes to line 1: it waits, and g y is unbound.
    s.send("g");
    ASSERT_TRUE(bottom_is(s, "& g"));
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_EQ(s.row_text(0), "line 42.");
    int bells = s.bell_count();
    s.send("y");
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == bells + 1; }));
    ASSERT_TRUE(bottom_is(s, "(END)"));
    EXPECT_EQ(s.row_text(0), "line 42.");
    quit(s);
}

TEST_F(Paging, UserEntryWithNotFoundCodeFallsThroughToTheDefaults)
{
    // j bound to code 100, which the compiler cannot write; r to quit.
    raw_keys(std::string("j\0\x64r\0\x18", 6));
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    EXPECT_EQ(s.bell_count(), 0);
    s.send("r");
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST_F(Paging, UserKeyForTheDigitActionRingsTheBell)
{
    raw_keys(std::string("x\0\x06", 3));
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("x");
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 1; }));
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    quit(s);
}

TEST_F(Paging, HugeCountsStopAtTheEnd)
{
    std::string f = file("f", numbered(1, 30));
    for (const char *mode : {"-c", "-C", "-+c"}) {
        for (const char *keys : {"2147483647j", "2147483647d", "99999999999 "}) {
            SCOPED_TRACE(std::string(mode) + " " + keys);
            pty_session s;
            ASSERT_TRUE(start(s, {mode, f}));
            ASSERT_TRUE(s.wait_for_text("line 9."));
            s.send(keys);
            ASSERT_TRUE(top_is(s, "line 22."));
            ASSERT_TRUE(bottom_is(s, "(END)"));
            quit(s);
        }
    }
}

TEST_F(Paging, EmptyKeyFileIsReportedBeforeTheFirstScreen)
{
    raw_keys("");
    pty_session s;
    file("f", numbered(1, 30));
    ASSERT_TRUE(start(s, {"f"}));
    // The message goes to standard error, which is the terminal too, and
    // the first screen waits until it has been read.
    ASSERT_TRUE(bottom_is(s, "f  (press RETURN)"));
    size_t message = s.output().find("invalid user key file");
    ASSERT_NE(message, std::string::npos);
    EXPECT_LT(message, s.output().find("(press RETURN)"));
    EXPECT_EQ(s.output().find("line 1."), std::string::npos);
    s.send("\r");
    ASSERT_TRUE(top_is(s, "line 1."));
    // Without a user table every default binding works.
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    quit(s);
}

// Sequences that begin a binding echo after "& " and, once they can no
// longer complete one, ring the bell and leave the view alone.
TEST_F(Paging, UnfinishedSequencesEchoThenRingTheBell)
{
    struct sequence_case {
        std::string first;
        std::string echo;
        std::string second;
    };
    const std::vector<sequence_case> cases = {
        {pty_session::ctrl('['), "& ^[", "w"},
        {":", "& :", "x"},
        {"Z", "& Z", "a"},
        {pty_session::ctrl('x'), "& ^X", "y"},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 40))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("5j");
    ASSERT_TRUE(top_is(s, "line 6."));
    for (const sequence_case &c : cases) {
        SCOPED_TRACE(c.echo);
        s.send(c.first);
        ASSERT_TRUE(bottom_is(s, c.echo));
        int bells = s.bell_count();
        s.send(c.second);
        ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == bells + 1; }));
        ASSERT_TRUE(bottom_is(s, ":"));
        EXPECT_EQ(s.row_text(0), "line 6.");
    }
    // A number survives the sequence: 3 ESC v moves back three lines.
    s.send("3" + pty_session::ctrl('[') + "v");
    ASSERT_TRUE(top_is(s, "line 3."));
    quit(s);
}

TEST_F(Paging, SequenceFillingTheTypedKeyBufferIsUnbound)
{
    // 35 bytes of a, more than the 31 that can be typed for one command.
    raw_keys(keys(35, 'a') + std::string("\0\x19", 2));
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send(keys(30, 'a'));
    ASSERT_TRUE(bottom_is(s, "& " + keys(30, 'a')));
    EXPECT_EQ(s.bell_count(), 0);
    s.send("a");
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 1; }));
    ASSERT_TRUE(bottom_is(s, ":"));
    // Decoding starts afresh afterwards.
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    quit(s);
}

// Moves typed ahead in one burst, as a held-down key sends them: the screens
// passed over may go unpainted, but the one they lead to is whole, with its
// prompt, and every move past the end still rings.
TEST_F(Paging, MovesTypedAheadEndOnTheWholeScreenTheyLeadTo)
{
    struct burst {
        std::string keys;
        int top;
        const char *prompt;
        int bells;
    };
    const burst bursts[] = {
        {keys(5, ' '), 46, ":", 0},
        {keys(5, ' ') + "bb", 28, ":", 0},
        {keys(3, ' ') + "jjj", 31, ":", 0},
        {keys(5, 'f') + keys(3, 'k'), 43, ":", 0},
        // The 22nd screen reaches line 200; the 8 after it ring.
        {keys(30, ' '), 192, "(END)", 8},
    };
    std::string f = file("f", numbered(1, 200));
    for (const burst &b : bursts) {
        SCOPED_TRACE(b.keys);
        pty_session s;
        ASSERT_TRUE(start(s, {f}));
        ASSERT_TRUE(s.wait_for_text("line 9."));
        s.send(b.keys);
        std::vector<std::string> rows;
        for (int n = b.top; n < b.top + BOTTOM; n++)
            rows.push_back(tag("line", n));
        ASSERT_TRUE(rows_are(s, rows));
        ASSERT_TRUE(bottom_is(s, b.prompt));
        EXPECT_EQ(s.bell_count(), b.bells);
        quit(s);
    }
}

// The screens passed over are not even built; the one a burst leads to is
// painted with its line numbers, its highlights and only the lines a filter
// shows, as ever.
TEST_F(Paging, MovesTypedAheadKeepNumbersHighlightsAndTheFilter)
{
    struct burst {
        std::vector<std::string> options;
        std::string keys;
        int top, step;          // the lines shown: top, top + step, ...
        bool numbers;           // the number column shows
        int marked;             // rows whose "line 4" shows in reverse
        const char *prompt;
    };
    const burst bursts[] = {
        {{"-N"}, keys(5, ' '), 46, 1, true, 0, ":"},
        {{"-N", "+/line 4"}, keys(5, ' '), 49, 1, true, 1, ":"},
        {{"+/line 4"}, keys(4, ' ') + "bb", 22, 1, false, 0, ":"},
        {{"+&0\\."}, keys(5, ' '), 460, 10, false, 0, "[filter: 0\\.]"},
        {{"-N", "+&0\\."}, keys(4, ' ') + "k", 360, 10, true, 0, "[filter: 0\\.]"},
    };
    file("f", numbered(1, 2000));
    for (const burst &b : bursts) {
        SCOPED_TRACE(b.options.back() + " " + b.keys);
        pty_session s;
        std::vector<std::string> options = b.options;
        options.push_back("f");
        ASSERT_TRUE(start(s, options));
        ASSERT_TRUE(bottom_has(s, "f"));
        s.send(b.keys);
        std::vector<std::string> rows;
        for (int i = 0; i < BOTTOM; i++) {
            int n = b.top + i * b.step;
            char number[16] = "";
            if (b.numbers)
                snprintf(number, sizeof number, "%7d ", n);
            rows.push_back(number + tag("line", n));
        }
        ASSERT_TRUE(rows_are(s, rows));
        ASSERT_TRUE(bottom_is(s, b.prompt));
        for (int i = 0; i < BOTTOM; i++)
            EXPECT_EQ(s.row_attrs(i), i < b.marked ? std::string(8, ' ') + "rrrrrr" : "") << i;
        quit(s);
    }
}

// ---------------------------------------------------------------------------
// The command loop

TEST_F(Paging, NumberBeforeSpaceReplacesTheWindowSize)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 40))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("10");
    ASSERT_TRUE(bottom_is(s, ":10"));
    s.send(" ");
    ASSERT_TRUE(top_is(s, "line 11."));
    EXPECT_EQ(s.row_text(8), "line 19.");
    // The number was for that one command only.
    s.send(" ");
    ASSERT_TRUE(top_is(s, "line 20."));
    quit(s);
}

TEST_F(Paging, EraseInANumberThenAbandon)
{
    pty_session s;
    const std::string text = numbered(1, 40);
    file("f", text);
    ASSERT_TRUE(start(s, {"-M", "f"}));
    const std::string erase = pty_session::ctrl('?');
    const std::string prompt = "f line 1 " + percent_before_line(text, 10);
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("r");
    ASSERT_TRUE(bottom_is(s, prompt));
    s.send("3");
    ASSERT_TRUE(bottom_is(s, ":3"));
    s.send(erase);
    ASSERT_TRUE(bottom_is(s, ":"));
    s.send(erase);
    ASSERT_TRUE(bottom_is(s, prompt));
    // The abandoned 3 does not reach the next command.
    s.send("j");
    ASSERT_TRUE(top_is(s, "line 2."));
    quit(s);
}

TEST_F(Paging, PercentIsClampedAndDefaultsToTheTop)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-M", file("f", numbered(1, 40))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("150p");
    ASSERT_TRUE(bottom_has(s, "(END)"));
    // 100 percent of a file that ends in a newline is its very end.
    for (int row = 0; row < BOTTOM; row++)
        EXPECT_EQ(s.row_text(row), "~") << row;
    s.send("p");
    ASSERT_TRUE(top_is(s, "line 1."));
    EXPECT_EQ(s.row_text(8), "line 9.");
    quit(s);
}

TEST_F(Paging, DigitsStopThreeColumnsShortOfTheWidth)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 50))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    // ":" and 36 digits reach column 37 of 40.
    const std::string digits = keys(36, '9');
    s.send(digits);
    ASSERT_TRUE(bottom_is(s, ":" + digits));
    EXPECT_EQ(s.bell_count(), 0);
    s.send("9");
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 1; }));
    s.send("8");
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 2; }));
    EXPECT_EQ(s.row_text(BOTTOM), ":" + digits);
    // A number beyond an int is taken as the largest one.
    s.send("g");
    ASSERT_TRUE(bottom_is(s, "File has only 50 lines  (press RETURN)"));
    EXPECT_EQ(s.row_text(0), "line 1.");
    s.send("\r");
    quit(s);
}

TEST_F(Paging, FirstCommandPaintsItsScreenFirst)
{
    struct first_case {
        std::string command;
        std::string top;
        std::string bottom_row;
    };
    const std::vector<first_case> cases = {
        {"+12", "line 12.", "line 20."},
        {"+G", "line 42.", "line 50."},
        {"+50%", "line 26.", "line 34."},
    };
    std::string f = file("f", numbered(1, 50));
    for (const first_case &c : cases) {
        SCOPED_TRACE(c.command);
        pty_session s;
        ASSERT_TRUE(start(s, {c.command, f}));
        ASSERT_TRUE(top_is(s, c.top));
        EXPECT_EQ(s.row_text(8), c.bottom_row);
        EXPECT_EQ(s.output().find("line 1."), std::string::npos);
        quit(s);
    }
}

TEST_F(Paging, FirstCommandForEveryFileWithPlusPlus)
{
    file("a", numbered(1, 30, "a"));
    file("b", numbered(1, 20, "b"));
    pty_session s;
    ASSERT_TRUE(start(s, {"++G", "a", "b"}));
    ASSERT_TRUE(top_is(s, "a 22."));
    EXPECT_EQ(s.row_text(8), "a 30.");
    s.send(":n");
    ASSERT_TRUE(top_is(s, "b 12."));
    EXPECT_EQ(s.row_text(8), "b 20.");
    EXPECT_EQ(s.output().find("b 1."), std::string::npos);
    quit(s);
}

TEST_F(Paging, StepsThroughTheFileList)
{
    file("a", numbered(1, 20, "a"));
    file("b", numbered(1, 20, "b"));
    file("c", numbered(1, 20, "c"));
    struct step {
        std::string keys;
        std::string top;        // the first row afterwards
        std::string bottom;     // the bottom line afterwards
    };
    const std::vector<step> steps = {
        {":n", "b 1.", "b (file 2 of 3)"},
        {"N", "c 1.", "c (file 3 of 3)"},
        {"N", "c 1.", "No (N-th) next file  (press RETURN)"},
        {"\r", "c 1.", ":"},
        {":p", "b 1.", "b (file 2 of 3)"},
        {"2P", "b 1.", "No (N-th) previous file  (press RETURN)"},
        {" ", "b 1.", ":"},
        {"P", "a 1.", "a (file 1 of 3)"},
        {"2:n", "c 1.", "c (file 3 of 3)"},
        {"2:p", "a 1.", "a (file 1 of 3)"},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {"a", "b", "c"}));
    ASSERT_TRUE(bottom_is(s, "a (file 1 of 3)"));
    for (const step &st : steps) {
        SCOPED_TRACE(st.keys);
        s.send(st.keys);
        ASSERT_TRUE(bottom_is(s, st.bottom));
        EXPECT_EQ(s.row_text(0), st.top);
    }
    quit(s);
}

// A file that cannot be opened leaves the prompt's index at the file on the
// screen, while the next move counts on from the entry tried; no count is
// too large to step past either end.
TEST_F(Paging, FileListIndexFollowsTheFileShown)
{
    file("a", numbered(1, 20, "a"));
    file("c", numbered(1, 20, "c"));
    struct step {
        std::string keys;
        std::string bottom;     // the bottom line afterwards
    };
    const std::vector<step> steps = {
        {"N", "b: No such file or directory  (press RETURN)"},
        {"\r", ":"},
        {"=", "a (file 1 of 3) "},
        {"\r", ":"},
        {"N", "c (file 3 of 3)"},
        {"99999999999N", "No (N-th) next file  (press RETURN)"},
        {"\r", ":"},
        {"99999999999P", "No (N-th) previous file  (press RETURN)"},
        {"\r", ":"},
        {"2P", "a (file 1 of 3)"},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {"a", "b", "c"}, window(10, 80)));
    ASSERT_TRUE(bottom_is(s, "a (file 1 of 3)"));
    for (const step &st : steps) {
        SCOPED_TRACE(st.keys);
        s.send(st.keys);
        // The status line goes on with the position: its start is enough.
        if (st.keys == "=")
            ASSERT_TRUE(bottom_has(s, st.bottom));
        else
            ASSERT_TRUE(bottom_is(s, st.bottom));
    }
    quit(s);
}

TEST_F(Paging, QuitAtEndOfFileSettings)
{
    file("a", numbered(1, 12, "a"));
    file("b", numbered(1, 12, "b"));
    // -e: the forward move after the end goes on to the next file, and
    // after the last one the viewer ends.
    {
        pty_session s;
        ASSERT_TRUE(start(s, {"-e", "a", "b"}));
        ASSERT_TRUE(s.wait_for_text("a 9."));
        s.send(" ");
        ASSERT_TRUE(bottom_is(s, "(END) - Next: b"));
        s.send(" ");
        ASSERT_TRUE(top_is(s, "b 1."));
        s.send(" ");
        ASSERT_TRUE(bottom_is(s, "(END)"));
        EXPECT_FALSE(s.exited());
        s.send(" ");
        expect_exit(s, 0);
    }
    // -E: the viewer ends as soon as the end of the last file is shown,
    // without a prompt there.
    {
        pty_session s;
        ASSERT_TRUE(start(s, {"-E", "-M", "b"}));
        ASSERT_TRUE(s.wait_for_text("b 9."));
        ASSERT_TRUE(bottom_is(s, "b line 1 " + percent_before_line(numbered(1, 12, "b"), 10)));
        s.send(" ");
        expect_exit(s, 0);
        EXPECT_NE(s.output().find("b 12."), std::string::npos);
        EXPECT_EQ(s.output().find("(END)"), std::string::npos);
    }
}

// ---------------------------------------------------------------------------
// Jumps and marks

TEST_F(Paging, JumpErrorsLeaveTheViewAlone)
{
    struct error_case {
        std::string keys;
        std::string message;
    };
    const std::vector<error_case> cases = {
        {"100G", "File has only 50 lines"},
        {"52g", "File has only 50 lines"},
        {"mA", "Choose a letter between 'a' and 'z'"},
        {"'A", "Choose a letter between 'a' and 'z'"},
        {"'x", "mark not set"},
        {"''", "mark not set"},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 50))}, window(ROWS, 80)));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("4j");
    ASSERT_TRUE(top_is(s, "line 5."));
    for (const error_case &c : cases) {
        SCOPED_TRACE(c.keys);
        s.send(c.keys);
        ASSERT_TRUE(bottom_is(s, c.message + "  (press RETURN)"));
        EXPECT_EQ(s.row_text(0), "line 5.");
        s.send("\r");
        ASSERT_TRUE(bottom_is(s, ":"));
    }
    quit(s);
}

TEST_F(Paging, PercentOfEqualLines)
{
    // 100 lines of 10 bytes: n percent is the start of line n + 1.
    std::string text;
    for (int i = 1; i <= 100; i++) {
        char line[16];
        snprintf(line, sizeof line, "line %04d\n", i);
        text += line;
    }
    struct percent_case {
        std::string keys;
        std::string top;
    };
    const std::vector<percent_case> cases = {
        {"50p", "line 0051"},
        {"33%", "line 0034"},
        {"0p", "line 0001"},
        {"99p", "line 0100"},
        {"75p", "line 0076"},
        {"p", "line 0001"},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", text)}));
    ASSERT_TRUE(s.wait_for_text("line 0009"));
    for (const percent_case &c : cases) {
        SCOPED_TRACE(c.keys);
        s.send(c.keys);
        ASSERT_TRUE(top_is(s, c.top));
    }
    quit(s);
}

TEST_F(Paging, MarksAndTheQuoteMark)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 80))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    // G leaves the top in the quote mark.
    s.send("G");
    ASSERT_TRUE(top_is(s, "line 72."));
    s.send("''");
    ASSERT_TRUE(top_is(s, "line 1."));
    // The jump back repainted too, so '' goes to the end again.
    s.send("''");
    ASSERT_TRUE(top_is(s, "line 72."));

    s.send("20g");
    ASSERT_TRUE(top_is(s, "line 20."));
    s.send("m");
    ASSERT_TRUE(bottom_is(s, "mark:"));
    EXPECT_EQ(s.cursor().col, 6);
    s.send("a");
    ASSERT_TRUE(bottom_is(s, ":"));
    s.send("  ");
    ASSERT_TRUE(top_is(s, "line 38."));
    s.send("'");
    ASSERT_TRUE(bottom_is(s, "goto mark:"));
    s.send("a");
    ASSERT_TRUE(top_is(s, "line 20."));
    // Erase abandons the letter prompts.
    s.send("m" + pty_session::ctrl('?'));
    ASSERT_TRUE(bottom_is(s, ":"));
    s.send("'" + pty_session::ctrl('?'));
    ASSERT_TRUE(bottom_is(s, ":"));
    EXPECT_EQ(s.row_text(0), "line 20.");
    quit(s);
}

TEST_F(Paging, JumpToAMarkOnTheScreenScrolls)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 40))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("2j");
    ASSERT_TRUE(top_is(s, "line 3."));
    s.send("ma");
    s.send("2k");
    ASSERT_TRUE(top_is(s, "line 1."));
    ASSERT_TRUE(s.wait_quiet());
    size_t before = s.output().size();
    s.send("'a");
    ASSERT_TRUE(top_is(s, "line 3."));
    ASSERT_TRUE(bottom_is(s, ":"));
    EXPECT_EQ(s.row_text(8), "line 11.");
    // Only the two lines that scrolled in were sent.
    std::string sent = s.output().substr(before);
    EXPECT_NE(sent.find("line 10."), std::string::npos);
    EXPECT_NE(sent.find("line 11."), std::string::npos);
    for (int i = 3; i <= 9; i++)
        EXPECT_EQ(sent.find(tag("line", i)), std::string::npos) << i;
    // A scrolling jump leaves the quote mark unset.
    s.send("''");
    ASSERT_TRUE(bottom_is(s, "mark not set  (press RETURN)"));
    s.send("\r");
    quit(s);
}

TEST_F(Paging, JumpAboveTheScreenScrollsBackOrRepaints)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 80))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("ma");
    s.send("4j");
    ASSERT_TRUE(top_is(s, "line 5."));
    // Four lines above: scrolled back, the quote mark stays unset.
    s.send("'a");
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("''");
    ASSERT_TRUE(bottom_is(s, "mark not set  (press RETURN)"));
    s.send("\r");
    // Two screens above: repainted, and the quote mark is the old top.
    s.send("40g");
    ASSERT_TRUE(top_is(s, "line 40."));
    s.send("'a");
    ASSERT_TRUE(top_is(s, "line 1."));
    EXPECT_EQ(s.row_text(8), "line 9.");
    s.send("''");
    ASSERT_TRUE(top_is(s, "line 40."));
    quit(s);
}

// ---------------------------------------------------------------------------
// Prompts

class Prompts : public Paging {
protected:
    // notes: 1000 bytes, the first nine lines 400 of them; other: short.
    void SetUp() override
    {
        Paging::SetUp();
        std::string text;
        for (int i = 1; i <= 21; i++) {
            int length = i <= 8 ? 44 : i == 9 ? 48 : 50;
            std::string line = "notes " + std::to_string(i) + " ";
            line.resize(static_cast<size_t>(length - 1), '-');
            text += line + "\n";
        }
        ASSERT_EQ(text.size(), 1000u);
        file("notes", text);
        file("other", numbered(1, 3, "other"));
    }

    bool start_wide(pty_session &s, std::vector<std::string> options)
    {
        options.push_back("notes");
        options.push_back("other");
        return start(s, options, window(ROWS, 80));
    }
};

TEST_F(Prompts, BuiltInStylesFirstAndLater)
{
    struct style_case {
        std::vector<std::string> options;
        std::string first;
        std::string later;
    };
    const std::vector<style_case> cases = {
        {{}, "notes (file 1 of 2)", ":"},
        {{"-m"}, "notes (file 1 of 2) 40%", "40%"},
        {{"-M"}, "notes (file 1 of 2) line 1 40%", "notes line 1 40%"},
        {{"-M", "-n"}, "notes (file 1 of 2) byte 400/1000 40%", "notes byte 400/1000 40%"},
        {{"-Pmfoo %i", "-m"}, "foo 1", "foo 1"},
        {{"-PMbar?n new.", "-M"}, "bar new", "bar"},
        {{"-Pshort%t   "}, "short", "short"},
        {{"-m", "-Pafter m"}, "after m", "after m"},
    };
    for (const style_case &c : cases) {
        SCOPED_TRACE(c.first);
        pty_session s;
        ASSERT_TRUE(start_wide(s, c.options));
        ASSERT_TRUE(bottom_is(s, c.first));
        EXPECT_TRUE(s.cell_attrs(BOTTOM, 0).reverse);
        s.send("r");
        ASSERT_TRUE(bottom_is(s, c.later));
        quit(s);
    }
}

TEST_F(Prompts, EndOfEachFile)
{
    struct end_case {
        std::vector<std::string> options;
        std::string first_end;
        std::string last_first;
        std::string last_end;
    };
    const std::vector<end_case> cases = {
        {{}, "(END) - Next: other", "other (file 2 of 2) (END)", "(END)"},
        {{"-m"}, "(END) - Next: other", "other (file 2 of 2) (END)", "(END)"},
        {{"-M"}, "notes line 13 (END) - Next: other", "other (file 2 of 2) line 1 (END)",
         "other line 1 (END)"},
    };
    for (const end_case &c : cases) {
        SCOPED_TRACE(c.first_end);
        pty_session s;
        ASSERT_TRUE(start_wide(s, c.options));
        ASSERT_TRUE(s.wait_for_text("notes 9"));
        s.send("G");
        ASSERT_TRUE(bottom_is(s, c.first_end));
        s.send(":n");
        ASSERT_TRUE(bottom_is(s, c.last_first));
        s.send("r");
        ASSERT_TRUE(bottom_is(s, c.last_end));
        quit(s);
    }
}

TEST_F(Prompts, StatusLine)
{
    struct status_case {
        std::vector<std::string> options;
        std::string key;
        std::string text;
    };
    const std::string expected = "notes (file 1 of 2) line 1 byte 400/1000 40%";
    const std::vector<status_case> cases = {
        {{}, "=", expected},
        {{}, pty_session::ctrl('g'), expected},
        {{"-M"}, "=", expected},
        {{"-n"}, "=", "notes (file 1 of 2) byte 400/1000 40%"},
        {{"-P=at %bt of %s"}, "=", "at 0 of 1000"},
        // A template that expands to nothing gives an empty message.
        {{"-P=?e(END)."}, "=", ""},
    };
    for (const status_case &c : cases) {
        SCOPED_TRACE(c.text);
        pty_session s;
        ASSERT_TRUE(start_wide(s, c.options));
        ASSERT_TRUE(s.wait_for_text("notes 9"));
        s.send(c.key);
        ASSERT_TRUE(bottom_is(s, c.text + "  (press RETURN)"));
        s.send("\r");
        ASSERT_TRUE(s.wait_for([&] { return s.row_text(BOTTOM).find("RETURN") == std::string::npos; }));
        quit(s);
    }
}

TEST_F(Prompts, HelpViewerTemplate)
{
    const std::string help =
        "-PmHELP -- ?eEND -- Press g to see it again:Press RETURN for more., or q when done ";
    pty_session s;
    ASSERT_TRUE(start(s, {"-m", help, "notes"}, window(ROWS, 80)));
    const std::string more = "HELP -- Press RETURN for more, or q when done";
    ASSERT_TRUE(bottom_is(s, more));
    // The template has no %t: the trailing space is shown in standout.
    EXPECT_EQ(s.row_attrs(BOTTOM), std::string(more.size() + 1, 'r'));
    s.send("G");
    const std::string end = "HELP -- END -- Press g to see it again, or q when done";
    ASSERT_TRUE(bottom_is(s, end));
    EXPECT_EQ(s.row_attrs(BOTTOM), std::string(end.size() + 1, 'r'));
    quit(s);
}

TEST_F(Prompts, Version)
{
    pty_session s;
    ASSERT_TRUE(start_wide(s, {}));
    ASSERT_TRUE(s.wait_for_text("notes 9"));
    s.send("V");
    ASSERT_TRUE(bottom_is(s, " mivo  version 97  (press RETURN)"));
    // A command key dismisses the message and is carried out.
    s.send("j");
    ASSERT_TRUE(top_is(s, "notes 2 " + std::string(35, '-')));
    quit(s);
}

// ---------------------------------------------------------------------------
// Line numbers

TEST_F(Paging, LongPromptLineNumberAfterG)
{
    pty_session s;
    const std::string text = numbered(1, 5000);
    file("big", text);
    ASSERT_TRUE(start(s, {"-M", "big"}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("G");
    ASSERT_TRUE(bottom_is(s, "big line 4992 (END)"));
    EXPECT_EQ(s.row_text(0), "line 4992.");
    s.send("2000g");
    ASSERT_TRUE(bottom_is(s, "big line 2000 " + percent_before_line(text, 2009)));
    quit(s);
}

// A raw line longer than the pieces the raw-line readers hand out is one
// line for the prompt, goto-line and searches alike.
TEST_F(Paging, LongLineIsOneLineForLineNumbers)
{
    pty_session s;
    file("f", numbered(1, 3) + std::string(2500, 'x') + "\n" + numbered(5, 60));
    ASSERT_TRUE(start(s, {"-M", "f"}));
    ASSERT_TRUE(s.wait_for_text("line 1."));
    s.send("5g");
    ASSERT_TRUE(top_is(s, "line 5."));
    ASSERT_TRUE(bottom_has(s, "f line 5 "));
    s.send("/line 50\\.\r");
    ASSERT_TRUE(top_is(s, "line 50."));
    ASSERT_TRUE(bottom_has(s, "f line 50 "));
    s.send("?x\r");
    ASSERT_TRUE(bottom_has(s, "f line 4 "));
    quit(s);
}

TEST_F(Paging, InterruptedCountTurnsLineNumbersOff)
{
    // Counting must run well over the two seconds after which the notice
    // appears, and it runs at the speed of memory: a sparse file of 64 GiB
    // costs no disk, and its holes read as NUL bytes. Newlines once per MiB
    // near the end keep the lines of the last screen short.
    constexpr off_t MIB = 1 << 20, SIZE = 65536 * MIB;
    const std::string path = file("big", "");
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, SIZE), 0);
    for (off_t at = SIZE - 16 * MIB; at <= SIZE; at += MIB)
        ASSERT_EQ(pwrite(fd, "\n", 1, at - 1), 1);
    ASSERT_EQ(pwrite(fd, "last\n", 5, SIZE), 5);
    close(fd);

    pty_session s;
    ASSERT_TRUE(start(s, {"-M", "+G", "big"}, window(ROWS, 80)));
    ASSERT_TRUE(s.wait_for_text("Calculating line numbers... (interrupt to abort)", 15000));
    s.signal(SIGINT);
    ASSERT_TRUE(bottom_is(s, "Line numbers turned off  (press RETURN)"));
    s.send("\r");
    const std::string size = std::to_string(SIZE + 5);
    ASSERT_TRUE(bottom_is(s, "big byte " + size + "/" + size + " (END)"));
    EXPECT_EQ(s.row_text(ROWS - 2), "last");
    quit(s);
}

} // namespace
