#include "viewer/display/numcol.h"

#include <cinttypes>
#include <cstdio>

#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

constexpr int DIGITS = 7;
// A line that starts before this position has a number of at most 7 digits,
// whatever its number: nothing needs counting to know the column's width.
constexpr file_pos SEVEN_DIGITS_SURE = 9999999;
// The text keeps at least this many columns beside the column; a narrower
// window shows no column.
constexpr int MIN_TEXT_COLUMNS = 8;

bool column_on()
{
    return opt_N && opt_n;
}

int digits_of(int64_t n)
{
    int d = 1;
    for (; n >= 10; n /= 10)
        d++;
    return d;
}

} // namespace

int64_t numcol_number(file_pos row)
{
    if (!column_on() || row < 0)
        return 0;
    if (row > 0 && !buf_newline_before(row))
        return 0;
    return linenum_of(row);
}

int numcol_width(file_pos pos)
{
    if (!column_on() || pos < 0)
        return 0;
    int digits = DIGITS;
    if (pos >= SEVEN_DIGITS_SURE) {
        int d = digits_of(linenum_of(pos));
        digits = d > digits ? d : digits;
    }
    return digits + 1 + MIN_TEXT_COLUMNS <= screen_cols ? digits + 1 : 0;
}

void numcol_prepare(file_pos pos)
{
    if (column_on() && pos >= 0)
        linenum_of(pos);
}

void numcol_paint(int64_t number, int width)
{
    // A width never comes near the limit: numbers have at most 19 digits.
    if (width <= 0 || width > 24)
        return;
    char text[32];
    if (number > 0)
        snprintf(text, sizeof text, "%*" PRId64 " ", width - 1, number);
    else
        snprintf(text, sizeof text, "%*s", width, "");
    out_string(text);
}
