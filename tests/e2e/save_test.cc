// The save command: what was read goes whole to the named file (a pipe's
// bytes as they came, a compressed file decompressed, only the lines a
// filter shows), an existing file only when the user says so, and a
// failure leaves nothing behind.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class Save : public viewer_test {
protected:
    // Names in the test's directory that begin with prefix.
    std::vector<std::string> names_from(const std::string &prefix) const
    {
        std::vector<std::string> found;
        for (const auto &entry : std::filesystem::directory_iterator(dir())) {
            std::string name = entry.path().filename();
            if (name.rfind(prefix, 0) == 0)
                found.push_back(name);
        }
        return found;
    }
};

// Each kind of input, whole or through a filter (then only the lines it
// shows, a pipe's included).
TEST_F(Save, WritesWhatWasReadOfEachKindOfInput)
{
    // A NUL byte is saved as it came, not as it is shown.
    const std::string text = numbered(1, 30) + std::string("nul\0byte\n", 9) + numbered(31, 3000);
    const std::string filtered = "line 1.\n" + numbered(10, 19) + numbered(100, 199) +
                                 numbered(1000, 1999);
    struct input {
        const char *what;
        std::vector<std::string> args;
        bool piped;
        const char *filter;
        const std::string &saved;
    };
    file("plain", text);
    file("packed.gz", run_program({"/bin/sh", "-c", "gzip -c"}, feed(text)).out);
    const std::vector<input> inputs = {
        {"a file", {"plain"}, false, nullptr, text},
        {"a compressed file", {"packed.gz"}, false, nullptr, text},
        {"a pipe that has not ended", {}, true, nullptr, text},
        {"a file through a filter", {"plain"}, false, "line 1", filtered},
        {"a pipe through a filter", {}, true, "line 1", filtered},
    };
    for (const input &in : inputs) {
        SCOPED_TRACE(in.what);
        std::filesystem::remove(path("out"));
        pty_session s;
        pty_options o = window();
        o.stdin_pipe = in.piped;
        ASSERT_TRUE(start(s, in.args, o));
        if (in.piped)
            s.write_stdin(text);            // and the pipe stays open
        ASSERT_TRUE(top_is(s, "line 1."));
        if (in.filter) {
            s.send(std::string("&") + in.filter + "\r");
            ASSERT_TRUE(row_is(s, 1, "line 10."));
        }
        s.send("s");
        ASSERT_TRUE(bottom_is(s, in.filter ? "Save shown lines to file:" : "Save to file:"));
        s.send("out\r");
        ASSERT_TRUE(bottom_is(s, message("out: saved")));
        EXPECT_TRUE(read_file(path("out")) == in.saved) << read_file(path("out")).size();
        s.send("\r");
        quit(s);
    }
}

TEST_F(Save, AnExistingFileIsReplacedOnlyWhenTheAnswerIsYes)
{
    const std::string text = numbered(1, 40);
    const std::string old = file("out", "old\n");
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", text)}));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("sou\t\r");                   // TAB completes the name
    ASSERT_TRUE(bottom_is(s, "Overwrite out? (y/n)"));
    s.send("n");
    ASSERT_TRUE(bottom_is(s, ":"));
    EXPECT_EQ(read_file(old), "old\n");
    // The name comes back from the history.
    s.send("s\033[A");
    ASSERT_TRUE(bottom_is(s, "Save to file: out"));
    s.send("\r");
    ASSERT_TRUE(bottom_is(s, "Overwrite out? (y/n)"));
    s.send("y");
    ASSERT_TRUE(bottom_is(s, message("out: saved")));
    EXPECT_EQ(read_file(old), text);
    EXPECT_EQ(names_from("out").size(), 1u);
    // A link stays a link to the file replaced.
    const std::string real = file("real", "old\n");
    std::filesystem::create_symlink("real", path("link"));
    s.send("\rslink\ry");
    ASSERT_TRUE(bottom_is(s, message("link: saved")));
    EXPECT_TRUE(std::filesystem::is_symlink(path("link")));
    EXPECT_EQ(read_file(real), text);
    s.send("\r");
    quit(s);
}

TEST_F(Save, AFullDiskLeavesNoHalfFileAndSaysWhy)
{
    const std::string text = numbered(1, 50000);
    const std::string f = file("f", text);
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "onto an existing file" : "a new file");
        if (existing)
            file("out", "old\n");
        pty_session s;
        pty_options o = window();
        o.env = {"FI_WRITE_PATH=" + path("out") + ".*", "FI_WRITE_MODE=enospc",
                 "FI_WRITE_ARG=5000", std::string("LD_PRELOAD=") + FAULTINJECT_LIB,
                 "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
        ASSERT_TRUE(start(s, {f}, o));
        ASSERT_TRUE(top_is(s, "line 1."));
        s.send("sout\r");
        if (existing) {
            ASSERT_TRUE(bottom_is(s, "Overwrite out? (y/n)"));
            s.send("y");
        }
        ASSERT_TRUE(bottom_is(s, message(std::string("out: ") + strerror(ENOSPC))));
        std::vector<std::string> left = names_from("out");
        EXPECT_EQ(left.size(), existing ? 1u : 0u) << (left.empty() ? "" : left[0]);
        if (existing) {
            EXPECT_EQ(read_file(path("out")), "old\n");
        }
        s.send("\r");
        quit(s);
    }
}

// Writes of one byte at a time make the save long enough to interrupt.
TEST_F(Save, AnInterruptStopsItAndLeavesNothing)
{
    const std::string f = file("f", numbered(1, 200000));
    pty_session s;
    pty_options o = window();
    o.env = {"FI_WRITE_PATH=" + path("out") + ".*", "FI_WRITE_MODE=short", "FI_WRITE_ARG=1",
             std::string("LD_PRELOAD=") + FAULTINJECT_LIB,
             "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    ASSERT_TRUE(start(s, {f}, o));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("sout\r");
    ASSERT_TRUE(bottom_has(s, "Saving"));
    s.send(pty_session::ctrl('c'));
    ASSERT_TRUE(bottom_is(s, message("out: not saved (interrupted)")));
    EXPECT_TRUE(names_from("out").empty());
    s.send("\r");
    quit(s);
}

} // namespace
