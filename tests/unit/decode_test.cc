#include "viewer/control/decode.h"

#include "common/keys.h"
#include "viewer/terminal/message.h"
#include "tests/unit/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr char ESC = 27;

// Each test gets its own HOME; the previous value is put back afterwards.
class DecodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_home = env_save("HOME");
        home = temp_dir("decode-test-");
        ASSERT_FALSE(home.empty());
        setenv("HOME", home.c_str(), 1);
    }

    void TearDown() override
    {
        if (!home.empty())
            remove_tree(home);
        // Leave no user table behind for other tests of the viewer.
        unsetenv("HOME");
        keys_load_user();
        key_decode_reset();
        env_restore(saved_home);
    }

    // Install bytes as the user key file and load it.
    void load(const std::string &bytes)
    {
        std::ofstream(home + "/.mivo", std::ios::binary) << bytes;
        keys_load_user();
        key_decode_reset();
    }

    std::string home;
    saved_env saved_home;
};

// The decoder's answer to each key of a command, in order.
std::vector<int> decode(const std::string &keys)
{
    std::vector<int> codes;
    for (char k : keys)
        codes.push_back(key_decode(static_cast<unsigned char>(k)));
    return codes;
}

// One key-table entry: key bytes, the 0 terminator, the code.
std::string entry(const std::string &keys, int code)
{
    return keys + std::string(1, '\0') + std::string(1, static_cast<char>(code));
}

struct decode_case {
    const char *what;
    std::string keys;
    std::vector<int> codes;
};

void check_cases(const std::vector<decode_case> &cases)
{
    for (const decode_case &c : cases) {
        key_decode_reset();
        EXPECT_EQ(decode(c.keys), c.codes) << c.what;
    }
}

TEST_F(DecodeTest, DefaultTableWithoutKeyFile)
{
    int errors = error_count;
    keys_load_user();
    EXPECT_EQ(error_count, errors) << "a missing key file is not an error";
    check_cases({
        {"return", "\r", {ACTION_FORW_LINE}},
        {"k", "k", {ACTION_BACK_LINE}},
        {"space", " ", {ACTION_FORW_SCREEN}},
        {"b", "b", {ACTION_BACK_SCREEN}},
        {"ESC v", {ESC, 'v'}, {ACTION_NEED_MORE, ACTION_BACK_SCREEN}},
        {"ESC w", {ESC, 'w'}, {ACTION_NEED_MORE, ACTION_NOT_FOUND}},
        {"ESC >", {ESC, '>'}, {ACTION_NEED_MORE, ACTION_GOTO_END}},
        {"g", "g", {ACTION_GOTO_LINE}},
        {"digits", "09", {ACTION_NUMBER, ACTION_NUMBER}},
        {"^X^X", "\x18\x18", {ACTION_NEED_MORE, ACTION_GOTO_MARK}},
        {"^X^V", "\x18\x16", {ACTION_NEED_MORE, ACTION_EXAMINE}},
        {":e", ":e", {ACTION_NEED_MORE, ACTION_EXAMINE}},
        {":n", ":n", {ACTION_NEED_MORE, ACTION_NEXT_FILE}},
        {":p", ":p", {ACTION_NEED_MORE, ACTION_PREV_FILE}},
        {":x", ":x", {ACTION_NEED_MORE, ACTION_NOT_FOUND}},
        {"q", "q", {ACTION_QUIT}},
        {":q", ":q", {ACTION_NEED_MORE, ACTION_QUIT}},
        {"ZZ", "ZZ", {ACTION_NEED_MORE, ACTION_QUIT}},
        {"Z then x", "Zx", {ACTION_NEED_MORE, ACTION_NOT_FOUND}},
        {"unbound x", "x", {ACTION_NOT_FOUND}},
        {"unbound high byte", "\xe9", {ACTION_NOT_FOUND}},
    });
}

TEST_F(DecodeTest, UnboundSequenceStartsOver)
{
    // After the bell, the next key begins a new command.
    EXPECT_EQ(decode(":xq"), (std::vector<int>{ACTION_NEED_MORE, ACTION_NOT_FOUND, ACTION_QUIT}));
    // A reset between keys drops a half-typed sequence.
    EXPECT_EQ(key_decode(ESC), ACTION_NEED_MORE);
    key_decode_reset();
    EXPECT_EQ(key_decode('v'), ACTION_VISUAL);
}

TEST_F(DecodeTest, NullKeyIsUnboundNotAPrefix)
{
    // A 0 byte must not read as the end of the typed keys, which would make
    // it a prefix of every binding and leave the decoder waiting.
    EXPECT_EQ(decode(std::string(1, '\0')), std::vector<int>{ACTION_NOT_FOUND});
    EXPECT_EQ(key_decode('q'), ACTION_QUIT);
}

TEST_F(DecodeTest, UserBindingOverridesDefault)
{
    load(entry("q", ACTION_REPAINT));
    check_cases({
        {"q repaints", "q", {ACTION_REPAINT}},
        {":q still quits", ":q", {ACTION_NEED_MORE, ACTION_QUIT}},
        {"ZZ still quits", "ZZ", {ACTION_NEED_MORE, ACTION_QUIT}},
        {"other defaults stay", " ", {ACTION_FORW_SCREEN}},
    });
}

TEST_F(DecodeTest, LongerUserBindingShadowsDefault)
{
    load(entry("gx", ACTION_GOTO_END));
    check_cases({
        {"g waits", "g", {ACTION_NEED_MORE}},
        {"g x", "gx", {ACTION_NEED_MORE, ACTION_GOTO_END}},
        {"g y rings", "gy", {ACTION_NEED_MORE, ACTION_NOT_FOUND}},
        {"< still goes to line", "<", {ACTION_GOTO_LINE}},
    });
}

TEST_F(DecodeTest, FirstEntryInUserTableWins)
{
    load(entry("a", ACTION_REPAINT) + entry("ab", ACTION_QUIT));
    check_cases({{"equal entry first", "a", {ACTION_REPAINT}}});
    load(entry("ab", ACTION_QUIT) + entry("a", ACTION_REPAINT));
    check_cases({
        {"longer entry first", "a", {ACTION_NEED_MORE}},
        {"longer entry completed", "ab", {ACTION_NEED_MORE, ACTION_QUIT}},
    });
}

TEST_F(DecodeTest, UserCodesSpecialToTheDecoder)
{
    // 100 hands the lookup to the defaults; 22 waits for more keys.
    load(entry("j", ACTION_NOT_FOUND) + entry("x", ACTION_NEED_MORE) + entry("xy", ACTION_HELP));
    check_cases({
        {"j falls through", "j", {ACTION_FORW_LINE}},
        {"x waits", "xy", {ACTION_NEED_MORE, ACTION_HELP}},
    });
}

TEST_F(DecodeTest, CodesReadAsSignedBytes)
{
    load(entry("w", 200) + entry("W", 127) + entry("X", ACTION_INVALID));
    check_cases({
        {"200 comes back negative", "w", {200 - 256}},
        {"127 stays positive", "W", {127}},
        {"invalid", "X", {ACTION_INVALID}},
    });
}

TEST_F(DecodeTest, RejectsMalformedKeyFiles)
{
    struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"one byte", "q"},
        {"two bytes", std::string("q\0", 2)},
        {"second-last byte not 0", "abc"},
        {"over 200 bytes, cut inside a key", [] {
             std::string s;
             for (int i = 0; i < 66; i++)
                 s += entry("x", ACTION_REPAINT);
             return s + entry("qq", ACTION_REPAINT);    // 202 bytes
         }()},
    };
    for (const auto &c : cases) {
        int errors = error_count;
        load(c.bytes);
        EXPECT_EQ(error_count, errors + 1) << c.what;
        // Rejected as a whole: the defaults rule again.
        key_decode_reset();
        EXPECT_EQ(decode("q"), std::vector<int>{ACTION_QUIT}) << c.what;
    }
}

TEST_F(DecodeTest, AcceptsSmallestAndLargestKeyFiles)
{
    int errors = error_count;
    load(entry("q", ACTION_REPAINT));
    EXPECT_EQ(decode("q"), std::vector<int>{ACTION_REPAINT});

    // Exactly 200 bytes, the last entry ending on the last byte.
    std::string big;
    for (int i = 0; i < 65; i++)
        big += entry("x", ACTION_HELP);
    big += entry("ZZZ", ACTION_REPAINT);
    ASSERT_EQ(big.size(), 200u);
    load(big);
    EXPECT_EQ(decode("ZZZ"), (std::vector<int>{ACTION_NEED_MORE, ACTION_NEED_MORE, ACTION_REPAINT}));
    EXPECT_EQ(error_count, errors);
}

TEST_F(DecodeTest, OverlongUserKeyDoesNotOverrunTypedKeys)
{
    // A hand-made file may bind more keys than the decoder can hold.
    load(entry(std::string(40, 'a'), ACTION_QUIT));
    std::vector<int> expected(30, ACTION_NEED_MORE);
    expected.push_back(ACTION_NOT_FOUND);
    EXPECT_EQ(decode(std::string(31, 'a')), expected);
    // The buffer was emptied: the next key starts a fresh sequence.
    EXPECT_EQ(key_decode('a'), ACTION_NEED_MORE);
    key_decode_reset();
    EXPECT_EQ(key_decode('q'), ACTION_QUIT);
}

TEST_F(DecodeTest, KeyOf31BytesStillMatches)
{
    load(entry(std::string(31, 'a'), ACTION_REPAINT));
    std::vector<int> expected(30, ACTION_NEED_MORE);
    expected.push_back(ACTION_REPAINT);
    EXPECT_EQ(decode(std::string(31, 'a')), expected);
}

TEST_F(DecodeTest, NoHomeMeansNoUserTable)
{
    load(entry("q", ACTION_REPAINT));
    ASSERT_EQ(decode("q"), std::vector<int>{ACTION_REPAINT});
    int errors = error_count;
    unsetenv("HOME");
    keys_load_user();
    EXPECT_EQ(error_count, errors);
    EXPECT_EQ(decode("q"), std::vector<int>{ACTION_QUIT});
}

TEST_F(DecodeTest, LongHomeValue)
{
    // Far longer than any line or message buffer; the path still resolves.
    std::string long_home = home;
    while (long_home.size() < 3000)
        long_home += "/.";
    std::ofstream(home + "/.mivo", std::ios::binary) << entry("q", ACTION_REPAINT);
    setenv("HOME", long_home.c_str(), 1);
    keys_load_user();
    EXPECT_EQ(decode("q"), std::vector<int>{ACTION_REPAINT});
}

TEST_F(DecodeTest, KeyFileArrivingInPiecesIsReadWhole)
{
    // Through a FIFO the first read returns only what was written so far;
    // a single read would see 1 byte and reject the file.
    std::string path = home + "/.mivo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::thread writer([&] {
        int fd = open(path.c_str(), O_WRONLY);
        if (fd < 0)
            return;
        ssize_t ignored = write(fd, "q", 1);
        // Hold the rest back until the reader has taken the first piece.
        int pending = 1;
        while (ioctl(fd, FIONREAD, &pending) == 0 && pending > 0)
            std::this_thread::yield();
        ignored = write(fd, "\0\x19", 2);
        (void)ignored;
        close(fd);
    });
    int errors = error_count;
    keys_load_user();
    writer.join();
    EXPECT_EQ(error_count, errors);
    EXPECT_EQ(decode("q"), std::vector<int>{ACTION_REPAINT});
}

} // namespace
