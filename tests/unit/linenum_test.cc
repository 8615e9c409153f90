#include "viewer/input/linenum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "viewer/control/program.h"
#include "viewer/input/buffer.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "tests/unit/fixtures.h"

namespace {

// The current input is a temporary file with the given text.
class Linenum : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        linenum_busy = 0;
    }

    void TearDown() override
    {
        pending_signals = 0;
        input_close();
    }

    static void open_text(const std::string &text)
    {
        ASSERT_GE(input_from_text(text, 4), 0);
        linenum_reset();
    }

    // count lines of 10 bytes each: line n starts at 10 * (n - 1).
    static void open_lines(int count) { open_text(ten_byte_lines(count)); }

    static std::string ten_byte_lines(int count)
    {
        std::string text;
        for (int i = 0; i < count; i++)
            text += "123456789\n";
        return text;
    }

    // The number the table holds for pos, or 0. A pending signal makes every
    // count give up before it adds anything, so only stored entries answer.
    static int remembered(file_pos pos)
    {
        pending_signals = PENDING_INTERRUPT;
        int line = linenum_of(pos);
        pending_signals = 0;
        return line;
    }
};

TEST_F(Linenum, TrivialAnswers)
{
    open_lines(10);
    EXPECT_EQ(linenum_of(0), 1);
    EXPECT_EQ(linenum_of(NO_POSITION), 0);
    opt_n = 0;
    EXPECT_EQ(linenum_of(0), 0);
    EXPECT_EQ(linenum_of(25), 0);
    EXPECT_EQ(remembered(30), 0);
}

TEST_F(Linenum, PositionInsideALine)
{
    open_lines(10);
    EXPECT_EQ(linenum_of(25), 3);
    // The count stopped at the start of the next line and stored that.
    EXPECT_EQ(remembered(30), 4);
    EXPECT_EQ(remembered(20), 0);
    EXPECT_EQ(linenum_of(20), 3);
    EXPECT_EQ(linenum_of(99), 10);
    EXPECT_EQ(linenum_of(100), 11);
    EXPECT_EQ(linenum_of(55), 6);
}

TEST_F(Linenum, CountsFromTheNearerEntry)
{
    open_lines(200);
    struct {
        file_pos pos;
        int expected;
    } cases[] = {
        {500, 151},   // equal distances: counted backward from 1000
        {490, 50},    // nearer the origin
        {1200, 221},  // nearer 1000
        {1205, 221},  // inside a line, forward
        {1400, 981},  // nearer 1600
        {1405, 981},  // inside a line, backward
        {1300, 971},  // equal distances again
        {1990, 1040}, // beyond every entry: forward from 1600
    };
    for (const auto &c : cases) {
        linenum_reset();
        // Deliberately wrong numbers show which entry a count started from.
        linenum_add(201, 1000);
        linenum_add(1001, 1600);
        EXPECT_EQ(linenum_of(c.pos), c.expected) << "position " << c.pos;
    }
}

// The screen is sent before a count that may take a while, and only then:
// a write for every short count would be one per numbered row painted.
TEST_F(Linenum, OnlyALongCountSendsTheScreenFirst)
{
    open_lines(120000);
    struct {
        file_pos pos;
        int expected;
        bool flushed;
    } cases[] = {
        {1000, 101, false},        // 1000 bytes from the origin
        {1100000, 110001, true},   // over a megabyte from any entry
        {1100500, 110051, false},  // 500 bytes from the entry just stored
    };
    for (const auto &c : cases) {
        // A read that waits sends the screen too: the bytes counted (those
        // since the entry just stored, or the origin) are read first.
        buf_seek(c.pos < 2000 ? 0 : 1100000);
        for (int i = 0; i < 1200; i++)
            buf_next_byte();
        int line = 0;
        std::string sent = captured(1, [&] {
            out_char('x');
            line = linenum_of(c.pos);
        });
        std::string rest = captured(1, [] { out_flush(); });
        EXPECT_EQ(line, c.expected) << "position " << c.pos;
        EXPECT_EQ(sent, c.flushed ? "x" : "") << "position " << c.pos;
        EXPECT_EQ(rest, c.flushed ? "" : "x") << "position " << c.pos;
    }
}

TEST_F(Linenum, SameLineNumberIsNotAddedTwice)
{
    open_lines(20);
    linenum_add(7, 60);
    linenum_add(7, 100);
    EXPECT_EQ(remembered(60), 7);
    EXPECT_EQ(remembered(100), 0);
    // A later line number at a later position is added.
    linenum_add(11, 100);
    EXPECT_EQ(remembered(100), 11);
}

TEST_F(Linenum, InterruptedCountReturnsZeroAndStoresNothing)
{
    open_lines(10);
    pending_signals = PENDING_INTERRUPT;
    EXPECT_EQ(linenum_of(45), 0);
    pending_signals = 0;
    EXPECT_EQ(remembered(50), 0);
    EXPECT_EQ(linenum_busy, 0);
}

TEST_F(Linenum, CountPastTheEndGivesNothing)
{
    open_lines(10);
    EXPECT_EQ(linenum_of(100), 11);
    EXPECT_EQ(linenum_of(150), 0);
}

TEST_F(Linenum, LongRawLineIsOneLine)
{
    // 2000 short lines, a line of 1500 bytes, then "b".
    std::string text;
    for (int i = 0; i < 2000; i++)
        text += "a\n";
    text += std::string(1500, 'x') + "\nb\n";
    open_text(text);
    const file_pos long_line = 4000, b_line = 5501, end = 5503;

    EXPECT_EQ(linenum_of(b_line), 2002);
    // Past the first 1023 bytes the long line is still line 2001.
    EXPECT_EQ(linenum_of(long_line + 1200), 2001);

    linenum_reset();
    linenum_add(2003, end);
    // Nearer the end, so counted backward across the long line.
    EXPECT_EQ(linenum_of(long_line), 2001);
    EXPECT_EQ(linenum_of(long_line + 1400), 2001);
}

// Line numbers past 2^31 (as in a pipe of billions of empty lines) are
// counted and stored in 64 bits.
TEST_F(Linenum, NumbersBeyondTwoToThe31)
{
    open_lines(100);
    const int64_t far = 5000000000LL;
    struct {
        file_pos entry;
        int64_t line;
        file_pos pos;
        int64_t expected;
    } cases[] = {
        {500, far, 700, far + 20},            // forward from the entry
        {500, far, 350, far - 15},            // backward
        {990, (1LL << 31) - 1, 995, (1LL << 31) - 1},
        {100, (1LL << 32) + 7, 155, (1LL << 32) + 12},
    };
    for (const auto &c : cases) {
        linenum_reset();
        linenum_add(c.line, c.entry);
        EXPECT_EQ(linenum_of(c.pos), c.expected) << "position " << c.pos;
    }
}

// A count reads only up to the position asked for: in a pipe whose long
// last line is still being written, it must not wait for the line's end.
TEST_F(Linenum, CountStopsAtThePositionAskedFor)
{
    int writer = input_from_pipe("a\nb\n" + std::string(5000, 'x'), false, 4);
    ASSERT_GE(writer, 0);
    linenum_reset();
    EXPECT_EQ(linenum_of(4000), 3);
    EXPECT_EQ(linenum_of(2), 2);
    close(writer);
}

TEST_F(Linenum, ResetForgetsEverything)
{
    open_lines(10);
    EXPECT_EQ(linenum_of(50), 6);
    EXPECT_EQ(remembered(50), 6);
    linenum_reset();
    EXPECT_EQ(remembered(50), 0);
    EXPECT_EQ(remembered(0), 1);
}

// The rows of a paint are each counted from the number asked for before,
// forward and back; the table still learns the bottom row, and a new input
// forgets it all.
TEST_F(Linenum, RowsAskedInTurnAreCountedFromTheOneBefore)
{
    // Lines of 0 to 29 bytes: a count from a wrong place shows.
    std::string text;
    for (int i = 0; i < 3000; i++)
        text += std::string(static_cast<size_t>(i % 30), 'x') + "\n";
    open_text(text);
    auto line_at = [&](file_pos p) {
        return 1 + std::count(text.begin(), text.begin() + p, '\n');
    };
    std::vector<file_pos> asked;
    for (file_pos p = 20000; p < 20400; p += 7)   // row by row, and inside lines
        asked.push_back(p);
    for (file_pos p = 20400; p > 19000; p -= 13)  // back
        asked.push_back(p);
    for (file_pos p : {40000, 100, 40010, 39990})  // jumps, and near again
        asked.push_back(p);
    for (file_pos p : asked)
        EXPECT_EQ(linenum_of(p), line_at(p)) << "position " << p;

    const file_pos bottom = static_cast<file_pos>(text.find('\n', 40100)) + 1;
    linenum_learn(bottom);
    EXPECT_EQ(remembered(bottom), line_at(bottom));

    open_lines(5000);
    EXPECT_EQ(linenum_of(40005), 4001);
}

// Entries 100 bytes apart give every candidate the same hole, so the latest
// one before the last entry goes; the holes around a dropped entry grow.
TEST_F(Linenum, FullTableDropsTheLaterEntryOnTies)
{
    open_lines(600);
    for (int k = 1; k <= LINENUM_CAPACITY; k++)
        linenum_add(10 * k + 1, 100 * k);
    for (int k = 1; k <= LINENUM_CAPACITY; k++)
        EXPECT_EQ(remembered(100 * k), k == 49 ? 0 : 10 * k + 1) << "entry " << k;

    // Appending one more: 4800 now spans 4700..5000 and is no longer among
    // the smallest holes, so 4700 goes.
    linenum_add(511, 5100);
    EXPECT_EQ(remembered(5100), 511);
    EXPECT_EQ(remembered(5000), 501);
    EXPECT_EQ(remembered(4800), 481);
    EXPECT_EQ(remembered(4700), 0);
    EXPECT_EQ(remembered(4600), 461);
}

// 49 clusters 1000 bytes apart; the first 11 hold two entries 10 bytes apart.
// Whatever the order of the adds, every drop takes one of a close pair.
TEST_F(Linenum, FullTableDropsEntriesWithTheClosestNeighbours)
{
    open_lines(5000);
    struct entry {
        int line;
        file_pos pos;
    };
    std::vector<entry> adds;
    for (int k = 1; k <= 49; k++) {
        adds.push_back({100 * k + 1, 1000 * k});
        if (k <= 11)
            adds.push_back({100 * k + 2, 1000 * k + 10});
    }
    ASSERT_EQ(adds.size(), 60u);
    // A fixed shuffle, so that drops happen at many different places.
    for (size_t i = 0; i < adds.size(); i++)
        std::swap(adds[i], adds[(i * 37 + 11) % adds.size()]);
    for (const auto &e : adds)
        linenum_add(e.line, e.pos);

    int kept = 0;
    for (int k = 1; k <= 49; k++) {
        int in_cluster = 0;
        for (const auto &e : adds) {
            if (e.pos / 1000 != k)
                continue;
            int line = remembered(e.pos);
            EXPECT_TRUE(line == 0 || line == e.line) << "position " << e.pos;
            in_cluster += line != 0;
        }
        EXPECT_EQ(in_cluster, 1) << "cluster " << k;
        kept += in_cluster;
    }
    EXPECT_EQ(kept, 49);

    // Positions whose entries were dropped are counted again correctly.
    for (const auto &e : adds)
        EXPECT_EQ(linenum_of(e.pos), e.line) << "position " << e.pos;
}

} // namespace
