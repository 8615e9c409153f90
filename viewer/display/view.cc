#include "viewer/display/view.h"

#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/terminal/term.h"

namespace {

constexpr int DIGITS = 7;
// A line that starts before this position has a number of at most 7 digits,
// whatever its number: nothing needs counting to know the column's width.
constexpr file_pos SEVEN_DIGITS_SURE = 9999999;
// The text keeps at least this many columns beside the number column; a
// narrower window shows no column.
constexpr int MIN_TEXT_COLUMNS = 8;

int sideways_column;
int header_rows;
int jump_target;
bool jump_target_percent;

int digits_of(int64_t n)
{
    int d = 1;
    for (; n >= 10; n /= 10)
        d++;
    return d;
}

} // namespace

int view_bottom_line()
{
    return screen_rows - 1;
}

int view_header_rows()
{
    // A window made smaller since the header was measured still keeps a
    // text row.
    int most = screen_rows - 2;
    return header_rows < most ? header_rows : most > 0 ? most : 0;
}

void view_set_header_rows(int rows)
{
    header_rows = rows > 0 ? rows : 0;
}

int view_text_rows()
{
    return screen_rows - 1 - view_header_rows();
}

int view_number_columns(file_pos pos)
{
    if (!(opt_N && opt_n) || pos < 0)
        return 0;
    int digits = DIGITS;
    if (pos >= SEVEN_DIGITS_SURE) {
        int d = digits_of(linenum_of(pos));
        digits = d > digits ? d : digits;
    }
    return digits + 1 + MIN_TEXT_COLUMNS <= screen_cols ? digits + 1 : 0;
}

int view_text_columns(file_pos pos)
{
    int width = screen_cols - view_number_columns(pos);
    return width > 1 ? width : 1;
}

int view_column()
{
    return sideways_column;
}

void view_set_column(int column)
{
    sideways_column = column > 0 ? column : 0;
}

void view_set_jump_target(int rows, bool percent)
{
    jump_target = rows;
    jump_target_percent = percent;
}

int view_jump_target(bool *percent)
{
    *percent = jump_target_percent;
    return jump_target;
}

int view_jump_row()
{
    int rows = view_text_rows();
    int row = jump_target_percent ? static_cast<int>(static_cast<int64_t>(rows) * jump_target / 100)
                                  : jump_target;
    return row < rows ? row : rows - 1 > 0 ? rows - 1 : 0;
}
