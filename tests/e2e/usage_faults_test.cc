// Faults a new user runs into: files that cannot be opened, the screen
// around errors, stops and shell commands, text from outside, waits on a
// pipe, and keys that send control sequences.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class UsageFaults : public viewer_test {
protected:
    bool start_piped(pty_session &s, const std::string &input)
    {
        return start_piped(s, input, window());
    }
    bool start_piped(pty_session &s, const std::string &input, pty_options o,
                     const std::vector<std::string> &args = {})
    {
        o.stdin_pipe = true;
        if (!start(s, args, o))
            return false;
        s.write_stdin(input);           // and the pipe stays open
        return true;
    }
};

const std::string WAITING = "Waiting for data... (interrupt to stop)";

// A file that cannot be opened counts as tried: the next move goes on from
// it, while the prompt keeps naming the file shown.
TEST_F(UsageFaults, MovesGoOnFromAnEntryThatFailed)
{
    file("a", numbered(1, 3, "a"));
    file("c", numbered(1, 3, "c"));
    const std::string nosuch = "nosuch: No such file or directory";
    struct move_case {
        std::vector<std::string> args;
        std::string first, failure, again, prompt;
    };
    for (const move_case &m : std::vector<move_case>{
             {{"a", "nosuch", "c"}, ":n", nosuch, ":n", "c (file 3 of 3) (END)"},
             {{"-e", "a", "nosuch", "c"}, " ", nosuch, " ", "c (file 3 of 3) (END)"},
             {{"a", "-"}, ":n", "Can't take input from a terminal", ":p",
              "a (file 1 of 2) (END) - Next: -"}}) {
        SCOPED_TRACE(m.args[0] + " " + m.first);
        pty_session s;
        ASSERT_TRUE(start(s, m.args));
        ASSERT_TRUE(s.wait_for_text("a 3."));
        s.send(m.first);
        ASSERT_TRUE(bottom_is(s, message(m.failure)));
        ASSERT_TRUE(dismiss(s));
        s.send(m.again);
        ASSERT_TRUE(bottom_is(s, m.prompt));
        quit(s);
    }
}

// The row of a squeezed run of blank lines stands at its last line.
TEST_F(UsageFaults, SqueezedRunAtTheEndStandsAtItsLastLine)
{
    std::string text = "\n\n\nA\n\n\nB\n";
    for (int i = 1; i <= 40; i++)
        text += "line 00" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\n";
    pty_session s;
    ASSERT_TRUE(start(s, {"-s", "-P%bt %bb %bB", file("f", text + "C\n\n\n\n")}, window(24)));
    s.send("G");
    ASSERT_TRUE(bottom_is(s, "199 413 414"));
    s.send("k");
    ASSERT_TRUE(bottom_is(s, "189 409 413"));
    quit(s);
}

// An error before the first screen leaves the cursor below the message and
// ends no screen mode that was never entered. Names from outside reach
// standard error in caret form, as they would reach the screen.
TEST_F(UsageFaults, StartUpErrorsLeaveTheShellsLinesAlone)
{
    file("tags", "t\tno\033]0;pwned\007such\t/^x$/\n");
    struct early_case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const early_case &c : std::vector<early_case>{
             {{"no\033]0;pwned\007such"}, "no^[]0;pwned^Gsuch: No such file or directory"},
             {{subdir("d\033[2J")}, path("d^[[2J is a directory")},
             {{"-tt"}, "no^[]0;pwned^Gsuch: No such file or directory"},
             {{}, "Can't take input from a terminal"}}) {
        SCOPED_TRACE(c.message);
        pty_session s;
        ASSERT_TRUE(start(s, c.args));
        expect_exit(s, 1);
        EXPECT_EQ(s.row_text(0), c.message);
        EXPECT_EQ(s.cursor().row, 1);
        EXPECT_EQ(s.output().find("\033]0;"), std::string::npos);
        EXPECT_EQ(s.output().find("\033[?1049l"), std::string::npos);
    }
}

// A tab in a prompt or a message moves to the next tab stop. A shell
// command's output stays in sight, "!done" below it, until that is answered.
TEST_F(UsageFaults, PromptsMessagesAndShellOutput)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-Pa\tb", file("x\ty", numbered(1, 30))}));
    ASSERT_TRUE(bottom_is(s, "a       b"));
    s.send("=");
    ASSERT_TRUE(bottom_has(s, "x       y line 1 "));
    ASSERT_TRUE(dismiss(s));
    s.send("!echo from the shell\r");
    ASSERT_TRUE(s.wait_for_text("!done"));
    EXPECT_EQ(s.row_text(s.cursor().row), message("!done"));
    EXPECT_EQ(s.row_text(s.cursor().row - 1), "from the shell");
    EXPECT_EQ(s.screen_text().find("line 1."), std::string::npos);
    // A new window size is no answer.
    ASSERT_TRUE(s.resize(20, 80));
    ASSERT_TRUE(s.wait_quiet());
    EXPECT_NE(s.screen_text().find("from the shell"), std::string::npos);
    s.send("\r");
    ASSERT_TRUE(top_is(s, "line 1."));

    // The window made smaller while a command runs: the screen is painted
    // to the new size afterwards.
    std::string go = path("go");
    s.send("!echo started; while [ ! -e '" + go + "' ]; do sleep 0.02; done\r");
    // The command's own output, not its echo on the bottom line.
    ASSERT_TRUE(s.wait_for([&] { return s.screen_text().find("\nstarted\n") != std::string::npos; }));
    ASSERT_TRUE(s.resize(12, 80));
    file("go", "");
    ASSERT_TRUE(s.wait_for_text("!done"));
    s.send("\r");
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    ASSERT_TRUE(row_is(s, 10, "line 11."));
    quit(s);
}

// A name that begins with '-' or '+' reaches the editor as ./name.
TEST_F(UsageFaults, EditorGetsNamesThatCannotBeOptions)
{
    const std::string editor = file("editor", "#!/bin/sh\nprintf '%s\\n' \"$@\" > args\n");
    ASSERT_EQ(chmod(editor.c_str(), 0755), 0);
    pty_options o = window();
    o.env = {"EDITOR=" + editor};
    pty_session s;
    ASSERT_TRUE(start(s, {file("notes", numbered(1, 30))}, o));
    for (const std::string &name : std::vector<std::string>{"+:!touch pwned", "-rf", path("-abs")}) {
        SCOPED_TRACE(name);
        file(name.substr(name.rfind('/') + 1), numbered(1, 30, name));
        s.send(":e" + name + "\rv");
        std::string given = (name[0] == '/' ? "" : "./") + name + "\n";
        ASSERT_TRUE(s.wait_for([&] { return read_file(path("args")) == given; }));
    }
    quit(s);
}

// Once a wait on a pipe is shown, a key ends it and is taken as a command;
// keys typed before stay queued for after it.
TEST_F(UsageFaults, KeysEndAWaitOnAPipeOnceItIsShown)
{
    {
        pty_session s;
        ASSERT_TRUE(start_piped(s, "first\n"));
        ASSERT_TRUE(bottom_is(s, WAITING));
        EXPECT_EQ(s.row_text(8), "first");
        s.send("q");
        expect_exit(s, 0);
    }
    {
        // Typing a search pattern waits for no data: the keys stay its own.
        pty_session s;
        ASSERT_TRUE(start_piped(s, numbered(1, 30)));
        ASSERT_TRUE(s.wait_for_text("line 9."));
        s.send("/x");
        ASSERT_TRUE(s.wait_quiet(500));
        s.send("y");
        ASSERT_TRUE(bottom_is(s, "/xy"));
    }
    pty_session s;
    ASSERT_TRUE(start_piped(s, ""));
    s.send("j");
    s.write_stdin("first\n");
    ASSERT_TRUE(bottom_is(s, WAITING));
    s.write_stdin(numbered(1, 20));
    s.close_stdin();
    ASSERT_TRUE(top_is(s, "line 1."));
    quit(s);
}

// A jump that waits on a pipe and is ended by a key or an interrupt shows
// the new place with what has arrived below it; G shows the last screen of
// what has arrived while it waits for the rest.
TEST_F(UsageFaults, JumpsEndedWhileWaitingShowWhatHasArrived)
{
    struct jump_case {
        std::string keys, ender;
    };
    pty_session s;
    ASSERT_TRUE(start_piped(s, numbered(1, 30)));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    for (const jump_case &c : std::vector<jump_case>{{"/line 25\r", "j"},
                                                     {"25g", pty_session::ctrl('c')},
                                                     {"'a", "j"},
                                                     {"''", pty_session::ctrl('c')}}) {
        SCOPED_TRACE(c.keys);
        s.send(c.keys);
        ASSERT_TRUE(bottom_is(s, WAITING));
        // Meanwhile too: no rows of the old screen above the new place.
        EXPECT_EQ(s.row_text(0), "line 25.");
        s.send(c.ender);
        ASSERT_TRUE(top_is(s, "line 25."));
        EXPECT_EQ(s.row_text(5), "line 30.");
        s.send("mag");
        ASSERT_TRUE(top_is(s, "line 1."));
    }
    s.write_stdin(numbered(31, 100));
    ASSERT_TRUE(s.wait_quiet());
    s.send("G");
    ASSERT_TRUE(bottom_is(s, WAITING));
    EXPECT_EQ(s.row_text(0), "line 92.");
    s.send("''");
    ASSERT_TRUE(top_is(s, "line 1."));
    quit(s);
}

// The notice of a wait neither wraps nor leaves rows out of place on a
// terminal that cannot save the cursor.
TEST_F(UsageFaults, WaitNoticeKeepsTheScreenInPlace)
{
    {
        pty_session s;
        ASSERT_TRUE(start_piped(s, "first\n", window(6, 20)));
        ASSERT_TRUE(bottom_is(s, "Waiting for data..."));
        EXPECT_EQ(s.row_text(4), "first");
        s.send("q");
        expect_exit(s, 0);
    }
    pty_options o = window();
    o.term = "ansi";
    pty_session s;
    ASSERT_TRUE(start_piped(s, numbered(1, 5), o, {"-C"}));
    ASSERT_TRUE(bottom_is(s, WAITING));
    s.write_stdin(numbered(6, 40));
    ASSERT_TRUE(rows_are(s, {"line 1.", "line 2.", "line 3.", "line 4.", "line 5.", "line 6.",
                             "line 7.", "line 8.", "line 9."}));
    quit(s);
}

// A read of a pipe that goes on without ever waiting long is ended by a key
// typed once it has lasted, and the key is taken as a command.
TEST_F(UsageFaults, KeyEndsALongReadOfAPipe)
{
    pty_session s;
    ASSERT_TRUE(s.start({"/bin/sh", "-c", "while :; do echo x; sleep 0.02; done | " QUOREL_BIN},
                        window()));
    ASSERT_TRUE(top_is(s, "x"));
    s.send("G");
    ASSERT_TRUE(s.wait_quiet(500));
    s.send("q");
    expect_exit(s, 0);
}

// Keys with modifiers act as the keys without them; a control sequence no
// table knows is taken whole and rings the bell once.
TEST_F(UsageFaults, ModifiersAreDroppedAndUnknownSequencesTakenWhole)
{
    struct key_case {
        std::string keys, top;
        int bells;
    };
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}));
    for (const key_case &c : std::vector<key_case>{
             {"\033[6;3~", "10", 0}, {"\033O1;5B", "11", 0}, {"\033[1;2A", "10", 0},
             {"\033[1;5F", "52", 0}, {"\033[1;5H", "1", 0}, {"\033[2~", "1", 1},
             {"\033[15;5~", "1", 1}, {"\033[1;9A", "1", 1}}) {
        SCOPED_TRACE(c.keys.substr(1));
        int bells = s.bell_count();
        s.send(c.keys + "=");
        ASSERT_TRUE(bottom_has(s, " line " + c.top + " byte"));
        EXPECT_EQ(s.bell_count(), bells + c.bells);
        ASSERT_TRUE(dismiss(s));
    }
    quit(s);
}

} // namespace
