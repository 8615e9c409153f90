// Patterns highlighted in colours of their own, and the row a jump puts
// its target on.
#include "tests/e2e/viewer_test.h"

namespace {

class Highlighting : public viewer_test {
protected:
    Highlighting() : viewer_test(40) {}
};

// The colours of the cells from col on, count of them: "fg/bg" each,
// separated by spaces.
std::string colours(pty_session &s, int row, int col, int count)
{
    std::string out;
    for (int c = col; c < col + count; c++) {
        text_attrs a = s.cell_attrs(row, c);
        out += (out.empty() ? "" : " ") + std::to_string(a.foreground) + "/" +
               std::to_string(a.background);
    }
    return out;
}

TEST_F(Highlighting, PatternsTakeColoursOfTheirOwnOverTheInputsColour)
{
    // "green apple pie" in the input's green, then plain text.
    std::string f = file("f", "x\n\033[32mgreen apple pie\033[m an apple\n" + numbered(1, 20));
    pty_session s;
    ASSERT_TRUE(start(s, {"--highlight=apple", f}));
    ASSERT_TRUE(row_is(s, 1, "green apple pie an apple"));
    s.send("*p[i]e\r");
    struct step {
        std::string keys;
        std::string green, apple, pie, plain_apple;   // cols 0, 6, 12, 19
    };
    const step steps[] = {
        {"", "2/-1", "0/3", "0/6", "0/3"},
        {"*!\r", "2/-1", "0/3", "2/-1", "0/3"},       // the last one added goes
        {"*pie\r", "2/-1", "0/3", "0/6", "0/3"},
        {"*\r", "2/-1", "2/-1", "2/-1", "-1/-1"},     // all go
    };
    for (const step &t : steps) {
        SCOPED_TRACE(t.keys);
        s.send(t.keys);
        EXPECT_TRUE(s.wait_for([&] {
            return colours(s, 1, 0, 1) == t.green && colours(s, 1, 6, 1) == t.apple &&
                   colours(s, 1, 12, 1) == t.pie && colours(s, 1, 19, 1) == t.plain_apple;
        })) << colours(s, 1, 0, 24);
        // Whole matches and nothing around them.
        EXPECT_EQ(colours(s, 1, 6, 5), t.apple + " " + t.apple + " " + t.apple + " " + t.apple +
                                           " " + t.apple);
        EXPECT_EQ(colours(s, 1, 5, 1), "2/-1");
    }
    // The search keeps standout where it meets a highlight.
    s.send("*apple\r/an apple\r");
    ASSERT_TRUE(top_is(s, "green apple pie an apple"));
    EXPECT_TRUE(s.wait_for([&] { return s.cell_attrs(0, 16).reverse; }));
    EXPECT_TRUE(s.cell_attrs(0, 23).reverse);
    EXPECT_EQ(colours(s, 0, 6, 1), "0/3");
    quit(s);
}

TEST_F(Highlighting, WithoutColoursPatternsAreUnderlinedOrBold)
{
    std::string f = file("f", "one two three\n");
    pty_options o = window();
    o.term = "vt100";
    pty_session s;
    ASSERT_TRUE(start(s, {"--highlight=one", "--highlight=two", f}, o));
    ASSERT_TRUE(top_is(s, "one two three"));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == "uuu bbb"; })) << s.row_attrs(0);
    quit(s);
}

TEST_F(Highlighting, JumpsPutTheirTargetOnTheTargetRow)
{
    std::string f = file("f", numbered(1, 19) + "target A\n" + numbered(21, 29) + "target B\n" +
                                  numbered(31, 60));
    struct step {
        std::string option, keys, row_text;
        int row;
    };
    const step steps[] = {
        {"--jump-target=3", "/target\r", "target A", 3},
        {"--jump-target=3", "/targ", "target A", 3},   // the preview while typing
        {"--jump-target=3", "/target\rn", "target B", 3},
        {"--jump-target=3", "/target\rn?target\r", "target A", 3},
        {"--jump-target=3", "25g", "line 25.", 3},
        {"--jump-target=3", "5g", "line 5.", 3},
        {"--jump-target=3", "2g", "line 2.", 1},        // too near the start
        {"--jump-target=50%", "/target\rn", "target B", 4},
        {"--jump-target=0", "/target\rn", "target B", 0},
    };
    for (const step &t : steps) {
        SCOPED_TRACE(t.option + " " + t.keys);
        pty_session s;
        ASSERT_TRUE(start(s, {t.option, f}));
        ASSERT_TRUE(top_is(s, "line 1."));
        s.send(t.keys);
        EXPECT_TRUE(row_is(s, t.row, t.row_text));
        if (t.keys[0] == '/' && t.keys.back() != '\r') {
            s.send("\r");
            EXPECT_TRUE(row_is(s, t.row, t.row_text));
        }
        quit(s);
    }
    // Changed and shown while viewing.
    pty_session s;
    ASSERT_TRUE(start(s, {"--jump-target=50%", f}));
    ASSERT_TRUE(top_is(s, "line 1."));
    ASSERT_TRUE(gives_message(s, "_-jump-target\r", "Jump target: row 50%"));
    s.send("--jump-target=2\r/target\r");
    EXPECT_TRUE(row_is(s, 2, "target A"));
    quit(s);
}

} // namespace
