// Column mode: the field splitter on arbitrary lines, checked against what
// a field must be (in order, inside the line, a quoted one between its
// quotes, each ended by its delimiter), then the rows of the whole input
// built forward and backward: each within the screen's width and the cell
// arrays, every cell from the input of its own line or from no input, one
// row a line.
//
// The settings come first (taken from the input's end); the text follows.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/display/columns.h"
#include "viewer/display/line.h"
#include "viewer/display/style.h"
#include "viewer/display/view.h"
#include "viewer/options/option.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

constexpr int DELIMITERS[] = {',', '\t', ';', '|', COLUMNS_SPACES, COLUMNS_DETECT};
constexpr int MAX_ROWS = 600;

[[noreturn]] void fail(const char *what, const std::string &line, int k)
{
    fprintf(stderr, "fuzz finding: %s (field %d of %zu bytes)\n", what, k, line.size());
    abort();
}

void check_split(const std::string &line, int delimiter, int max)
{
    column_field fields[8];
    int n = columns_split(line.data(), static_cast<int>(line.size()), delimiter, true, fields, max);
    if (n < 1 || n > max)
        fail("field count", line, n);
    int from = 0;
    for (int k = 0; k < n; k++) {
        const column_field &f = fields[k];
        if (f.begin < from || f.end < f.begin || f.end > static_cast<int>(line.size()))
            fail("field out of order or out of the line", line, k);
        if (f.quoted && (delimiter == COLUMNS_SPACES || line[static_cast<size_t>(f.begin - 1)] != '"'))
            fail("quoted field without its quote", line, k);
        if ((f.after >= 0) != (k + 1 < n))
            fail("a field before the last without its delimiter", line, k);
        if (f.after >= 0) {
            auto at = static_cast<size_t>(f.after);
            bool here = delimiter == COLUMNS_SPACES
                            ? line.compare(at, 2, "  ") == 0
                            : static_cast<unsigned char>(line[at]) == delimiter;
            if (!here || f.after != f.end + (f.quoted ? 1 : 0))
                fail("delimiter not where the field ends", line, k);
            from = f.after + 1;
        }
    }
}

void check_row(const display_row &row, file_pos line, file_pos next)
{
    if (!row.cells || row.count > STYLE_ROW_CELLS || row.cells[row.count] != 0)
        fail("row cells", "", row.count);
    for (int i = 0; i < row.count; i++) {
        // What takes no column may stand just past the last.
        line_cell kind = row.cells[i] & CELL_KIND;
        bool no_column = kind == CELL_ESCAPE || kind == CELL_ZERO || row.cells[i] < 0x20;
        if (row.columns[i] < 0 || row.columns[i] > screen_cols ||
            (row.columns[i] == screen_cols && !no_column))
            fail("cell outside the window", "", i);
        file_pos p = row.positions[i];
        if (p != NO_POSITION && (p < line || p >= next))
            fail("cell from another line", "", i);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        fuzz_scratch_setup();
        setlocale(LC_CTYPE, "C.UTF-8");
        return true;
    }();
    (void)ready;
    FuzzedDataProvider in(data, size);
    settings_reset();
    screen_reset(10, 80);
    int delimiter = DELIMITERS[in.ConsumeIntegralInRange<int>(0, 5)];
    int max = in.ConsumeIntegralInRange<int>(1, 8);
    screen_cols = in.ConsumeIntegralInRange<int>(2, 120);
    opt_header_columns = in.ConsumeIntegralInRange<int>(0, 3);
    opt_column_colours = in.ConsumeBool();
    int sideways = in.ConsumeIntegralInRange<int>(0, 100);
    text_utf8 = in.ConsumeBool();
    std::string text = in.ConsumeRemainingBytesAsString();

    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        check_split(text.substr(at, end - at), delimiter == COLUMNS_DETECT ? ',' : delimiter, max);
        at = end + 1;
    }
    columns_detect(text.data(), static_cast<int>(text.size()));
    columns_numeric(text.data(), static_cast<int>(text.size() < 40 ? text.size() : 40));

    if (input_from_text(text, 10) < 0)
        return 0;
    char value[8] = "";
    if (delimiter == COLUMNS_SPACES)
        snprintf(value, sizeof value, "spaces");
    else if (delimiter != COLUMNS_DETECT)
        value[0] = static_cast<char>(delimiter);
    columns_set(value);
    view_set_column(sideways);
    display_row row;
    file_pos pos = 0;
    for (int rows = 0; rows < MAX_ROWS; rows++) {
        file_pos next = line_next(pos, &row);
        if (next == NO_POSITION)
            break;
        if (next <= pos)
            fail("no progress forward", "", rows);
        check_row(row, row.start, next);
        pos = next;
    }
    for (int rows = 0; rows < MAX_ROWS && pos > 0; rows++) {
        file_pos start = line_prev(pos, &row);
        if (start == NO_POSITION || start >= pos)
            fail("no row backward", "", rows);
        check_row(row, start, pos);
        pos = start;
    }
    columns_set("off");
    view_set_column(0);
    input_close();
    return 0;
}
