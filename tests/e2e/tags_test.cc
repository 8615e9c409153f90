// Whole runs of the viewer started at a tag, or sent to one while viewing:
// how lines of the "tags" file are read, which line of the tag's file
// becomes the top line, and how failures end the program.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// A C file whose only line that is exactly "int main(void)" is line 6;
// near misses come before it, a second exact copy after it.
const std::string MAIN_C =
    "#include <stdio.h>\n"
    "int main(void);\n"
    "  int main(void)\n"
    "int main(void) {\n"
    "/* int main(void) */\n"
    "int main(void)\n"
    "{\n"
    "    return 0;\n"
    "}\n"
    "int main(void)\n"
    "end of main.c\n";

// More lines than the screen holds, so the first screen fills from the top.
const std::string NOTES = "notes 1\nnotes 2\nnotes 3\nnotes 4\nnotes 5\nnotes 6\n"
                          "notes 7\nnotes 8\nnotes 9\nnotes 10\nnotes 11\n";

// The viewer runs in the directory that holds "tags" and main.c.
class Tags : public viewer_test {
protected:
    Tags() : viewer_test(60) {}

    void SetUp() override
    {
        viewer_test::SetUp();
        file("main.c", MAIN_C);
    }

    void tags(const std::string &bytes) { file("tags", bytes); }
};

// The rows of MAIN_C from the tag's line down: the screen after a tag
// located at line 6.
::testing::AssertionResult shows_main_from_tag(pty_session &s)
{
    if (auto r = row_is(s, 0, "int main(void)"); !r)
        return r;
    if (auto r = row_is(s, 1, "{"); !r)
        return r;
    return row_is(s, 5, "end of main.c");
}

// Lines of "tags" that all lead to line 6 of main.c for the tag main.
TEST_F(Tags, TagsLinesThatLeadToTheExactLine)
{
    struct tags_case {
        const char *what;
        std::string tags;
    };
    const std::vector<tags_case> cases = {
        {"slash delimiters", "main\tmain.c\t/^int main(void)$/\n"},
        {"question marks", "main\tmain.c\t?^int main(void)$?\n"},
        {"spaces between fields", "main  main.c \t /^int main(void)$/\n"},
        {"no anchors", "main\tmain.c\t/int main(void)/\n"},
        {"text after the closing delimiter", "main\tmain.c\t/^int main(void)$/;\"\tf\n"},
        {"longer tag first", "mainloop\tother.c\t/^x$/\nmain\tmain.c\t/^int main(void)$/\n"},
        {"other tags first", "aaa\tother.c\t/^x$/\nmain\tmain.c\t/^int main(void)$/\n"},
        // Without a search text the line is passed over, the next one taken.
        {"line without a search text", "main\tother.c\nmain\tmain.c\t/^int main(void)$/\n"},
        {"line without a file name", "main\t\nmain\tmain.c\t/^int main(void)$/\n"},
        {"tag alone", "main\nmain\tmain.c\t/^int main(void)$/\n"},
    };
    for (const tags_case &c : cases) {
        SCOPED_TRACE(c.what);
        tags(c.tags);
        pty_session s;
        ASSERT_TRUE(start(s, {"-tmain"}));
        ASSERT_TRUE(shows_main_from_tag(s));
        quit(s);
    }
}

TEST_F(Tags, PrefixOfAnotherTagIsNotTakenForIt)
{
    file("loop.c", "void mainloop(void)\n{\n}\n");
    tags("mainloop\tloop.c\t/^void mainloop(void)$/\n"
         "main\tmain.c\t/^int main(void)$/\n");
    {
        pty_session s;
        ASSERT_TRUE(start(s, {"-tmain"}));
        ASSERT_TRUE(shows_main_from_tag(s));
        quit(s);
    }
    pty_session s;
    ASSERT_TRUE(start(s, {"-tmainloop"}));
    ASSERT_TRUE(row_is(s, 0, "void mainloop(void)"));
    EXPECT_TRUE(row_is(s, 1, "{"));
    quit(s);
}

TEST_F(Tags, SearchTextEndsAtTheFirstDelimiter)
{
    // /^a/b$/ gives the text "a": the line "a/b" is passed by.
    file("slash.c", "x\na/b\ny\na\nafter a\n");
    tags("ab\tslash.c\t/^a/b$/\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"-tab"}));
    ASSERT_TRUE(row_is(s, 0, "a"));
    EXPECT_TRUE(row_is(s, 1, "after a"));
    quit(s);
}

TEST_F(Tags, TagThatIsNotLocatedEndsTheProgram)
{
    struct failure_case {
        const char *what;
        std::string tags;
    };
    // The text keeps its line's newline, or names a line main.c lacks.
    const std::vector<failure_case> cases = {
        {"missing closing delimiter", "main\tmain.c\t/^int main(void)$\n"},
        {"no such line", "main\tmain.c\t/^int main(int argc)$/\n"},
    };
    for (const failure_case &c : cases) {
        SCOPED_TRACE(c.what);
        tags(c.tags);
        pty_session s;
        ASSERT_TRUE(start(s, {"-tmain"}));
        ASSERT_TRUE(bottom_is(s, "Tag not found  (press RETURN)"));
        s.send("\r");
        expect_exit(s, 1);
    }
}

// Failures found while the options are read: the message goes to standard
// error (the terminal here) and no file is opened.
TEST_F(Tags, LookupFailuresEndTheProgramWithStatusOne)
{
    struct lookup_case {
        const char *what;
        const char *tags;           // nullptr: no tags file
        std::vector<std::string> args;
        const char *message;
    };
    const std::vector<lookup_case> cases = {
        {"no tags file", nullptr, {"-tmain"}, "No tags file"},
        {"unknown tag", "mainloop\tmain.c\t/^int main(void)$/\n", {"-tmain"},
         "No such tag in tags file"},
        {"only lines without search text", "main\tmain.c\n", {"-tmain"},
         "No such tag in tags file"},
        {"file names with -t", "main\tmain.c\t/^int main(void)$/\n",
         {"-tmain", "main.c"}, "No filenames allowed with -t option"},
    };
    for (const lookup_case &c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        std::filesystem::remove(path("tags"), ec);
        if (c.tags)
            tags(c.tags);
        pty_session s;
        ASSERT_TRUE(start(s, c.args));
        expect_exit(s, 1);
        EXPECT_NE(s.output().find(c.message), std::string::npos) << s.output();
        EXPECT_EQ(s.output().find("#include"), std::string::npos);
        EXPECT_EQ(s.output().find("int main(void)"), std::string::npos);
    }
}

TEST_F(Tags, TagWhileViewingOpensItsFile)
{
    file("notes", NOTES);
    tags("main\tmain.c\t/^int main(void)$/\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"notes"}));
    ASSERT_TRUE(row_is(s, 0, "notes 1"));
    s.send("-t");
    s.send("main\r");
    ASSERT_TRUE(shows_main_from_tag(s));
    quit(s);
}

TEST_F(Tags, TagWhileViewingFailures)
{
    file("notes", NOTES);
    tags("main\tmain.c\t/^int main(void)$/\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"notes"}));
    ASSERT_TRUE(row_is(s, 0, "notes 1"));

    ASSERT_TRUE(gives_message(s, "-t\r", "no tag"));

    // A tag the file does not hold leaves the view where it was.
    ASSERT_TRUE(gives_message(s, "-tnothing\r", "No such tag in tags file"));
    EXPECT_EQ(s.row_text(0), "notes 1");
    EXPECT_FALSE(s.exited());
    quit(s);
}

TEST_F(Tags, LineNumberAfterATagFarDown)
{
    std::string text;
    for (int i = 1; i <= 1000; i++)
        text += i == 500 ? std::string("int main(void)\n") : "line " + std::to_string(i) + ".\n";
    file("long.c", text);
    tags("main\tlong.c\t/^int main(void)$/\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"-M", "-tmain"}));
    ASSERT_TRUE(row_is(s, 0, "int main(void)"));
    EXPECT_TRUE(row_is(s, 1, "line 501."));
    EXPECT_TRUE(bottom_has(s, "long.c line 500 "));
    s.send("j");
    ASSERT_TRUE(row_is(s, 0, "line 501."));
    EXPECT_TRUE(bottom_has(s, " line 501 "));
    quit(s);
}

} // namespace
