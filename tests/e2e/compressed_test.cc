// Compressed inputs: shown decompressed and read like a pipe, damage told
// once after the text before it, a compressed standard input with its log,
// and copying mode passing the compressed bytes on untouched.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr const char *TOOLS[][2] = {
    {"gzip -c", "f.gz"}, {"bzip2 -c", "f.bz2"}, {"xz -c", "f.xz"}, {"zstd -q -c", "f.zst"},
};

std::string packed(const char *tool, const std::string &text)
{
    return run_program({"/bin/sh", "-c", tool}, feed(text)).out;
}

class Compressed : public viewer_test {
protected:
    Compressed() : viewer_test(60) {}
};

TEST_F(Compressed, EachFormatIsReadLikeAPipeUnderItsName)
{
    const std::string text = numbered(1, 40);
    const std::string size = std::to_string(text.size());
    for (const auto &[tool, name] : TOOLS) {
        SCOPED_TRACE(name);
        pty_session s;
        file(name, packed(tool, text));
        ASSERT_TRUE(start(s, {name}));
        ASSERT_TRUE(top_is(s, "line 1."));
        s.send("/line 30\\.\r");
        ASSERT_TRUE(top_is(s, "line 30."));
        s.send("g");
        ASSERT_TRUE(top_is(s, "line 1."));
        s.send("G");
        ASSERT_TRUE(bottom_ends_with(s, "(END)"));
        s.send("=");
        ASSERT_TRUE(bottom_is(s, message(std::string(name) + " line 32 byte " + size + "/" +
                                         size + " (END)")));
        quit(s);
    }
}

TEST_F(Compressed, DamageIsToldOnceAfterTheTextBeforeIt)
{
    // A wrong checksum: the damage is found after the last line.
    std::string bytes = packed("gzip -c", numbered(1, 2000));
    bytes[bytes.size() - 8] ^= 1;
    file("f.gz", bytes);
    pty_session s;
    ASSERT_TRUE(start(s, {"f.gz"}));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("G");
    ASSERT_TRUE(bottom_is(s, message("f.gz: compressed data is damaged")));
    EXPECT_TRUE(row_is(s, 8, "line 2000."));
    s.send("\r");
    ASSERT_TRUE(bottom_ends_with(s, "(END)"));
    s.send("gG");
    ASSERT_TRUE(bottom_ends_with(s, "(END)"));
    quit(s);

    // Damage in an input that would fit is paged all the same, to be told.
    std::string small = packed("gzip -c", numbered(1, 3));
    small[small.size() - 8] ^= 1;
    file("small.gz", small);
    pty_session f;
    ASSERT_TRUE(start(f, {"-F", "small.gz"}));
    ASSERT_TRUE(bottom_is(f, message("small.gz: compressed data is damaged")));
    quit(f);
}

// The log of a compressed pipe is what came through the pipe.
TEST_F(Compressed, StandardInputIsShownDecompressedAndLoggedAsRead)
{
    const std::string bytes = packed("gzip -c", numbered(1, 3000));
    pty_session s;
    pty_options o = window();
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {"-lpipe.log"}, o));
    s.write_stdin(bytes);
    s.close_stdin();
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("G");
    ASSERT_TRUE(row_is(s, 8, "line 3000."));
    quit(s);
    EXPECT_TRUE(read_file(path("pipe.log")) == bytes);
}

TEST_F(Compressed, CopyingPassesTheCompressedBytesOn)
{
    for (const auto &[tool, name] : TOOLS) {
        const std::string bytes = packed(tool, numbered(1, 500));
        const std::string named = file(name, bytes);
        EXPECT_TRUE(run_program({QUOREL_BIN, named}).out == bytes) << name;
        EXPECT_TRUE(run_program({QUOREL_BIN}, feed(bytes)).out == bytes) << name;
    }
}

} // namespace
