// Syntax colours worked out in the order of jumps and moves agree with
// those of a paint of every line from the start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/unit/fixtures.h"
#include "viewer/display/line.h"
#include "viewer/display/style.h"
#include "viewer/display/syntax.h"

namespace {

// The elements of the row at pos, one digit a cell; the next row's start
// in *next.
std::string elements(file_pos pos, file_pos *next)
{
    static cell_style styles[STYLE_ROW_CELLS];
    display_row row;
    *next = line_next(pos, &row);
    style_row(row, styles);
    syntax_paint_begin(true);
    syntax_style(row, styles);
    std::string out;
    for (int i = 0; i < row.count; i++)
        out += static_cast<char>('0' + (styles[i] >> STYLE_SYNTAX_SHIFT));
    return out;
}

TEST(Syntax, ColoursInAnyOrderAgreeWithAPaintFromTheStart)
{
    if (access("/usr/share/source-highlight/c.lang", R_OK) != 0)
        GTEST_SKIP() << "no source-highlight language files";
    settings_reset();
    screen_reset(24, 200);
    // Comments over two lines, so that a line's colours depend on the one
    // before it; some 800 KB, well beyond the reach of one fresh start.
    std::string text;
    for (int i = 0; text.size() < 800'000; i++)
        text += "/* note " + std::to_string(i) + "\n   more */\nint f" + std::to_string(i) +
                "(void) { return \"" + std::to_string(i) + "\"; }\n";
    char message[100];
    ASSERT_TRUE(syntax_choose("c", message, sizeof message)) << message;
    ASSERT_GE(input_from_text(text, 64), 0);
    std::vector<file_pos> starts;
    std::vector<std::string> want;
    for (file_pos pos = 0; pos != NO_POSITION && pos < static_cast<file_pos>(text.size());) {
        starts.push_back(pos);
        want.push_back(elements(pos, &pos));
    }
    ASSERT_NE(want[1].find('5'), std::string::npos) << "the comment's second line: " << want[1];
    // Anew: a choice made again forgets what was worked out.
    ASSERT_TRUE(syntax_choose("c", message, sizeof message));
    const int n = static_cast<int>(starts.size());
    struct visit {
        int from, step, count;
    } const visits[] = {
        {n / 2, 1, 30},         // a jump, and on
        {n / 2 - 1, -1, 40},    // back above it
        {n - 1, -1, 40},        // the end, and back
        {n / 4, 1, 3000},       // on past checkpoints
        {n / 4 + 4000, -1, 40}, // a checkpoint within reach
        {3, 1, 10},             // the start again
    };
    for (const visit &v : visits) {
        for (int k = 0; k < v.count; k++) {
            int i = v.from + k * v.step;
            file_pos next;
            ASSERT_EQ(elements(starts[static_cast<size_t>(i)], &next), want[static_cast<size_t>(i)])
                << "line " << i << " of " << n << ", visit from " << v.from;
        }
    }
    input_close();
    ASSERT_TRUE(syntax_choose("auto", message, sizeof message));
}

} // namespace
