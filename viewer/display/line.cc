#include "viewer/display/line.h"

#include <climits>
#include <cstring>

#include "viewer/display/chop.h"
#include "viewer/display/columns.h"
#include "viewer/display/sgr.h"
#include "viewer/display/view.h"
#include "viewer/input/escape.h"
#include "viewer/input/scan.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {
char empty_raw_line[1];
}
char *raw_line_text = empty_raw_line;

namespace {

// Overstrike recogniser states: which attribute run is open and how far the
// cells after its last attributed cell have come.
constexpr int OVER_PLAIN = 0;
constexpr int OVER_UNDERLINE = 1;       // last stored cell is underlined
constexpr int OVER_UNDERLINE_NEXT = 2;  // one cell q stored after the run
constexpr int OVER_UNDERLINE_BS = 3;    // q and a backspace after the run
constexpr int OVER_BOLD = 4;            // last stored cell is bold
constexpr int OVER_BOLD_NEXT = 5;       // one cell q stored after the bold one
constexpr int OVER_BOLD_BS = 6;         // q and a backspace after it

constexpr line_cell BACKSPACE_MARK = CELL_CARET | 'H';
constexpr int RAW_LINE_MAX = LINE_BUFFER_SIZE - 1;  // bytes, terminator aside
// How far back from a row in the middle of a line its colour is looked
// for; a line that began before starts its later rows plain.
constexpr file_pos COLOUR_LOOK_BACK = 64 * 1024;
// A width no line reaches: chopped lines are cut to the view afterwards.
constexpr int UNBOUNDED = INT_MAX / 4;
// Cells a chopped line keeps while it is read: as many as the overstrike
// recogniser may still rewrite.
constexpr int CHOP_KEPT = 3;

line_cell line_cells[LINE_BUFFER_SIZE];  // the display line being assembled
int cell_column[LINE_BUFFER_SIZE];       // the column each stored cell starts at
file_pos cell_position[LINE_BUFFER_SIZE];  // the input position it comes from
file_pos unit_position = NO_POSITION;    // that of the unit being added
char line_buffer[LINE_BUFFER_SIZE];      // the last raw line read
int line_fill;                           // cells stored so far
int line_column;                         // screen column reached, never below 0
int text_cols = 80;                      // columns a row may fill
int overstrike_state = OVER_PLAIN;
char escape_pool[ESCAPE_POOL_SIZE];      // the bytes of the line's escape cells
int escape_fill;
// The row built last: the cells above, or the sideways view's.
display_row built = {line_cells, cell_column, cell_position, escape_pool, 0,
                     NO_POSITION, NO_POSITION, NO_POSITION};
const line_filter *filter;               // nullptr: every line is shown
file_pos floor_pos;                      // line_prev builds nothing above it

// One piece of input as the readers take it: a character (one cell), a
// colour or link sequence (one cell that takes no column), a sequence that
// is dropped (erase to the end of the line: the viewer clears rows
// itself), a line end, or the end of the input.
enum unit_kind { UNIT_END, UNIT_NEWLINE, UNIT_CELL, UNIT_ESCAPE, UNIT_DROPPED };
struct input_unit {
    unit_kind kind;
    line_cell cell;                     // UNIT_CELL
    int length;                         // UNIT_ESCAPE: bytes in escape_read
};
// The bytes of the last sequence read.
unsigned char escape_read[ESCAPE_LINK_MAX];

bool is_character(line_cell c)
{
    return c >= 0x20 && (c & CELL_KIND) != CELL_ESCAPE;
}

// The cell of a byte that stands alone; tab and backspace stay themselves.
line_cell byte_cell(int byte)
{
    byte &= 0xFF;
    if (byte == '\t' || byte == '\b')
        return static_cast<line_cell>(byte);
    unsigned char b = static_cast<unsigned char>(byte);
    return cell_of(text_decode(&b, 1), byte);
}

// The rest of a sequence after an escape byte, into escape_read from n on,
// as the matcher takes it out too. The unit's kind, or UNIT_CELL when the
// bytes are none of the sequences passed (they are then read again).
unit_kind read_sequence(int &n)
{
    escape_reader r;
    for (;;) {
        int b = buf_next_byte();
        if (b == END_OF_INPUT)
            return UNIT_CELL;
        escape_read[n++] = static_cast<unsigned char>(b);
        switch (escape_step(r, static_cast<unsigned char>(b))) {
        case ESCAPE_MORE: continue;
        case ESCAPE_COLOUR:
        case ESCAPE_LINK: return UNIT_ESCAPE;
        case ESCAPE_ERASE: return UNIT_DROPPED;
        case ESCAPE_NONE: return UNIT_CELL;
        }
    }
}

// A sequence after an escape byte; the cursor is left after it, or where it
// was when the bytes are no sequence the viewer passes.
bool read_escape(input_unit &u)
{
    file_pos after_escape = buf_tell();
    escape_read[0] = 0x1B;
    int n = 1;
    unit_kind kind = read_sequence(n);
    if (kind != UNIT_CELL) {
        // Plain text keeps no colour and no links: the sequence is read past
        // as an erase is.
        u.kind = opt_plain ? UNIT_DROPPED : kind;
        u.length = n;
        return true;
    }
    buf_seek(after_escape);
    return false;
}

// Read the unit at the cursor and move past it. A carriage return right
// before a newline belongs to the line end; a character's bytes are read
// whole, and bytes that are no character are taken one at a time.
void read_unit(input_unit &u)
{
    int b = buf_next_byte();
    if (b == END_OF_INPUT) {
        u.kind = UNIT_END;
        return;
    }
    b &= 0xFF;
    u.kind = UNIT_CELL;
    if (b == '\n') {
        u.kind = UNIT_NEWLINE;
        return;
    }
    if (b == '\r') {
        int after = buf_next_byte();
        if (after == '\n') {
            u.kind = UNIT_NEWLINE;
            return;
        }
        if (after != END_OF_INPUT)
            buf_prev_byte();
    } else if (b == 0x1B && escape_passed() && read_escape(u)) {
        return;
    }
    if (b < 0x80 || !text_utf8) {
        u.cell = byte_cell(b);
        return;
    }
    unsigned char bytes[4] = {static_cast<unsigned char>(b)};
    int got = 1;
    while (got < 4 && text_decode(bytes, got, true).length == 0) {
        int next = buf_next_byte();
        if (next == END_OF_INPUT)
            break;
        bytes[got++] = static_cast<unsigned char>(next);
    }
    text_char c = text_decode(bytes, got);
    for (int extra = got - c.length; extra > 0; extra--)
        buf_prev_byte();
    u.cell = cell_of(c, b);
}

void put(line_cell c, int width)
{
    cell_column[line_fill] = line_column;
    cell_position[line_fill] = unit_position;
    line_cells[line_fill++] = c;
    line_column += width;
}

// Store a cell taken back a moment ago once more, where it came from. A
// tab's columns depend on where it now starts: to the next stop, at least
// one and no further than the end of the row once there, as it is painted.
void put_again(line_cell c, file_pos from)
{
    file_pos adding = unit_position;
    unit_position = from;
    int width = c == '\b' ? -1 : cell_columns(c);
    if (c == '\t') {
        long long stop = opt_x < 1 ? 1 : opt_x;
        long long k = (line_column / stop + 1) * stop;
        width = k > text_cols ? text_cols - line_column : static_cast<int>(k - line_column);
        width = width > 1 ? width : 1;
    }
    put(c, width);
    unit_position = adding;
}

// Take back the cells from index `from` on, and the columns they took.
void truncate_to(int from)
{
    line_column = cell_column[from];
    line_fill = from;
}

// A cell of `width` columns does not fit. The first cell of a line is always
// taken: a cell wider than the whole screen would otherwise never fit
// anywhere and stop every reader.
bool too_wide(int reserve, int column_after)
{
    return line_fill > 0 && reserve + column_after > text_cols;
}

// Store one cell with its column charge; 1 when it does not fit.
int store_plain(line_cell c)
{
    // Room for the marker that will close an open run.
    int reserve = overstrike_state != OVER_PLAIN ? underline_off_width : 0;
    if (c == '\b') {
        if (opt_u != 2) {
            // The cursor cannot go left of the margin: there a backspace
            // would move nothing, or wrap to the row above.
            if (line_column > 0)
                put('\b', -1);
            return 0;
        }
        if (too_wide(reserve, line_column + 2))
            return 1;
        put(BACKSPACE_MARK, 2);
        return 0;
    }
    if (c == '\t') {
        long long stop = opt_x < 1 ? 1 : opt_x;
        long long k = (line_column / stop + 1) * stop;
        if (reserve + k > text_cols) {
            if (line_fill > 0)
                return 1;
            // A tab stop beyond the margin fills the row and no more.
            k = text_cols;
        }
        put('\t', static_cast<int>(k - line_column));
        return 0;
    }
    int width = cell_columns(c);
    if (too_wide(reserve, line_column + width))
        return 1;
    put(c, width);
    return 0;
}

// p and the backspace after it become the marker that opens a run; a space
// just before p gives its column to a marker that takes one itself.
int begin_run(int state, line_cell mark, int on_width, int off_width, line_cell c)
{
    int at = line_fill - 2;
    bool space_taken = on_width > 0 && at > 0 && line_cells[at - 1] == ' ';
    if (space_taken)
        at--;
    if (cell_column[at] + on_width + cell_columns(c) + off_width > text_cols)
        return 1;
    truncate_to(at);
    put(mark, on_width);
    overstrike_state = state;
    return store_plain(c);
}

// Close a run before the one cell q stored after it; a space q makes room.
void close_run(line_cell mark, int off_width)
{
    line_cell q = line_cells[line_fill - 1];
    file_pos from = cell_position[line_fill - 1];
    truncate_to(line_fill - 1);
    put(mark, off_width);
    if (off_width == 0 || q != ' ')
        put_again(q, from);
}

// The columns to keep free for a cell that may still be struck over.
int step_columns(line_cell c)
{
    int columns = cell_columns(c);
    return columns > 1 ? columns : 1;
}

// The overstrike recogniser: turns "X\bX" into bold and "_\bX" into underline.
int overstrike(line_cell c)
{
    // A backspace that cannot move the cursor strikes nothing.
    if (c == '\b' && line_column == 0)
        return 0;
    switch (overstrike_state) {
    case OVER_PLAIN: {
        if (line_fill < 2 || line_cells[line_fill - 1] != '\b' ||
            !is_character(line_cells[line_fill - 2]))
            return store_plain(c);
        line_cell p = line_cells[line_fill - 2];
        // Equal cells come first: "_\b_" is a bold underscore.
        if (c == p)
            return begin_run(OVER_BOLD, MARK_BOLD_ON, bold_on_width, bold_off_width, c);
        if (c == '_' || p == '_')
            return begin_run(OVER_UNDERLINE, MARK_UNDERLINE_ON, underline_on_width,
                             underline_off_width, c == '_' ? p : c);
        // Two different characters: the later one wins.
        truncate_to(line_fill - 2);
        return store_plain(c);
    }
    case OVER_UNDERLINE:
        if (line_column + underline_off_width + bold_on_width + bold_off_width +
                step_columns(c) > text_cols)
            return 1;
        overstrike_state = OVER_UNDERLINE_NEXT;
        return store_plain(c);
    case OVER_UNDERLINE_NEXT:
        if (c == '\b') {
            overstrike_state = OVER_UNDERLINE_BS;
            return store_plain(c);
        }
        close_run(MARK_UNDERLINE_OFF, underline_off_width);
        overstrike_state = OVER_PLAIN;
        return store_plain(c);
    case OVER_UNDERLINE_BS: {
        line_cell q = line_cells[line_fill - 2];
        if (c == '_') {
            truncate_to(line_fill - 2);
            overstrike_state = OVER_UNDERLINE;
            return store_plain(q);
        }
        if (c == q) {
            // A direct switch to bold: the terminal needs no room for it.
            truncate_to(line_fill - 2);
            put(MARK_UNDERLINE_OFF, 0);
            put(MARK_BOLD_ON, 0);
            overstrike_state = OVER_BOLD;
            return store_plain(c);
        }
        truncate_to(line_fill - 2);
        overstrike_state = OVER_UNDERLINE;
        return store_plain(c);
    }
    case OVER_BOLD:
        if (c == '\b') {
            overstrike_state = OVER_BOLD_BS;
            return store_plain(c);
        }
        if (line_column + bold_off_width + underline_on_width + underline_off_width +
                step_columns(c) > text_cols)
            return 1;
        overstrike_state = OVER_BOLD_NEXT;
        return store_plain(c);
    case OVER_BOLD_NEXT:
        if (c == '\b') {
            overstrike_state = OVER_BOLD_BS;
            return store_plain(c);
        }
        close_run(MARK_BOLD_OFF, bold_off_width);
        overstrike_state = OVER_PLAIN;
        return store_plain(c);
    case OVER_BOLD_BS: {
        line_cell q = line_cells[line_fill - 2];
        truncate_to(line_fill - 2);
        if (c == q || (c != '_' && q != '_')) {
            overstrike_state = OVER_BOLD;
            return store_plain(c);
        }
        put(MARK_BOLD_OFF, 0);
        put(MARK_UNDERLINE_ON, 0);
        overstrike_state = OVER_UNDERLINE;
        return store_plain(c == '_' ? q : c);
    }
    }
    return store_plain(c);
}

// Close the run that is open, if any, with its marker.
void close_open_run()
{
    switch (overstrike_state) {
    case OVER_UNDERLINE:
    case OVER_UNDERLINE_BS:
        put(MARK_UNDERLINE_OFF, underline_off_width);
        break;
    case OVER_BOLD:
    case OVER_BOLD_BS:
        put(MARK_BOLD_OFF, bold_off_width);
        break;
    case OVER_UNDERLINE_NEXT:
    case OVER_BOLD_NEXT: {
        line_cell q = line_cells[line_fill - 1];
        file_pos from = cell_position[line_fill - 1];
        truncate_to(line_fill - 1);
        if (overstrike_state == OVER_UNDERLINE_NEXT)
            put(MARK_UNDERLINE_OFF, underline_off_width);
        else
            put(MARK_BOLD_OFF, bold_off_width);
        put_again(q, from);
        break;
    }
    default:
        break;
    }
    overstrike_state = OVER_PLAIN;
}

// Close an open run at the end of the line and terminate it.
void finish_line()
{
    close_open_run();
    line_cells[line_fill] = 0;
    built.count = line_fill;
}

// Add one character cell; a refused cell leaves the line as it was, even
// when the recogniser had already rearranged its tail, since a half-made
// change would leave a marker in the wrong place. The recogniser rewrites
// at most the last three cells.
int add_cell(line_cell c)
{
    if (line_fill > LINE_FULL_MARK)
        return 1;
    if (opt_u != 0)
        return store_plain(c);
    int saved_fill = line_fill;
    int saved_column = line_column;
    int saved_state = overstrike_state;
    int tail = line_fill < 3 ? line_fill : 3;
    line_cell saved_cells[3] = {};
    int saved_columns[3] = {};
    file_pos saved_positions[3] = {};
    std::memcpy(saved_cells, line_cells + line_fill - tail, tail * sizeof(line_cell));
    std::memcpy(saved_columns, cell_column + line_fill - tail, tail * sizeof(int));
    std::memcpy(saved_positions, cell_position + line_fill - tail, tail * sizeof(file_pos));
    if (overstrike(c) == 0)
        return 0;
    line_fill = saved_fill;
    line_column = saved_column;
    overstrike_state = saved_state;
    std::memcpy(line_cells + line_fill - tail, saved_cells, tail * sizeof(line_cell));
    std::memcpy(cell_column + line_fill - tail, saved_columns, tail * sizeof(int));
    std::memcpy(cell_position + line_fill - tail, saved_positions, tail * sizeof(file_pos));
    return 1;
}

// Keep escape bytes in the pool, as a cell of their own; false when the
// pool is full.
bool put_escape(const unsigned char *bytes, int length)
{
    if (escape_fill + length > ESCAPE_POOL_SIZE)
        return false;
    std::memcpy(escape_pool + escape_fill, bytes, static_cast<size_t>(length));
    put(escape_cell(escape_fill, length), 0);
    escape_fill += length;
    return true;
}

// A sequence goes in whole or not at all; it ends any open run, so that the
// recogniser never takes it apart.
int add_escape(const input_unit &u)
{
    close_open_run();
    if (line_fill > LINE_FULL_MARK || escape_fill + u.length > ESCAPE_POOL_SIZE)
        return 1;
    put_escape(escape_read, u.length);
    return 0;
}

int add_unit(const input_unit &u)
{
    switch (u.kind) {
    case UNIT_ESCAPE: return add_escape(u);
    case UNIT_DROPPED: return 0;
    default: return add_cell(u.cell);
    }
}

void begin_line()
{
    line_fill = 0;
    line_column = 0;
    overstrike_state = OVER_PLAIN;
    escape_fill = 0;
    line_cells[0] = 0;
    built = {line_cells, cell_column, cell_position, escape_pool, 0,
             NO_POSITION, NO_POSITION, NO_POSITION};
}

// The start of the raw line that holds the byte before end: just after the
// newline before it, or the beginning of the input (or of what is held).
// NO_POSITION when a signal stopped the walk.
file_pos raw_line_start(file_pos end)
{
    if (buf_seek(end - 1) != 0)
        return NO_POSITION;
    // Whole held runs are searched for the newline, so that the start of a
    // line of any length is found at the speed of memory.
    return buf_line_start(end - 1);
}

// Whether the raw line that ends at end (just before its newline, which
// stands at end - 1) is blank: nothing, or a carriage return, before the
// newline. start is where that raw line begins.
bool blank_line_ends_at(file_pos start, file_pos end)
{
    if (buf_seek(end - 1) != 0 || buf_next_byte() != '\n')
        return false;
    if (start == end - 1)
        return true;
    return start == end - 2 && buf_seek(start) == 0 && buf_next_byte() == '\r';
}

// Whether a blank raw line begins at pos.
bool blank_line_at(file_pos pos)
{
    if (buf_seek(pos) != 0)
        return false;
    input_unit u;
    read_unit(u);
    return u.kind == UNIT_NEWLINE;
}

// The first of the blank lines that run back from the one at pos;
// NO_POSITION when a signal stopped the walk.
file_pos first_blank_line(file_pos pos)
{
    while (pos > 0) {
        file_pos start = raw_line_start(pos);
        if (start == NO_POSITION || pending_signals)
            return NO_POSITION;
        if (!blank_line_ends_at(start, pos))
            break;
        pos = start;
    }
    return pos;
}

// Of the blank lines that run from pos, the last, whose row stands for the
// run when it is squeezed (pos itself when no blank line begins there);
// NO_POSITION when a signal came. A pipe is not waited on for this: only
// what has arrived is looked at.
file_pos last_blank_line(file_pos pos)
{
    file_pos last = pos;
    if (buf_seek(pos) != 0)
        return last;
    for (;;) {
        file_pos at = buf_tell();
        if (input_is_pipe && at >= pipe_offset && eof_position == NO_POSITION)
            break;
        input_unit u;
        read_unit(u);
        if (pending_signals)
            return NO_POSITION;
        if (u.kind != UNIT_NEWLINE)
            break;
        last = at;
    }
    return last;
}

// With -s, where the row after a line's begins, the cursor standing at
// next, the end of the line: past the whole run when the line is blank
// (its row stands for the run), else at the last line of a run that
// follows. NO_POSITION when a signal came.
file_pos squeeze_after(bool blank, file_pos next)
{
    if (!opt_s)
        return next;
    if (!blank)
        return last_blank_line(next);
    for (;;) {
        next = buf_tell();
        input_unit u;
        read_unit(u);
        if (pending_signals)
            return NO_POSITION;
        if (u.kind != UNIT_NEWLINE)
            return next;
    }
}

// The row of a squeezed run of blank lines whose last
// line begins at start: that last line, or 0 for a run that begins the
// input (where the first screen shows it); NO_POSITION on a signal.
file_pos squeezed_row(file_pos start)
{
    file_pos first = first_blank_line(start);
    if (first == NO_POSITION)
        return NO_POSITION;
    return first == 0 ? 0 : start;
}

// The unit at `at` does not fit on the row being built: where the next row
// begins. Folding at the edge, that unit; folding between words, a space
// that does not fit hangs past the edge when more of the line follows it,
// or else the row gives back what follows its last space. A row with no
// space to break at, or whose tail an overstrike run or marker holds, is
// cut at the edge. The cursor is left anywhere.
file_pos row_break(file_pos at, const input_unit &refused)
{
    if (opt_wrap != 1)
        return at;
    if (refused.kind == UNIT_CELL && refused.cell == ' ') {
        // Sequences take no column: what matters is whether text follows.
        file_pos after = buf_tell();
        input_unit u;
        do
            read_unit(u);
        while ((u.kind == UNIT_ESCAPE || u.kind == UNIT_DROPPED) && !pending_signals);
        if (u.kind == UNIT_CELL)
            return after;
    }
    if (overstrike_state != OVER_PLAIN)
        return at;
    for (int k = line_fill - 1; k > 0; k--) {
        line_cell c = line_cells[k];
        if (c == ' ') {
            if (k + 1 == line_fill)
                return at;
            file_pos next = cell_position[k + 1];
            truncate_to(k + 1);
            return next;
        }
        if (c < 0x20 && c != '\t')
            return at;  // a marker or a backspace: its run is not taken apart
    }
    return at;
}

// The input and the settings that decide where rows are cut.
struct cut_settings {
    uint64_t input;
    int cols, u, x, r, plain, wrap, utf8, underline_on, underline_off, bold_on, bold_off;
    bool operator==(const cut_settings &) const = default;
};

cut_settings current_cut_settings()
{
    return {input_generation,   text_cols,         opt_u,         opt_x,         opt_r,
            opt_plain,          opt_wrap,          text_utf8,          underline_on_width,  underline_off_width, bold_on_width,
            bold_off_width};
}

// Row starts found the last time a raw line was cut backward, so that
// painting a long line backward, row by row, cuts it once and not once a
// row. They are consecutive and ascending; the last row ends at cut_end.
constexpr int ROW_CACHE = 128;
file_pos cut_rows_found[ROW_CACHE];     // a ring: the oldest at cut_row_first
int cut_row_first;
int cut_row_count;
file_pos cut_end = NO_POSITION;
cut_settings cut_made_with;

// The row that ends at pos, as the last cut found it; NO_POSITION when
// it is not known.
file_pos cached_row_before(file_pos pos)
{
    if (cut_row_count == 0 || !(cut_made_with == current_cut_settings()))
        return NO_POSITION;
    auto row = [](int i) { return cut_rows_found[(cut_row_first + i) % ROW_CACHE]; };
    if (pos == cut_end)
        return row(cut_row_count - 1);
    for (int i = 1; i < cut_row_count; i++)
        if (row(i) == pos)
            return row(i - 1);
    return NO_POSITION;
}

// Assemble the row from `row` and check that it ends at pos.
bool assemble_row(file_pos row, file_pos pos)
{
    if (buf_seek(row) != 0)
        return false;
    begin_line();
    for (;;) {
        file_pos at = buf_tell();
        if (at >= pos)
            break;
        input_unit u;
        read_unit(u);
        if (u.kind == UNIT_END || u.kind == UNIT_NEWLINE)
            return false;
        unit_position = at;
        if (add_unit(u) != 0 || pending_signals)
            return false;
    }
    finish_line();
    return buf_tell() == pos;
}

// Rows of plain characters from at (a row start), each followed by a plain
// character too: such a row is exactly one screen wide, with nothing that
// the overstrike rules or a tab could change. Most rows of a very long line
// are like this and are passed over without assembling them. How many
// whole rows, of those that end before pos, are plain.
int64_t plain_rows_at(file_pos at, file_pos pos)
{
    const char *data;
    int64_t n = buf_span(at, &data);
    int64_t rows_before_pos = (pos - at - 1) / text_cols;
    if (n > (rows_before_pos + 1) * text_cols)
        n = (rows_before_pos + 1) * text_cols;
    int64_t odd = scan_plain_ascii(data, static_cast<size_t>(n));
    int64_t plain = odd < 0 ? n : odd;
    int64_t rows = plain > 0 ? (plain - 1) / text_cols : 0;
    return rows < rows_before_pos ? rows : rows_before_pos;
}

void remember_row(file_pos row)
{
    if (cut_row_count == ROW_CACHE) {
        cut_row_first = (cut_row_first + 1) % ROW_CACHE;
        cut_row_count--;
    }
    cut_rows_found[(cut_row_first + cut_row_count++) % ROW_CACHE] = row;
}

// Cut the raw line that begins at start into rows up to pos, remembering
// where the last of them begin; the line buffer keeps the last row. Its
// start, or NO_POSITION.
file_pos cut_rows(file_pos start, file_pos pos)
{
    cut_row_count = cut_row_first = 0;
    cut_end = NO_POSITION;
    if (buf_seek(start) != 0)
        return NO_POSITION;
    cut_made_with = current_cut_settings();
    remember_row(start);
    begin_line();
    // Folding between words, the row that reaches pos may end before it,
    // at a space, once a later unit is refused: it is read on as forward.
    bool words = opt_wrap == 1;
    for (;;) {
        file_pos at = buf_tell();
        if (at >= pos && !words)
            break;
        if (line_fill == 0 && !words && at + text_cols < pos) {
            if (int64_t rows = plain_rows_at(at, pos); rows > 0) {
                int64_t first = rows > ROW_CACHE ? rows - ROW_CACHE + 1 : 1;
                for (int64_t k = first; k <= rows; k++)
                    remember_row(at + k * text_cols);
                start = at + rows * text_cols;
                if (buf_seek(start) != 0 || pending_signals) {
                    cut_row_count = 0;
                    return NO_POSITION;
                }
                continue;
            }
        }
        input_unit u;
        read_unit(u);
        if (u.kind == UNIT_END && at >= pos && !pending_signals)
            break;
        if (u.kind == UNIT_END || pending_signals) {
            cut_row_count = 0;
            return NO_POSITION;
        }
        if (u.kind == UNIT_NEWLINE)
            break;
        unit_position = at;
        if (add_unit(u) != 0) {
            // The next row begins at the break: read on from there, when
            // the row may turn out to be a plain one.
            file_pos next = row_break(at, u);
            if (next >= pos)
                break;  // the row just built is the one that ends at pos
            finish_line();
            start = next;
            remember_row(start);
            begin_line();
            buf_seek(next);
        }
    }
    finish_line();
    cut_end = pos;
    return start;
}

// The columns a row of the line that holds pos may fill: the screen's,
// less the line-number column. Counting a line number moves the cursor.
void set_row_width(file_pos pos)
{
    text_cols = view_text_columns(pos);
}

// The colour a row that begins at row, in the middle of its line, starts
// in: what the line's sequences before it left. A line that began more
// than COLOUR_LOOK_BACK before the row is taken as plain there.
sgr_state colour_at(file_pos row)
{
    sgr_state state = {};
    if (!escape_passed() || opt_plain || row <= 0 || buf_newline_before(row))
        return state;
    file_pos start = row;
    for (;;) {
        file_pos room = COLOUR_LOOK_BACK - (row - start);
        if (room <= 0)
            return state;
        const char *data;
        int64_t n = buf_span_back(start, &data);
        if (n == 0)
            break;  // the beginning of the input, or of what is held
        if (n > room) {
            data += n - room;
            n = room;
        }
        auto *newline = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(n)));
        if (newline) {
            start -= n - (newline + 1 - data);
            break;
        }
        start -= n;
    }
    // The sequences are read as the assembler reads them.
    for (file_pos at = start; at < row;) {
        if (pending_signals)
            return {};
        const char *data;
        int64_t n = buf_span(at, &data);
        if (n <= 0)
            break;
        if (n > row - at)
            n = row - at;
        auto *escape = static_cast<const char *>(std::memchr(data, 0x1B, static_cast<size_t>(n)));
        if (!escape) {
            at += n;
            continue;
        }
        at += escape - data;
        input_unit u;
        bool sequence = buf_seek(at) == 0 && buf_next_byte() != END_OF_INPUT && read_escape(u);
        if (sequence && u.kind == UNIT_ESCAPE && escape_read[1] == '[' && at + u.length <= row)
            sgr_apply(state, reinterpret_cast<const char *>(escape_read), u.length);
        at += sequence ? u.length : 1;
    }
    return state;
}

// Put the colour the row at row starts in before its cells.
void add_colour_prefix(file_pos row)
{
    sgr_state state = colour_at(row);
    if (sgr_plain(state) || line_fill >= LINE_BUFFER_SIZE - 1)
        return;
    unsigned char text[SGR_TEXT_MAX];
    int length = sgr_write(state, reinterpret_cast<char *>(text));
    int fill = line_fill;
    if (!put_escape(text, length))
        return;
    // The cell just put goes to the front.
    line_cell prefix = line_cells[fill];
    std::memmove(line_cells + 1, line_cells, static_cast<size_t>(fill) * sizeof(line_cell));
    std::memmove(cell_column + 1, cell_column, static_cast<size_t>(fill) * sizeof(int));
    std::memmove(cell_position + 1, cell_position, static_cast<size_t>(fill) * sizeof(file_pos));
    line_cells[0] = prefix;
    cell_column[0] = 0;
    cell_position[0] = row;
    line_cells[line_fill] = 0;
    built.count = line_fill;
}

// The row at row is assembled: note where it begins, and give it the colour
// it starts in.
file_pos row_done(file_pos row, file_pos result)
{
    if (result == NO_POSITION)
        return NO_POSITION;
    built.start = row;
    add_colour_prefix(row);
    return result;
}

// Read on to the end of the line at the cursor; the position after its
// newline, the end of the input, or NO_POSITION when a signal stopped it.
file_pos skip_to_line_end()
{
    for (;;) {
        if (pending_signals)
            return NO_POSITION;
        const char *data;
        int n = buf_run(&data);
        if (n == 0)
            return pending_signals ? NO_POSITION : buf_tell();
        auto *newline = static_cast<const char *>(std::memchr(data, '\n', static_cast<size_t>(n)));
        if (newline) {
            buf_skip(static_cast<int>(newline - data) + 1);
            return buf_tell();
        }
        buf_skip(n);
    }
}

// Hand the cells before `keep` to the view of chopped lines (or only drop
// them) and move the rest, with their escape bytes, to the front; false
// once the view is complete.
bool hand_to_view(int keep, bool to_view = true)
{
    bool more = true;
    for (int i = 0; i < keep && more && to_view; i++) {
        line_cell c = line_cells[i];
        int width = (i + 1 < line_fill ? cell_column[i + 1] : line_column) - cell_column[i];
        const char *escape =
            (c & CELL_KIND) == CELL_ESCAPE ? escape_pool + escape_offset(c) : nullptr;
        more = chop_take(c, cell_column[i], width, cell_position[i], escape);
    }
    int rest = line_fill - keep;
    std::memmove(line_cells, line_cells + keep, static_cast<size_t>(rest) * sizeof(line_cell));
    std::memmove(cell_column, cell_column + keep, static_cast<size_t>(rest) * sizeof(int));
    std::memmove(cell_position, cell_position + keep, static_cast<size_t>(rest) * sizeof(file_pos));
    line_fill = rest;
    // The escapes kept are moved to the front of the pool in turn.
    int fill = 0;
    for (int i = 0; i < line_fill; i++) {
        line_cell c = line_cells[i];
        if ((c & CELL_KIND) != CELL_ESCAPE)
            continue;
        int length = escape_length(c);
        std::memmove(escape_pool + fill, escape_pool + escape_offset(c), static_cast<size_t>(length));
        line_cells[i] = escape_cell(fill, length);
        fill += length;
    }
    escape_fill = fill;
    return more;
}

// Add a unit to a line read without a width; a unit refused for want of
// room goes in once everything before it is handed on.
void add_unbounded(const input_unit &u, bool to_view)
{
    if (add_unit(u) == 0)
        return;
    close_open_run();
    hand_to_view(line_fill, to_view);
    add_unit(u);
}

// The whole line that begins at start, cut to the view of chopped lines;
// where the next line begins, or NO_POSITION. Only the cells that the
// overstrike recogniser may still change are kept while it is read, so a
// line of any length is cut in the line buffer.
file_pos chop_row(file_pos start)
{
    if (columns_active()) {
        bool blank = false;
        file_pos next = columns_row(start, &built, &blank);
        if (next == NO_POSITION)
            return NO_POSITION;
        built.start = start;
        return squeeze_after(blank, next);
    }
    chop_begin(view_text_columns(start));
    if (buf_seek(start) != 0)
        return NO_POSITION;
    text_cols = UNBOUNDED;
    begin_line();
    file_pos next;
    bool blank = true;
    for (;;) {
        file_pos at = buf_tell();
        input_unit u;
        read_unit(u);
        if (pending_signals)
            return NO_POSITION;
        if (u.kind == UNIT_NEWLINE || u.kind == UNIT_END) {
            next = buf_tell();
            break;
        }
        blank = false;
        unit_position = at;
        add_unbounded(u, true);
        if (line_fill > CHOP_KEPT && !hand_to_view(line_fill - CHOP_KEPT)) {
            next = skip_to_line_end();
            if (next == NO_POSITION)
                return NO_POSITION;
            break;
        }
    }
    finish_line();
    hand_to_view(line_fill);
    chop_finish(&built);
    next = squeeze_after(blank, next);
    built.start = start;
    return next;
}

// Whether pos lies inside a line: neither at its start nor at the end of
// the input.
bool inside_line(file_pos pos)
{
    if (pos <= 0 || buf_newline_before(pos))
        return false;
    return buf_seek(pos) == 0 && buf_next_byte() != END_OF_INPUT;
}

// With -S every line is one row, whatever position inside it the row is
// asked for at.
file_pos chop_next(file_pos pos)
{
    if (buf_seek(pos) != 0 || buf_next_byte() == END_OF_INPUT)
        return NO_POSITION;
    file_pos start = buf_line_start(pos);
    if (start == NO_POSITION || (start != pos && buf_seek(start) != 0))
        start = pos;    // the beginning of the line is no longer held
    return chop_row(start);
}

// The row above one at pos: the line before the one that holds pos.
file_pos chop_prev(file_pos pos)
{
    if (inside_line(pos)) {
        pos = buf_line_start(pos);
        if (pos == NO_POSITION)
            return NO_POSITION;
    }
    if (pos <= 0)
        return NO_POSITION;
    file_pos start = raw_line_start(pos);
    if (start == NO_POSITION)
        return NO_POSITION;
    if (opt_s && blank_line_ends_at(start, pos))
        start = squeezed_row(start);
    if (start == NO_POSITION || chop_row(start) == NO_POSITION)
        return NO_POSITION;
    return start;
}

// Build the row that begins at pos, cut at the row width; where the next
// one begins (a line end is read past), or NO_POSITION. *blank: the row is
// an empty line.
file_pos build_row(file_pos pos, bool *blank)
{
    if (buf_seek(pos) != 0)
        return NO_POSITION;
    input_unit u;
    read_unit(u);
    if (u.kind == UNIT_END)
        return NO_POSITION;
    begin_line();
    if (pending_signals)
        return NO_POSITION;

    *blank = u.kind == UNIT_NEWLINE;
    file_pos at = pos;
    file_pos next;
    for (;;) {
        if (u.kind == UNIT_NEWLINE || u.kind == UNIT_END) {
            next = buf_tell();
            break;
        }
        unit_position = at;
        if (add_unit(u) != 0) {
            next = row_break(at, u);
            break;
        }
        at = buf_tell();
        read_unit(u);
        if (pending_signals)
            return NO_POSITION;
    }
    finish_line();
    return next;
}

// Where the row at pos ends when it is all the rest of a line of printable
// ASCII that fits the row: just after its newline, found by a scan of the
// bytes rather than by building the row. NO_POSITION when the row must be
// built to know.
file_pos plain_row_end(file_pos pos)
{
    const char *data;
    int64_t n = buf_span(pos, &data);
    int64_t fits = text_cols < LINE_FULL_MARK ? text_cols : LINE_FULL_MARK;
    if (n > fits + 1)
        n = fits + 1;
    auto *newline =
        n > 0 ? static_cast<const char *>(std::memchr(data, '\n', static_cast<size_t>(n))) : nullptr;
    if (!newline || newline == data || pending_signals ||
        scan_plain_ascii(data, static_cast<size_t>(newline - data)) >= 0)
        return NO_POSITION;
    return pos + (newline - data) + 1;
}

// The display line that begins at pos, in rows cut at the row width; only
// where the next row begins when its cells are not wanted.
file_pos folded_next(file_pos pos, bool cells)
{
    set_row_width(pos);
    if (!cells) {
        if (file_pos next = plain_row_end(pos); next != NO_POSITION)
            return squeeze_after(false, next);
    }
    bool blank = false;
    file_pos next = build_row(pos, &blank);
    if (next == NO_POSITION)
        return NO_POSITION;
    next = squeeze_after(blank, next);
    if (next == NO_POSITION)
        return NO_POSITION;
    return row_done(pos, next);
}

// The display line that ends at pos, in rows cut at the row width.
file_pos folded_prev(file_pos pos)
{
    file_pos row = cached_row_before(pos);
    if (row != NO_POSITION) {
        // Between words a row's cells may depend on what follows its end
        // (an overstrike that takes back the cells after its space): it is
        // built as forward.
        bool blank;
        if (opt_wrap == 1 ? build_row(row, &blank) == pos : assemble_row(row, pos))
            return row;
    }

    file_pos start = raw_line_start(pos);
    if (start == NO_POSITION)
        return NO_POSITION;
    if (opt_s && blank_line_ends_at(start, pos)) {
        // The last line of a run of blank lines, whose row stands for it all.
        start = squeezed_row(start);
        if (start == NO_POSITION)
            return NO_POSITION;
        begin_line();
        finish_line();
        return start;
    }
    return cut_rows(start, pos);
}

// Give the caller the row just built, at pos with the next at next (none
// when the building failed); result is what the builder returns.
file_pos hand_out(display_row *row, file_pos pos, file_pos next, file_pos result)
{
    if (row) {
        *row = built;
        row->pos = pos;
        row->next = next;
        if (result == NO_POSITION)
            row->cells = nullptr;
    }
    return result;
}

} // namespace

// Begin a new display line, as wide as the screen.
void line_start()
{
    text_cols = screen_cols;
    begin_line();
}

// Add one input byte to the display line, or finish it (ch == 0).
int line_add(int ch, display_row *row)
{
    if ((ch & 0xFF) == 0) {
        finish_line();
        if (row)
            *row = built;
        return 0;
    }
    return add_cell(byte_cell(ch));
}

void line_set_filter(const line_filter *f)
{
    filter = f;
}

bool line_filtered()
{
    return filter != nullptr;
}

file_pos line_first_shown(file_pos pos)
{
    return filter ? filter->shown_after(pos) : pos;
}

namespace {

// Rows that are whole lines, cut at the edge: chopped lines, and a
// table's rows, which folded would not align.
bool rows_are_lines()
{
    return opt_S || columns_active();
}

// Where the row at pos ends; its cells built only when wanted.
file_pos row_after(file_pos pos, bool cells)
{
    return rows_are_lines() ? chop_next(pos) : folded_next(pos, cells);
}

} // namespace

// Assemble the display line that begins at pos.
file_pos line_next(file_pos pos, display_row *row)
{
    file_pos next = NO_POSITION;
    if (pos != NO_POSITION) {
        // The line at pos was judged with the row before, unless it had
        // not come then: only now may the judgement wait for a pipe, the
        // row before being on the screen.
        if (filter)
            pos = filter->shown_after(pos);
        next = row_after(pos, row != nullptr);
        if (next != NO_POSITION && filter)
            next = filter->shown_ahead(next);
    }
    return hand_out(row, pos, next, next);
}

// Assemble the display line that ends at pos, the one shown above it.
file_pos line_prev(file_pos pos, display_row *row)
{
    const file_pos below = pos;  // where the row under it begins
    if (opt_s && pos > 0 && blank_line_at(pos)) {
        // The row at pos stands for its whole run: the row above it is the
        // line before the run.
        pos = first_blank_line(pos);
        if (pos == NO_POSITION)
            return hand_out(row, NO_POSITION, NO_POSITION, NO_POSITION);
    }
    if (pos <= floor_pos)
        return hand_out(row, NO_POSITION, NO_POSITION, NO_POSITION);
    if (filter && pos > 0)
        pos = filter->shown_before(pos);
    if (pos <= floor_pos)
        return hand_out(row, NO_POSITION, NO_POSITION, NO_POSITION);
    file_pos start;
    if (rows_are_lines()) {
        start = chop_prev(pos);
    } else {
        set_row_width(pos - 1);
        file_pos found = folded_prev(pos);
        start = row_done(found, found);
    }
    return hand_out(row, start, below, start);
}

file_pos line_next_all(file_pos pos, display_row *row)
{
    file_pos next = NO_POSITION;
    if (pos != NO_POSITION)
        next = row_after(pos, row != nullptr);
    return hand_out(row, pos, next, next);
}

void line_set_floor(file_pos pos)
{
    floor_pos = pos > 0 ? pos : 0;
}

// Copy the raw line at pos into the raw line buffer, unprocessed.
file_pos raw_line_next(file_pos pos)
{
    if (pos == NO_POSITION || buf_seek(pos) != 0)
        return NO_POSITION;
    // Whole runs of the block at the cursor at a time: this reader counts
    // the lines of files of any size.
    const char *data;
    int n = buf_run(&data);
    if (n == 0)
        return NO_POSITION;
    int copied = 0;
    for (;;) {
        if (n == 0)
            break;  // the end of the input, or a read broken off
        if (copied == RAW_LINE_MAX) {
            // Full: a newline right here still belongs to this line; any
            // other byte begins the next one.
            if (data[0] == '\n')
                buf_skip(1);
            break;
        }
        int room = RAW_LINE_MAX - copied;
        int take = n < room ? n : room;
        const char *newline = static_cast<const char *>(std::memchr(data, '\n', take));
        if (newline) {
            int len = static_cast<int>(newline - data);
            std::memcpy(line_buffer + copied, data, len);
            copied += len;
            buf_skip(len + 1);
            break;
        }
        std::memcpy(line_buffer + copied, data, take);
        copied += take;
        buf_skip(take);
        n = buf_run(&data);
    }
    line_buffer[copied] = 0;
    raw_line_text = line_buffer;
    return buf_tell();
}

// Copy the raw line that ends at pos (its newline left out); of a longer
// line only the last bytes are held.
file_pos raw_line_prev(file_pos pos)
{
    if (pos <= 0 || buf_seek(pos - 1) != 0)
        return NO_POSITION;
    // The byte at pos - 1 is normally the newline that ends the line. When
    // it is not (a last line without one, or pos inside a long line), it is
    // the line's last byte and must not be lost.
    int last = buf_next_byte();
    file_pos at = last == END_OF_INPUT || last == '\n' ? pos - 1 : pos;
    char *first = line_buffer + RAW_LINE_MAX;
    *first = 0;
    // Whole held runs backward, up to the newline before the line or until
    // the buffer is full; either way the line starts at `at`.
    while (first > line_buffer) {
        const char *data;
        int64_t n = buf_span_back(at, &data);
        if (n == 0)
            break;  // the beginning of the input, or of what is held
        int64_t take = n < first - line_buffer ? n : first - line_buffer;
        const char *from = data + n - take;
        auto *newline = static_cast<const char *>(memrchr(from, '\n', take));
        if (newline) {
            take = data + n - (newline + 1);
            from = newline + 1;
        }
        first -= take;
        std::memcpy(first, from, take);
        at -= take;
        if (newline)
            break;
    }
    raw_line_text = first;
    return at;
}

// Columns of a cell whose width does not depend on where it stands.
int cell_columns(line_cell c)
{
    switch (c) {
    case MARK_UNDERLINE_ON: return underline_on_width;
    case MARK_UNDERLINE_OFF: return underline_off_width;
    case MARK_BOLD_ON: return bold_on_width;
    case MARK_BOLD_OFF: return bold_off_width;
    case '\t':
    case '\b':
        return 0;
    default:
        break;
    }
    return cell_kind_columns(c);
}

bool line_reveal(file_pos from, file_pos to)
{
    if (columns_active())
        return columns_reveal(from, to);
    file_pos line = buf_line_start(from);
    if (line == NO_POSITION)
        return false;
    int width = view_text_columns(line);
    if (buf_seek(line) != 0)
        return false;
    text_cols = UNBOUNDED;
    begin_line();
    int first = -1;
    for (;;) {
        file_pos at = buf_tell();
        if (at >= from && first < 0)
            first = line_column;
        if (at >= to)
            break;
        input_unit u;
        read_unit(u);
        if (pending_signals || u.kind == UNIT_END || u.kind == UNIT_NEWLINE)
            break;
        unit_position = at;
        add_unbounded(u, false);
        if (line_fill > CHOP_KEPT)
            hand_to_view(line_fill - CHOP_KEPT, false);
    }
    if (first < 0)
        first = line_column;
    return chop_reveal(first, line_column, width);
}
