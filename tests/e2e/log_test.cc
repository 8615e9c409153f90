// Whole runs of the viewer on a piped standard input with a log file: what
// the log holds at the end, the question about an existing log, failures
// to create one, and naming or showing the log while viewing.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int LAST_TEXT_ROW = 8;    // of the ten-row window
constexpr const char *QUESTION = "Overwrite, Append, or Don't log? ";

size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

class Log : public viewer_test {
protected:
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::permissions(path("locked"), std::filesystem::perms::owner_all, ec);
        viewer_test::TearDown();
    }

    bool exists(const std::string &name) const { return std::filesystem::exists(path(name)); }
    std::string log_text(const std::string &name = "pipe.log") const
    {
        return read_file(path(name));
    }

    // The viewer reading a pipe fed by the test.
    bool start_piped(pty_session &s, const std::vector<std::string> &args)
    {
        pty_options o = window();
        o.stdin_pipe = true;
        return start(s, args, o);
    }

    // The same, with all of input in the pipe and then its end.
    bool start_piped(pty_session &s, const std::vector<std::string> &args,
                     const std::string &input)
    {
        if (!start_piped(s, args))
            return false;
        s.write_stdin(input);
        s.close_stdin();
        return true;
    }
};

// Wait for text in the bytes written, where the screen may have wrapped it.
::testing::AssertionResult wrote(pty_session &s, const std::string &text)
{
    if (s.wait_for([&] { return s.output().find(text) != std::string::npos; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << text << "\" in the output:\n"
                                         << s.output();
}

// Read the pipe to its end with G, then quit; the log is then complete.
void read_all_and_quit(pty_session &s)
{
    s.send("G");
    ASSERT_TRUE(bottom_ends_with(s, "(END)"));
    quit(s);
}

// Messages written before the first screen make it wait for RETURN.
void dismiss_start_messages(pty_session &s)
{
    ASSERT_TRUE(bottom_ends_with(s, "  (press RETURN)"));
    s.send("\r");
}

// ---------------------------------------------------------------------------
// Logging from the start

TEST_F(Log, NulBytesReachTheLogWhileTheScreenShowsAt)
{
    const std::string input = std::string("ab\0cd\n", 6) + numbered(2, 30) +
                              std::string("\0\0end\n", 6);
    pty_session s;
    ASSERT_TRUE(start_piped(s, {"-lpipe.log"}, input));
    ASSERT_TRUE(row_is(s, 0, "ab@cd"));
    EXPECT_TRUE(row_is(s, 1, "line 2."));
    s.send("G");
    ASSERT_TRUE(row_is(s, LAST_TEXT_ROW, "@@end"));
    ASSERT_TRUE(bottom_ends_with(s, "(END)"));
    quit(s);
    EXPECT_EQ(log_text(), input);
    // The end had been read, so there was nothing left to copy at the end.
    EXPECT_EQ(s.output().find("finishing logfile"), std::string::npos);
}

TEST_F(Log, QuittingEarlyCopiesTheRestOfTheLongPipe)
{
    const std::string input = numbered(1, 100000);     // over a megabyte
    pty_session s;
    ASSERT_TRUE(start_piped(s, {"-lpipe.log"}, input));
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    ASSERT_TRUE(bottom_is(s, ":"));
    quit(s, 30000);
    EXPECT_NE(s.output().find("finishing logfile... (interrupt to abort)"), std::string::npos);
    std::string log = log_text();
    EXPECT_EQ(log.size(), input.size());
    EXPECT_TRUE(log == input);
}

TEST_F(Log, NamedFileIsNotLogged)
{
    file("notes", numbered(1, 40));
    pty_session s;
    ASSERT_TRUE(start(s, {"-lpipe.log", "notes"}));
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    // Naming a log while viewing a file is refused too.
    s.send("-l");
    ASSERT_TRUE(gives_message(s, "other.log\r", "input is not a pipe"));
    read_all_and_quit(s);
    EXPECT_FALSE(exists("pipe.log"));
    EXPECT_FALSE(exists("other.log"));
}

// Going on from the pipe to a named file completes the log with the rest
// of the pipe, and nothing of the file reaches it.
TEST_F(Log, LeavingThePipeCompletesTheLog)
{
    const std::string input = numbered(1, 50000);
    file("notes", numbered(1, 40, "note"));
    pty_session s;
    ASSERT_TRUE(start_piped(s, {"-lpipe.log", "-", "notes"}, input));
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    s.send(":n");
    ASSERT_TRUE(row_is(s, 0, "note 1."));
    EXPECT_NE(s.output().find("finishing logfile"), std::string::npos);
    read_all_and_quit(s);
    std::string log = log_text();
    EXPECT_EQ(log.size(), input.size());
    EXPECT_TRUE(log == input);
}

// ---------------------------------------------------------------------------
// An existing log file

TEST_F(Log, AnswersToTheQuestionAboutAnExistingLog)
{
    const std::string old_log = "old log\n";
    const std::string input = numbered(1, 30);
    struct answer_case {
        std::string keys;           // the answers typed, in order
        std::string log;            // the log afterwards
        size_t questions;           // times the question was asked
    };
    const std::vector<answer_case> cases = {
        {"A", old_log + input, 1},
        {"a", old_log + input, 1},
        {"o", input, 1},
        {"O", input, 1},
        {"d", old_log, 1},
        {"D", old_log, 1},
        {"Q", old_log, 2},          // then d
        {"xQo", input, 3},
    };
    for (const answer_case &c : cases) {
        SCOPED_TRACE(c.keys);
        file("pipe.log", old_log);
        pty_session s;
        ASSERT_TRUE(start_piped(s, {"-lpipe.log"}, input));
        ASSERT_TRUE(wrote(s, "WARNING: log file exists: pipe.log"));
        for (size_t i = 0; i < c.keys.size(); i++) {
            ASSERT_TRUE(s.wait_for([&] { return count_of(s.output(), QUESTION) == i + 1; }))
                << s.output();
            s.send(c.keys.substr(i, 1));
        }
        if (c.keys.back() == 'Q') {
            ASSERT_TRUE(s.wait_for([&] { return count_of(s.output(), QUESTION) == c.questions; }));
            s.send("d");
        }
        dismiss_start_messages(s);
        ASSERT_TRUE(row_is(s, 0, "line 1."));
        read_all_and_quit(s);
        EXPECT_EQ(count_of(s.output(), QUESTION), c.questions);
        EXPECT_EQ(count_of(s.output(), "WARNING: log file exists"), 1u);
        EXPECT_LT(s.output().find("WARNING: log file exists"), s.output().find(QUESTION));
        EXPECT_EQ(log_text(), c.log);
    }
}

// An interrupt or a stop at the question is dealt with, and the question
// is asked once more and waits for its answer.
TEST_F(Log, SignalAtTheQuestionAsksItAgain)
{
    const std::string input = numbered(1, 3000);
    for (bool at_start : {true, false}) {
        SCOPED_TRACE(at_start ? "at start, interrupt" : "while viewing, stop");
        file("pipe.log", "old log\n");
        pty_session s;
        ASSERT_TRUE(start_piped(s, at_start ? std::vector<std::string>{"-lpipe.log"}
                                            : std::vector<std::string>{},
                                input));
        if (!at_start) {
            ASSERT_TRUE(row_is(s, 0, "line 1."));
            s.send("-lpipe.log\r");
            ASSERT_TRUE(bottom_is(s, message("WARNING: log file exists: pipe.log")));
            s.send("\r");
        }
        ASSERT_TRUE(s.wait_for([&] { return count_of(s.output(), QUESTION) == 1; }));
        if (at_start) {
            s.send_ctrl('c');
        } else {
            s.send_ctrl('z');
            ASSERT_TRUE(s.wait_stopped());
            ASSERT_TRUE(s.signal(SIGCONT));
            ASSERT_TRUE(s.wait_continued());
        }
        ASSERT_TRUE(s.wait_for([&] { return count_of(s.output(), QUESTION) == 2; }));
        ASSERT_TRUE(s.wait_quiet());
        EXPECT_EQ(count_of(s.output(), QUESTION), 2u);
        s.send("o");
        if (at_start)
            dismiss_start_messages(s);
        ASSERT_TRUE(row_is(s, 0, "line 1."));
        read_all_and_quit(s);
        EXPECT_TRUE(log_text() == input);
    }
}

TEST_F(Log, QuitAtTheQuestionEndsTheViewer)
{
    file("pipe.log", "old log\n");
    pty_session s;
    ASSERT_TRUE(start_piped(s, {"-lpipe.log"}, numbered(1, 30)));
    ASSERT_TRUE(wrote(s, QUESTION));
    quit(s);
    EXPECT_EQ(s.output().find("line 1."), std::string::npos);
    EXPECT_EQ(log_text(), "old log\n");
}

TEST_F(Log, WarningCutsALongNameTo72Characters)
{
    const std::string name(100, 'n');
    file(name, "old log\n");
    pty_session s;
    ASSERT_TRUE(start_piped(s, {"-l" + name}, numbered(1, 30)));
    ASSERT_TRUE(wrote(s, QUESTION));
    const std::string warning = "WARNING: log file exists: " + name.substr(0, 72);
    size_t at = s.output().find(warning);
    ASSERT_NE(at, std::string::npos) << s.output();
    EXPECT_NE(s.output()[at + warning.size()], 'n');
    s.send("d");
    dismiss_start_messages(s);
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    read_all_and_quit(s);
    EXPECT_EQ(read_file(path(name)), "old log\n");
}

TEST_F(Log, CapitalLReplacesWithoutAsking)
{
    const std::string input = numbered(1, 30);
    file("pipe.log", "old log, longer than nothing at all\n");
    pty_session s;
    ASSERT_TRUE(start_piped(s, {"-Lpipe.log"}, input));
    // No message before the first screen, so it does not wait.
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    ASSERT_TRUE(bottom_is(s, ":"));
    read_all_and_quit(s);
    EXPECT_EQ(s.output().find("WARNING"), std::string::npos);
    EXPECT_EQ(s.output().find(QUESTION), std::string::npos);
    EXPECT_EQ(log_text(), input);
}

// ---------------------------------------------------------------------------
// A log that cannot be created

TEST_F(Log, LogThatCannotBeCreatedLeavesViewingGoing)
{
    std::vector<std::string> names = {
        path("missing/pipe.log"),
        // Longer than any fixed message buffer: the message is not cut.
        path("missing/" + std::string(150, 'l') + ".log"),
    };
    // A directory without write permission stops only an ordinary user.
    if (geteuid() != 0) {
        subdir("locked");
        chmod(path("locked").c_str(), 0555);
        names.push_back(path("locked/pipe.log"));
    }
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        pty_session s;
        ASSERT_TRUE(start_piped(s, {"-l" + name}, numbered(1, 30)));
        ASSERT_TRUE(wrote(s, "Cannot write to \"" + name + "\""));
        dismiss_start_messages(s);
        ASSERT_TRUE(row_is(s, 0, "line 1."));
        // No log is open, so the viewer says so.
        s.send("_l");
        ASSERT_TRUE(bottom_is(s, "no log file  (press RETURN)"));
        s.send("\r");
        read_all_and_quit(s);
        EXPECT_FALSE(std::filesystem::exists(name));
    }
}

// ---------------------------------------------------------------------------
// Naming and showing the log while viewing

TEST_F(Log, LogNamedWhileViewingGetsBufferedPartThenTheRest)
{
    // The first part is read for the first screen and logged from the
    // buffers, the second as it is read: NUL bytes reach the log as NUL
    // both ways.
    const std::string first = std::string("ab\0cd\n", 6) + numbered(2, 20);
    const std::string second = numbered(21, 3000) + std::string("x\0y\n", 4) + numbered(3001, 9000);
    pty_session s;
    ASSERT_TRUE(start_piped(s, {}));
    s.write_stdin(first);
    ASSERT_TRUE(row_is(s, 0, "ab@cd"));
    ASSERT_TRUE(bottom_is(s, ":"));

    ASSERT_TRUE(gives_message(s, "_l", "no log file"));

    s.send("-l");
    s.send("pipe.log\r");
    ASSERT_TRUE(bottom_is(s, ":"));
    ASSERT_TRUE(gives_message(s, "_l", "log file \"pipe.log\""));

    // One log at a time.
    s.send("-l");
    ASSERT_TRUE(gives_message(s, "second.log\r", "log file is already in use"));

    s.write_stdin(second);
    s.close_stdin();
    read_all_and_quit(s);
    std::string expected = first + second;
    std::string log = log_text();
    EXPECT_EQ(log.size(), expected.size());
    EXPECT_TRUE(log == expected);
    EXPECT_FALSE(exists("second.log"));
    EXPECT_EQ(s.output().find("finishing logfile"), std::string::npos);
}

TEST_F(Log, LogNamedWhileViewingThenQuitCopiesTheRest)
{
    const std::string first = numbered(1, 20);
    const std::string second = numbered(21, 50000);
    pty_session s;
    ASSERT_TRUE(start_piped(s, {}));
    s.write_stdin(first);
    ASSERT_TRUE(row_is(s, 0, "line 1."));
    ASSERT_TRUE(bottom_is(s, ":"));
    s.send("-L");
    s.send("pipe.log\r");
    ASSERT_TRUE(bottom_is(s, ":"));
    ASSERT_TRUE(gives_message(s, "_L", "log file \"pipe.log\""));
    s.write_stdin(second);
    s.close_stdin();
    quit(s, 30000);
    EXPECT_NE(s.output().find("finishing logfile"), std::string::npos);
    std::string log = log_text();
    EXPECT_EQ(log.size(), first.size() + second.size());
    EXPECT_TRUE(log == first + second);
}

} // namespace
