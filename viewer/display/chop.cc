#include "viewer/display/chop.h"

#include <cstring>

#include "viewer/display/sgr.h"
#include "viewer/display/view.h"

namespace {

// So far right that no line of any use reaches it, and column sums stay
// far from overflowing.
constexpr int COLUMN_LIMIT = 1 << 28;
// Cells of a view: a row's columns and the zero-width cells among them.
constexpr int VIEW_CELLS = CHOP_VIEW_CELLS;
// Room kept for what finishing adds: an edge marker, spaces before it, and
// the markers that close open runs.
constexpr int FINISH_ROOM = 16;

line_cell view_cells[VIEW_CELLS + 1];
file_pos view_positions[VIEW_CELLS + 1];
int view_starts[VIEW_CELLS + 1];     // the view column a cell starts at, -1: no column
int view_widths[VIEW_CELLS + 1];
int view_columns[VIEW_CELLS + 1];    // view_starts, a cell of no column at the cursor
char view_escapes[ESCAPE_POOL_SIZE];
int view_fill, escape_fill;

int view_from, view_to;              // line columns shown: [from, to)
int cursor;                          // the view column the next cell goes to
bool started;                        // something of the line is in view
bool any_text;                       // the line has text, in view or not
bool beyond;                         // text lies right of the view
// What the line's sequences and runs left before the view.
sgr_state colour_before;
bool underline_before, bold_before;

bool is_marker(line_cell c)
{
    return c == MARK_UNDERLINE_ON || c == MARK_UNDERLINE_OFF || c == MARK_BOLD_ON ||
           c == MARK_BOLD_OFF;
}

// Past the room kept for finishing, cells are dropped: a line of endless
// zero-width cells or overstrikes cannot overrun the view.
void put(line_cell c, int start, int width, file_pos from, bool finishing = false)
{
    if (view_fill >= (finishing ? VIEW_CELLS : VIEW_CELLS - FINISH_ROOM))
        return;
    view_cells[view_fill] = c;
    view_positions[view_fill] = from;
    view_starts[view_fill] = start;
    view_widths[view_fill++] = width;
}

void put_escape(const char *bytes, int length, file_pos from)
{
    if (escape_fill + length > ESCAPE_POOL_SIZE || view_fill >= VIEW_CELLS - FINISH_ROOM)
        return;
    memcpy(view_escapes + escape_fill, bytes, static_cast<size_t>(length));
    put(escape_cell(escape_fill, length), -1, 0, from);
    escape_fill += length;
}

// The view begins with the colour and runs that the line left open
// before it.
void start_view(file_pos from)
{
    started = true;
    if (!sgr_plain(colour_before)) {
        char text[SGR_TEXT_MAX];
        put_escape(text, sgr_write(colour_before, text), from);
    }
    if (underline_before)
        put(MARK_UNDERLINE_ON, -1, 0, from);
    if (bold_before)
        put(MARK_BOLD_ON, -1, 0, from);
}

// Before the view, attributes only change the state the view starts in.
void note_attribute(line_cell c, const char *escape)
{
    if ((c & CELL_KIND) == CELL_ESCAPE) {
        int n = escape_length(c);
        if (n >= 3 && escape[1] == '[' && escape[n - 1] == 'm')
            sgr_apply(colour_before, escape, n);
        return;
    }
    if (c == MARK_UNDERLINE_ON || c == MARK_UNDERLINE_OFF)
        underline_before = c == MARK_UNDERLINE_ON;
    else
        bold_before = c == MARK_BOLD_ON;
}

// The last view column shows '>': what covers it gives way, a wide
// character cut by it as spaces.
void mark_right_edge()
{
    int last = view_to - view_from - 1;
    int i = 0;
    while (i < view_fill && !(view_starts[i] >= 0 && view_starts[i] + view_widths[i] > last))
        i++;
    int reached = last;
    file_pos from = i > 0 ? view_positions[i - 1] : NO_POSITION;
    if (i < view_fill) {
        reached = view_starts[i];
        from = view_positions[i];
    }
    view_fill = i;
    for (int k = reached; k < last; k++)
        put(' ', k, 1, from, true);
    put(CELL_EDGE | '>', last, 1, from, true);
}

// Runs opened in the view are closed at its end, as a whole line's are.
void close_runs()
{
    bool underline = false, bold = false;
    for (int i = 0; i < view_fill; i++) {
        line_cell c = view_cells[i];
        if (c == MARK_UNDERLINE_ON || c == MARK_UNDERLINE_OFF)
            underline = c == MARK_UNDERLINE_ON;
        else if (c == MARK_BOLD_ON || c == MARK_BOLD_OFF)
            bold = c == MARK_BOLD_ON;
    }
    file_pos from = view_fill > 0 ? view_positions[view_fill - 1] : NO_POSITION;
    if (underline)
        put(MARK_UNDERLINE_OFF, -1, 0, from, true);
    if (bold)
        put(MARK_BOLD_OFF, -1, 0, from, true);
}

} // namespace

bool chop_scroll(int n)
{
    long long column = static_cast<long long>(view_column()) + n;
    column = column < 0 ? 0 : column > COLUMN_LIMIT ? COLUMN_LIMIT : column;
    bool moved = column != view_column();
    view_set_column(static_cast<int>(column));
    return moved;
}

bool chop_reveal(int from, int to, int width)
{
    // The edge columns hold the markers, not text.
    int shown = view_column();
    int first = shown > 0 ? shown + 1 : 0;
    if (from >= first && to <= shown + width - 1)
        return false;
    int column = from - width / 2;
    return chop_scroll((column < 0 ? 0 : column) - shown);
}

void chop_begin(int width)
{
    view_from = view_column();
    view_to = view_from + (width > 1 ? width : 1);
    view_fill = escape_fill = cursor = 0;
    started = any_text = beyond = false;
    colour_before = {};
    underline_before = bold_before = false;
}

bool chop_take(line_cell c, int column, int width, file_pos from, const char *escape)
{
    if (beyond)
        return false;
    if ((c & CELL_KIND) == CELL_ESCAPE || is_marker(c)) {
        if (!started)
            note_attribute(c, escape);
        else if ((c & CELL_KIND) == CELL_ESCAPE)
            put_escape(escape, escape_length(c), from);
        else
            put(c, -1, 0, from);
        return true;
    }
    if (c == '\b' || width <= 0) {
        // A backspace, or a combining character: it acts on the character
        // just before it, which must be in view (the '<' is not).
        int lowest = view_from > 0 ? 1 : 0;
        if (started && column - view_from == cursor && cursor > lowest) {
            put(c, -1, 0, from);
            if (c == '\b')
                cursor--;
        }
        return true;
    }
    any_text = true;
    if (column + width <= view_from)
        return true;
    if (column >= view_to) {
        beyond = true;
        return false;
    }
    if (!started)
        start_view(from);
    int left = (column > view_from ? column : view_from) - view_from;
    int right = (column + width < view_to ? column + width : view_to) - view_from;
    beyond = right + view_from < column + width;
    bool whole = left + view_from == column && !beyond && c != '\t';
    if (left < cursor) {
        // Over what is shown already (a backspace that could not be):
        // only its columns past the cursor.
        left = cursor;
        whole = false;
    }
    for (; cursor < left; cursor++)
        put(' ', cursor, 1, from);
    if (left == 0 && view_from > 0) {
        // Text lies left of the view.
        put(CELL_EDGE | '<', 0, 1, from);
        left = cursor = 1;
        whole = false;
    }
    if (whole) {
        put(c, left, width, from);
    } else {
        // A tab, or a character cut by an edge: its columns as spaces.
        for (int k = left; k < right; k++)
            put(' ', k, 1, from);
    }
    if (right > cursor)
        cursor = right;
    return !beyond;
}

void chop_finish(display_row *row)
{
    if (!started && view_from > 0 && any_text)
        put(CELL_EDGE | '<', 0, 1, NO_POSITION, true);
    if (beyond)
        mark_right_edge();
    close_runs();
    view_cells[view_fill] = 0;
    int at = 0;
    for (int i = 0; i < view_fill; i++) {
        if (view_starts[i] >= 0)
            at = view_starts[i];
        view_columns[i] = at;
        if (view_starts[i] >= 0)
            at += view_widths[i];
    }
    row->cells = view_cells;
    row->columns = view_columns;
    row->positions = view_positions;
    row->escapes = view_escapes;
    row->count = view_fill;
}
