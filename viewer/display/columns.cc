#include "viewer/display/columns.h"

#include <cstdio>
#include <cstring>

#include "viewer/display/chop.h"
#include "viewer/display/view.h"
#include "viewer/input/escape.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/text.h"

namespace {

// Of a line, the bytes split into fields: the rest of a longer one is not
// shown (its end is still found, for the next line).
constexpr int LINE_BYTES = 64 * 1024;
// Fields of a line; the last one takes the rest of a line with more.
constexpr int MAX_FIELDS = 512;
// Of the first screenful, the bytes the delimiter is detected from.
constexpr int DETECT_BYTES = 16 * 1024;
constexpr int OUT_CELLS = CHOP_VIEW_CELLS;
constexpr line_cell THIN_BAR = 0x2502;

bool active;
int delimiter_given = COLUMNS_DETECT;

// The delimiter in use: as given, or detected from the input of
// detected_for; detection is redone until it saw a screenful or the end.
int delimiter = COLUMNS_SPACES;
uint64_t detected_for = ~0ull;
bool detection_final;

// The line loaded last: its bytes (a carriage return before the newline
// left out), its fields and what each shows.
char line_bytes[LINE_BYTES];
int line_length;
file_pos line_at = NO_POSITION;
bool line_whole;                 // ended by a newline or the input's end
column_field fields[MAX_FIELDS];
int field_widths[MAX_FIELDS];
bool field_numbers[MAX_FIELDS];
int field_count;

// The widths of the columns over the lines [lo, hi) measured so far. They
// only grow while the screen moves near those lines; a jump elsewhere
// measures afresh, so that a wide field far away does not widen the view.
struct width_window {
    uint64_t input;
    int delimiter, plain, escapes, utf8;
    file_pos lo = NO_POSITION, hi = NO_POSITION;
    int widths[MAX_FIELDS];
    int count;
};
width_window win;

// The row built last, and the field each of its cells shows (-1: padding,
// a separator or a marker).
line_cell out_cells[OUT_CELLS + 1];
int out_columns[OUT_CELLS + 1];
file_pos out_positions[OUT_CELLS + 1];
short out_fields[OUT_CELLS + 1];
char out_escapes[ESCAPE_POOL_SIZE];
int out_fill, out_escape_fill;

// A piece of a field as shown: one cell, the bytes it takes.
struct unit {
    line_cell cell;
    int width;
    int length;
    bool dropped;           // a sequence that shows nothing
};

// The unit at line_bytes[i], within the field that ends at end; read as
// the line assembler reads the input, a tab aside (one blank: its stops
// mean nothing inside a column).
unit unit_at(int i, int end)
{
    auto *p = reinterpret_cast<const unsigned char *>(line_bytes + i);
    if (*p >= 0x20 && *p < 0x7F)
        return {*p, 1, 1, false};
    if (*p == 0x1B && escape_passed()) {
        escape_kind kind;
        int n = escape_length(line_bytes + i, static_cast<size_t>(end - i), &kind);
        if (n > 0 && n < (1 << ESCAPE_LENGTH_BITS)) {
            if (opt_plain || kind == ESCAPE_ERASE)
                return {0, 0, n, true};
            return {escape_cell(0, n), 0, n, false};
        }
    }
    if (*p == '\t')
        return {' ', 1, 1, false};
    int n = *p < 0x80 || !text_utf8 ? 1 : end - i < 4 ? end - i : 4;
    text_char c = text_decode(p, static_cast<size_t>(n));
    line_cell cell = cell_of(c, *p);
    return {cell, cell_kind_columns(cell), c.length > 0 ? c.length : 1, false};
}

// Each unit a field shows, with the offset of its bytes in the line.
template <typename F> bool each_unit(const column_field &f, F each)
{
    for (int i = f.begin; i < f.end;) {
        if (f.quoted && line_bytes[i] == '"' && i + 1 < f.end && line_bytes[i + 1] == '"') {
            if (!each(unit{'"', 1, 2, false}, i))
                return false;
            i += 2;
            continue;
        }
        unit u = unit_at(i, f.end);
        if (!u.dropped && !each(u, i))
            return false;
        i += u.length;
    }
    return true;
}

// Where a read of the input must stop not to wait for a pipe: what has
// arrived; NO_POSITION when anything may be read.
file_pos arrived()
{
    return input_is_pipe && eof_position == NO_POSITION ? pipe_offset : NO_POSITION;
}

// Load the line that begins at start, reading no further than limit
// (NO_POSITION: no limit), and split it; where the next line begins, or
// NO_POSITION when there is none or a signal came.
file_pos load(file_pos start, file_pos limit)
{
    line_at = start;
    line_length = 0;
    field_count = 0;
    line_whole = false;
    // Through the blocks at the cursor, as the line assembler reads: the
    // rows above are being found by scans of their own held runs.
    if ((eof_position != NO_POSITION && start >= eof_position) || buf_seek(start) != 0)
        return NO_POSITION;
    file_pos p = start;
    for (;;) {
        if (pending_signals)
            return NO_POSITION;
        if (limit != NO_POSITION && p >= limit)
            break;
        const char *data;
        int64_t n = buf_run(&data);
        if (n == 0) {
            if (pending_signals)
                return NO_POSITION;
            line_whole = true;
            break;
        }
        if (limit != NO_POSITION && n > limit - p)
            n = limit - p;
        auto *newline = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(n)));
        int64_t take = newline ? newline - data : n;
        int64_t room = LINE_BYTES - line_length;
        int64_t copy = take < room ? take : room;
        memcpy(line_bytes + line_length, data, static_cast<size_t>(copy));
        line_length += static_cast<int>(copy);
        if (newline) {
            buf_skip(static_cast<int>(take + 1));
            p += take + 1;
            line_whole = true;
            break;
        }
        buf_skip(static_cast<int>(n));
        p += n;
    }
    if (p == start)
        return NO_POSITION;
    if (line_length > 0 && line_bytes[line_length - 1] == '\r' && line_length < LINE_BYTES)
        line_length--;
    field_count = columns_split(line_bytes, line_length, delimiter, escape_passed(), fields,
                                MAX_FIELDS);
    for (int k = 0; k < field_count; k++) {
        int width = 0;
        each_unit(fields[k], [&](const unit &u, int) {
            width += u.width;
            return true;
        });
        field_widths[k] = width;
        field_numbers[k] =
            columns_numeric(line_bytes + fields[k].begin, fields[k].end - fields[k].begin);
    }
    return p;
}

// The first line before the one at p, or NO_POSITION.
file_pos line_before(file_pos p)
{
    if (p <= 0 || !buf_held_before(p))
        return NO_POSITION;
    return buf_line_start(p - 1);
}

// The delimiter for the current input: given, or detected from the first
// screenful (what of it has arrived; at least its first line). A change
// repaints what was shown split at the old one.
void choose_delimiter(file_pos fallback)
{
    if (delimiter_given != COLUMNS_DETECT) {
        delimiter = delimiter_given;
        return;
    }
    if (detected_for == input_generation && detection_final)
        return;
    static char text[DETECT_BYTES];
    int fill = 0, lines = 0;
    // A pipe may no longer hold its beginning: then the lines from here.
    file_pos p = buf_seek(0) == 0 ? 0 : fallback;
    bool ended = false;
    while (lines < view_text_rows() && fill < DETECT_BYTES) {
        file_pos next = load(p, lines == 0 ? NO_POSITION : arrived());
        if (next == NO_POSITION) {
            ended = !pending_signals && arrived() == NO_POSITION;
            break;
        }
        if (!line_whole)
            break;
        int n = line_length < DETECT_BYTES - fill ? line_length : DETECT_BYTES - fill - 1;
        memcpy(text + fill, line_bytes, static_cast<size_t>(n));
        fill += n;
        text[fill++] = '\n';
        lines++;
        p = next;
    }
    if (pending_signals)
        return;
    int found = columns_detect(text, fill);
    if (found != delimiter && detected_for == input_generation)
        screen_stale = 1;
    delimiter = found;
    detected_for = input_generation;
    detection_final = ended || lines >= view_text_rows() || fill >= DETECT_BYTES;
}

// Measure the line at p into the window: where the next begins, or
// NO_POSITION past the end (or a line not wholly arrived).
file_pos measure(file_pos p, bool *grew)
{
    file_pos next = load(p, arrived());
    if (next == NO_POSITION)
        return NO_POSITION;
    for (int k = 0; k < field_count; k++) {
        if (k >= win.count) {
            win.widths[k] = 0;
            win.count = k + 1;
        }
        if (field_widths[k] > win.widths[k]) {
            win.widths[k] = field_widths[k];
            *grew = true;
        }
    }
    return line_whole ? next : NO_POSITION;
}

// Measure from p to `rows` lines past `line`; where measuring stopped.
file_pos measure_from(file_pos p, file_pos line, int rows, bool *grew)
{
    // A read at the end would only take the place of the held runs.
    file_pos length = buf_length();
    int after = -1;
    while (!pending_signals && (length == NO_POSITION || p < length)) {
        if (p >= line && after < 0)
            after = 0;
        if (after >= 0 && after++ > rows)
            break;
        file_pos next = measure(p, grew);
        if (next == NO_POSITION)
            break;
        p = next;
    }
    return p;
}

// `rows` lines back from line (fewer at the beginning).
file_pos back_from(file_pos line, int rows)
{
    for (int k = 0; k < rows && !pending_signals; k++) {
        file_pos before = line_before(line);
        if (before == NO_POSITION)
            break;
        line = before;
    }
    return line;
}

// Make the window hold the line at `line`: at least a screenful around
// it. Near the lines measured it grows (repainting when a column widened);
// elsewhere it starts afresh.
void cover(file_pos line)
{
    int rows = view_text_rows() > 0 ? view_text_rows() : 1;
    // What decides the widths: the input, and how its bytes are shown.
    int escapes = escape_passed();
    if (win.input != input_generation || win.delimiter != delimiter || win.plain != opt_plain ||
        win.escapes != escapes || win.utf8 != text_utf8) {
        win.input = input_generation;
        win.delimiter = delimiter;
        win.plain = opt_plain;
        win.escapes = escapes;
        win.utf8 = text_utf8;
        win.lo = NO_POSITION;
    }
    if (win.lo != NO_POSITION && line >= win.lo && line < win.hi)
        return;
    bool grew = false;
    if (win.lo != NO_POSITION && line >= win.hi) {
        file_pos p = win.hi;
        for (int k = 0; k < rows && p < line && !pending_signals; k++) {
            file_pos next = buf_line_end(p);
            if (next <= p)
                break;
            p = next;
        }
        if (p == line) {
            win.hi = measure_from(win.hi, line, 2 * rows, &grew);
            if (grew)
                screen_stale = 1;
            return;
        }
    } else if (win.lo != NO_POSITION) {
        file_pos p = win.lo;
        for (int k = 0; k < rows && p > line && p != NO_POSITION; k++)
            p = line_before(p);
        if (p == line) {
            file_pos lo = back_from(line, rows);
            measure_from(lo, win.lo, -1, &grew);
            win.lo = lo;
            if (grew)
                screen_stale = 1;
            return;
        }
    }
    win.count = 0;
    win.lo = back_from(line, rows);
    // A line not wholly arrived ends the window: it is measured again, as
    // the window grows, once it has.
    win.hi = measure_from(win.lo, line, 2 * rows, &grew);
}

int width_at(int k)
{
    int w = k < win.count ? win.widths[k] : 0;
    return field_widths[k] > w ? field_widths[k] : w;
}

int separator_width()
{
    return delimiter == COLUMNS_SPACES ? 2 : 3;
}

// The columns held in place (--header-columns): *fixed of them,
// *fixed_width wide, at most half the text columns. From the window's
// widths, so that every row holds the same.
void held_columns(int width, int *fixed, int *fixed_width)
{
    int sep = separator_width();
    int w = 0, n = 0;
    for (; n < opt_header_columns && n < win.count; n++) {
        int next = w + win.widths[n] + sep;
        if (next > width / 2)
            break;
        w = next;
    }
    *fixed = n;
    *fixed_width = w;
}

// Where each of count columns begins (count + 1 starts into x): with the
// widths of the line loaded too, or of the window alone.
void column_starts(int *x, int count, bool line)
{
    int sep = separator_width();
    x[0] = 0;
    for (int k = 0; k < count; k++)
        x[k + 1] = x[k] + (line ? width_at(k) : win.widths[k]) + sep;
}

// The columns of the line loaded, its held ones (which a wider field of
// its own may not push) ending where every row's do.
void lay_out_columns(int *x, int width, int *fixed, int *fixed_width)
{
    column_starts(x, field_count, true);
    held_columns(width, fixed, fixed_width);
    for (int k = 0; k < *fixed && k < field_count; k++)
        if (x[k + 1] > *fixed_width)
            x[k + 1] = *fixed_width;
}

// The line's cells, each with the column it starts at, its input position
// (NO_POSITION for padding) and its field (-1: none), to sink until it
// answers false.
template <typename S> void lay_out(const int *x, S sink)
{
    int sep = separator_width();
    for (int k = 0; k < field_count; k++) {
        const column_field &f = fields[k];
        int w = width_at(k);
        int col = x[k];
        if (k > 0) {
            file_pos at = fields[k - 1].after >= 0 ? line_at + fields[k - 1].after : NO_POSITION;
            line_cell bar = text_utf8 ? THIN_BAR : '|';
            for (int s = 0; s < sep; s++) {
                line_cell c = sep == 3 && s == 1 ? bar : ' ';
                if (!sink(c, col - sep + s, 1, at, -1, nullptr))
                    return;
            }
        }
        if (field_numbers[k]) {
            for (int pad = w - field_widths[k]; pad > 0; pad--)
                if (!sink(' ', col++, 1, NO_POSITION, -1, nullptr))
                    return;
        }
        bool more = each_unit(f, [&](const unit &u, int i) {
            const char *escape = (u.cell & CELL_KIND) == CELL_ESCAPE ? line_bytes + i : nullptr;
            bool go = sink(u.cell, col, u.width, line_at + i, k, escape);
            col += u.width;
            return go;
        });
        if (!more)
            return;
        if (k + 1 < field_count)
            for (; col < x[k] + w; col++)
                if (!sink(' ', col, 1, NO_POSITION, -1, nullptr))
                    return;
    }
}

void put_out(line_cell c, int column, file_pos at, int field, const char *escape)
{
    if (out_fill >= OUT_CELLS)
        return;
    if (escape) {
        int n = escape_length(c);
        if (out_escape_fill + n > ESCAPE_POOL_SIZE)
            return;
        memcpy(out_escapes + out_escape_fill, escape, static_cast<size_t>(n));
        c = escape_cell(out_escape_fill, n);
        out_escape_fill += n;
    }
    out_cells[out_fill] = c;
    out_columns[out_fill] = column;
    out_positions[out_fill] = at;
    out_fields[out_fill++] = static_cast<short>(field);
}

// The field that shows the byte at pos of the line loaded, or -1.
int field_at(file_pos pos)
{
    if (pos < line_at)
        return -1;
    int offset = static_cast<int>(pos - line_at > LINE_BYTES ? LINE_BYTES : pos - line_at);
    int lo = 0, hi = field_count;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (fields[mid].end <= offset)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < field_count && fields[lo].begin <= offset ? lo : -1;
}

// The row of the line loaded, cut to the view: the held columns as they
// are, the others through the sideways view.
void build(display_row *row)
{
    static int x[MAX_FIELDS + 1];
    int width = view_text_columns(line_at);
    int fixed, fixed_width;
    lay_out_columns(x, width, &fixed, &fixed_width);
    out_fill = out_escape_fill = 0;
    chop_begin(width - fixed_width);
    lay_out(x, [&](line_cell c, int column, int w, file_pos at, int field, const char *escape) {
        if (column < fixed_width) {
            if (column + w <= fixed_width)
                put_out(c, column, at, field, escape);
            return true;
        }
        return chop_take(c, column - fixed_width, w, at, escape);
    });
    display_row cut = {};
    chop_finish(&cut);
    for (int i = 0; i < cut.count; i++) {
        line_cell c = cut.cells[i];
        const char *escape =
            (c & CELL_KIND) == CELL_ESCAPE ? cut.escapes + escape_offset(c) : nullptr;
        int field = (c & CELL_KIND) == CELL_EDGE ? -1 : field_at(cut.positions[i]);
        put_out(c, cut.columns[i] + fixed_width, cut.positions[i], field, escape);
    }
    out_cells[out_fill] = 0;
    row->cells = out_cells;
    row->columns = out_columns;
    row->positions = out_positions;
    row->escapes = out_escapes;
    row->count = out_fill;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int columns_split(const char *s, int n, int delim, bool skip_escapes, column_field *out, int max)
{
    if (max <= 0)
        return 0;
    bool spaces = delim == COLUMNS_SPACES;
    int i = 0;
    if (spaces) {
        while (i < n && s[i] == ' ')
            i++;
        while (n > i && s[n - 1] == ' ')
            n--;
    }
    int count = 0;
    for (;;) {
        if (count == max - 1) {
            out[count++] = {i, n, -1, false};
            return count;
        }
        if (!spaces && i < n && s[i] == '"') {
            int j = i + 1;
            while (j < n && !(s[j] == '"' && !(j + 1 < n && s[j + 1] == '"')))
                j += s[j] == '"' ? 2 : 1;
            if (j >= n) {
                // Unclosed: the record ends with the line.
                out[count++] = {i + 1, n, -1, true};
                return count;
            }
            if (j + 1 == n) {
                out[count++] = {i + 1, j, -1, true};
                return count;
            }
            if (static_cast<unsigned char>(s[j + 1]) == delim) {
                out[count++] = {i + 1, j, j + 1, true};
                i = j + 2;
                continue;
            }
            // Text after the closing quote: the field is taken as it stands.
        }
        int j = i;
        while (j < n) {
            if (skip_escapes && s[j] == 0x1B) {
                escape_kind kind;
                int length = escape_length(s + j, static_cast<size_t>(n - j), &kind);
                if (length > 0) {
                    j += length;
                    continue;
                }
            }
            if (spaces ? s[j] == ' ' && j + 1 < n && s[j + 1] == ' '
                       : static_cast<unsigned char>(s[j]) == delim)
                break;
            j++;
        }
        if (j >= n) {
            out[count++] = {i, n, -1, false};
            return count;
        }
        out[count++] = {i, j, j, false};
        i = j + 1;
        if (spaces)
            while (i < n && s[i] == ' ')
                i++;
    }
}

int columns_detect(const char *text, int length)
{
    static const int candidates[] = {'\t', ',', ';', '|', COLUMNS_SPACES};
    constexpr int N = sizeof candidates / sizeof candidates[0];
    constexpr int MAX = 64;
    column_field scratch[MAX];
    int first[N] = {}, consistent[N] = {}, lines[N] = {};
    for (int at = 0; at < length;) {
        const char *line = text + at;
        const char *end = static_cast<const char *>(memchr(line, '\n', length - at));
        int n = end ? static_cast<int>(end - line) : length - at;
        at += n + 1;
        if (n > 0 && line[n - 1] == '\r')
            n--;
        if (n == 0)
            continue;
        for (int c = 0; c < N; c++) {
            int fields = columns_split(line, n, candidates[c], true, scratch, MAX);
            if (lines[c]++ == 0)
                first[c] = fields;
            if (fields > 1 && fields == first[c])
                consistent[c]++;
        }
    }
    // The most lines split alike; then the most fields; then the order above.
    int best = COLUMNS_SPACES, best_lines = 0, best_fields = 0;
    for (int c = 0; c < N; c++) {
        if (consistent[c] > best_lines ||
            (consistent[c] == best_lines && consistent[c] > 0 && first[c] > best_fields)) {
            best = candidates[c];
            best_lines = consistent[c];
            best_fields = first[c];
        }
    }
    return best;
}

bool columns_numeric(const char *s, int n)
{
    int i = 0;
    while (i < n && s[i] == ' ')
        i++;
    while (n > i && s[n - 1] == ' ')
        n--;
    if (i < n && (s[i] == '-' || s[i] == '+'))
        i++;
    int digits = 0;
    for (; i < n && (is_digit(s[i]) || (s[i] == ',' && digits > 0)); i++)
        digits += is_digit(s[i]);
    if (i < n && s[i] == '.')
        for (i++; i < n && is_digit(s[i]); i++)
            digits++;
    if (digits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        int k = i + 1;
        if (k < n && (s[k] == '-' || s[k] == '+'))
            k++;
        if (k < n && is_digit(s[k])) {
            while (k < n && is_digit(s[k]))
                k++;
            i = k;
        }
    }
    if (i < n && s[i] == '%')
        i++;
    return i == n;
}

bool columns_set(const char *value)
{
    int d;
    // Rows shown already are painted again; before the first, nothing is.
    bool shown = line_at != NO_POSITION;
    if (strcmp(value, "off") == 0) {
        if (active && shown)
            screen_stale = 1;
        active = false;
        return true;
    }
    if (*value == '\0')
        d = COLUMNS_DETECT;
    else if (strcmp(value, "tab") == 0 || strcmp(value, "\\t") == 0)
        d = '\t';
    else if (strcmp(value, "spaces") == 0)
        d = COLUMNS_SPACES;
    else if (value[1] == '\0' && value[0] != '"' && value[0] != '\n')
        d = static_cast<unsigned char>(value[0]);
    else
        return false;
    active = true;
    delimiter_given = d;
    detected_for = ~0ull;
    win.lo = NO_POSITION;
    if (shown)
        screen_stale = 1;
    return true;
}

bool columns_active()
{
    return active;
}

void columns_describe(char *out, int size)
{
    if (!active) {
        snprintf(out, static_cast<size_t>(size), "Column mode off");
        return;
    }
    int d = delimiter_given == COLUMNS_DETECT ? delimiter : delimiter_given;
    const char *how = delimiter_given == COLUMNS_DETECT ? " (detected)" : "";
    if (d == COLUMNS_SPACES)
        snprintf(out, static_cast<size_t>(size), "Columns between runs of spaces%s", how);
    else if (d == '\t')
        snprintf(out, static_cast<size_t>(size), "Columns between tabs%s", how);
    else if (d < 0x20 || d >= 0x7F)
        snprintf(out, static_cast<size_t>(size), "Columns between bytes 0x%02X%s", d, how);
    else
        snprintf(out, static_cast<size_t>(size), "Columns between '%c'%s", d, how);
}

file_pos columns_row(file_pos start, display_row *row, bool *blank)
{
    choose_delimiter(start);
    cover(start);
    if (pending_signals)
        return NO_POSITION;
    file_pos next = load(start, NO_POSITION);
    if (next == NO_POSITION)
        return NO_POSITION;
    *blank = line_length == 0;
    build(row);
    buf_seek(next);
    return next;
}

bool columns_scroll(int n)
{
    if (win.lo == NO_POSITION)
        return false;
    // The stops are the columns' starts in the window's widths, the last
    // column of the separator before each under the '<' marker.
    static int x[MAX_FIELDS + 1];
    int fixed, fixed_width;
    held_columns(view_text_columns(line_at), &fixed, &fixed_width);
    column_starts(x, win.count, false);
    int at = view_column();
    int target = at;
    for (int step = n > 0 ? n : -n; step > 0; step--) {
        int found = -1;
        for (int k = fixed; k < win.count; k++) {
            int stop = k == fixed ? 0 : x[k] - fixed_width - 1;
            if (n > 0 ? stop > target && found < 0 : stop < target)
                found = stop;
        }
        if (found < 0)
            break;
        target = found;
    }
    if (target == at)
        return false;
    view_set_column(target);
    return true;
}

bool columns_reveal(file_pos from, file_pos to)
{
    file_pos line = buf_line_start(from);
    if (line == NO_POSITION || load(line, NO_POSITION) == NO_POSITION)
        return false;
    static int x[MAX_FIELDS + 1];
    int width = view_text_columns(line);
    int fixed, fixed_width;
    lay_out_columns(x, width, &fixed, &fixed_width);
    int first = -1, last = -1;
    lay_out(x, [&](line_cell, int column, int w, file_pos at, int, const char *) {
        if (at == NO_POSITION || at < from)
            return true;
        if (at >= to)
            return false;
        if (first < 0)
            first = column;
        last = column + w;
        return true;
    });
    if (first < fixed_width)
        return false;
    return chop_reveal(first - fixed_width, last - fixed_width, width - fixed_width);
}

void columns_style(const display_row &row, cell_style *styles)
{
    if (!opt_column_colours || row.cells != out_cells)
        return;
    for (int i = 0; i < row.count; i++)
        if (out_fields[i] % 2 == 1)
            styles[i] |= STYLE_COLUMN_TINT;
}
