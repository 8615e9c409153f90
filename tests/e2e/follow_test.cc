// Whole runs of the viewer in follow mode: a growing file and a pipe kept
// open, new lines on the screen as they come, no CPU time while nothing
// does, and the interrupt back to normal paging.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr int BOTTOM = 9;           // nine text rows above it
const std::string WAITING = "Waiting for data... (interrupt to abort)";

class Follow : public viewer_test {};

// User plus system CPU time of a process, in clock ticks: fields 14 and 15
// of its stat line, counted after the command name in parentheses.
long cpu_ticks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line, field;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; i++)
        if (i >= 14)
            ticks += std::stol(field);
    return ticks;
}

// A second passes with nothing on the screen; a busy loop would spend
// about 100 ticks of it.
::testing::AssertionResult idles(pty_session &s)
{
    long before = cpu_ticks(s.pid());
    if (!s.wait_quiet(1000))
        return ::testing::AssertionFailure() << "the screen never settled";
    long spent = cpu_ticks(s.pid()) - before;
    if (spent > 10)
        return ::testing::AssertionFailure() << spent << " ticks spent while waiting";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult stop_following(pty_session &s)
{
    s.send_ctrl('c');
    if (s.wait_for_row(BOTTOM, [](const std::string &t) { return t != WAITING; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "still following:\n" << s.screen_text();
}

TEST_F(Follow, GrowingFileThenTruncated)
{
    std::string log = file("log", numbered(1, 20));
    auto append = [&](const std::string &bytes) { std::ofstream(log, std::ios::app) << bytes; };
    pty_session s;
    ASSERT_TRUE(start(s, {"log"}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("F");
    ASSERT_TRUE(bottom_is(s, WAITING));
    EXPECT_EQ(s.row_text(BOTTOM - 1), "line 20.");
    EXPECT_TRUE(idles(s));

    append(numbered(21, 23));
    ASSERT_TRUE(row_is(s, BOTTOM - 1, "line 23."));
    EXPECT_EQ(s.row_text(0), "line 15.");
    // Shorter than before: read again from the start.
    file("log", numbered(1, 3, "fresh"));
    ASSERT_TRUE(bottom_is(s, "File truncated"));
    ASSERT_TRUE(row_is(s, 2, "fresh 3."));
    ASSERT_TRUE(stop_following(s));
    s.send("g");
    ASSERT_TRUE(bottom_is(s, "(END)"));
    EXPECT_EQ(s.row_text(0), "fresh 1.");
    quit(s);

    // Without follow mode, a file that grew past the end met: G shows the
    // new last screen whole.
    file("short", numbered(1, 3));
    pty_session g;
    ASSERT_TRUE(start(g, {"short"}));
    ASSERT_TRUE(g.wait_for_text("line 3."));
    std::ofstream(path("short"), std::ios::app) << numbered(4, 12);
    g.send("G");
    ASSERT_TRUE(row_is(g, 0, "line 4."));
    EXPECT_EQ(g.row_text(BOTTOM - 1), "line 12.") << g.screen_text();
    quit(g);
}

TEST_F(Follow, PipeKeptOpenIsReadAsDataComes)
{
    pty_session s;
    pty_options o = window();
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {"-lcopy"}, o));
    std::string sent = numbered(1, 20);
    s.write_stdin(sent);
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send("F");
    ASSERT_TRUE(bottom_is(s, WAITING));
    ASSERT_TRUE(row_is(s, BOTTOM - 1, "line 20."));
    EXPECT_TRUE(idles(s));
    // Everything read reaches the log at once; a line that comes in two
    // pieces ends up as one row.
    for (const std::string &more : {numbered(21, 22), std::string("part"), std::string("ial\n")}) {
        s.write_stdin(more);
        sent += more;
        ASSERT_TRUE(s.wait_for([&] { return read_file(path("copy")) == sent; }));
    }
    ASSERT_TRUE(row_is(s, BOTTOM - 1, "partial"));
    EXPECT_EQ(s.row_text(BOTTOM - 2), "line 22.");
    EXPECT_TRUE(idles(s));

    // Back to paging at the end of what was read, the pipe still open.
    ASSERT_TRUE(stop_following(s));
    s.send("k");
    ASSERT_TRUE(row_is(s, BOTTOM - 1, "line 22."));
    s.close_stdin();
    quit(s);
}

// A key typed while following ends it without the bell and is the next
// command: the bottom line opens for / and &, F follows again, q quits.
TEST_F(Follow, KeysTypedWhileFollowingAreCommands)
{
    file("log", numbered(1, 20));
    for (bool piped : {false, true}) {
        SCOPED_TRACE(piped ? "pipe" : "file, +F");
        pty_session s;
        pty_options o = window();
        o.stdin_pipe = piped;
        std::vector<std::string> args;
        if (!piped)
            args = {"+F", "log"};
        ASSERT_TRUE(start(s, args, o));
        if (piped) {
            s.write_stdin(numbered(1, 20));
            ASSERT_TRUE(s.wait_for_text("line 9."));
            s.send("F");
        }
        ASSERT_TRUE(bottom_is(s, WAITING));
        int bells = s.bell_count();
        for (const char *key : {"/", "&"}) {
            s.send(key);
            ASSERT_TRUE(bottom_is(s, key));
            s.send("\x1b");
            ASSERT_TRUE(bottom_is(s, "(END)"));
            s.send("F");
            ASSERT_TRUE(bottom_is(s, WAITING));
        }
        quit(s, 2000);
        EXPECT_EQ(s.bell_count(), bells);
    }
}

} // namespace
