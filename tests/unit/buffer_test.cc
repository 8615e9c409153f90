#include "viewer/input/buffer.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "viewer/control/program.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "tests/unit/fixtures.h"

namespace {

// The byte the reader gives for an input byte.
int delivered(char c)
{
    return c == '\0' ? '@' : static_cast<signed char>(c);
}

// Every byte from the cursor to the end of the input.
std::vector<int> read_forward()
{
    std::vector<int> got;
    for (int c; (c = buf_next_byte()) != END_OF_INPUT;)
        got.push_back(c);
    return got;
}

std::vector<int> expected_bytes(const std::string &data)
{
    std::vector<int> want;
    for (char c : data)
        want.push_back(delivered(c));
    return want;
}

// A byte that differs with its block as well as its offset, so that data
// found in the wrong record shows.
char pattern_byte(int64_t pos)
{
    return static_cast<char>(1 + ((pos / BLOCK_SIZE) * 31 + pos % BLOCK_SIZE) % 250);
}

std::string pattern(int64_t length)
{
    std::string s(static_cast<size_t>(length), '\0');
    for (int64_t i = 0; i < length; i++)
        s[static_cast<size_t>(i)] = pattern_byte(i);
    return s;
}

// The data as the current input, from a file or from a pipe whose write end
// is closed; false when it could not be set up.
bool attach(const std::string &data, bool pipe_mode, int buffers = 10)
{
    return pipe_mode ? input_from_pipe(data, true, buffers) == -1
                     : input_from_text(data, buffers) >= 0;
}

// Records are never freed, so the pool only grows over a run. Cases that
// depend on its exact size run in a fresh copy of this test binary; the
// child's verdict is its exit status.
void in_fresh_process(void (*scenario)())
{
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The child's failures reach the parent only through stderr.
            ::testing::TestPartResultArray results;
            {
                ::testing::ScopedFakeTestPartResultReporter reporter(&results);
                scenario();
            }
            for (int i = 0; i < results.size(); i++) {
                const ::testing::TestPartResult &r = results.GetTestPartResult(i);
                fprintf(stderr, "%s:%d: %s\n", r.file_name(), r.line_number(), r.message());
            }
            exit(results.size() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

class Buffer : public ::testing::Test {
protected:
    void SetUp() override { settings_reset(); }

    void TearDown() override
    {
        settings_reset();
        input_close();
    }
};

TEST_F(Buffer, EmptyFile)
{
    ASSERT_GE(input_from_text("", 10), 0);
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 0);
    EXPECT_EQ(buf_prev_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 0);
    EXPECT_EQ(buf_length(), 0);
}

TEST_F(Buffer, EmptyPipeLearnsItsLengthOnTheFirstRead)
{
    ASSERT_EQ(input_from_pipe("", true, 10), -1);
    EXPECT_EQ(buf_length(), NO_POSITION);
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 0);
    EXPECT_EQ(buf_length(), 0);
    EXPECT_EQ(buf_seek_begin(), 0);
    EXPECT_EQ(buf_tell(), 0);
}

TEST_F(Buffer, ExactlyTwoBlocks)
{
    std::string data = pattern(2048);
    for (bool pipe_mode : {false, true}) {
        SCOPED_TRACE(pipe_mode ? "pipe" : "file");
        ASSERT_TRUE(attach(data, pipe_mode));
        EXPECT_EQ(read_forward(), expected_bytes(data));
        EXPECT_EQ(buf_tell(), 2048);
        EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
        EXPECT_EQ(buf_tell(), 2048);
        EXPECT_EQ(buf_length(), 2048);
        EXPECT_EQ(buf_prev_byte(), delivered(data[2047]));
        EXPECT_EQ(buf_tell(), 2047);
        input_close();
    }
}

TEST_F(Buffer, NulAndHighBytes)
{
    std::string data;
    for (int round = 0; round < 5; round++)
        for (int c = 0; c < 256; c++)
            data += static_cast<char>(c);
    for (bool pipe_mode : {false, true}) {
        SCOPED_TRACE(pipe_mode ? "pipe" : "file");
        ASSERT_TRUE(attach(data, pipe_mode));
        std::vector<int> got = read_forward();
        ASSERT_EQ(got.size(), data.size());
        for (size_t i = 0; i < got.size(); i++) {
            int c = static_cast<unsigned char>(data[i]);
            ASSERT_EQ(got[i], c == 0 ? '@' : c < 128 ? c : c - 256) << "byte " << i;
        }
        // Backward gives the same bytes, down to position 0 and no further.
        for (size_t i = data.size(); i-- > 0;)
            ASSERT_EQ(buf_prev_byte(), got[i]) << "byte " << i;
        EXPECT_EQ(buf_prev_byte(), END_OF_INPUT);
        EXPECT_EQ(buf_tell(), 0);
        input_close();
    }
}

// Copying a pipe that was partly read already gives the rest as read, the
// NUL bytes the buffers show as '@' included.
TEST_F(Buffer, CopyOfAPartlyReadPipeIsByteExact)
{
    std::string data;
    for (int round = 0; round < 12; round++)
        for (int c = 0; c < 256; c++)
            data += static_cast<char>(c);
    ASSERT_TRUE(attach(data, true));
    for (int i = 0; i < 1500; i++)
        ASSERT_NE(buf_next_byte(), END_OF_INPUT);
    std::string out = captured(1, [] { copy_to_output(); });
    EXPECT_TRUE(out == data.substr(1500)) << out.size() << " bytes";
}

TEST_F(Buffer, FileModeSeeksAnywhere)
{
    std::string data = pattern(10000);
    ASSERT_GE(input_from_text(data, 3), 0);
    for (file_pos pos : {9999, 0, 5000, 1023, 1024, 7777, 3}) {
        ASSERT_EQ(buf_seek(pos), 0);
        EXPECT_EQ(buf_tell(), pos);
        EXPECT_EQ(buf_next_byte(), delivered(data[pos])) << "at " << pos;
    }
    // At and beyond the end: accepted, and nothing to read there.
    for (file_pos pos : {10000, 10001, 123456}) {
        ASSERT_EQ(buf_seek(pos), 0);
        EXPECT_EQ(buf_next_byte(), END_OF_INPUT) << "at " << pos;
        EXPECT_EQ(buf_tell(), pos);
    }
    EXPECT_EQ(buf_seek_end(), 0);
    EXPECT_EQ(buf_tell(), 10000);
    EXPECT_EQ(buf_seek_begin(), 0);
    EXPECT_EQ(buf_tell(), 0);
}

TEST_F(Buffer, FileGrowingWhileViewed)
{
    ASSERT_GE(input_from_text("abc", 10), 0);
    EXPECT_EQ(read_forward().size(), 3u);
    ASSERT_EQ(pwrite(input_fd, "de", 2, 3), 2);
    EXPECT_EQ(buf_length(), 5);
    // The end marker stays until the data is forgotten.
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
    buf_attach(0, 0);
    ASSERT_EQ(buf_seek(3), 0);
    EXPECT_EQ(buf_next_byte(), 'd');
    EXPECT_EQ(buf_next_byte(), 'e');
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
}

// Pipe, -B off, three buffers, 5000 bytes read: blocks 2, 3 and 4 are held.
void pipe_with_three_buffers()
{
    opt_B = 0;
    std::string data = pattern(5000);
    int w = input_from_pipe(data, true, 3);
    ASSERT_EQ(w, -1);
    EXPECT_EQ(opt_b, 3);
    for (int i = 0; i < 5000; i++)
        ASSERT_EQ(buf_next_byte(), delivered(data[i]));
    EXPECT_EQ(opt_b, 3);
    EXPECT_EQ(buf_length(), NO_POSITION);

    EXPECT_EQ(buf_seek(2048), 0);
    EXPECT_EQ(buf_tell(), 2048);
    EXPECT_EQ(buf_next_byte(), delivered(data[2048]));
    EXPECT_EQ(buf_seek(1000), 1);
    EXPECT_EQ(buf_tell(), 2049);
    EXPECT_EQ(buf_seek(2047), 1);
    EXPECT_EQ(buf_seek(4999), 0);
    EXPECT_EQ(buf_seek(5000), 0);
    EXPECT_EQ(buf_tell(), 5000);

    EXPECT_EQ(buf_seek_begin(), 0);
    EXPECT_EQ(buf_tell(), 2048);
    EXPECT_EQ(buf_prev_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 2048);

    // The end is found by reading on from where the pipe stopped.
    EXPECT_EQ(buf_seek_end(), 0);
    EXPECT_EQ(buf_tell(), 5000);
    EXPECT_EQ(buf_length(), 5000);
    EXPECT_EQ(buf_prev_byte(), delivered(data[4999]));
}

TEST_F(Buffer, PipeWithoutGrowthKeepsOnlyTheNewestBlocks)
{
    in_fresh_process(pipe_with_three_buffers);
}

// -B on: the pool grows by a record for each new block once all are in use,
// and the -b setting follows it.
void pipe_growth()
{
    ASSERT_EQ(input_from_pipe(pattern(20 * BLOCK_SIZE), true, 10), -1);
    EXPECT_EQ(opt_b, 10);
    for (int i = 0; i < 20 * BLOCK_SIZE; i++)
        ASSERT_EQ(buf_next_byte(), pattern_byte(i));
    EXPECT_EQ(opt_b, 20);
    // Everything is still reachable.
    EXPECT_EQ(buf_seek(0), 0);
    EXPECT_EQ(buf_next_byte(), pattern_byte(0));

    // Asking for fewer records changes nothing but shows the real count, and
    // keeps the data and the cursor.
    buf_attach(5, 1);
    EXPECT_EQ(opt_b, 20);
    EXPECT_EQ(buf_tell(), 1);
    EXPECT_EQ(buf_next_byte(), pattern_byte(1));

    // A new input starts over with the records that exist.
    input_close();
    ASSERT_GE(input_from_text("xy", 10), 0);
    EXPECT_EQ(opt_b, 20);
    EXPECT_EQ(read_forward(), expected_bytes("xy"));
}

TEST_F(Buffer, PipeGrowsThePool)
{
    in_fresh_process(pipe_growth);
}

void fewer_buffers_than_exist()
{
    ASSERT_GE(input_from_text("abc", 10), 0);
    EXPECT_EQ(opt_b, 10);
    buf_attach(5, 1);
    EXPECT_EQ(opt_b, 10);
    buf_attach(12, 1);
    EXPECT_EQ(opt_b, 12);
}

TEST_F(Buffer, FewerBuffersThanExistShowsTheRealCount)
{
    in_fresh_process(fewer_buffers_than_exist);
}

// -b 0 cannot work: the first input gets one buffer.
void zero_buffers()
{
    std::string data = pattern(3000);
    ASSERT_GE(input_from_text(data, 0), 0);
    EXPECT_EQ(opt_b, 1);
    EXPECT_EQ(read_forward(), expected_bytes(data));
    ASSERT_EQ(buf_seek(10), 0);
    EXPECT_EQ(buf_next_byte(), pattern_byte(10));
}

TEST_F(Buffer, ZeroBuffersIsRaisedToOne)
{
    in_fresh_process(zero_buffers);
}

// Which blocks a pool of three gives up: the least recently used in file
// mode, the one filled longest ago in a pipe, however recently it was read.
void reuse_order()
{
    int valid;
    std::string data = pattern(5000);
    ASSERT_GE(input_from_text(data, 3), 0);
    for (file_pos pos : {0, 1024, 2048, 10, 3072}) {
        ASSERT_EQ(buf_seek(pos), 0);
        ASSERT_EQ(buf_next_byte(), pattern_byte(pos));
    }
    EXPECT_NE(buf_block(0, &valid), nullptr);
    EXPECT_EQ(buf_block(1, &valid), nullptr);
    EXPECT_NE(buf_block(2, &valid), nullptr);
    EXPECT_NE(buf_block(3, &valid), nullptr);
    input_close();

    opt_B = 0;
    ASSERT_EQ(input_from_pipe(data, true, 3), -1);
    for (int i = 0; i < 3 * BLOCK_SIZE; i++)
        ASSERT_EQ(buf_next_byte(), pattern_byte(i));
    ASSERT_EQ(buf_seek(10), 0);
    ASSERT_EQ(buf_next_byte(), pattern_byte(10));
    ASSERT_EQ(buf_seek(3 * BLOCK_SIZE), 0);
    ASSERT_EQ(buf_next_byte(), pattern_byte(3 * BLOCK_SIZE));
    EXPECT_EQ(buf_seek(10), 1);
    EXPECT_EQ(buf_block(0, &valid), nullptr);
    EXPECT_EQ(buf_seek(BLOCK_SIZE), 0);
    EXPECT_EQ(buf_next_byte(), pattern_byte(BLOCK_SIZE));
    EXPECT_EQ(buf_seek_begin(), 0);
    EXPECT_EQ(buf_tell(), BLOCK_SIZE);
}

TEST_F(Buffer, ReuseOrder)
{
    in_fresh_process(reuse_order);
}

TEST_F(Buffer, PrevByteAtTheStart)
{
    ASSERT_GE(input_from_text("hello", 10), 0);
    EXPECT_EQ(buf_prev_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 0);
    EXPECT_EQ(buf_next_byte(), 'h');
    EXPECT_EQ(buf_prev_byte(), 'h');
    EXPECT_EQ(buf_prev_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 0);
}

TEST_F(Buffer, PipePartlyFilledBlockIsToppedUp)
{
    int w = input_from_pipe("abcde", false, 10);
    ASSERT_GE(w, 0);
    EXPECT_EQ(buf_next_byte(), 'a');
    // A seek to the next unread byte is always accepted.
    EXPECT_EQ(buf_seek(5), 0);
    EXPECT_EQ(buf_seek(4), 0);
    EXPECT_EQ(buf_next_byte(), 'e');
    std::string more = pattern(3000);
    ASSERT_EQ(write(w, more.data(), more.size()), static_cast<ssize_t>(more.size()));
    close(w);
    EXPECT_EQ(read_forward(), expected_bytes(more));
    EXPECT_EQ(buf_length(), 3005);
    EXPECT_EQ(buf_seek(2), 0);
    EXPECT_EQ(buf_next_byte(), 'c');
}

TEST_F(Buffer, InterruptedReadLosesNothing)
{
    int w = input_from_pipe("xyz", true, 10);
    ASSERT_EQ(w, -1);
    pending_signals = PENDING_INTERRUPT;
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_tell(), 0);
    EXPECT_EQ(buf_length(), NO_POSITION);
    pending_signals = 0;
    EXPECT_EQ(read_forward(), expected_bytes("xyz"));
    EXPECT_EQ(buf_length(), 3);
}

TEST_F(Buffer, SeekEndOfPipeStopsForASignal)
{
    ASSERT_EQ(input_from_pipe(pattern(4000), true, 10), -1);
    EXPECT_EQ(buf_next_byte(), pattern_byte(0));
    pending_signals = PENDING_INTERRUPT;
    EXPECT_EQ(buf_seek_end(), 1);
    EXPECT_LT(buf_tell(), 4000);
    EXPECT_EQ(buf_length(), NO_POSITION);
    pending_signals = 0;
    EXPECT_EQ(buf_seek_end(), 0);
    EXPECT_EQ(buf_tell(), 4000);
    EXPECT_EQ(buf_length(), 4000);
}

// Positions beyond 4 GiB in a sparse file: the hole reads as NULs, shown '@'.
TEST_F(Buffer, SparseFileBeyondFourGiB)
{
    int fd = temp_file("");
    ASSERT_GE(fd, 0);
    const file_pos size = 5LL << 30;
    const file_pos marker = (9LL << 29) + 17;
    const std::string text = "far away";
    if (ftruncate(fd, size) < 0) {
        close(fd);
        GTEST_SKIP() << "this file system cannot hold a 5 GiB sparse file";
    }
    ASSERT_EQ(pwrite(fd, text.data(), text.size(), marker), static_cast<ssize_t>(text.size()));
    input_attach(fd, 0, 10);

    EXPECT_EQ(buf_length(), size);
    ASSERT_EQ(buf_seek(marker), 0);
    EXPECT_EQ(buf_tell(), marker);
    for (char c : text)
        EXPECT_EQ(buf_next_byte(), c);
    EXPECT_EQ(buf_next_byte(), '@');
    ASSERT_EQ(buf_seek(marker), 0);
    EXPECT_EQ(buf_prev_byte(), '@');
    EXPECT_EQ(buf_tell(), marker - 1);

    EXPECT_EQ(buf_seek_end(), 0);
    EXPECT_EQ(buf_tell(), size);
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
    EXPECT_EQ(buf_prev_byte(), '@');
    EXPECT_EQ(buf_tell(), size - 1);
}

// A long pipe read to the end and walked back to the start: every block
// must be found again in its own record.
TEST_F(Buffer, LongPipeWalkedBackEntirely)
{
    constexpr int64_t blocks = 50000;
    constexpr int64_t length = blocks * BLOCK_SIZE + 123;
    pid_t writer = input_from_child(pattern(length), length, 10);
    ASSERT_GE(writer, 0);

    int64_t wrong = 0, count = 0;
    for (int c; (c = buf_next_byte()) != END_OF_INPUT; count++)
        if (c != delivered(pattern_byte(count)))
            wrong++;
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(count, length);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(buf_length(), length);
    EXPECT_GE(opt_b, blocks + 1);

    int64_t back = 0;
    for (int c; (c = buf_prev_byte()) != END_OF_INPUT; back++)
        if (c != delivered(pattern_byte(length - 1 - back)))
            wrong++;
    EXPECT_EQ(back, length);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(buf_tell(), 0);

    // Random access afterwards, still from the held blocks.
    for (file_pos pos : {length - 1, file_pos{0}, 25000 * file_pos{BLOCK_SIZE} + 7, file_pos{1023}}) {
        ASSERT_EQ(buf_seek(pos), 0);
        EXPECT_EQ(buf_next_byte(), delivered(pattern_byte(pos)));
    }
}

// A pipe of 200 000 blocks read to the end with the run operations, then
// walked back a block at a time: each block is found again, by seek and by
// the backward runs, and the runs join blocks only where their bytes do.
TEST_F(Buffer, PipeOfManyBlocksWalkedBackBlockByBlock)
{
    constexpr int64_t blocks = 200000;
    constexpr int64_t length = blocks * BLOCK_SIZE - 5;
    // The pattern repeats every 250 blocks.
    pid_t writer = input_from_child(pattern(250 * BLOCK_SIZE), length, 10);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(buf_seek_end(), 0);
    waitpid(writer, nullptr, 0);
    ASSERT_EQ(buf_tell(), length);
    EXPECT_EQ(opt_b, blocks);

    int64_t wrong = 0;
    file_pos covered = length;   // the backward runs have reached down to here
    for (int64_t b = blocks - 1; b >= 0; b--) {
        file_pos at = b * BLOCK_SIZE;
        ASSERT_EQ(buf_seek(at), 0) << "block " << b;
        wrong += buf_next_byte() != pattern_byte(at);
        while (covered > at) {
            const char *run;
            int64_t n = buf_span_back(covered, &run);
            ASSERT_GT(n, 0) << "before " << covered;
            for (int64_t i = 0; i < n; i += 1000)
                wrong += run[i] != pattern_byte(covered - n + i);
            wrong += run[n - 1] != pattern_byte(covered - 1);
            covered -= n;
        }
    }
    EXPECT_EQ(covered, 0);
    EXPECT_EQ(wrong, 0);
    const char *run;
    EXPECT_EQ(buf_span_back(0, &run), 0);
    EXPECT_FALSE(buf_held_before(0));
}

// A pipe outgrows its records: -b raised while it grows, then -B turned off
// so that the oldest blocks give their places to new ones. Whatever is
// held reads back as it came: forward in runs, backward byte by byte, and
// as the log copies it, NULs as NUL.
void pipe_outgrows_its_records()
{
    // Written 4999 bytes at a time, so that reads end inside blocks.
    std::string chunk = pattern(4999);
    chunk[3] = '\0';
    auto byte = [&](file_pos pos) { return chunk[static_cast<size_t>(pos) % chunk.size()]; };
    constexpr int64_t length = 700 * BLOCK_SIZE + 77;
    pid_t writer = input_from_child(chunk, length, 10);
    ASSERT_GE(writer, 0);
    int64_t wrong = 0;
    file_pos pos = 0;
    for (file_pos stop : {file_pos{30 * BLOCK_SIZE}, file_pos{100 * BLOCK_SIZE}, length}) {
        if (stop == 100 * BLOCK_SIZE)
            buf_attach(opt_b + 5, 1);
        if (stop == length)
            opt_B = 0;
        for (; pos < stop; pos++)
            wrong += buf_next_byte() != delivered(byte(pos));
    }
    EXPECT_EQ(buf_next_byte(), END_OF_INPUT);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(wrong, 0);

    // The newest -b blocks are held, the end partly filled.
    const int64_t first = 701 - opt_b;
    ASSERT_GT(first, 0);
    ASSERT_EQ(buf_seek_begin(), 0);
    EXPECT_EQ(buf_tell(), first * BLOCK_SIZE);
    EXPECT_EQ(buf_seek((first - 1) * BLOCK_SIZE), 1);
    char raw[BLOCK_SIZE];
    EXPECT_EQ(buf_block_raw(first - 1, raw), -1);
    for (int64_t b = first; b <= 700; b++) {
        int n = buf_block_raw(b, raw);
        ASSERT_EQ(n, b < 700 ? BLOCK_SIZE : 77) << "block " << b;
        for (int i = 0; i < n; i++)
            wrong += raw[i] != byte(b * BLOCK_SIZE + i);
    }
    const char *run;
    for (pos = first * BLOCK_SIZE; int64_t n = buf_span(pos, &run); pos += n)
        for (int64_t i = 0; i < n; i++)
            wrong += run[i] != delivered(byte(pos + i));
    EXPECT_EQ(pos, length);
    ASSERT_EQ(buf_seek(length), 0);
    for (int c; (c = buf_prev_byte()) != END_OF_INPUT;)
        wrong += c != delivered(byte(--pos));
    EXPECT_EQ(pos, first * BLOCK_SIZE);
    EXPECT_EQ(wrong, 0);
}

TEST_F(Buffer, PipeOutgrowsItsRecords)
{
    in_fresh_process(pipe_outgrows_its_records);
}

// The run operations give exactly the bytes buf_next_byte gives, from any
// starting point, in both modes.
TEST_F(Buffer, RunAndSkipAgreeWithNextByte)
{
    std::string data = pattern(5000);
    for (size_t i = 0; i < data.size(); i += 97)
        data[i] = '\0';
    data[1023] = '\x80';
    data[1024] = '\xff';
    for (bool pipe_mode : {false, true}) {
        for (file_pos start : {0, 1, 1023, 1024, 2500, 4999, 5000}) {
            SCOPED_TRACE(std::string(pipe_mode ? "pipe" : "file") + " from " +
                         std::to_string(start));
            ASSERT_TRUE(attach(data, pipe_mode, 3));
            if (pipe_mode) {
                // Reach the start the way a pipe can: by reading up to it.
                for (file_pos i = 0; i < start; i++)
                    buf_next_byte();
            } else {
                ASSERT_EQ(buf_seek(start), 0);
            }
            std::vector<int> by_run;
            const char *run;
            for (int n; (n = buf_run(&run)) > 0;) {
                ASSERT_LE(n, BLOCK_SIZE);
                for (int i = 0; i < n; i++)
                    by_run.push_back(static_cast<signed char>(run[i]));
                buf_skip(n);
            }
            EXPECT_EQ(buf_tell(), 5000);
            EXPECT_EQ(buf_run(&run), 0);
            EXPECT_EQ(by_run, expected_bytes(data.substr(static_cast<size_t>(start))));

            if (!pipe_mode) {
                ASSERT_EQ(buf_seek(start), 0);
                EXPECT_EQ(read_forward(), by_run);
            }
            input_close();
        }
    }
}

} // namespace
