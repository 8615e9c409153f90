#include "viewer/terminal/output.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "tests/unit/fixtures.h"

namespace {

// Assertions print on standard output, so results are checked after the
// output is put back.
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
    static std::string written(F f)
    {
        return captured(1, f);
    }

    // f with descriptor 1 open only for reading, so every write fails and a
    // write attempt cannot go unnoticed.
    template <typename F>
    static void unwritable(F f)
    {
        int fd = open("/dev/null", O_RDONLY);
        ASSERT_GE(fd, 0);
        redirected(1, fd, f);
        close(fd);
    }
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
