// Whole runs of mivokey: source text in, key-file bytes, messages and exit
// status out, byte for byte.
#include "tests/e2e/subprocess.h"
#include "tests/e2e/terminal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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

// Standard input and environment changes for one run.
run_options feed(const std::string &input, std::vector<std::string> env = {})
{
    run_options o;
    o.input = input;
    o.env = std::move(env);
    return o;
}

// Compile each source from a file into a fresh output file; on failure the
// previous output must be left exactly as it was.
void check_compile(const std::vector<compile_case> &cases)
{
    std::string dir = make_temp_dir();
    ASSERT_FALSE(dir.empty());
    for (const compile_case &c : cases) {
        std::string in = dir + "/bindings";
        std::string out = dir + "/out";
        write_file(in, c.source);
        write_file(out, "previous");
        run_result r = run_program({MIVOKEY_BIN, "-o", out, in});
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_EQ(read_file(out), c.status == 0 ? c.bytes : "previous") << c.what;
    }
}

TEST(Mivokey, KeyNotation)
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

TEST(Mivokey, EveryActionName)
{
    struct {
        const char *name;
        int code;
    } names[] = {
        {"back-line", 2}, {"back-screen", 3}, {"back-scroll", 4}, {"back-search", 5},
        {"debug", 8}, {"display-flag", 7}, {"display-option", 7}, {"end", 16},
        {"examine", 9}, {"first-cmd", 10}, {"firstcmd", 10}, {"flush-repaint", 11},
        {"forw-line", 12}, {"forw-screen", 13}, {"forw-scroll", 14}, {"forw-search", 15},
        {"goto-end", 16}, {"goto-line", 17}, {"goto-mark", 18}, {"help", 19},
        {"invalid", 101}, {"next-file", 20}, {"noaction", 101}, {"percent", 21},
        {"prev-file", 23}, {"quit", 24}, {"repaint", 25}, {"repaint-flush", 11},
        {"repeat-search", 1}, {"set-mark", 26}, {"shell", 27}, {"status", 28},
        {"toggle-flag", 30}, {"toggle-option", 30}, {"version", 31}, {"visual", 32},
    };
    std::string source, expected;
    for (const auto &n : names) {
        source += std::string("x ") + n.name + "\n";
        expected += bytes({'x', 0, n.code});
    }
    check_compile({{"all 36 names", source, 0, "", expected}});
}

TEST(Mivokey, CountedErrors)
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

TEST(Mivokey, TableLimit)
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

TEST(Mivokey, Arguments)
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
    for (const argument_case &c : cases) {
        std::string dir = make_temp_dir();
        write_file(dir + "/IN", "q quit\n");
        std::vector<std::string> argv = {MIVOKEY_BIN};
        for (std::string a : c.args) {
            for (const char *word : {"IN", "OUT"})
                if (size_t at = a.find(word); at != std::string::npos)
                    a.replace(at, strlen(word), dir + "/" + word);
            argv.push_back(a);
        }
        run_result r = run_program(argv, feed("", {"HOME=" + dir}));
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(read_file(dir + "/OUT"), c.writes_out ? bytes({'q', 0, 24}) : "") << c.what;
        EXPECT_EQ(access((dir + "/.mivo").c_str(), F_OK), -1) << c.what << ": default output used";
        EXPECT_EQ(access((dir + "/IN.other").c_str(), F_OK), -1) << c.what;
    }
}

TEST(Mivokey, OutputNameBeginningWithDash)
{
    std::string dir = make_temp_dir();
    run_options o = feed("v visual\n");
    o.cwd = dir;
    run_result r = run_program({MIVOKEY_BIN, "-o", "-keys"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/-keys"), bytes({'v', 0, 32}));
}

TEST(Mivokey, StandardInputAndDefaultOutput)
{
    std::string dir = make_temp_dir();
    run_result r = run_program({MIVOKEY_BIN}, feed("q repaint\n", {"HOME=" + dir}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/.mivo"), bytes({'q', 0, 25}));

    // An empty input replaces the key file with an empty one.
    run_options empty = feed("", {"HOME=" + dir});
    empty.stdin_null = true;
    r = run_program({MIVOKEY_BIN}, empty);
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(stat((dir + "/.mivo").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST(Mivokey, LongHome)
{
    std::string dir = make_temp_dir();
    std::string home = dir;
    while (home.size() < 3000)
        home += "/.";
    run_result r = run_program({MIVOKEY_BIN}, feed("q quit\n", {"HOME=" + home}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/.mivo"), bytes({'q', 0, 24}));
}

TEST(Mivokey, HomeNeededOnlyForDefaultOutput)
{
    std::string dir = make_temp_dir();
    run_result r = run_program({MIVOKEY_BIN}, feed("q quit\n", {"HOME"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot find $HOME\n");

    // Errors in the input are reported before HOME is looked at.
    r = run_program({MIVOKEY_BIN}, feed("q\n", {"HOME"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, errors("missing whitespace on line 1\n", 1));

    r = run_program({MIVOKEY_BIN, "-o", dir + "/k"}, feed("q quit\n", {"HOME"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/k"), bytes({'q', 0, 24}));
}

TEST(Mivokey, FailuresAreNeverSuccess)
{
    std::string dir = make_temp_dir();
    struct {
        const char *what;
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {"full disk", {"-o", "/dev/full"}, "/dev/full: No space left on device\n"},
        {"output cannot be opened", {"-o", dir + "/missing/k"},
         dir + "/missing/k: No such file or directory\n"},
        {"input cannot be opened", {"-o", dir + "/k", dir + "/nothing"},
         dir + "/nothing: No such file or directory\n"},
        {"input cannot be read", {"-o", dir + "/k", dir}, dir + ": Is a directory\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv = {MIVOKEY_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        run_result r = run_program(argv, feed("q quit\n"));
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
    EXPECT_EQ(access((dir + "/k").c_str(), F_OK), -1) << "no output after a failed input";
}

TEST(Mivokey, SymlinkedKeyFileStaysALink)
{
    std::string dir = make_temp_dir();
    std::string target = dir + "/dotfiles-mivo";
    write_file(target, "old contents");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/.mivo").c_str()), 0);
    run_result r = run_program({MIVOKEY_BIN}, feed("\\33v back-screen\n", {"HOME=" + dir}));
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(lstat((dir + "/.mivo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(target), bytes({27, 'v', 0, 3}));
}

TEST(Mivokey, BindingsReachTheViewer)
{
    // Compiled bindings, loaded by the viewer: ESC x is unbound by default,
    // so only the user's table can make it quit.
    std::string home = make_temp_dir();
    run_result r = run_program({MIVOKEY_BIN}, feed("\\33x quit\n", {"HOME=" + home}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string text = home + "/text";
    write_file(text, "first line\nsecond line\n");

    pty_session s;
    pty_options o;
    o.rows = 10;
    o.env = {"HOME=" + home};
    ASSERT_TRUE(s.start({QUOREL_BIN, text}, o));
    ASSERT_TRUE(s.wait_for_text("second line"));
    s.send("\x1bx");
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_EQ(s.screen_text().find("invalid user key file"), std::string::npos);
}

} // namespace
