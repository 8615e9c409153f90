// Long option names: refused when unknown before anything is made, the
// version with its libraries, and typed while viewing after "- -".
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

class LongOptions : public viewer_test {};

// Long names are never letters: taken, or refused with status 2 and one
// line before any file is opened or created.
TEST_F(LongOptions, UnknownNamesAreRefusedBeforeAnythingIsMade)
{
    const std::string input = "1\n2\n3\n";
    struct {
        std::vector<std::string> args;
        std::string mivo;
        int status;
        std::string err;
    } cases[] = {
        {{"--line-numbers"}, "", 0, ""},
        {{"--chop-lines", "--tab-stops", "4", "--"}, "--quit-if", 0, ""},
        {{"--bogus"}, "", 2, "quorel: unknown option --bogus (see quorel --help)\n"},
        {{"-lmade", "--bogus"}, "", 2, "quorel: unknown option --bogus (see quorel --help)\n"},
        {{}, "-i --quit-if-one-screen --log-file=made", 2,
         "quorel: unknown option --quit-if-one-screen (see quorel --help)\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {QUOREL_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        run_options o = feed(input, {"MIVO=" + c.mivo});
        o.cwd = dir();
        run_result r = run_program(argv, o);
        SCOPED_TRACE("MIVO='" + c.mivo + "' " + (c.args.empty() ? "" : c.args[0]));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, c.status == 0 ? input : "");
        EXPECT_TRUE(std::filesystem::is_empty(dir()));
    }
}

TEST_F(LongOptions, VersionNamesTheLibraries)
{
    run_result r = run_program({QUOREL_BIN, "--vers"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("quorel 97\nbuilt with PCRE2 [0-9.]+, "
                                                   "zlib [0-9.]+, bzip2 [0-9.]+, xz [0-9.]+, "
                                                   "zstd [0-9.]+\n")))
        << r.out;
    r = run_program({MIVOKEY_BIN, "--version"});
    EXPECT_EQ(r.out, "mivokey version 97\n");
}

// "- -" reads a long name with Tab completion and applies it; "_ -" shows.
TEST_F(LongOptions, TypedWhileViewingWithCompletion)
{
    pty_session s;
    ASSERT_TRUE(start(s, {"-N", file("f", "a\tb\n" + numbered(2, 30))}));
    ASSERT_TRUE(top_is(s, "      1 a       b"));
    s.send("--tab-s\t");
    ASSERT_TRUE(bottom_is(s, "--tab-stops="));
    ASSERT_TRUE(gives_message(s, "4\r", "Tab stops every 4 spaces"));
    ASSERT_TRUE(top_is(s, "      1 a   b"));
    s.send("--no-line\t");
    ASSERT_TRUE(bottom_is(s, "--no-line-numbers"));
    ASSERT_TRUE(gives_message(s, "\r", "Don't show line numbers in a column"));
    ASSERT_TRUE(top_is(s, "a   b"));
    ASSERT_TRUE(gives_message(s, "_-tab\r", "Tab stops every 4 spaces"));
    ASSERT_TRUE(gives_message(s, "--bell=n\t\r", "Never ring the bell"));
    ASSERT_TRUE(gives_message(s, "--li\r", "Show line numbers in a column"));
    ASSERT_TRUE(gives_message(s, "--sea\r",
                              "ambiguous option --sea: --search-start, --search-on-return"));
    // Two Tabs list the names that fit.
    s.send("--sk\t\t");
    ASSERT_TRUE(s.wait_for_text("skip-line-count"));
    ASSERT_TRUE(bottom_is(s, "--skip-"));
    s.send("\x1b");
    ASSERT_TRUE(bottom_is(s, ":"));
    ASSERT_TRUE(top_is(s, "      1 a   b"));
    quit(s);
}

} // namespace
