#include "viewer/terminal/output.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// Run f with descriptor 1 on fd. Assertions print on standard output, so
// results are checked after the restore.
template <typename F>
void with_stdout(int fd, F f)
{
    fflush(stdout);
    int saved = dup(1);
    dup2(fd, 1);
    f();
    dup2(saved, 1);
    close(saved);
}

// A non-blocking pipe: what arrived so far can be taken without waiting.
struct capture_pipe {
    capture_pipe()
    {
        if (pipe(fds) == 0)
            fcntl(fds[0], F_SETFL, O_NONBLOCK);
    }
    ~capture_pipe()
    {
        close(fds[0]);
        close(fds[1]);
    }
    std::string take()
    {
        std::string got;
        char buf[4096];
        for (ssize_t k; (k = read(fds[0], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(k));
        return got;
    }
    int fds[2] = {-1, -1};
};

class Output : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Start from an empty buffer whatever an earlier test left.
        written([] { out_flush(); });
        screen_stale = 0;
    }

    void TearDown() override { screen_stale = 0; }

    // What f writes to descriptor 1.
    template <typename F>
    std::string written(F f)
    {
        with_stdout(sink.fds[1], f);
        return sink.take();
    }

    // f with descriptor 1 open only for reading, so every write fails and a
    // write attempt cannot go unnoticed.
    template <typename F>
    void unwritable(F f)
    {
        int fd = open("/dev/null", O_RDONLY);
        ASSERT_GE(fd, 0);
        with_stdout(fd, f);
        close(fd);
    }

    capture_pipe sink;
};

TEST_F(Output, WritesOnlyWhenTheBufferOverflows)
{
    std::string after_full = written([] {
        for (int i = 0; i < OUTPUT_BUFFER_SIZE; i++)
            out_char('a' + i % 26);
    });
    std::string after_one_more = written([] { out_char('!'); });
    std::string after_flush = written([] { out_flush(); });

    EXPECT_EQ(after_full, "");
    ASSERT_EQ(after_one_more.size(), static_cast<size_t>(OUTPUT_BUFFER_SIZE));
    for (int i = 0; i < OUTPUT_BUFFER_SIZE; i++)
        ASSERT_EQ(after_one_more[i], 'a' + i % 26) << "byte " << i;
    EXPECT_EQ(after_flush, "!");
    EXPECT_EQ(screen_stale, 0);
}

TEST_F(Output, StringsAndNulBytes)
{
    EXPECT_EQ(written([] {
        out_string("");
        out_flush();
    }), "");
    EXPECT_EQ(written([] {
        out_string("ab");
        out_string("");
        out_char(0);
        out_char(0x1ff);  // only the low 8 bits
        out_string("\xe9z");
        out_flush();
    }), std::string("ab\0\xff\xe9z", 6));
}

TEST_F(Output, EmptyFlushMakesNoWrite)
{
    int err = -1;
    unwritable([&] {
        errno = 0;
        out_flush();
        err = errno;
    });
    EXPECT_EQ(err, 0);
    EXPECT_EQ(screen_stale, 0);
}

TEST_F(Output, FailedWriteMarksTheScreenAndDropsTheBytes)
{
    unwritable([] {
        out_string("lost");
        out_flush();
    });
    EXPECT_EQ(screen_stale, 1);
    EXPECT_EQ(written([] {
        out_string("kept");
        out_flush();
    }), "kept");
}

TEST_F(Output, FailedStraightWriteMarksTheScreen)
{
    unwritable([] { out_bytes("abc", 3); });
    EXPECT_EQ(screen_stale, 1);
}

TEST_F(Output, StraightWritesKeepTheOrder)
{
    std::string big(3000, 'x');
    EXPECT_EQ(written([&] {
        out_string("head:");
        out_bytes(big.data(), big.size());
        out_char('.');
        out_flush();
    }), "head:" + big + ".");
    EXPECT_EQ(screen_stale, 0);
}

} // namespace
