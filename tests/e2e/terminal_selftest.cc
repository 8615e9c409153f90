// The terminal harness against the standard shell, so that a failing
// viewer test can be trusted to be the viewer's fault.
#include "tests/e2e/terminal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/e2e/subprocess.h"

namespace {

bool start_sh(pty_session &s, const std::string &script, pty_options o = {})
{
    return s.start({"/bin/sh", "-c", script}, o);
}

pty_options small_window()
{
    pty_options o;
    o.rows = 10;
    o.cols = 40;
    return o;
}

TEST(TerminalHarness, TextAttributesAndKeys)
{
    pty_session s;
    ASSERT_TRUE(start_sh(s,
        R"(printf '\033[1mbold\033[0m \033[4munder\033[0m \033[7mrev\033[0m plain\n';)"
        R"( read x; echo "got $x")", small_window()));
    ASSERT_TRUE(s.wait_for_text("plain"));
    EXPECT_EQ(s.row_text(0), "bold under rev plain");
    EXPECT_EQ(s.row_attrs(0), "bbbb uuuuu rrr");
    EXPECT_TRUE(s.cell_attrs(0, 0).bold);
    EXPECT_FALSE(s.cell_attrs(0, 0).underline);
    EXPECT_TRUE(s.cell_attrs(0, 5).underline);
    EXPECT_TRUE(s.cell_attrs(0, 11).reverse);
    EXPECT_FALSE(s.cell_attrs(0, 15).bold || s.cell_attrs(0, 15).reverse);

    s.send("hello\r");
    ASSERT_TRUE(s.wait_for_text("got hello"));
    EXPECT_EQ(s.row_text(1), "hello");
    EXPECT_EQ(s.row_text(2), "got hello");
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST(TerminalHarness, CursorScreenTextAndBell)
{
    pty_session s;
    ASSERT_TRUE(start_sh(s, R"(printf 'abc\n\tdef\a\a'; read x)", small_window()));
    ASSERT_TRUE(s.wait_for_row(1, [](const std::string &t) { return t == "        def"; }));
    EXPECT_EQ(s.cursor().row, 1);
    EXPECT_EQ(s.cursor().col, 11);
    EXPECT_EQ(s.screen_text(), "abc\n        def\n\n\n\n\n\n\n\n");
    ASSERT_TRUE(s.wait_for([&] { return s.bell_count() == 2; }));
    s.send("\r");
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST(TerminalHarness, AlternateScreenIsRestored)
{
    pty_session s;
    ASSERT_TRUE(start_sh(s,
        R"(echo main; printf '\033[?1049h\033[H\033[2Jalt\n'; read x; printf '\033[?1049l'; read x)",
        small_window()));
    ASSERT_TRUE(s.wait_for_row(0, [](const std::string &t) { return t == "alt"; }));
    EXPECT_EQ(s.screen_text().find("main"), std::string::npos);
    s.send("\r");
    ASSERT_TRUE(s.wait_for_row(0, [](const std::string &t) { return t == "main"; }));
    s.send("\r");
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST(TerminalHarness, ResizeReachesProgramAndScreen)
{
    pty_session s;
    ASSERT_TRUE(start_sh(s, "stty size; read x; stty size; read x", small_window()));
    ASSERT_TRUE(s.wait_for_text("10 40"));
    ASSERT_TRUE(s.resize(30, 100));
    EXPECT_EQ(s.rows(), 30);
    EXPECT_EQ(s.cols(), 100);
    s.send("\r");
    ASSERT_TRUE(s.wait_for_text("30 100"));
    s.send("\r");
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST(TerminalHarness, ExitStatus)
{
    struct {
        const char *script;
        int status;
    } const cases[] = {
        {"exit 0", 0},
        {"exit 3", 3},
        {"kill -TERM $$", 128 + SIGTERM},
        {"echo ready; read x", 128 + SIGINT},    // interrupt key, see below
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        pty_session s;
        ASSERT_TRUE(start_sh(s, c.script));
        if (c.status == 128 + SIGINT) {
            // The terminal's interrupt character reaches the foreground job.
            ASSERT_TRUE(s.wait_for_text("ready"));
            s.send_ctrl('c');
        }
        EXPECT_EQ(s.wait_exit(), c.status);
    }
}

TEST(TerminalHarness, ModesRestoredCheck)
{
    struct {
        const char *script;
        bool restored;
    } const cases[] = {
        {"exit 0", true},
        {"stty -echo; stty echo", true},
        {"stty -echo", false},
        {"stty -icanon min 1 time 0", false},
        {"stty -icrnl", false},
        {"stty -opost", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        pty_session s;
        ASSERT_TRUE(start_sh(s, c.script));
        EXPECT_EQ(s.wait_exit(), 0);
        EXPECT_EQ(s.modes_restored(), c.restored);
    }
}

TEST(TerminalHarness, StopAndContinue)
{
    pty_session s;
    ASSERT_TRUE(start_sh(s, R"(echo ready; read x; echo "after $x")"));
    ASSERT_TRUE(s.wait_for_text("ready"));
    ASSERT_TRUE(s.signal(SIGTSTP));
    ASSERT_TRUE(s.wait_stopped());
    EXPECT_TRUE(s.stopped());
    ASSERT_TRUE(s.signal(SIGCONT));
    ASSERT_TRUE(s.wait_continued());
    s.send("go\r");
    ASSERT_TRUE(s.wait_for_text("after go"));
    EXPECT_EQ(s.wait_exit(), 0);
}

TEST(TerminalHarness, StandardInputFromPipeOrFile)
{
    // Keys still come from the terminal on descriptor 2.
    const char *script = R"(cat; read x <&2; echo "key $x")";
    {
        pty_session s;
        pty_options o;
        o.stdin_pipe = true;
        ASSERT_TRUE(start_sh(s, script, o));
        s.write_stdin("from pipe\n");
        s.close_stdin();
        ASSERT_TRUE(s.wait_for_text("from pipe"));
        s.send("k\r");
        ASSERT_TRUE(s.wait_for_text("key k"));
        EXPECT_EQ(s.wait_exit(), 0);
    }
    {
        std::string dir = make_temp_dir();
        write_file(dir + "/in", "from file\n");
        pty_session s;
        pty_options o;
        o.stdin_file = dir + "/in";
        ASSERT_TRUE(start_sh(s, script, o));
        ASSERT_TRUE(s.wait_for_text("from file"));
        s.send("f\r");
        ASSERT_TRUE(s.wait_for_text("key f"));
        EXPECT_EQ(s.wait_exit(), 0);
        std::remove((dir + "/in").c_str());
        rmdir(dir.c_str());
    }
}

TEST(TerminalHarness, ControlledEnvironment)
{
    setenv("MIVO", "-leak", 1);
    pty_session s;
    pty_options o;
    o.env = {"EXTRA=yes", "LC_ALL"};
    ASSERT_TRUE(start_sh(s,
        R"(echo "T=$TERM M=${MIVO-unset} X=$EXTRA L=${LC_ALL-unset}"; echo "H=$HOME"; ls -A "$HOME" | wc -l)",
        o));
    unsetenv("MIVO");
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_EQ(s.row_text(0), "T=xterm M=unset X=yes L=unset");
    EXPECT_EQ(s.row_text(1), "H=" + s.home());
    EXPECT_EQ(s.row_text(2), "0");
}

} // namespace
