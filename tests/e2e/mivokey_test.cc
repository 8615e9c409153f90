// Whole runs of mivokey: source text in, key-file bytes, messages and exit
// status out, byte for byte.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *USAGE = "usage: mivokey [-o output] [input]\n";

struct compile_case {
    const char *what;
    std::string source;
    int status;
    std::string err;
    std::string bytes = {};     // the key file written, when status is 0
};

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

std::string repeat(const std::string &line, int times)
{
    std::string s;
    for (int i = 0; i < times; i++)
        s += line;
    return s;
}

std::string errors(const std::string &messages, int count)
{
    return messages + std::to_string(count) + " errors; no output produced\n";
}

class Mivokey : public viewer_test {
protected:
    // Compile each source from a file into a fresh output file; on failure
    // the previous output must be left exactly as it was.
    void check_compile(const std::vector<compile_case> &cases) const
    {
        std::string in = path("bindings");
        std::string out = path("out");
        for (const compile_case &c : cases) {
            write_file(in, c.source);
            write_file(out, "previous");
            run_result r = run_program({MIVOKEY_BIN, "-o", out, in});
            EXPECT_EQ(r.status, c.status) << c.what;
            EXPECT_EQ(r.err, c.err) << c.what;
            EXPECT_EQ(r.out, "") << c.what;
            EXPECT_EQ(read_file(out), c.status == 0 ? c.bytes : "previous") << c.what;
        }
    }
};

TEST_F(Mivokey, KeyNotation)
{
    check_compile({
        {"empty input", "", 0, "", ""},
        {"only comments and blanks", "# keys\n\n   \t\n  # indented\n", 0, "", ""},
        {"escape in octal", "\\33v back-screen\n", 0, "", bytes({27, 'v', 0, 3})},
        {"control keys and a comment", "^X^X goto-mark # comment\n", 0, "",
         bytes({24, 24, 0, 18})},
        {"caret of either case", "^a quit\n^A quit\n", 0, "", bytes({1, 0, 24, 1, 0, 24})},
        {"caret of punctuation", "^[ quit\n^? quit\n", 0, "", bytes({27, 0, 24, 31, 0, 24})},
        {"octal of one to three digits", "\\7 quit\n\\177 quit\n\\1234 quit\n", 0, "",
         bytes({7, 0, 24, 127, 0, 24, 0123, '4', 0, 24})},
        {"octal keeps the low 8 bits", "\\777 quit\n", 0, "", bytes({0377, 0, 24})},
        {"escaped space, backslash and hash", "\\ \\\\\\# quit\n", 0, "",
         bytes({' ', '\\', '#', 0, 24})},
        {"indented line, tabs between", " \t q\t\tquit\t# done\n", 0, "", bytes({'q', 0, 24})},
        {"last line without newline", "q quit", 0, "", bytes({'q', 0, 24})},
        {"key of 16 bytes", "abcdefghijklmnop quit\n", 0, "",
         std::string("abcdefghijklmnop") + bytes({0, 24})},
        {"high bytes kept", "\xe9 repaint\n", 0, "", bytes({0xe9, 0, 25})},
    });
}

TEST_F(Mivokey, EveryActionName)
{
    struct {
        const char *name;
        int code;
    } names[] = {
        {"back-line", 2}, {"back-screen", 3}, {"back-scroll", 4}, {"back-search", 5},
        {"debug", 8}, {"display-flag", 7}, {"display-option", 7}, {"end", 16},
        {"examine", 9}, {"filter", 34}, {"first-cmd", 10}, {"firstcmd", 10}, {"flush-repaint", 11},
        {"follow", 33},
        {"forw-line", 12}, {"forw-screen", 13}, {"forw-scroll", 14}, {"forw-search", 15},
        {"goto-end", 16}, {"goto-line", 17}, {"goto-mark", 18}, {"help", 19}, {"highlight", 39},
        {"invalid", 101}, {"left-scroll", 36}, {"next-file", 20}, {"next-section", 40},
        {"noaction", 101}, {"percent", 21}, {"prev-file", 23}, {"previous-section", 41}, {"quit", 24}, {"repaint", 25}, {"repaint-flush", 11},
        {"repeat-search", 1}, {"right-scroll", 35}, {"save", 38}, {"set-mark", 26}, {"shell", 27}, {"status", 28},
        {"toggle-flag", 30}, {"toggle-option", 30}, {"version", 31}, {"visual", 32},
    };
    std::string source, expected;
    for (const auto &n : names) {
        source += std::string("x ") + n.name + "\n";
        expected += bytes({'x', 0, n.code});
    }
    check_compile({{"all 44 names", source, 0, "", expected}});
}

TEST_F(Mivokey, CountedErrors)
{
    std::string piece_of_150 = "#" + std::string(98, ' ') + "#" + std::string(50, 'x') + "\n";
    check_compile({
        {"key alone", "q\n", 1, errors("missing whitespace on line 1\n", 1)},
        {"key and a space", "q \n", 1, errors("unknown action <> on line 1\n", 1)},
        {"names are case-sensitive", "q Quit\n", 1, errors("unknown action <Quit> on line 1\n", 1)},
        {"key of 17 bytes", "abcdefghijklmnopq quit\n", 1,
         errors("command too long on line 1\nunknown action <q> on line 1\n", 2)},
        {"carriage return joins the name", "q quit\r\nv visual\r\n", 1,
         errors("unknown action <quit\r> on line 1\nunknown action <visual\r> on line 2\n", 2)},
        {"every line is examined", "# c\n\nq\nj forw-line\nk nothing\n", 1,
         errors("missing whitespace on line 3\nunknown action <nothing> on line 5\n", 2)},
        {"a 150-character line counts twice", piece_of_150 + "q\n", 1,
         errors("missing whitespace on line 3\n", 1)},
        {"null key bytes", "^@ quit\n\\0 quit\n\\000 quit\na^` quit\n", 1,
         errors("null key byte on line 1\nnull key byte on line 2\nnull key byte on line 3\n"
                "null key byte on line 4\n",
                4)},
        {"caret at the end of the line", "^\n", 1, errors("missing whitespace on line 1\n", 1)},
        {"backslash at the end of the line", "ab\\\n", 1,
         errors("missing whitespace on line 1\n", 1)},
    });
}

TEST_F(Mivokey, TableLimit)
{
    // 66 one-key entries fill 198 bytes; a key byte may still go at 198 and
    // 199, so the largest file is 202 bytes.
    std::string full = repeat("a quit\n", 65) + "ab quit\nc quit\n";
    std::string full_bytes = repeat(bytes({'a', 0, 24}), 65) + bytes({'a', 'b', 0, 24, 'c', 0, 24});
    check_compile({
        {"202 bytes fit", full, 0, "", full_bytes},
        {"one key byte more", full + "d quit\n", 1, "too many commands, line 68\n"},
        {"the limit cuts a key", repeat("a quit\n", 66) + "bcd quit\n", 1,
         "too many commands, line 67\n"},
        // Earlier counted errors get no summary: the program stops at once.
        {"after counted errors", "q\n" + repeat("a quit\n", 66) + "b quit\n", 1,
         "missing whitespace on line 1\ntoo many commands, line 68\n"},
    });
}

struct argument_case {
    const char *what;
    std::vector<std::string> args;  // "IN" and "OUT" stand for the paths
    int status;
    std::string err;
    bool writes_out;
};

TEST_F(Mivokey, Arguments)
{
    std::vector<argument_case> cases = {
        {"joined -o", {"-oOUT", "IN"}, 0, "", true},
        {"separate -o", {"-o", "OUT", "IN"}, 0, "", true},
        {"last -o counts", {"-o", "IN.other", "-o", "OUT", "IN"}, 0, "", true},
        {"input before -o", {"IN", "-o", "OUT"}, 1, USAGE, false},
        {"extra argument", {"-o", "OUT", "IN", "extra"}, 1, USAGE, false},
        {"lone dash", {"-o", "OUT", "-"}, 1, USAGE, false},
        {"other option", {"-x", "-o", "OUT", "IN"}, 1, USAGE, false},
        {"-o without a name", {"IN", "-o"}, 1, USAGE, false},
        {"-o last of all", {"-o"}, 1, USAGE, false},
    };
    int n = 0;
    for (const argument_case &c : cases) {
        // A directory a case, so that none sees another's output.
        std::string d = subdir("case" + std::to_string(n++));
        write_file(d + "/IN", "q quit\n");
        std::vector<std::string> argv = {MIVOKEY_BIN};
        for (std::string a : c.args) {
            for (const char *word : {"IN", "OUT"})
                if (size_t at = a.find(word); at != std::string::npos)
                    a.replace(at, strlen(word), d + "/" + word);
            argv.push_back(a);
        }
        run_result r = run_program(argv, feed("", {"HOME=" + d}));
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(read_file(d + "/OUT"), c.writes_out ? bytes({'q', 0, 24}) : "") << c.what;
        EXPECT_EQ(access((d + "/.mivo").c_str(), F_OK), -1) << c.what << ": default output used";
        EXPECT_EQ(access((d + "/IN.other").c_str(), F_OK), -1) << c.what;
    }
}

TEST_F(Mivokey, OutputNameBeginningWithDash)
{
    run_options o = feed("v visual\n");
    o.cwd = dir();
    run_result r = run_program({MIVOKEY_BIN, "-o", "-keys"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path("-keys")), bytes({'v', 0, 32}));
}

TEST_F(Mivokey, StandardInputAndDefaultOutput)
{
    run_result r = run_program({MIVOKEY_BIN}, feed("q repaint\n", {"HOME=" + dir()}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path(".mivo")), bytes({'q', 0, 25}));

    // An empty input replaces the key file with an empty one.
    run_options empty = feed("", {"HOME=" + dir()});
    empty.stdin_null = true;
    r = run_program({MIVOKEY_BIN}, empty);
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(stat(path(".mivo").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(Mivokey, LongHome)
{
    std::string home = dir();
    while (home.size() < 3000)
        home += "/.";
    run_result r = run_program({MIVOKEY_BIN}, feed("q quit\n", {"HOME=" + home}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path(".mivo")), bytes({'q', 0, 24}));
}

TEST_F(Mivokey, HomeNeededOnlyForDefaultOutput)
{
    run_result r = run_program({MIVOKEY_BIN}, feed("q quit\n", {"HOME"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot find $HOME\n");

    // Errors in the input are reported before HOME is looked at.
    r = run_program({MIVOKEY_BIN}, feed("q\n", {"HOME"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errors("missing whitespace on line 1\n", 1));

    r = run_program({MIVOKEY_BIN, "-o", path("k")}, feed("q quit\n", {"HOME"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path("k")), bytes({'q', 0, 24}));
}

TEST_F(Mivokey, FailuresAreNeverSuccess)
{
    struct {
        const char *what;
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {"full disk", {"-o", "/dev/full"}, "/dev/full: No space left on device\n"},
        {"output cannot be opened", {"-o", path("missing/k")},
         path("missing/k") + ": No such file or directory\n"},
        {"input cannot be opened", {"-o", path("k"), path("nothing")},
         path("nothing") + ": No such file or directory\n"},
        {"input cannot be read", {"-o", path("k"), dir()}, dir() + ": Is a directory\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {MIVOKEY_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        run_result r = run_program(argv, feed("q quit\n"));
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
    EXPECT_EQ(access(path("k").c_str(), F_OK), -1) << "no output after a failed input";
}

TEST_F(Mivokey, SymlinkedKeyFileStaysALink)
{
    std::string target = path("dotfiles-mivo");
    write_file(target, "old contents");
    ASSERT_EQ(symlink(target.c_str(), path(".mivo").c_str()), 0);
    run_result r = run_program({MIVOKEY_BIN}, feed("\\33v back-screen\n", {"HOME=" + dir()}));
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(lstat(path(".mivo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(target), bytes({27, 'v', 0, 3}));
}

TEST_F(Mivokey, BindingsReachTheViewer)
{
    // Compiled bindings, loaded by the viewer: ESC x is unbound by default,
    // so only the user's table can make it quit.
    run_result r = run_program({MIVOKEY_BIN}, feed("\\33x quit\n", {"HOME=" + home()}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string text = file("text", "first line\nsecond line\n");

    pty_session s;
    ASSERT_TRUE(start(s, {text}));
    ASSERT_TRUE(s.wait_for_text("second line"));
    s.send("\x1bx");
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_EQ(s.screen_text().find("invalid user key file"), std::string::npos);
}

} // namespace
