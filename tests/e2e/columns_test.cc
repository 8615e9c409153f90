// Column mode: fields aligned, searched where they stand in the input, and
// moved sideways a column at a time.
#include "tests/e2e/viewer_test.h"

namespace {

class Columns : public viewer_test {
protected:
    Columns() : viewer_test(40) {}
};

TEST_F(Columns, QuotedCommasAndWideCharactersAlign)
{
    std::string f = file("t.csv", "name,qty,note\n"
                                  "Bob,42,\"hello, world\"\n"
                                  "\xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd,7,\"say \"\"hi\"\"\"\n"
                                  "\"unclosed, quote\n"
                                  "x,1234.5,\n"
                                  "5,0,five\n");
    pty_options o = window();
    o.env = {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"};
    pty_session s;
    ASSERT_TRUE(start(s, {"--columns", "--column-colours", f}, o));
    // The unclosed quote ends its record with the line; numbers go right.
    EXPECT_TRUE(rows_are(s, {"name            \xe2\x94\x82 qty    \xe2\x94\x82 note",
                             "Bob             \xe2\x94\x82     42 \xe2\x94\x82 hello, world",
                             "\xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd          \xe2\x94\x82      7 "
                             "\xe2\x94\x82 say \"hi\"",
                             "unclosed, quote",
                             "x               \xe2\x94\x82 1234.5 \xe2\x94\x82",
                             "              5 \xe2\x94\x82      0 \xe2\x94\x82 five"}))
        << s.screen_text();
    // Every other column tinted. A search matches the input's text: across
    // the quote that is not shown, and over the separator that stands for
    // the comma. Its standout replaces the tint.
    EXPECT_EQ(s.cell_attrs(1, 23).foreground, 6);
    EXPECT_EQ(s.cell_attrs(1, 0).foreground, -1);
    s.send("/42,\"hello\r");
    ASSERT_TRUE(top_is(s, "Bob             \xe2\x94\x82     42 \xe2\x94\x82 hello, world"));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == std::string(22, ' ') + "rrrrrrrrrr"; }))
        << s.row_attrs(0);
    EXPECT_EQ(s.cell_attrs(0, 23).foreground, -1);
    EXPECT_EQ(s.cell_attrs(1, 23).foreground, 6);
    // A row that begins with padding: only the cells that show the match.
    s.send("/^5\r");
    ASSERT_TRUE(top_is(s, "              5 \xe2\x94\x82      0 \xe2\x94\x82 five"));
    EXPECT_TRUE(s.wait_for([&] { return s.row_attrs(0) == std::string(14, ' ') + "r"; }))
        << s.row_attrs(0);
    quit(s);
}

TEST_F(Columns, ArrowsMoveAColumnPastTheHeldOnes)
{
    std::string f = file("t.csv", "id,alpha,bravo,charlie,delta,echo\n"
                                  "1,a1,bbbbbbbbbbbb,cccccccccccc,dd,ee\n");
    pty_session s;
    ASSERT_TRUE(start(s, {"-S", "--columns=,", "--header-columns=1", f}));
    struct step {
        std::string keys, header, row;
    } const steps[] = {
        {"", "id | alpha | bravo        | charlie    >", " 1 | a1    | bbbbbbbbbbbb | ccccccccccc>"},
        {"\033[C", "id | <bravo        | charlie      | del>", " 1 | <bbbbbbbbbbbb | cccccccccccc | dd >"},
        {"\033[C", "id | <charlie      | delta | echo", " 1 | <cccccccccccc | dd    | ee"},
        {"\033[D", "id | <bravo        | charlie      | del>", " 1 | <bbbbbbbbbbbb | cccccccccccc | dd >"},
        // A count moves as many columns, never left of the first.
        {"5\033[D", "id | alpha | bravo        | charlie    >", " 1 | a1    | bbbbbbbbbbbb | ccccccccccc>"},
    };
    for (const step &t : steps) {
        SCOPED_TRACE(t.keys);
        s.send(t.keys);
        EXPECT_TRUE(rows_are(s, {t.header, t.row})) << s.screen_text();
    }
    quit(s);
}

} // namespace
