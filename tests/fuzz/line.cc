// Line assembly over arbitrary bytes: the display lines that line_next finds
// walking forward must be the ones line_prev finds walking back from the
// end, break for break. The settings that shape a line come first in the
// input (taken from its end, FuzzedDataProvider style), one row each below.
// Then one input, or two in turn, as when the viewer goes on to the next
// file: nothing learnt about the first may change the rows of the second.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/display/chop.h"
#include "viewer/display/view.h"
#include "viewer/display/line.h"
#include "viewer/options/option.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

using cell = line_cell;
// The row built last.
display_row built;

struct row {
    file_pos start;
    std::vector<cell> cells;
};

bool pipe_input;
bool two_inputs;
// Inputs of up to this many rows are walked back whole.
constexpr size_t FULL_WALK_ROWS = 64;

// What the assembler reads besides the bytes. A new setting is one more row.
struct line_setting {
    int low, high;
    void (*apply)(int);
};
constexpr line_setting settings[] = {
    {0, 2, [](int v) { opt_u = v; }},
    {0, 1, [](int v) { opt_s = v; }},
    {1, INT_MAX, [](int v) { opt_x = v; }},
    {2, 300, [](int v) { screen_cols = v; }},
    {0, 3,
     [](int v) { underline_on_width = underline_off_width = bold_on_width = bold_off_width = v; }},
    {0, 1, [](int v) { pipe_input = v != 0; }},
    {0, 2, [](int v) { opt_r = v; }},
    {0, 1, [](int v) { text_utf8 = v; }},
    {0, 1, [](int v) { two_inputs = v != 0; }},
    {0, 1, [](int v) { opt_S = v; }},
    {0, 400, [](int v) { view_set_column(v); }},
    {0, 1, [](int v) { opt_N = v; }},
    {0, 1, [](int v) { opt_wrap = v; }},
    {0, 1, [](int v) { opt_plain = v; }},
};

// Settings with a wide range take their size class first, so a tab stop of
// 8 is as likely as one near INT_MAX.
int pick(FuzzedDataProvider &provider, int low, int high)
{
    unsigned span = static_cast<unsigned>(high) - static_cast<unsigned>(low);
    if (span < 256)
        return low + static_cast<int>(provider.ConsumeIntegral<uint8_t>() % (span + 1));
    int bits = provider.ConsumeIntegralInRange(0, 32);
    uint64_t value = provider.ConsumeIntegral<uint32_t>() & ((uint64_t{1} << bits) - 1);
    return value > span ? high : low + static_cast<int>(value);
}

std::string describe()
{
    return "-u" + std::to_string(opt_u) + " -s" + std::to_string(opt_s) + " -x" +
           std::to_string(opt_x) + " -r" + std::to_string(opt_r) + " -S" + std::to_string(opt_S) +
           " column " + std::to_string(view_column()) + " -N" + std::to_string(opt_N) + " cols " +
           std::to_string(screen_cols) + " cookie " + std::to_string(underline_on_width) +
           (text_utf8 ? " utf-8" : "") + (pipe_input ? " pipe" : " file") +
           (opt_wrap ? " wrap=word" : "") + (opt_plain ? " plain" : "");
}

// The assembled line, which must end within the line buffer (or the cut
// line's); an escape cell as its bytes, wherever they are kept.
std::vector<cell> cells_of_line()
{
    std::vector<cell> cells;
    for (int i = 0;; i++) {
        if (i > std::max(LINE_BUFFER_SIZE, CHOP_VIEW_CELLS))
            fuzz_fail("display line not terminated", describe());
        cell c = built.cells[i];
        if (c == 0)
            return cells;
        if ((c & CELL_KIND) != CELL_ESCAPE) {
            cells.push_back(c);
            continue;
        }
        for (int k = 0; k < escape_length(c); k++)
            cells.push_back(CELL_ESCAPE | static_cast<unsigned char>(built.escapes[escape_offset(c) + k]));
    }
}

std::string where(const char *what, size_t i, file_pos a, file_pos b)
{
    return std::string(what) + " at row " + std::to_string(i) + ": forward " +
           std::to_string(a) + ", backward " + std::to_string(b) + "; " + describe();
}

// Row i as the two directions found it; the next row begins at next. A
// squeezed run of blank lines shows as one blank row, which stepping back
// may take from any line of the run.
void compare(size_t i, const row &f, const row &b, file_pos next)
{
    if (f.cells != b.cells)
        fuzz_fail("row texts differ", where("text", i, f.start, b.start));
    bool squeezed_blank = opt_s && f.cells.empty() && b.start >= f.start && b.start < next;
    if (f.start != b.start && !squeezed_blank)
        fuzz_fail("row breaks differ", where("break", i, f.start, b.start));
}

// Open text as the current input and check its rows both ways.
void check_input(const std::string &text)
{
    // A pipe holds the whole input before it is read: it must fit.
    fuzz_open_input(text, pipe_input && text.size() <= 60000);
    std::vector<row> forward;
    file_pos end = 0;
    for (file_pos pos = 0;;) {
        file_pos found = line_next(pos);
        file_pos next = line_next(pos, &built);
        if (found != next)
            fuzz_fail("a row found without its cells ends elsewhere",
                      "at " + std::to_string(pos) + ": built " + std::to_string(next) +
                          ", found " + std::to_string(found) + "; " + describe());
        if (next == NO_POSITION)
            break;
        forward.push_back({pos, cells_of_line()});
        if (next <= pos || forward.size() > text.size())
            fuzz_fail("line_next does not advance", where("stuck", forward.size(), pos, next));
        pos = end = next;
    }
    if (end != static_cast<file_pos>(text.size()))
        fuzz_fail("line_next stops before the end",
                  std::to_string(end) + " of " + std::to_string(text.size()) + "; " + describe());

    // Stepping back re-reads a raw line from its start, so a long line
    // costs its length for every row: a whole walk back only for inputs of
    // few rows; otherwise each of a sample of rows is stepped back from.
    if (forward.size() <= FULL_WALK_ROWS) {
        std::vector<row> backward;
        for (file_pos pos = end;;) {
            file_pos prev = line_prev(pos, &built);
            if (prev == NO_POSITION)
                break;
            backward.push_back({prev, cells_of_line()});
            if (prev >= pos || backward.size() > text.size())
                fuzz_fail("line_prev does not go back", where("stuck", 0, pos, prev));
            pos = prev;
        }
        std::reverse(backward.begin(), backward.end());
        if (forward.size() != backward.size())
            fuzz_fail("row counts differ", std::to_string(forward.size()) + " forward, " +
                                               std::to_string(backward.size()) + " backward; " +
                                               describe());
        for (size_t i = 0; i < forward.size(); i++)
            compare(i, forward[i], backward[i],
                    i + 1 < forward.size() ? forward[i + 1].start : end);
    } else {
        size_t step = forward.size() / FULL_WALK_ROWS + 1;
        for (size_t i = forward.size(); i-- > 0;) {
            if (i % step != 0 && i + 2 < forward.size())
                continue;
            file_pos after = i + 1 < forward.size() ? forward[i + 1].start : end;
            file_pos prev = line_prev(after, &built);
            if (prev == NO_POSITION)
                fuzz_fail("line_prev finds no row", where("missing", i, forward[i].start, prev));
            compare(i, forward[i], {prev, cells_of_line()}, after);
        }
    }
    input_close();
}

// What the assembler may keep from one run to the next (rows found by
// stepping back) is replaced by what a step back under a cookie width no
// run uses leaves, which no run can take for its own.
void forget_earlier_runs()
{
    int width = underline_on_width;
    underline_on_width = -1;
    fuzz_open_input("x", false, 1);
    line_prev(1);
    input_close();
    underline_on_width = width;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    settings_reset();
    screen_reset(24, 80);
    for (const line_setting &s : settings)
        s.apply(pick(provider, s.low, s.high));
    forget_earlier_runs();
    if (two_inputs)
        check_input(provider.ConsumeRandomLengthString(size));
    check_input(provider.ConsumeRemainingBytesAsString());
    return 0;
}
