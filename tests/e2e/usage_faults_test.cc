// Faults a new user runs into: moving past a file that cannot be opened,
// the screen around suspension, shell commands and early errors, text from
// outside on standard error, the editor's arguments, waits on a pipe that
// ignore keys, and keys that send control sequences.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class FileList : public viewer_test {};

// A file that cannot be opened counts as tried: the next move goes on from
// it, while the prompt keeps naming the file shown.
TEST_F(FileList, MovesGoOnFromAnEntryThatFailed)
{
    file("a", numbered(1, 3, "a"));
    file("c", numbered(1, 3, "c"));
    const std::string nosuch = "nosuch: No such file or directory";
    struct move_case {
        std::vector<std::string> args;
        std::string first, failure, again, prompt;
    };
    const std::vector<move_case> cases = {
        {{"a", "nosuch", "c"}, ":n", nosuch, ":n", "c (file 3 of 3) (END)"},
        {{"-e", "a", "nosuch", "c"}, " ", nosuch, " ", "c (file 3 of 3) (END)"},
        {{"a", "-"}, ":n", "Can't take input from a terminal", ":p",
         "a (file 1 of 2) (END) - Next: -"},
    };
    for (const move_case &m : cases) {
        SCOPED_TRACE(m.args[0] + " " + m.first);
        pty_session s;
        ASSERT_TRUE(start(s, m.args));
        ASSERT_TRUE(s.wait_for_text("a 3."));
        s.send(m.first);
        ASSERT_TRUE(bottom_is(s, message(m.failure)));
        ASSERT_TRUE(dismiss(s));
        s.send(m.again);
        ASSERT_TRUE(bottom_is(s, m.prompt));
        if (m.again == ":n") {
            // And back from c, the failed entry is tried again.
            s.send(":p");
            ASSERT_TRUE(bottom_is(s, message(nosuch)));
            ASSERT_TRUE(dismiss(s));
            EXPECT_EQ(s.row_text(9), "(END) - Next: c");
        }
        quit(s);
    }
}

class ScreenUse : public viewer_test {};

// The row of a squeezed run of blank lines stands for the whole run, up to
// its last line, whichever way the screen was painted.
TEST_F(ScreenUse, SqueezedRunAtTheEndStandsAtItsLastLine)
{
    std::string text = "\n\n\nA\n\n\nB\n";
    for (int i = 1; i <= 40; i++)
        text += "line " + std::string(i < 10 ? "000" : "00") + std::to_string(i) + "\n";
    file("f", text + "C\n\n\n\n");
    for (const char *to_end : {"G", " "}) {
        SCOPED_TRACE(to_end);
        pty_session s;
        ASSERT_TRUE(start(s, {"-s", "-P%bt %bb %bB", "f"}, window(24, 80)));
        ASSERT_TRUE(bottom_is(s, "0 189 199"));
        s.send(to_end);
        ASSERT_TRUE(bottom_is(s, "199 413 414"));
        s.send("k");
        ASSERT_TRUE(bottom_is(s, "189 409 413"));
        quit(s);
    }
}

// An error before the first screen leaves the shell's lines alone: no
// move to the bottom line and no end of a screen mode never entered.
TEST_F(ScreenUse, ErrorBeforeTheFirstScreenSendsNoEndStrings)
{
    subdir("dir");
    struct early_error {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<early_error> cases = {
        {{"nosuch"}, "nosuch: No such file or directory"},
        {{"dir"}, "dir is a directory"},
        {{}, "Can't take input from a terminal"},
    };
    for (const early_error &e : cases) {
        SCOPED_TRACE(e.message);
        pty_session s;
        ASSERT_TRUE(start(s, e.args));
        expect_exit(s, 1);
        EXPECT_EQ(s.row_text(0), e.message);
        EXPECT_EQ(s.cursor().row, 1);
        EXPECT_EQ(s.output().find("\033[?1049l"), std::string::npos);
    }
}

// In prompts and messages a tab goes out as a tab; the driver expands it.
TEST_F(ScreenUse, TabInPromptOrMessageGoesOutAsATab)
{
    file("x\ty", numbered(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {"-Pa\tb", "x\ty"}));
    ASSERT_TRUE(bottom_is(s, "a       b"));
    s.send("=");
    ASSERT_TRUE(bottom_has(s, "x       y line 1 "));
    ASSERT_TRUE(dismiss(s));
    quit(s);
}

// A shell command's output stays in sight, with "!done" below it, until
// the message is answered; only then does the screen come back.
TEST_F(ScreenUse, ShellOutputStaysInSightUntilAnswered)
{
    file("notes", numbered(1, 30));
    pty_session s;
    ASSERT_TRUE(start(s, {"notes"}));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("!echo from the shell\r");
    ASSERT_TRUE(s.wait_for_text("!done"));
    int row = s.cursor().row;
    EXPECT_EQ(s.row_text(row), message("!done"));
    EXPECT_EQ(s.row_text(row - 1), "from the shell");
    EXPECT_EQ(s.screen_text().find("line 1."), std::string::npos);
    s.send("\r");
    ASSERT_TRUE(top_is(s, "line 1."));
    ASSERT_TRUE(bottom_is(s, ":"));
    quit(s);
}

class OutsideText : public viewer_test {};

// Names from outside reach standard error before the first screen in caret
// form, as they would reach the screen: none of them sets the title.
TEST_F(OutsideText, StartUpMessagesShowNamesInCaretForm)
{
    file("notes", numbered(1, 30));
    subdir("d\033[2J");
    file("tags", "t\tno\033]0;pwned\007such\t/^x$/\n");
    struct early_case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<early_case> cases = {
        {{"no\033]0;pwned\007such", "notes"}, "no^[]0;pwned^Gsuch: No such file or directory"},
        {{"d\033[2J", "notes"}, "d^[[2J is a directory"},
        {{"-lnodir/\033]0;pwned\007"}, "Cannot write to \"nodir/^[]0;pwned^G\""},
        {{"-tt"}, "no^[]0;pwned^Gsuch: No such file or directory"},
    };
    for (const early_case &c : cases) {
        SCOPED_TRACE(c.message);
        pty_options o = window();
        o.stdin_pipe = c.args[0][1] == 'l';
        pty_session s;
        ASSERT_TRUE(start(s, c.args, o));
        if (o.stdin_pipe)
            s.close_stdin();
        ASSERT_TRUE(s.wait_for_text(c.message));
        EXPECT_EQ(s.output().find("\033]0;"), std::string::npos);
        s.send("q");
        s.wait_exit();
    }
}

// A name that begins with '-' or '+' reaches the editor as ./name, never
// as an option or a command; an absolute name as it is.
TEST_F(OutsideText, EditorGetsNamesThatCannotBeOptions)
{
    file("notes", numbered(1, 30));
    const std::string editor = file("editor", "#!/bin/sh\nprintf '%s\\n' \"$@\" > args\n");
    ASSERT_EQ(chmod(editor.c_str(), 0755), 0);
    const std::string absolute = path("-abs");
    struct name_case {
        std::string name, argument;
    };
    const std::vector<name_case> cases = {
        {"+:!touch pwned", "./+:!touch pwned"}, {"-rf", "./-rf"}, {absolute, absolute}};
    pty_options o = window();
    o.env = {"EDITOR=" + editor};
    pty_session s;
    ASSERT_TRUE(start(s, {"notes"}, o));
    for (const name_case &c : cases) {
        SCOPED_TRACE(c.name);
        file(c.name.substr(c.name.rfind('/') + 1), numbered(1, 30, "edited"));
        s.send(":e" + c.name + "\r");
        ASSERT_TRUE(top_is(s, "edited 1."));
        s.send("v");
        ASSERT_TRUE(s.wait_for([&] { return read_file(path("args")) == c.argument + "\n"; }));
        ASSERT_TRUE(top_is(s, "edited 1."));
    }
    EXPECT_FALSE(std::filesystem::exists(path("pwned")));
    quit(s);
}

class PipeWait : public viewer_test {
protected:
    bool start_piped(pty_session &s, const std::string &input)
    {
        pty_options o = window();
        o.stdin_pipe = true;
        if (!start(s, {}, o))
            return false;
        s.write_stdin(input);           // and the pipe stays open
        return true;
    }
};

const std::string WAITING = "Waiting for data... (interrupt to stop)";

// A wait on a pipe is shown once it has lasted; a key typed from then on
// ends it and is taken as a command, while keys typed before stay queued
// for after it.
TEST_F(PipeWait, KeysEndTheWaitOnceItIsShown)
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
        // G on a pipe that does not end shows the end of what has arrived.
        pty_session s;
        ASSERT_TRUE(start_piped(s, numbered(1, 30)));
        ASSERT_TRUE(s.wait_for_text("line 9."));
        s.send("G");
        ASSERT_TRUE(bottom_is(s, WAITING));
        s.send("=");
        ASSERT_TRUE(bottom_has(s, "(press RETURN)"));
        EXPECT_EQ(s.row_text(0), "line 22.");
        s.send("q");
        expect_exit(s, 0);
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

class KeySequences : public viewer_test {};

// Keys with modifiers act as the keys without them; a control sequence
// that no table knows is taken whole and rings the bell once, and none of
// its bytes runs as a command.
TEST_F(KeySequences, ModifiersAreDroppedAndUnknownSequencesTakenWhole)
{
    const std::string ESC = "\x1b";
    struct key_case {
        std::string keys, top;
        int bells;
    };
    const std::vector<key_case> cases = {
        {ESC + "[1;5F", "line 52.", 0}, {ESC + "[1;2A", "line 51.", 0},
        {ESC + "[1;5H", "line 1.", 0},  {ESC + "[6;3~", "line 10.", 0},
        {ESC + "O1;5B", "line 11.", 0}, {ESC + "[2~", "line 11.", 1},
        {ESC + "[15;5~", "line 11.", 1}, {ESC + "OP", "line 11.", 1},
        {ESC + "[1;9A", "line 11.", 1},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    for (const key_case &c : cases) {
        SCOPED_TRACE(c.keys.substr(1));
        int bells = s.bell_count();
        s.send(c.keys);
        ASSERT_TRUE(top_is(s, c.top));
        ASSERT_TRUE(s.wait_for_row(s.rows() - 1, [](const std::string &t) {
            return t == ":" || t == "(END)";
        })) << s.screen_text();
        ASSERT_TRUE(s.wait_quiet());
        EXPECT_EQ(s.bell_count(), bells + c.bells);
    }
    quit(s);
}

} // namespace
