// A command's output and errors as the input (--exec), and watching a file
// read again (--watch).
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>

namespace {

class Exec : public viewer_test {};

// Each line waits a moment so that the order it arrives in is the order
// it was written in, whichever stream it took.
constexpr const char *BOTH_STREAMS =
    "echo out 1; sleep 0.05; echo err 1 >&2; sleep 0.05; echo err 2 >&2; sleep 0.05; "
    "echo out 2; exit $0";

TEST_F(Exec, OutputAndErrorsInArrivalOrderAndTheExitStatus)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"--exec", "--", "sh", "-c", BOTH_STREAMS, "3"}));
    ASSERT_TRUE(rows_are(s, {"out 1", "err 1", "err 2", "out 2"}));
    ASSERT_TRUE(bottom_has(s, "exit 3"));
    // The error lines in a colour of their own, the others in the default.
    for (int row = 0; row < 4; row++)
        EXPECT_EQ(s.cell_attrs(row, 1).foreground != -1, row == 1 || row == 2) << "row " << row;
    quit(s);

    // A command that ends while the screen waits for a key: told at once.
    pty_session idle;
    ASSERT_TRUE(start(idle, {"--exec", "--", "sh", "-c", "seq 30; sleep 1; exit $0", "4"}));
    ASSERT_TRUE(row_is(idle, 0, "1"));
    ASSERT_TRUE(bottom_has(idle, "exit 4"));
    quit(idle);

    // With -N they carry a '!' after their number.
    pty_session numbered_session;
    ASSERT_TRUE(start(numbered_session, {"-N", "--exec", "--", "sh", "-c", BOTH_STREAMS, "3"}));
    ASSERT_TRUE(row_is(numbered_session, 1, "      2!err 1"));
    EXPECT_EQ(numbered_session.row_text(0), "      1 out 1");
    quit(numbered_session);

    // Copied, the two streams go out merged alike, and the status is the
    // command's.
    run_result r = run_program({QUOREL_BIN, "--exec", "--", "sh", "-c", BOTH_STREAMS, "3"});
    EXPECT_EQ(r.out, "out 1\nerr 1\nerr 2\nout 2\n");
    EXPECT_EQ(r.status, 3);
}

TEST_F(Exec, QuitEndsACommandThatIgnoresTermination)
{
    std::string pid_file = path("pid");
    pty_session s;
    ASSERT_TRUE(start(s, {"--exec", "--", "sh", "-c",
                          "echo $$ > " + pid_file + "; trap '' TERM; echo ready; "
                          "while :; do sleep 0.1; done"}));
    ASSERT_TRUE(row_is(s, 8, "ready"));
    ASSERT_TRUE(bottom_is(s, "Waiting for data... (interrupt to stop)"));
    int pid = std::stoi(read_file(pid_file));
    ASSERT_EQ(kill(pid, 0), 0);
    quit(s);
    // Killed after its second, and reaped: no such process any more.
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(Exec, ACommandThatCannotStartIsNamed)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"--exec", "--", "no-such-command-here", "x"}));
    expect_exit(s, 1);
    EXPECT_NE(s.output().find("no-such-command-here: command not found"), std::string::npos)
        << s.output();
    run_options secure;
    secure.env = {"QUOREL_SECURE=1"};
    run_result r = run_program({QUOREL_BIN, "--exec", "--", "sh", "-c", "echo no"}, secure);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("not available"), std::string::npos) << r.err;
}

// The file is read again in place, from the same top line (its end once
// that line is gone); a key ends watching and is the next command.
TEST_F(Exec, WatchShowsTheNewContentFromTheSameLine)
{
    std::string name = file("w.txt", numbered(1, 40));
    pty_session s;
    ASSERT_TRUE(start(s, {"--watch=0.2", "+10g", "w.txt"}));
    ASSERT_TRUE(top_is(s, "line 10."));
    ASSERT_TRUE(bottom_has(s, "Refreshed "));
    std::ofstream(name, std::ios::trunc) << numbered(1, 40, "new");
    ASSERT_TRUE(top_is(s, "new 10."));
    ASSERT_TRUE(bottom_has(s, "every 0.2 s"));
    // Shorter than the top line now: its end, and no message.
    std::ofstream(name, std::ios::trunc) << numbered(1, 5, "short");
    ASSERT_TRUE(row_is(s, 4, "short 5."));
    EXPECT_EQ(s.row_text(0), "short 1.");
    ASSERT_TRUE(bottom_has(s, "Refreshed "));
    std::ofstream(name, std::ios::trunc) << numbered(1, 40, "new");
    ASSERT_TRUE(row_is(s, 4, "new 5."));
    s.send("g");
    ASSERT_TRUE(top_is(s, "new 1."));
    ASSERT_TRUE(bottom_is(s, ":"));
    quit(s);

    run_result bad = run_program({QUOREL_BIN, "--watch=0.05", name});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("at least 0.1"), std::string::npos) << bad.err;
}

} // namespace
