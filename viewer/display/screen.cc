#include "viewer/display/screen.h"

#include <cstring>

#include "viewer/display/chop.h"
#include "viewer/display/columns.h"
#include "viewer/display/header.h"
#include "viewer/display/highlight.h"
#include "viewer/display/line.h"
#include "viewer/display/numcol.h"
#include "viewer/display/style.h"
#include "viewer/display/syntax.h"
#include "viewer/display/view.h"
#include "viewer/input/exec.h"
#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

int eof_count;
int screen_defer_blank_rows = 1;
int screen_unseen;

namespace {

static_assert(STYLE_ROW_CELLS >= CHOP_VIEW_CELLS && STYLE_ROW_CELLS >= LINE_BUFFER_SIZE);

file_pos screen_pos_table[SCREEN_POS_CAPACITY];
// The styles of the row being painted.
cell_style row_styles[STYLE_ROW_CELLS];
// Set at the end of every forward paint: 0 only during the very first one.
unsigned char screen_painted;
// The first paint left the rows past the end of a short input unpainted.
unsigned char blank_lines_deferred;

int entry_of(int where)
{
    switch (where) {
    case ROW_MIDDLE: return (view_text_rows() + 1) / 2;
    case ROW_AFTER_BOTTOM: return view_text_rows();
    case ROW_BOTTOM: return view_text_rows() - 1;
    default: return where;
    }
}

void end_bell()
{
    if (opt_q == 0)
        term_bell();
    else
        term_visual_bell();
}

// The first paint may leave rows unpainted; any later paint starts by
// filling the whole screen.
void paint_deferred_rows()
{
    if (!blank_lines_deferred)
        return;
    blank_lines_deferred = 0;
    repaint_screen();
}

// What of a style shows: its highlight class, else its syntax element.
cell_style shown_mode(cell_style style)
{
    cell_style cls = style & STYLE_CLASS;
    return cls != STYLE_PLAIN ? cls : style & STYLE_SYNTAX;
}

// A shown mode in the terminal's terms: the search match in standout, the
// added patterns in the colours of the palette, syntax elements in theirs.
void class_on(cell_style cls)
{
    if (cls == STYLE_MATCH)
        term_standout_on();
    else if (cls & STYLE_SYNTAX)
        term_syntax_on(cls >> STYLE_SYNTAX_SHIFT);
    else if (cls != STYLE_PLAIN)
        term_highlight_on(cls - STYLE_MATCH - 1);
}

void class_off(cell_style cls)
{
    if (cls == STYLE_MATCH)
        term_standout_off();
    else if (cls & STYLE_SYNTAX)
        term_syntax_off(cls >> STYLE_SYNTAX_SHIFT);
    else if (cls != STYLE_PLAIN)
        term_highlight_off(cls - STYLE_MATCH - 1);
}

bool is_colour_escape(line_cell c, const char *escapes)
{
    return (c & CELL_KIND) == CELL_ESCAPE && escapes[escape_offset(c) + 1] != ']';
}

// The row being painted, and what the painter must give back when a
// highlight colour ends: the input's colour as the row's sequences left it,
// and the overstruck bold or underline in force.
struct paint_row {
    const line_cell *cells;
    const char *escapes;
    bool bold, underline;
    bool error;             // a line of a command's errors, in their colour
    bool held;              // a row held at the top, in bold
};

// A held row is bold throughout: back on after whatever mode change may
// have ended it (the input's own sequences too).
void held_bold_again(const paint_row &row)
{
    if (row.held)
        term_bold_on();
}

void restore_input_modes(const paint_row &row, int upto)
{
    for (int k = 0; k < upto; k++) {
        line_cell c = row.cells[k];
        if (!is_colour_escape(c, row.escapes))
            continue;
        const char *bytes = row.escapes + escape_offset(c);
        for (int n = 0; n < escape_length(c); n++)
            out_char(bytes[n]);
    }
    if (row.error)
        term_error_on();
    if (row.bold)
        term_bold_on();
    if (row.underline)
        term_underline_on();
    held_bold_again(row);
}

// A column's tint gives way to a highlight class.
bool tinted(cell_style style)
{
    return (style & STYLE_COLUMN_TINT) && !(style & STYLE_CLASS);
}

// The viewer's modes for a change of style between two cells (the cell
// at index i next).
void change_style(const paint_row &row, int i, cell_style from, cell_style to)
{
    cell_style was = shown_mode(from), now = shown_mode(to);
    if (was == now && tinted(from) == tinted(to))
        return;
    if (tinted(from))
        term_column_tint_off();
    class_off(was);
    if (was > STYLE_MATCH || tinted(from))
        restore_input_modes(row, i);
    else
        held_bold_again(row);
    class_on(now);
    if (tinted(to))
        term_column_tint_on();
}

// Write a row's cells in the styles they carry, in a row width columns wide.
void paint_cells(const line_cell *cells, const cell_style *styles, int count,
                 const char *escapes, int width, bool error)
{
    bool held = count > 0 && (styles[0] & STYLE_HEADER);
    long long tab = opt_x > 0 ? opt_x : 1;
    int column = 0;
    // The style written last: the cells before the first are plain.
    cell_style style = STYLE_PLAIN;
    // A hyperlink that the row opened and did not close is closed at its end.
    bool linked = false;
    paint_row row = {cells, escapes, false, false, error, held};
    if (error)
        term_error_on();
    held_bold_again(row);
    for (int i = 0; i < count; i++) {
        line_cell c = cells[i];
        change_style(row, i, style, styles[i]);
        style = styles[i];
        // A mode change of the viewer's own ends the input's colour first,
        // and may end the mode of a highlight, which is then turned on again.
        bool coloured = style & STYLE_INPUT_COLOUR;
        cell_style cls = shown_mode(style);
        switch (c) {
        case '\b':
            if (column > 0) {
                term_backspace();
                column--;
            }
            continue;
        case '\t':
            // To the next tab stop, but never past the end of the row.
            do {
                out_char(' ');
                column++;
            } while (column < width && column % tab != 0);
            continue;
        case MARK_UNDERLINE_ON:
            if (coloured) {
                term_attributes_off();
                held_bold_again(row);
            }
            term_underline_on();
            row.underline = true;
            class_on(cls);
            column += underline_on_width;
            continue;
        case MARK_UNDERLINE_OFF:
            term_underline_off();
            held_bold_again(row);
            row.underline = false;
            class_on(cls);
            column += underline_off_width;
            continue;
        case MARK_BOLD_ON:
            if (coloured) {
                term_attributes_off();
                held_bold_again(row);
            }
            term_bold_on();
            row.bold = true;
            class_on(cls);
            column += bold_on_width;
            continue;
        case MARK_BOLD_OFF:
            term_bold_off();
            held_bold_again(row);
            row.bold = false;
            class_on(cls);
            column += bold_off_width;
            continue;
        default:
            break;
        }
        column += cell_columns(c);
        int code = static_cast<int>(c & CELL_CHAR);
        if (style & STYLE_MARKER) {
            term_standout_on();
            out_char(code);
            term_standout_off();
            held_bold_again(row);
            class_on(cls);
            continue;
        }
        switch (c & CELL_KIND) {
        case CELL_CARET:
            out_char('^');
            out_char(code);
            break;
        case CELL_HEX:
            out_hex(code);
            break;
        case CELL_ESCAPE: {
            const char *bytes = escapes + escape_offset(c);
            int length = escape_length(c);
            for (int k = 0; k < length; k++)
                out_char(bytes[k]);
            if (bytes[1] == ']') {
                // ESC ] 8 ; parameters ; URI, then BEL or ESC '\\': a link
                // with an empty URI closes the one open.
                int end = bytes[length - 1] == 0x07 ? length - 1 : length - 2;
                const void *uri = memchr(bytes + 4, ';', static_cast<size_t>(end - 4));
                linked = uri && static_cast<const char *>(uri) + 1 < bytes + end;
            } else {
                held_bold_again(row);
                // A highlight wins over the input's colour in its cells.
                if (cls != STYLE_PLAIN)
                    class_on(cls);
            }
            break;
        }
        case CELL_HEXCODE: {
            char bytes[4];
            int n = text_encode(code, bytes);
            for (int k = 0; k < n; k++)
                out_hex(bytes[k]);
            break;
        }
        default:
            if (text_utf8 && code >= 0x80) {
                char bytes[4];
                int n = text_encode(code, bytes);
                for (int k = 0; k < n; k++)
                    out_char(bytes[k]);
            } else {
                out_char(code);
            }
            break;
        }
    }
    class_off(shown_mode(style));
    if (tinted(style))
        term_column_tint_off();
    if (style & STYLE_INPUT_COLOUR)
        term_attributes_off();
    if (error)
        term_error_off();
    if (held)
        term_bold_off();
    if (linked)
        out_string("\033]8;;\033\\");
    // A full row on a terminal that wraps by itself is already on the next.
    if (!(column >= width && wraps_at_margin && !wrap_glitch))
        out_char('\n');
}

void count_end_reached()
{
    file_pos after = screen_pos(ROW_AFTER_BOTTOM);
    if (after == NO_POSITION || after == buf_length())
        eof_count++;
}

void show_row(const display_row &row, bool held);

// A held row where the cursor stands, the row cleared first.
void show_held(const display_row &row)
{
    term_clear_eol();
    show_row(row, true);
}

// The header rows as they come, while a pipe is waited for.
void show_arriving(int index, const display_row &row)
{
    if (index == 0)
        term_home();
    show_held(row);
}

// Paint the rows held at the top, from the top; the cursor is left under
// them.
void paint_held_rows()
{
    term_home();
    display_row row;
    file_pos p = 0;
    int rows = header_line_rows() < view_header_rows() ? header_line_rows() : view_header_rows();
    for (int i = 0; i < rows; i++) {
        p = line_next_all(p, &row);
        if (p == NO_POSITION) {
            // The header's data is no longer held: the row stays empty.
            term_clear_eol();
            out_char('\n');
            continue;
        }
        show_held(row);
    }
    file_pos section = header_section_line();
    if (section != NO_POSITION && rows < view_header_rows()) {
        if (line_next_all(section, &row) != NO_POSITION) {
            show_held(row);
        } else {
            term_clear_eol();
            out_char('\n');
        }
    }
}

// The held rows again once rows scrolled under (or over) them, and the
// cursor back on the bottom line.
void repaint_held_rows()
{
    if (view_header_rows() == 0 || pending_signals)
        return;
    paint_held_rows();
    term_lower_left();
}

// A paint has moved the top line: the section held may be another, or a
// row may be held more or fewer, and then the whole screen is painted.
// Whether the screen was.
bool follow_top_section()
{
    static bool repainting;
    if (repainting || pending_signals)
        return false;
    held_change change = header_section_for(screen_pos(ROW_TOP));
    if (change == held_change::none)
        return false;
    if (change == held_change::line) {
        repaint_held_rows();
        return true;
    }
    repainting = true;
    repaint_screen();
    repainting = false;
    return true;
}

} // namespace

file_pos screen_pos(int where)
{
    int i = entry_of(where);
    if (i < 0 || i >= SCREEN_POS_CAPACITY)
        return NO_POSITION;
    return screen_pos_table[i];
}

void screen_pos_clear()
{
    // The rows are all to be painted afresh: nothing deferred is left.
    blank_lines_deferred = 0;
    for (int i = 0; i <= view_text_rows() && i < SCREEN_POS_CAPACITY; i++)
        screen_pos_table[i] = NO_POSITION;
}

void screen_pos_insert_bottom(file_pos pos)
{
    int last = view_text_rows();
    for (int i = 0; i < last; i++)
        screen_pos_table[i] = screen_pos_table[i + 1];
    screen_pos_table[last] = pos;
}

void screen_pos_insert_top(file_pos pos)
{
    for (int i = view_text_rows(); i > 0; i--)
        screen_pos_table[i] = screen_pos_table[i - 1];
    screen_pos_table[0] = pos;
}

int screen_line_of(file_pos pos)
{
    if (pos < screen_pos_table[0])
        return -1;
    for (int i = 0; i < view_text_rows(); i++)
        if (screen_pos_table[i + 1] > pos)
            return i;
    return -1;
}

int back_scroll_limit()
{
    // Without a way to scroll back, every backward move must repaint.
    if (!term_can_scroll_back())
        return 0;
    if (opt_h >= 0)
        return opt_h;
    return opt_c == 0 ? view_text_rows() : view_text_rows() - 1;
}

void paint_forward(int n, file_pos pos, int force, int only_last)
{
    paint_deferred_rows();
    highlight_paint_begin();
    // The rows held at the top are measured first: the text rows are what
    // they leave. A screenful asked for is a screenful of what they leave.
    int rows_before = view_text_rows();
    bool fresh = screen_pos(ROW_AFTER_BOTTOM) != pos;
    bool resized = header_measure(show_arriving);
    if (pos != NO_POSITION && pos < header_body_start()) {
        pos = header_body_start();
        fresh = true;
    }
    if (fresh && pos != NO_POSITION)
        resized = header_section_for(pos) == held_change::rows || resized;
    if (resized && n == rows_before)
        n = view_text_rows();
    // The rows on the screen no longer stand where the table says.
    if (resized && !fresh)
        screen_stale = 1;
    syntax_paint_begin(n >= view_text_rows(), screen_unseen);
    numcol_prepare(pos);
    bool last_screen_only = only_last && n > view_text_rows();
    // A paint from a new place: the table is started afresh.
    const file_pos from = pos;
    // A new screen of a pipe may wait for data halfway: rows scrolling in
    // from the bottom would then stand under the old screen's (or scroll
    // the held rows away) for as long as the wait lasts. It is cleared and
    // painted from the top instead.
    int mode = opt_c;
    if (mode == 0 && fresh && (screen_painted || view_header_rows() > 0) &&
        n >= view_text_rows() && input_is_pipe && eof_position == NO_POSITION)
        mode = 2;
    bool from_top = false;
    if (!last_screen_only) {
        if (mode == 0 || n < view_text_rows()) {
            term_lower_left();
            term_clear_eol();
        } else {
            if (mode == 2)
                term_clear();
            from_top = true;
            force = 1;
        }
        if (fresh) {
            screen_pos_clear();
            screen_pos_insert_bottom(pos);
            force = 1;
            if (mode == 0) {
                if (screen_painted)
                    out_string("...skipping...\n");
            } else {
                if (mode == 2 && !from_top)
                    term_clear();
                from_top = true;
            }
        }
        // The text rows begin under the held rows.
        if (from_top)
            paint_held_rows();
    }

    bool reached_end = false;
    int added = 0;
    display_row row;
    // Rows nobody sees are not built, only found, where every line shows.
    bool bare = (last_screen_only || screen_unseen) && !line_filtered();
    for (int i = 0; i < n; i++) {
        file_pos at = pos;
        pos = line_next(pos, bare ? nullptr : &row);
        if (pending_signals) {
            screen_stale = 1;
            break;
        }
        if (pos == NO_POSITION) {
            reached_end = true;
            // Past the end, a screenful of empty rows is all there is to show.
            if ((!force && screen_pos(ROW_TOP) != NO_POSITION) || added >= view_text_rows())
                break;
        } else {
            // Only some lines shown: the row is the first of them from there.
            screen_pos_table[view_text_rows()] = bare ? at : row.pos;
        }
        screen_pos_insert_bottom(pos);
        added++;
        if (last_screen_only || screen_unseen)
            continue;
        // Rows past the end are painted on the first screen too, so that a
        // short input stands at the top above its "~" rows, as a repaint
        // shows it. A hard-copy terminal has no top to paint from, and the
        // rows it is taken to have may be more than its window shows: there
        // the input's lines are all the first paint sends.
        if (!screen_painted && !row.cells && mode == 0 && hard_copy &&
            screen_defer_blank_rows) {
            blank_lines_deferred = 1;
        } else {
            if (mode == 1)
                term_clear_eol();
            show_line(row);
        }
    }

    if (pending_signals && fresh && !last_screen_only) {
        // Broken off: the rows painted lie below the top row, which is
        // unknown. The repaint that follows starts from the new place.
        screen_pos_clear();
        screen_pos_insert_top(from);
        screen_stale = 1;
    }
    if (!pending_signals) {
        if (reached_end)
            eof_count++;
        else
            count_end_reached();
    }
    if (added == 0 && !pending_signals)
        end_bell();
    else if (last_screen_only)
        repaint_screen();
    else if (!follow_top_section() && !from_top && added > 0)
        repaint_held_rows();
    screen_painted = 1;
    linenum_learn(screen_pos(ROW_BOTTOM));
}

void paint_backward(int n, file_pos pos, int force, int only_last)
{
    paint_deferred_rows();
    highlight_paint_begin();
    int rows_before = view_text_rows();
    if (header_measure(show_arriving)) {
        screen_stale = 1;
        if (n == rows_before)
            n = view_text_rows();
    }
    syntax_paint_begin(false, screen_unseen);
    numcol_prepare(pos);
    bool repaint = n > back_scroll_limit() || (only_last && n > view_text_rows());
    eof_count = 0;
    int added = 0;
    display_row row;
    for (int i = 0; i < n; i++) {
        pos = line_prev(pos, &row);
        if (pending_signals) {
            screen_stale = 1;
            break;
        }
        if (pos == NO_POSITION && !force)
            break;
        screen_pos_insert_top(pos);
        added++;
        if (!repaint && !screen_unseen) {
            // Inserted under the held rows, which stay where they are.
            term_home();
            for (int k = view_header_rows(); k > 0; k--)
                out_char('\n');
            term_insert_line();
            show_line(row);
        }
    }
    if (!pending_signals)
        count_end_reached();
    if (added == 0 && !pending_signals)
        end_bell();
    else if (repaint)
        repaint_screen();
    else if (!follow_top_section() && added > 0)
        // The screen may have been cleared for this paint (a jump).
        repaint_held_rows();
    linenum_learn(screen_pos(ROW_BOTTOM));
}

void scroll_forward(int n, int only_last)
{
    file_pos after = screen_pos(ROW_AFTER_BOTTOM);
    if (after != NO_POSITION) {
        paint_forward(n, after, 0, only_last);
    } else {
        end_bell();
        eof_count++;
    }
}

void scroll_backward(int n, int only_last)
{
    file_pos top = screen_pos(ROW_TOP);
    if (top != NO_POSITION)
        paint_backward(n, top, 0, only_last);
    else
        end_bell();
}

void repaint_screen()
{
    // Cleared first, so that a paint broken off leaves it set. A paint that
    // waited for data on a terminal that cannot put the cursor back after
    // the notice is out of place: again, until one did not wait.
    do {
        term_cursor_lost = 0;
        screen_stale = 0;
        eof_count = 0;
        paint_forward(view_text_rows(), screen_pos(ROW_TOP), 1, 0);
    } while (term_cursor_lost && !pending_signals);
}

bool screen_print_if_fits()
{
    int rows = 0;
    for (file_pos pos = 0;; rows++) {
        pos = line_next(pos);
        if (pending_signals) {
            // A new size or a stop and continue while a pipe is awaited
            // only change the screen the input must fit on.
            if (pending_signals & ~(PENDING_WINCH | PENDING_STOP))
                return false;
            signals_process();
            rows = -1;
            pos = 0;
            continue;
        }
        if (pos == NO_POSITION)
            break;
        if (rows >= view_text_rows())
            return false;
    }
    // Damaged input is paged, so that the message saying so is seen.
    if (buf_damaged())
        return false;
    file_pos pos = 0;
    display_row row;
    for (int i = 0; i < rows; i++) {
        pos = line_next(pos, &row);
        show_line(row);
    }
    return true;
}

void show_line(const display_row &row)
{
    show_row(row, false);
}

namespace {

void show_row(const display_row &row, bool held)
{
    if (pending_signals) {
        screen_stale = 1;
        return;
    }
    static constexpr line_cell tilde[] = {'~', 0};
    static constexpr cell_style plain[] = {STYLE_PLAIN};
    const line_cell *cells = row.cells;
    const cell_style *styles = row_styles;
    int count = row.count;
    int number_width = 0;
    if (cells) {
        style_row(row, row_styles);
        syntax_style(row, row_styles);
        highlight_style(row, row_styles);
        columns_style(row, row_styles);
        if (held)
            header_style(row, row_styles);
        number_width = view_number_columns(row.start);
    } else {
        // Past the end: "~" or nothing.
        cells = tilde;
        styles = plain;
        count = opt_w ? 1 : 0;
    }
    // A command's error lines: in a colour of their own, and a '!' after
    // the number.
    bool error = row.cells && input_from_stderr(row.start);
    numcol_paint(number_width ? numcol_number(row.start) : 0, number_width, error ? '!' : ' ');
    paint_cells(cells, styles, count, row.escapes, screen_cols - number_width, error);
}

} // namespace
