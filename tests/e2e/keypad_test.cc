// Whole runs of the viewer driven by the arrow, page and home/end keys, in
// the forms terminals send and in the form a terminal description names.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const std::string ESC = "\x1b";

class Keypad : public viewer_test {};

// Nine text rows over 60 lines; each pair is keys and the top row after.
TEST_F(Keypad, ArrowPageHomeAndEndInBothCursorModes)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {ESC + "[B", "line 2."}, {ESC + "OB", "line 3."}, {ESC + "[A", "line 2."},
        {ESC + "OA", "line 1."}, {"5" + ESC + "[B", "line 6."}, {ESC + "[6~", "line 15."},
        {ESC + "[5~", "line 6."}, {ESC + "[F", "line 52."}, {ESC + "[H", "line 1."},
        {ESC + "OF", "line 52."}, {ESC + "OH", "line 1."}, {ESC + "[4~", "line 52."},
        {ESC + "[1~", "line 1."}, {ESC + "[8~", "line 52."}, {"7" + ESC + "[7~", "line 7."},
    };
    pty_session s;
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    for (const auto &[keys, top] : cases) {
        SCOPED_TRACE(keys.substr(1));
        s.send(keys);
        ASSERT_TRUE(top_is(s, top));
        // The whole sequence was one command: the prompt is back.
        ASSERT_TRUE(s.wait_for_row(s.rows() - 1, [](const std::string &t) {
            return t == ":" || t == "(END)";
        })) << s.screen_text();
    }
    EXPECT_EQ(s.bell_count(), 0);
    quit(s);
}

// cons25 names ESC [ G and ESC [ I for Page Down and Page Up.
TEST_F(Keypad, KeysOfTheTerminalDescription)
{
    pty_session s;
    pty_options o = window();
    o.term = "cons25";
    ASSERT_TRUE(start(s, {file("f", numbered(1, 60))}, o));
    ASSERT_TRUE(s.wait_for_text("line 9."));
    s.send(ESC + "[G");
    ASSERT_TRUE(top_is(s, "line 10."));
    s.send(ESC + "[I");
    ASSERT_TRUE(top_is(s, "line 1."));
    quit(s);
}

} // namespace
