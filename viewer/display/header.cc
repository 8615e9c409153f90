#include "viewer/display/header.h"

#include "viewer/display/line.h"
#include "viewer/display/view.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"

namespace {

file_pos (*section_start_before)(file_pos top, file_pos floor);

// What was measured, for which input and which count of lines: once they
// have all come, where the text begins is known for good; until then it is
// measured again on every paint.
uint64_t measured_input = ~uint64_t{0};
int measured_lines = -1;
bool lines_complete;
file_pos body_start;
// Until then, how far lines past the held rows were passed over, and how
// many ended before there: the next measure goes on from there, so that a
// header longer than the input costs only what came since.
file_pos passed_to;
int passed_lines;
int line_rows;
file_pos section_line = NO_POSITION;

// Held rows need a cursor that can go home: elsewhere the header lines
// are only the first lines.
bool rows_can_be_held()
{
    return term_paints_quickly();
}

// The most rows held: one text row is always left.
int most_held_rows()
{
    return screen_rows - 2 > 0 ? screen_rows - 2 : 0;
}

void publish()
{
    if (line_rows + 1 > most_held_rows())
        section_line = NO_POSITION;
    view_set_header_rows(line_rows + (section_line != NO_POSITION ? 1 : 0));
}

} // namespace

void header_set_sections(file_pos (*start_before)(file_pos top, file_pos floor))
{
    section_start_before = start_before;
    if (!start_before) {
        section_line = NO_POSITION;
        publish();
    }
}

bool header_measure(void (*show)(int index, const display_row &row))
{
    int held_before = view_header_rows();
    file_pos start_before = body_start;
    int lines = rows_can_be_held() ? opt_header : 0;
    if (measured_input != input_generation || measured_lines != lines) {
        measured_input = input_generation;
        measured_lines = lines;
        lines_complete = lines == 0;
        body_start = 0;
        passed_to = 0;
        passed_lines = 0;
    }
    bool arriving = !lines_complete;
    int limit = most_held_rows();
    int rows = 0;
    int found = 0;
    file_pos p = 0;
    while (found < lines && !pending_signals && !(lines_complete && p >= body_start)) {
        file_pos next;
        if (rows < limit) {
            display_row row;
            next = line_next_all(p, &row);
            if (next == NO_POSITION)
                break;
            if (arriving && show && !pending_signals)
                show(rows, row);
            rows++;
        } else if (lines_complete) {
            break;
        } else if (passed_to > p) {
            p = passed_to;
            found = passed_lines;
            continue;
        } else {
            // Lines past the rows there is room for are only passed over.
            next = buf_line_end(p);
            if (next == p)
                break;
        }
        // Only a line that ends in a newline is whole: a last line without
        // one may still grow, and the text begins after it anyway.
        if (buf_newline_before(next))
            found++;
        p = next;
    }
    if (!lines_complete) {
        body_start = p;
        lines_complete = found == lines && !pending_signals;
        if (rows >= limit) {
            passed_to = p;
            passed_lines = found;
        }
    }
    line_rows = rows;
    line_set_floor(body_start);
    publish();
    return view_header_rows() != held_before || body_start != start_before;
}

file_pos header_body_start()
{
    return body_start;
}

int header_line_rows()
{
    return line_rows;
}

held_change header_section_for(file_pos top)
{
    file_pos line = NO_POSITION;
    if (section_start_before && rows_can_be_held() && top != NO_POSITION &&
        line_rows + 1 <= most_held_rows())
        line = section_start_before(top, body_start);
    if (line == section_line)
        return held_change::none;
    bool rows = (line == NO_POSITION) != (section_line == NO_POSITION);
    section_line = line;
    publish();
    return rows ? held_change::rows : held_change::line;
}

file_pos header_section_line()
{
    return section_line;
}

void header_style(const display_row &row, cell_style *styles)
{
    for (int i = 0; i < row.count; i++)
        styles[i] |= STYLE_HEADER;
}
