// Prompt templates expanded against an open input in every state the
// template language can ask about: file list and position, file or pipe,
// length known or not, rows with and without positions, line numbers on or
// off, at the end or not, first prompt after opening or not; in a UTF-8
// locale or not, since a width is counted in screen columns.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/control/program.h"
#include "viewer/display/line.h"
#include "viewer/control/prompt.h"
#include "viewer/display/screen.h"
#include "viewer/input/buffer.h"
#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

// The expansion fits its buffer, keeps to its width, clears the new-file
// flag unless the template is empty, and depends on nothing but the state.
// An expansion may itself learn something (counting lines can read a pipe
// to its end and so learn its length), so only a repeat must give the same.
void check_expansion(const char *tmpl, int width)
{
    int opened = file_just_opened;
    auto expand = [&] {
        file_just_opened = opened;
        const char *text = prompt_format(tmpl, width);
        if (!text)
            return std::string("<none>");
        if (size_t length = strlen(text); length >= PROMPT_BUFFER_SIZE)
            fuzz_fail("expansion overruns its buffer", std::to_string(length));
        if (int columns = text_message_columns(text); width > 0 && columns > width)
            fuzz_fail("expansion wider than asked",
                      std::to_string(columns) + " > " + std::to_string(width));
        return std::string(text);
    };
    expand();
    // Only the first expansion after opening a file sees it as new.
    if (file_just_opened != (*tmpl == '\0' ? opened : 0))
        fuzz_fail("new-file flag left wrong", std::to_string(file_just_opened));
    std::string kept = expand(), again = expand();
    if (again != kept)
        fuzz_fail("expansion differs on the same state", kept + " / " + again);
}

// The position table as a paint from start would leave it: rows that show
// lines, then rows past the end, then where the next screen begins.
void place_rows(file_pos start)
{
    screen_pos_clear();
    file_pos pos = start;
    for (int row = 0; row < screen_rows - 1; row++) {
        screen_pos_insert_bottom(pos);
        if (pos != NO_POSITION)
            pos = line_next(pos);
    }
    screen_pos_insert_bottom(pos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    settings_reset();
    // Windows of up to 300 rows: the row selectors need no more, and placing
    // the rows costs the square of their number.
    screen_reset(provider.ConsumeIntegralInRange(2, 300), provider.ConsumeIntegralInRange(2, 300));
    standout_on_width = standout_off_width = provider.ConsumeIntegralInRange(0, 3);
    opt_m = provider.ConsumeIntegralInRange(0, 2);
    opt_n = provider.ConsumeBool();
    bool pipe = provider.ConsumeBool();
    bool read_all = provider.ConsumeBool();
    int rows_from = provider.ConsumeIntegralInRange(-1, 4096);  // -1: no rows placed
    int which = provider.ConsumeIntegralInRange(PROMPT_SHORT, PROMPT_STATUS);
    int width = provider.ConsumeIntegralInRange(-2, 300);
    int at_end = provider.ConsumeIntegralInRange(0, 2);
    text_utf8 = provider.ConsumeBool();

    std::vector<std::string> names(provider.ConsumeIntegralInRange(1, 4));
    for (std::string &name : names)
        name = provider.ConsumeRandomLengthString(300);
    file_index = provider.ConsumeIntegralInRange(0, static_cast<int>(names.size()) - 1);
    std::string text = provider.ConsumeRandomLengthString(4096);
    std::string tmpl = fuzz_c_string(provider.ConsumeRemainingBytesAsString());

    std::vector<char *> list = fuzz_argv(names);
    file_list = list.data();
    file_count = static_cast<int>(names.size());
    std::string current = pipe ? "-" : names[file_index];
    current_file_name = current.data();

    fuzz_open_input(text, pipe);
    if (pipe && read_all)
        buf_read_to_end();
    linenum_reset();
    eof_count = 0;
    place_rows(rows_from < 0 ? NO_POSITION : rows_from % (text.size() + 1));
    eof_count = at_end;
    file_just_opened = 1;

    prompt_replace(which, tmpl.c_str());
    // The prompt shares the bottom line with the standout codes and the
    // cursor; without room for it the loop shows ':' instead.
    const char *shown = prompt_text();
    int room = screen_cols - standout_on_width - standout_off_width - 2;
    if (shown && text_message_columns(shown) > std::max(room, 0))
        fuzz_fail("prompt wider than the bottom line",
                  std::to_string(text_message_columns(shown)) + " columns, room for " +
                      std::to_string(room));
    fuzz_touch(status_text());
    for (int opened : {1, 0}) {
        file_just_opened = opened;
        check_expansion(tmpl.c_str(), width);
    }
    input_close();
    return 0;
}
