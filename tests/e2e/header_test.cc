// Rows held at the top while the text scrolls under them: the input's
// first lines (--header) and the start line of the section shown
// (--section, with } and {).
#include "tests/e2e/viewer_test.h"

namespace {

class Header : public viewer_test {
protected:
    Header() : viewer_test(40) {}
};

// Whether the row is bold throughout its text and the row under it is not.
bool held_in_bold(pty_session &s, int row)
{
    int n = static_cast<int>(s.row_text(row).size());
    for (int c = 0; c < n; c++)
        if (!s.cell_attrs(row, c).bold)
            return false;
    return n > 0;
}

TEST_F(Header, StaysOnTopWhileMovesAndSearchesScrollTheRestUnderIt)
{
    std::string f = file("f", "head one\nhead two\n" + numbered(1, 100));
    pty_session s;
    ASSERT_TRUE(start(s, {"--header=2", f}));    // 10 rows: 2 held, 7 of text
    struct step {
        std::string keys, top, bottom;   // rows 2 and 8
    };
    const step steps[] = {
        {"", "line 1.", "line 7."},
        {" ", "line 8.", "line 14."},
        {"j", "line 9.", "line 15."},
        {"b", "line 2.", "line 8."},
        {"5k", "line 1.", "line 7."},             // never a header line under them
        {"G", "line 94.", "line 100."},
        {"g", "line 1.", "line 7."},
        {"/line 2\\.\r", "line 2.", "line 8."},   // a search near the top
        {"?head two\r", "line 1.", "line 7."},    // a match in the header
        {"50%", "line 50.", "line 56."},
        {"mag'a", "line 50.", "line 56."},
        {"g&line [0-9]*0\\.\r", "line 10.", "line 70."},   // the filter leaves the header
        {"G", "line 40.", "line 100."},
        {"&\r", "line 40.", "line 46."},
    };
    for (const step &t : steps) {
        SCOPED_TRACE(t.keys);
        s.send(t.keys);
        ASSERT_TRUE(row_is(s, 2, t.top));
        ASSERT_TRUE(row_is(s, 8, t.bottom));
        EXPECT_EQ(s.row_text(0), "head one");
        EXPECT_EQ(s.row_text(1), "head two");
        EXPECT_TRUE(held_in_bold(s, 0) && held_in_bold(s, 1) && !s.cell_attrs(2, 0).bold);
    }
    // Numbered as the rest.
    s.send("-N\r");
    ASSERT_TRUE(row_is(s, 0, "      1 head one"));
    ASSERT_TRUE(row_is(s, 2, "     42 line 40."));
    quit(s);
}

TEST_F(Header, MovesSidewaysWithChoppedLinesAndKeepsARowForTheText)
{
    std::string f = file("f", std::string(100, 'H') + "\nsecond\n" + numbered(1, 50));
    pty_session s;
    ASSERT_TRUE(start(s, {"--header=2", f}, window(6)));
    // Folded, the first line takes three rows, the second one, and the
    // text keeps the row left.
    ASSERT_TRUE(rows_are(s, {std::string(40, 'H'), std::string(40, 'H'), std::string(20, 'H'),
                             "second", "line 1."}));
    s.send("-S\r");
    ASSERT_TRUE(rows_are(s, {std::string(39, 'H') + ">", "second", "line 1.", "line 2.",
                             "line 3."}));
    s.send("\033[C");
    ASSERT_TRUE(row_is(s, 0, "<" + std::string(38, 'H') + ">"));
    EXPECT_TRUE(held_in_bold(s, 0));
    s.send("\033[D");
    ASSERT_TRUE(row_is(s, 0, std::string(39, 'H') + ">"));
    ASSERT_TRUE(gives_message(s, "--header=9\r", "9 header lines"));
    // Five rows: four held, one of text.
    ASSERT_TRUE(rows_are(s, {std::string(39, 'H') + ">", "second", "line 1.", "line 2.",
                             "line 8."}));
    quit(s);
}

TEST_F(Header, OnAPipeWaitsForItsLinesShowingThoseThatCame)
{
    pty_session s;
    pty_options o = window(6);
    o.stdin_pipe = true;
    ASSERT_TRUE(start(s, {"--header=2"}, o));
    s.write_stdin("name size\n");
    ASSERT_TRUE(row_is(s, 0, "name size"));
    ASSERT_TRUE(bottom_has(s, "Waiting for data"));
    s.write_stdin("---- ----\n" + numbered(1, 20));
    ASSERT_TRUE(rows_are(s, {"name size", "---- ----", "line 1.", "line 2.", "line 3."}));
    s.send(" ");
    ASSERT_TRUE(rows_are(s, {"name size", "---- ----", "line 4.", "line 5.", "line 6."}));
    EXPECT_TRUE(held_in_bold(s, 1));
    s.close_stdin();
    quit(s);
}

// A log with patches: each "diff --git" line starts a section.
std::string patches()
{
    std::string text;
    for (int c = 1; c <= 3; c++) {
        text += "commit " + std::to_string(c) + "\n\n    change " + std::to_string(c) + "\n";
        for (int f = 1; f <= 2; f++) {
            std::string name = "f" + std::to_string(c) + std::to_string(f);
            text += "diff --git a/" + name + " b/" + name + "\n--- a/" + name + "\n+++ b/" + name +
                    "\n" + numbered(1, 8, " context " + name);
        }
    }
    return text;
}

TEST_F(Header, SectionStartStaysOnTopWhileTheSectionScrolls)
{
    std::string f = file("log", patches());
    // Alone, and under a header line.
    for (int held : {0, 1}) {
        SCOPED_TRACE(held);
        pty_session s;
        ASSERT_TRUE(start(s, {"--header=" + std::to_string(held), "--section=^diff --git", f}));
        struct step {
            std::string keys, section, top;   // the section's row, the row under it
        };
        const step steps[] = {
            {"}", "diff --git a/f11 b/f11", "--- a/f11"},
            {"3j", "diff --git a/f11 b/f11", " context f11 2."},
            {"2}", "diff --git a/f21 b/f21", "--- a/f21"},
            {"{", "diff --git a/f12 b/f12", "--- a/f12"},
            {"4j{", "diff --git a/f12 b/f12", "--- a/f12"},   // the start of its own
            {"9j", "diff --git a/f12 b/f12", " context f12 8."},
            // The next section's start scrolls up under the held one, and
            // then takes its place.
            {"4j", "diff --git a/f12 b/f12", "diff --git a/f21 b/f21"},
            {"j", "diff --git a/f21 b/f21", "--- a/f21"},
        };
        for (const step &t : steps) {
            SCOPED_TRACE(t.keys);
            s.send(t.keys);
            ASSERT_TRUE(row_is(s, held, t.section));
            ASSERT_TRUE(row_is(s, held + 1, t.top));
            EXPECT_TRUE(held_in_bold(s, held) && !s.cell_attrs(held + 1, 1).bold);
            if (held) {
                EXPECT_EQ(s.row_text(0), "commit 1");
            }
        }
        ASSERT_TRUE(gives_message(s, "9}", "Pattern not found"));
        s.send("g");
        ASSERT_TRUE(row_is(s, held, held ? "" : "commit 1"));
        ASSERT_TRUE(gives_message(s, "{", "Pattern not found"));
        quit(s);
    }
}

} // namespace
