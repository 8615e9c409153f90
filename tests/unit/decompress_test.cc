#include "viewer/input/decompress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "viewer/process/signals.h"
#include "tests/unit/fixtures.h"

namespace {

// Each compresses standard input to standard output. bzip2 -1: blocks of
// 100 KB, so that damage late in the data leaves whole blocks before it.
constexpr struct {
    const char *tool;
    compress_format format;
} FORMATS[] = {
    {"gzip -c", COMPRESS_GZIP},
    {"bzip2 -1 -c", COMPRESS_BZIP2},
    {"xz -c", COMPRESS_XZ},
    {"zstd -q -c", COMPRESS_ZSTD},
};

// Lines of text, then bytes no compressor can shrink, so that the compressed
// data outgrow one raw read.
std::string sample(int lines = 12000, int noise = 150000)
{
    std::string s;
    for (int i = 0; i < lines; i++)
        s += "line " + std::to_string(i) + ": " + std::to_string(i * 7919 % 1000) + "\n";
    for (uint32_t x = 1; noise-- > 0;)
        s += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    return s;
}

std::string compressed(const char *tool, const std::string &data)
{
    int in = temp_file(data);
    lseek(in, 0, SEEK_SET);
    FILE *p = nullptr;
    redirected(0, in, [&] { p = popen(tool, "r"); });
    close(in);
    std::string out;
    char chunk[65536];
    for (size_t n; p && (n = fread(chunk, 1, sizeof chunk, p)) > 0;)
        out.append(chunk, n);
    if (p)
        pclose(p);
    return out;
}

// A pipe whose reads give data at most `piece` bytes at a time: a thread
// writes the next piece only once the pipe is empty.
struct feeder {
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread writer;
    feeder(const std::string &data, size_t piece)
    {
        int p[2];
        if (pipe(p) < 0)
            return;
        fd = p[0];
        writer = std::thread([=, this] {
            for (size_t at = 0; at < data.size() && !stop; at += piece) {
                if (write(p[1], data.data() + at, std::min(piece, data.size() - at)) < 0)
                    break;
                for (int queued = 1; queued > 0 && !stop && ioctl(p[1], FIONREAD, &queued) == 0;)
                    usleep(20);
            }
            close(p[1]);
        });
    }
    ~feeder()
    {
        // A writer cut short by damage may be blocked on a full pipe.
        stop = true;
        char drain[4096];
        while (fd >= 0 && read(fd, drain, sizeof drain) > 0) {
        }
        if (writer.joinable())
            writer.join();
        close(fd);
    }
};

std::string raw_seen;
void keep_raw(const char *data, int n) { raw_seen.append(data, static_cast<size_t>(n)); }

struct outcome {
    std::string text;
    int ended_with;     // 0 or DECOMPRESS_DAMAGED
    int then;           // the read after that
    compress_format kind;
};

outcome read_all(int fd, compress_format format, int count)
{
    raw_seen.clear();
    decompress_begin(fd, format, keep_raw);
    outcome o;
    std::vector<char> buffer(static_cast<size_t>(count));
    int n;
    while ((n = decompress_read(buffer.data(), count)) > 0)
        o.text.append(buffer.data(), static_cast<size_t>(n));
    o.ended_with = n;
    o.then = decompress_read(buffer.data(), count);
    o.kind = decompress_kind();
    decompress_end();
    return o;
}

// Raw reads and the reader's counts cut the data anywhere, magics and the
// boundary between members (which read as one stream) included; zero
// bytes after a member are padding.
TEST(Decompress, EachFormatRoundTripsWhateverTheReadSizes)
{
    const std::string text = sample(), small = sample(100, 0);
    struct { size_t piece; int count; bool members; const std::string &data; size_t zeros; }
        reads[] = {
            {65536, 65536, false, text, 0}, {1024, 1, false, text, 0}, {1023, 1025, false, text, 0},
            {1, 1024, false, small, 0}, {1, 3, true, small, 0}, {65536, 65536, true, text, 0},
            {7, 5, true, small, 700},
        };
    for (const auto &f : FORMATS) {
        for (const auto &r : reads) {
            size_t half = r.data.size() / 2;
            std::string pad(r.zeros, '\0');
            std::string packed = r.members ? compressed(f.tool, r.data.substr(0, half)) + pad +
                                                 compressed(f.tool, r.data.substr(half)) + pad
                                           : compressed(f.tool, r.data);
            feeder feed(packed, r.piece);
            outcome o = read_all(feed.fd, COMPRESS_UNDECIDED, r.count);
            SCOPED_TRACE(std::string(f.tool) + " piece " + std::to_string(r.piece));
            EXPECT_EQ(o.kind, f.format);
            EXPECT_EQ(o.ended_with, 0);
            EXPECT_EQ(o.then, 0);
            EXPECT_TRUE(o.text == r.data) << o.text.size() << " of " << r.data.size() << " bytes";
            EXPECT_TRUE(raw_seen == packed);
        }
    }
}

// Damage is told after the bytes decoded before it, whatever the reader's
// count. Corrupt data may decode to wrong bytes before a checksum catches
// them, and how much of a block zstd gives out before its checksum fails
// depends on when it was asked, so only a truncated stream fixes the text.
TEST(Decompress, DamageComesOnceAfterEveryGoodByte)
{
    const std::string text = sample();
    for (const auto &f : FORMATS) {
        std::string packed = compressed(f.tool, text);
        std::string truncated = packed.substr(0, packed.size() * 2 / 3);
        std::string corrupt = packed;
        corrupt.replace(packed.size() / 2, 64, 64, '\x5a');
        for (const std::string *bad : {&truncated, &corrupt}) {
            SCOPED_TRACE(std::string(f.tool) + (bad == &truncated ? " truncated" : " corrupt"));
            std::vector<outcome> got;
            for (auto [piece, count] : {std::pair{bad->size(), 1 << 20}, {997, 1000}, {997, 1}}) {
                feeder feed(*bad, piece);
                got.push_back(read_all(feed.fd, COMPRESS_UNDECIDED, count));
                EXPECT_EQ(got.back().ended_with, DECOMPRESS_DAMAGED);
                EXPECT_EQ(got.back().then, 0);
                size_t good = std::mismatch(got.back().text.begin(), got.back().text.end(),
                                            text.begin()).first - got.back().text.begin();
                EXPECT_GT(good, text.size() / 4);
                EXPECT_TRUE(bad != &truncated || good == got.back().text.size());
            }
            EXPECT_TRUE((bad != &truncated && f.format == COMPRESS_ZSTD) ||
                        got[1].text == got[2].text);
            EXPECT_TRUE(bad != &truncated || got[0].text == got[1].text);
        }
    }
}

TEST(Decompress, PlainInputIsGivenAsItIs)
{
    for (std::string data : {"", "h", "hello\n", "B", "BZh", "BZhello", "\x1f", "\x1f\x8b\x07z",
                             "(\xb5/", "(\xb5/\xfc", "\xfd" "7zXZ\x01", "\xfd" "7z"}) {
        feeder feed(data, 1);
        outcome o = read_all(feed.fd, COMPRESS_UNDECIDED, 64);
        EXPECT_EQ(o.kind, COMPRESS_NONE) << data;
        EXPECT_EQ(o.text, data);
        int file = temp_file(data);
        EXPECT_EQ(decompress_probe(file), COMPRESS_NONE) << data;
        close(file);
    }
}

// A writer that has sent part of a magic and no more is not waited on for
// ever, and a signal meanwhile loses no byte.
TEST(Decompress, PartOfAMagicFromASlowWriterIsPlainText)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], "\x1f", 1), 1);
    decompress_begin(p[0], COMPRESS_UNDECIDED, nullptr);
    char got[8];
    pending_signals = PENDING_INTERRUPT;
    EXPECT_EQ(decompress_read(got, sizeof got), -2);
    pending_signals = 0;
    EXPECT_EQ(decompress_read(got, sizeof got), 1);
    EXPECT_EQ(got[0], '\x1f');
    EXPECT_EQ(decompress_kind(), COMPRESS_NONE);
    decompress_end();
    close(p[0]);
    close(p[1]);
}

} // namespace
