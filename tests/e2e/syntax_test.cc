// Syntax colours: source code in the colours of its elements, by the
// file's name or the language asked for, under the highlights.
#include <unistd.h>

#include "tests/e2e/viewer_test.h"

namespace {

// The library's language files, where Debian puts them.
bool have_languages()
{
    return access("/usr/share/source-highlight/c.lang", R_OK) == 0 &&
           access("/usr/share/source-highlight/python.lang", R_OK) == 0;
}

// The palette's colours: keywords blue, comments cyan.
constexpr int BLUE = 4, CYAN = 6, PLAIN = -1;

class SyntaxColours : public viewer_test {
protected:
    SyntaxColours() : viewer_test(80) {}
    void SetUp() override
    {
        viewer_test::SetUp();
        if (!have_languages())
            GTEST_SKIP() << "no source-highlight language files";
    }
};

int fg(pty_session &s, int row, int col)
{
    return s.cell_attrs(row, col).foreground;
}

TEST_F(SyntaxColours, KeywordsAndCommentsByNameOrByChoice)
{
    const std::string c = "int f(void)\n{\n    return 1; /* one */\n}\n";
    const std::string py = "def f():\n    return 1  # one\n";
    // The keyword "return" and the comment on row 2 (C) or 1 (Python).
    struct variant {
        std::string name, content;
        std::vector<std::string> options;
        int row, comment_col, keyword, comment;
    } const variants[] = {
        {"prog.c", c, {}, 2, 15, BLUE, CYAN},
        {"prog.py", py, {}, 1, 14, BLUE, CYAN},
        {"prog.c", c, {"--syntax=off"}, 2, 15, PLAIN, PLAIN},
        {"prog", c, {}, 2, 15, PLAIN, PLAIN},                   // no language by its name
        {"prog", c, {"--syntax=c"}, 2, 15, BLUE, CYAN},
        // Input with colours of its own keeps them alone.
        {"prog.c", "\033[32mgreen\033[m\n" + c, {"-R"}, 3, 15, PLAIN, PLAIN},
    };
    for (const variant &v : variants) {
        SCOPED_TRACE(v.name + " " + (v.options.empty() ? "" : v.options[0]));
        pty_session s;
        ASSERT_TRUE(start(s, args_of(v.options, {file(v.name, v.content)})));
        ASSERT_TRUE(row_is(s, v.row, v.name == "prog.py" ? "    return 1  # one"
                                                         : "    return 1; /* one */"));
        EXPECT_TRUE(s.wait_for([&] {
            return fg(s, v.row, 4) == v.keyword && fg(s, v.row, v.comment_col) == v.comment;
        })) << fg(s, v.row, 4) << " " << fg(s, v.row, v.comment_col);
        // The text between them is plain.
        EXPECT_EQ(fg(s, v.row, 12), PLAIN);
        quit(s);
    }
    // A screen that may be the only one (-F) is coloured as it goes out.
    pty_session fits;
    ASSERT_TRUE(start(fits, {"-F", "-X", file("prog.c", c)}));
    expect_exit(fits, 0);
    EXPECT_EQ(fg(fits, 2, 4), BLUE) << fits.screen_text();
    // Nor does following from the start (+F) keep them waiting.
    pty_session following;
    ASSERT_TRUE(start(following, {"+F", "prog.c"}));
    EXPECT_TRUE(following.wait_for([&] { return fg(following, 2, 4) == BLUE; }));
    quit(following);
}

TEST_F(SyntaxColours, AJumpIntoALargeFileIsColouredAndHighlightsWin)
{
    // About 5 MB of functions; each has a comment over three lines.
    std::string text;
    for (int i = 0; text.size() < 5'000'000; i++)
        text += "/* function\n   number " + std::to_string(i) + "\n */\nint f" + std::to_string(i) +
                "(void)\n{\n    return " + std::to_string(i) + ";\n}\n";
    pty_session s;
    file("big.c", text);
    ASSERT_TRUE(start(s, {"--highlight=return", "big.c"}));
    s.send("50%");
    // Every row of a comment in cyan, the keyword under its highlight.
    auto row_of = [&](const std::string &prefix) {
        for (int r = 0; r < 9; r++)
            if (s.row_text(r).rfind(prefix, 0) == 0)
                return r;
        return -1;
    };
    ASSERT_TRUE(s.wait_for([&] {
        int number = row_of("   number "), ret = row_of("    return ");
        return number >= 0 && ret >= 0 && fg(s, number, 3) == CYAN &&
               s.cell_attrs(ret, 4).background == 3;
    })) << s.screen_text();
    // The status names the language; off while viewing, and no colour.
    s.send("=");
    ASSERT_TRUE(bottom_has(s, "syntax: c"));
    s.send("\r--syntax=off\r");
    EXPECT_TRUE(s.wait_for([&] {
        int number = row_of("   number ");
        return number >= 0 && fg(s, number, 3) == PLAIN;
    })) << s.screen_text();
    quit(s);
}

TEST_F(SyntaxColours, StandardInputOnlyByChoice)
{
    for (bool chosen : {false, true}) {
        SCOPED_TRACE(chosen ? "--syntax=python" : "no choice");
        pty_session s;
        pty_options o = window();
        o.stdin_pipe = true;
        ASSERT_TRUE(start(s, chosen ? std::vector<std::string>{"--syntax=python"}
                                    : std::vector<std::string>{}, o));
        s.write_stdin("def f():\n    return 1  # one\n");
        s.close_stdin();
        ASSERT_TRUE(row_is(s, 1, "    return 1  # one"));
        EXPECT_TRUE(s.wait_for([&] { return fg(s, 1, 14) == (chosen ? CYAN : PLAIN); }));
        EXPECT_EQ(fg(s, 1, 4), chosen ? BLUE : PLAIN);
        quit(s);
    }
}

TEST_F(SyntaxColours, AnUnknownLanguageIsToldAndNothingIsColoured)
{
    pty_session s;
    ASSERT_TRUE(start(s, {file("prog.c", "int x;\n")}));
    ASSERT_TRUE(s.wait_for([&] { return fg(s, 0, 0) != PLAIN; }));
    s.send("--syntax=klingon\r");
    ASSERT_TRUE(bottom_is(s, message("klingon: no such language")));
    ASSERT_TRUE(dismiss(s));
    // The setting it had stays.
    EXPECT_NE(fg(s, 0, 0), PLAIN);
    quit(s);
}

} // namespace
