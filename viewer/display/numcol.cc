#include "viewer/display/numcol.h"

#include <cinttypes>
#include <cstdio>

#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

bool column_on()
{
    return opt_N && opt_n;
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

void numcol_prepare(file_pos pos)
{
    if (column_on() && pos >= 0)
        linenum_of(pos);
}

void numcol_paint(int64_t number, int width, char mark)
{
    // A width never comes near the limit: numbers have at most 19 digits.
    if (width <= 0 || width > 24)
        return;
    char text[32];
    if (number > 0)
        snprintf(text, sizeof text, "%*" PRId64 "%c", width - 1, number, mark);
    else
        snprintf(text, sizeof text, "%*c", width, mark);
    out_string(text);
}
