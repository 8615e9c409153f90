// Inputs read once as they come: named pipes and process substitution in
// the file list, a file followed by name through rotation, and the output
// of the input preprocessor.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

namespace {

constexpr int BOTTOM = 9;

class Streams : public viewer_test {};

size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// A writer that comes once the viewer waits: it waits (5 s at most) until
// the viewer has the pipe open, as a real writer's open would.
void write_fifo(const std::string &path, const std::string &bytes)
{
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 500; tries++) {
        fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            usleep(10000);
    }
    ASSERT_GE(fd, 0) << "no reader";
    fcntl(fd, F_SETFL, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

TEST_F(Streams, FollowByNameThroughRenameAndTruncation)
{
    std::string log = file("app.log", numbered(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"--follow-name", "+F", "app.log"}));
    ASSERT_TRUE(row_is(s, BOTTOM - 1, "line 20."));
    ASSERT_TRUE(bottom_ends_with(s, "(interrupt to abort)"));

    // Lines the old file gets just before it is renamed are shown, then the
    // new file from its start, with nothing of the old one.
    std::ofstream(log, std::ios::app) << numbered(21, 23);
    ASSERT_EQ(rename(log.c_str(), path("app.log.1").c_str()), 0);
    file("app.log", numbered(1, 3, "new"));
    ASSERT_TRUE(bottom_is(s, "app.log: replaced"));
    ASSERT_TRUE(row_is(s, 2, "new 3."));
    EXPECT_EQ(s.row_text(0), "new 1.");
    EXPECT_EQ(s.screen_text().find("line"), std::string::npos) << s.screen_text();
    for (int i = 21; i <= 23; i++)
        EXPECT_EQ(count_of(s.output(), tag("line", i)), 1u) << i;
    EXPECT_EQ(count_of(s.output(), "new 1."), 1u);

    // The new file is the one followed; the old one no longer.
    std::ofstream(path("app.log.1"), std::ios::app) << "old 24.\n";
    std::ofstream(log, std::ios::app) << "new 4.\n";
    ASSERT_TRUE(row_is(s, 3, "new 4."));
    file("app.log", numbered(1, 2, "fresh"));
    ASSERT_TRUE(bottom_is(s, "app.log: truncated"));
    ASSERT_TRUE(row_is(s, 1, "fresh 2."));
    EXPECT_EQ(s.row_text(0), "fresh 1.");
    EXPECT_EQ(s.screen_text().find("new "), std::string::npos) << s.screen_text();
    EXPECT_EQ(s.output().find("old 24."), std::string::npos);
    s.send("g");
    ASSERT_TRUE(bottom_is(s, "(END)"));
    quit(s);

    // Without the option the open file is followed, whatever its name.
    file("b.log", numbered(1, 20));
    pty_session b;
    ASSERT_TRUE(start(b, {"+F", "b.log"}));
    ASSERT_TRUE(row_is(b, BOTTOM - 1, "line 20."));
    ASSERT_EQ(rename(path("b.log").c_str(), path("b.log.1").c_str()), 0);
    file("b.log", "other\n");
    std::ofstream(path("b.log.1"), std::ios::app) << "line 21.\n";
    ASSERT_TRUE(row_is(b, BOTTOM - 1, "line 21."));
    quit(b);
}

TEST_F(Streams, ProcessSubstitutionIsPagedAsAPipe)
{
    pty_session s;
    ASSERT_TRUE(s.start({"/bin/bash", "-c", std::string("exec ") + QUOREL_BIN + " <(seq 100000)"},
                        window()));
    ASSERT_TRUE(top_is(s, "1"));
    s.send("G");
    ASSERT_TRUE(row_is(s, BOTTOM - 1, "100000"));
    ASSERT_TRUE(bottom_is(s, "(END)"));
    s.send("g");
    ASSERT_TRUE(top_is(s, "1"));
    s.send("/^77777$\r");
    ASSERT_TRUE(top_is(s, "77777"));
    s.send("?^12$\r");
    ASSERT_TRUE(top_is(s, "12"));
    quit(s);
}

// Two named pipes in the file list, each waited for until its writer
// comes, with the wait told and keys taken meanwhile; a directory is
// still refused.
TEST_F(Streams, NamedPipesWhoseWritersComeLater)
{
    for (const char *name : {"one", "two"})
        ASSERT_EQ(mkfifo(path(name).c_str(), 0600), 0);
    subdir("dir");
    pty_session s;
    ASSERT_TRUE(start(s, {"-m", "one", "dir", "two"}));
    ASSERT_TRUE(bottom_is(s, "Waiting for data... (interrupt to stop)"));
    write_fifo(path("one"), numbered(1, 30));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("=");
    ASSERT_TRUE(bottom_has(s, "one (file 1 of 3) line 1 byte 72"));

    s.send("\r:n");
    ASSERT_TRUE(bottom_is(s, message("dir is a directory")));
    s.send("\r:n");
    ASSERT_TRUE(bottom_is(s, "Waiting for data... (interrupt to stop)"));
    // An interrupt stops the wait; a writer that comes later is read on G.
    s.send_ctrl('c');
    ASSERT_TRUE(bottom_is(s, "byte ?"));
    s.send("=");
    ASSERT_TRUE(bottom_has(s, "two (file 3 of 3)"));
    s.send("\r");
    {
        std::jthread writer(write_fifo, path("two"), numbered(1, 5, "two"));
        s.send("G");
        ASSERT_TRUE(row_is(s, 4, "two 5."));
    }
    quit(s);

    // Copying mode waits for the writer as cat does, and copies exactly.
    std::string bytes = std::string("a\0b\r\n", 5) + numbered(1, 3);
    std::jthread late(write_fifo, path("one"), bytes);
    run_result r = run_program({QUOREL_BIN, path("one")}, feed(""));
    late.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, bytes);
}

TEST_F(Streams, PreprocessorSeesTheNameOnlyAsAnArgument)
{
    const std::string name = "$(touch pwned)";
    file(name, "plain text\n");
    struct {
        const char *command;
        const char *shown;
    } cases[] = {
        {"printf 'from %s\\n' \"$1\"; tr a-z A-Z < \"$1\"", "from $(touch pwned)"},
        // Compressed output is read decompressed.
        {"gzip -c < \"$1\"", "plain text"},
        // No output and a failure: the file as it is.
        {"echo complaint >&2; exit 3", "plain text"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        pty_session s;
        pty_options o = window();
        o.env = {std::string("QUOREL_PREPROCESS=") + c.command};
        ASSERT_TRUE(start(s, {"-m", name}, o));
        ASSERT_TRUE(top_is(s, c.shown));
        EXPECT_TRUE(bottom_has(s, name));
        EXPECT_EQ(s.screen_text().find("complaint"), std::string::npos);
        quit(s);
    }
    EXPECT_NE(access(path("$(touch pwned)").c_str(), F_OK), -1);
    EXPECT_EQ(access(path("pwned").c_str(), F_OK), -1);

    // Copying mode copies what the preprocessor wrote; standard input only
    // with the leading '-', and nothing under --no-preprocess.
    auto copy = [&](const std::string &command, std::vector<std::string> args,
                    const std::string &input) {
        run_options o = feed(input, {"QUOREL_PREPROCESS=" + command});
        o.cwd = dir();
        args.insert(args.begin(), QUOREL_BIN);
        return run_program(args, o).out;
    };
    EXPECT_EQ(copy("tr a-z A-Z < \"$1\"", {name}, ""), "PLAIN TEXT\n");
    EXPECT_EQ(copy("tr a-z A-Z < \"$1\"", {"--no-preprocess", name}, ""), "plain text\n");
    EXPECT_EQ(copy("echo \"$1\"; cat", {"-"}, "in\n"), "in\n");
    EXPECT_EQ(copy("-echo \"$1\"; cat", {"-"}, "in\n"), "-\nin\n");
    EXPECT_EQ(access(path("pwned").c_str(), F_OK), -1);
}

} // namespace
