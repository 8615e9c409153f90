// The row value that line building hands on, the style passes over it, the
// filter's registration and the view's geometry.
#include <gtest/gtest.h>

#include <clocale>
#include <regex.h>
#include <string>
#include <vector>

#include "viewer/display/highlight.h"
#include "viewer/display/line.h"
#include "viewer/display/style.h"
#include "viewer/display/view.h"
#include "viewer/options/option.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"
#include "tests/unit/fixtures.h"

namespace {

class Row : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        screen_reset(24, 80);
    }
    void TearDown() override
    {
        input_close();
        line_set_filter(nullptr);
        highlight_set(nullptr, 0, 0);
        view_set_column(0);
        settings_reset();
        setlocale(LC_CTYPE, "C");
        text_utf8 = 0;
    }
};

std::vector<int> columns_of(const display_row &r)
{
    return std::vector<int>(r.columns, r.columns + r.count);
}

std::vector<file_pos> positions_of(const display_row &r)
{
    return std::vector<file_pos>(r.positions, r.positions + r.count);
}

TEST_F(Row, CarriesEachCellsColumnAndInputPosition)
{
    struct {
        const char *name, *text;
        int chopped, column;
        std::vector<int> columns;
        std::vector<file_pos> positions;
        file_pos next;
    } cases[] = {
        {"tab", "a\tb\nz", 0, 0, {0, 1, 8}, {0, 1, 2}, 4},
        {"wide", "\xe6\x97\xa5x\nz", 0, 0, {0, 2}, {0, 3}, 5},
        {"chopped, scrolled", "abcdef\nz", 1, 2, {0, 1, 2, 3}, {2, 3, 4, 5}, 7},
    };
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    text_utf8 = 1;
    for (const auto &c : cases) {
        ASSERT_GE(input_from_text(c.text, 10), 0);
        opt_S = c.chopped;
        view_set_column(c.column);
        display_row row;
        EXPECT_EQ(line_next(0, &row), c.next) << c.name;
        EXPECT_EQ(row.start, 0) << c.name;
        EXPECT_EQ(row.pos, 0) << c.name;
        EXPECT_EQ(row.next, c.next) << c.name;
        EXPECT_EQ(row.cells[row.count], 0u) << c.name;
        EXPECT_EQ(columns_of(row), c.columns) << c.name;
        EXPECT_EQ(positions_of(row), c.positions) << c.name;
        input_close();
    }
    display_row past;
    ASSERT_GE(input_from_text("a\n", 10), 0);
    EXPECT_EQ(line_next(2, &past), NO_POSITION);
    EXPECT_EQ(past.cells, nullptr);
}

// A filter that hides the line "b" of "a\nb\nc\n".
file_pos skip_b(file_pos pos) { return pos == 2 ? 4 : pos; }
file_pos before_c(file_pos pos) { return pos == 4 ? 2 : pos; }

TEST_F(Row, RegisteredFilterDecidesWhichLineARowShows)
{
    ASSERT_GE(input_from_text("a\nb\nc\n", 10), 0);
    static const line_filter hide_b = {skip_b, skip_b, before_c};
    display_row row;
    line_set_filter(&hide_b);
    EXPECT_TRUE(line_filtered());
    EXPECT_EQ(line_first_shown(2), 4);
    EXPECT_EQ(line_next(0, &row), 4);      // the row after "a" is "c"
    EXPECT_EQ(line_next(2, &row), 6);
    EXPECT_EQ(row.pos, 4);
    EXPECT_EQ(line_prev(4, &row), 0);      // above "c" stands "a"
    line_set_filter(nullptr);
    EXPECT_FALSE(line_filtered());
    EXPECT_EQ(line_first_shown(2), 2);
    EXPECT_EQ(line_next(2, &row), 4);
    EXPECT_EQ(row.pos, 2);
}

TEST_F(Row, PassesGiveInputColourMarkersAndMatchClass)
{
    // Red from the escape on; "ab" matched twice, the second under colour.
    ASSERT_GE(input_from_text("xab\x1b[31mab\x1b]8;;u\x07y\n", 10), 0);
    display_row row;
    ASSERT_EQ(line_next(0, &row), 19);
    ASSERT_EQ(row.count, 8);
    cell_style styles[STYLE_ROW_CELLS];
    style_row(row, styles);
    const cell_style C = STYLE_INPUT_COLOUR;
    std::vector<cell_style> colour = {0, 0, 0, C, C, C, C, C};
    EXPECT_EQ(std::vector<cell_style>(styles, styles + row.count), colour);
    highlight_set("ab", REG_EXTENDED, 0);
    highlight_enable(1);
    highlight_paint_begin();
    highlight_style(row, styles);
    const cell_style M = STYLE_MATCH;
    // The escape cells keep the class of the cell before them.
    std::vector<cell_style> matched = {0, M, M, C | M, C | M, C | M, C | M, C};
    EXPECT_EQ(std::vector<cell_style>(styles, styles + row.count), matched);

    // The '<' and '>' of a line cut at both sides are markers.
    input_close();
    ASSERT_GE(input_from_text(std::string(200, 'q') + "\n", 10), 0);
    opt_S = 1;
    view_set_column(5);
    ASSERT_EQ(line_next(0, &row), 201);
    style_row(row, styles);
    ASSERT_EQ(row.count, 80);
    EXPECT_EQ(styles[0], STYLE_MARKER);
    EXPECT_EQ(styles[1], STYLE_PLAIN);
    EXPECT_EQ(styles[79], STYLE_MARKER);
}

TEST_F(Row, GeometryFollowsTheScreenAndTheNumberColumn)
{
    EXPECT_EQ(view_text_rows(), 23);
    EXPECT_EQ(view_bottom_line(), 23);
    EXPECT_EQ(view_header_rows(), 0);
    EXPECT_EQ(view_text_columns(0), 80);
    opt_N = opt_n = 1;
    EXPECT_EQ(view_number_columns(0), 8);
    EXPECT_EQ(view_text_columns(0), 72);
    screen_reset(5, 12);  // too narrow for the column
    EXPECT_EQ(view_number_columns(0), 0);
    EXPECT_EQ(view_text_rows(), 4);
    view_set_column(-3);
    EXPECT_EQ(view_column(), 0);
}

} // namespace
