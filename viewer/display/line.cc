#include "viewer/display/line.h"

#include <cstring>

#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"

const line_cell *line_text;
namespace {
char empty_raw_line[1];
}
char *raw_line_text = empty_raw_line;

namespace {

// Overstrike recogniser states: which attribute run is open and how far the
// bytes after its last attributed byte have come.
constexpr int OVER_PLAIN = 0;
constexpr int OVER_UNDERLINE = 1;       // last stored cell is underlined
constexpr int OVER_UNDERLINE_NEXT = 2;  // one cell q stored after the run
constexpr int OVER_UNDERLINE_BS = 3;    // q and a backspace after the run
constexpr int OVER_BOLD = 4;            // last stored cell is bold
constexpr int OVER_BOLD_NEXT = 5;       // one cell q stored after the bold one
constexpr int OVER_BOLD_BS = 6;         // q and a backspace after it

constexpr line_cell DEL_MARK = MARK_CARET | '?';
constexpr line_cell BACKSPACE_MARK = MARK_CARET | 'H';
constexpr int RAW_LINE_MAX = LINE_BUFFER_SIZE - 1;  // bytes, terminator aside

line_cell line_cells[LINE_BUFFER_SIZE];  // the display line being assembled
char line_buffer[LINE_BUFFER_SIZE];      // the last raw line read
int line_fill;                           // cells stored so far
int line_column;                         // screen column reached; may go < 0
int overstrike_state = OVER_PLAIN;

// The input byte a stored cell stands for, to store it once more.
int cell_byte(line_cell c)
{
    return c == DEL_MARK ? 0x7F : c;
}

// A cell of `width` columns does not fit. The first cell of a line is always
// taken: a byte wider than the whole screen (a tab with a tab stop beyond the
// margin, say) would otherwise never fit anywhere and stop every reader.
bool too_wide(int reserve, int column_after)
{
    return line_fill > 0 && reserve + column_after > screen_cols;
}

void put(line_cell c)
{
    line_cells[line_fill++] = c;
}

// Take back the columns of a struck cell c and the backspace after it,
// which are removed or turned into markers. A plain cell and the backspace
// cancel out; a caret cell took one column more.
void drop_struck(line_cell c)
{
    if (c & MARK_CARET)
        line_column--;
}

// Store one byte with its column charge; 1 when it does not fit.
int store_plain(int ch)
{
    // Room for the marker that will close an open run.
    int reserve = overstrike_state != OVER_PLAIN ? underline_off_width : 0;
    if (ch == '\b') {
        if (opt_u != 2) {
            put('\b');
            line_column--;
            return 0;
        }
        if (too_wide(reserve, line_column + 2))
            return 1;
        put(BACKSPACE_MARK);
        line_column += 2;
        return 0;
    }
    if (ch == '\t') {
        int stop = opt_x < 1 ? 1 : opt_x;
        int k = line_column + 1;
        int r = k % stop;
        if (r != 0)
            k += r > 0 ? stop - r : -r;
        if (too_wide(reserve, k))
            return 1;
        put('\t');
        line_column = k;
        return 0;
    }
    if (char_is_control(ch)) {
        if (too_wide(reserve, line_column + 2))
            return 1;
        put(static_cast<line_cell>(MARK_CARET | char_control_form(ch)));
        line_column += 2;
        return 0;
    }
    if (too_wide(reserve, line_column + 1))
        return 1;
    put(static_cast<line_cell>(ch));
    line_column++;
    return 0;
}

// p and the backspace after it become the marker that opens a run; a space
// just before p gives its column to a marker that takes one itself.
int begin_run(int state, line_cell mark, int on_width, int off_width, int ch)
{
    if (line_column + on_width + off_width + 1 >= screen_cols)
        return 1;
    drop_struck(line_cells[line_fill - 2]);
    line_fill -= 2;
    if (on_width > 0 && line_fill > 0 && line_cells[line_fill - 1] == ' ') {
        line_cells[line_fill - 1] = mark;
        line_column += on_width - 1;
    } else {
        put(mark);
        line_column += on_width;
    }
    overstrike_state = state;
    return store_plain(ch);
}

// Close a run before the one cell q stored after it; a space q makes room.
void close_run(line_cell mark, int off_width)
{
    line_cell q = line_cells[line_fill - 1];
    line_cells[line_fill - 1] = mark;
    if (off_width > 0 && q == ' ') {
        line_column += off_width - 1;
    } else {
        put(q);
        line_column += off_width;
    }
}

// The overstrike recogniser: turns "X\bX" into bold and "_\bX" into underline.
int overstrike(int ch)
{
    switch (overstrike_state) {
    case OVER_PLAIN: {
        if (line_fill < 2 || line_cells[line_fill - 1] != '\b')
            return store_plain(ch);
        line_cell p = line_cells[line_fill - 2];
        // Equal bytes come first: "_\b_" is a bold underscore.
        if (ch == p)
            return begin_run(OVER_BOLD, MARK_BOLD_ON, bold_on_width, bold_off_width, ch);
        if (ch == '_' || p == '_')
            return begin_run(OVER_UNDERLINE, MARK_UNDERLINE_ON, underline_on_width,
                             underline_off_width, ch == '_' ? cell_byte(p) : ch);
        // Two different characters: the later one wins.
        drop_struck(p);
        line_fill -= 2;
        return store_plain(ch);
    }
    case OVER_UNDERLINE:
        if (line_column + underline_off_width + bold_on_width + bold_off_width + 1 >= screen_cols)
            return 1;
        overstrike_state = OVER_UNDERLINE_NEXT;
        return store_plain(ch);
    case OVER_UNDERLINE_NEXT:
        if (ch == '\b') {
            overstrike_state = OVER_UNDERLINE_BS;
            return store_plain(ch);
        }
        close_run(MARK_UNDERLINE_OFF, underline_off_width);
        overstrike_state = OVER_PLAIN;
        return store_plain(ch);
    case OVER_UNDERLINE_BS: {
        line_cell q = line_cells[line_fill - 2];
        drop_struck(q);
        if (ch == '_') {
            line_fill -= 2;
            overstrike_state = OVER_UNDERLINE;
            return store_plain(cell_byte(q));
        }
        if (ch == q) {
            // A direct switch to bold: the terminal needs no room for it.
            line_cells[line_fill - 2] = MARK_UNDERLINE_OFF;
            line_cells[line_fill - 1] = MARK_BOLD_ON;
            overstrike_state = OVER_BOLD;
            return store_plain(ch);
        }
        line_fill -= 2;
        overstrike_state = OVER_UNDERLINE;
        return store_plain(ch);
    }
    case OVER_BOLD:
        if (ch == '\b') {
            overstrike_state = OVER_BOLD_BS;
            return store_plain(ch);
        }
        if (line_column + bold_off_width + underline_on_width + underline_off_width + 1
            >= screen_cols)
            return 1;
        overstrike_state = OVER_BOLD_NEXT;
        return store_plain(ch);
    case OVER_BOLD_NEXT:
        if (ch == '\b') {
            overstrike_state = OVER_BOLD_BS;
            return store_plain(ch);
        }
        close_run(MARK_BOLD_OFF, bold_off_width);
        overstrike_state = OVER_PLAIN;
        return store_plain(ch);
    case OVER_BOLD_BS: {
        line_cell q = line_cells[line_fill - 2];
        drop_struck(q);
        if (ch == q || (ch != '_' && q != '_')) {
            line_fill -= 2;
            overstrike_state = OVER_BOLD;
            return store_plain(ch);
        }
        line_cells[line_fill - 2] = MARK_BOLD_OFF;
        line_cells[line_fill - 1] = MARK_UNDERLINE_ON;
        overstrike_state = OVER_UNDERLINE;
        return store_plain(ch == '_' ? cell_byte(q) : ch);
    }
    }
    return store_plain(ch);
}

// Close an open run at the end of the line and terminate it.
void finish_line()
{
    switch (overstrike_state) {
    case OVER_UNDERLINE:
    case OVER_UNDERLINE_BS:
        put(MARK_UNDERLINE_OFF);
        break;
    case OVER_BOLD:
    case OVER_BOLD_BS:
        put(MARK_BOLD_OFF);
        break;
    case OVER_UNDERLINE_NEXT:
    case OVER_BOLD_NEXT: {
        line_cell q = line_cells[line_fill - 1];
        line_cells[line_fill - 1] =
            overstrike_state == OVER_UNDERLINE_NEXT ? MARK_UNDERLINE_OFF : MARK_BOLD_OFF;
        put(q);
        break;
    }
    default:
        break;
    }
    overstrike_state = OVER_PLAIN;
    line_cells[line_fill] = 0;
}

} // namespace

// Begin a new display line.
void line_start()
{
    line_fill = 0;
    line_column = 0;
    overstrike_state = OVER_PLAIN;
    line_cells[0] = 0;
    line_text = line_cells;
}

// Add one input byte to the display line, or finish it (ch == 0).
int line_add(int ch)
{
    ch &= 0xFF;
    if (ch == 0) {
        finish_line();
        return 0;
    }
    if (line_fill > LINE_FULL_MARK)
        return 1;
    if (opt_u != 0)
        return store_plain(ch);

    // A refused byte leaves the line as it was, even when the recogniser had
    // already rearranged the tail: the line is finished without the byte,
    // and a half-made change would leave a marker in the wrong place. The
    // recogniser rewrites at most the last three cells.
    int saved_fill = line_fill;
    int saved_column = line_column;
    int saved_state = overstrike_state;
    line_cell saved_tail[3] = {};
    int tail = line_fill < 3 ? line_fill : 3;
    std::memcpy(saved_tail, line_cells + line_fill - tail, tail * sizeof(line_cell));
    if (overstrike(ch) == 0)
        return 0;
    line_fill = saved_fill;
    line_column = saved_column;
    overstrike_state = saved_state;
    std::memcpy(line_cells + line_fill - tail, saved_tail, tail * sizeof(line_cell));
    return 1;
}

// Assemble the display line that begins at pos.
file_pos line_next(file_pos pos)
{
    if (pos == NO_POSITION || buf_seek(pos) != 0)
        return NO_POSITION;
    int ch = buf_next_byte();
    if (ch == END_OF_INPUT)
        return NO_POSITION;
    line_start();
    if (pending_signals)
        return NO_POSITION;

    file_pos next;
    for (;;) {
        if (ch == '\n' || ch == END_OF_INPUT) {
            next = buf_tell();
            break;
        }
        if (line_add(ch) != 0) {
            next = buf_tell() - 1;
            break;
        }
        ch = buf_next_byte();
        if (pending_signals)
            return NO_POSITION;
    }
    line_add(0);

    if (opt_s && line_cells[0] == 0) {
        // A run of blank lines shows as the first of them.
        do {
            ch = buf_next_byte();
            if (pending_signals)
                return NO_POSITION;
        } while (ch == '\n');
        if (ch != END_OF_INPUT)
            buf_prev_byte();
        next = buf_tell();
    }
    return next;
}

// Assemble the display line that ends at pos, the one shown above it.
file_pos line_prev(file_pos pos)
{
    if (pos <= 0 || buf_seek(pos - 1) != 0)
        return NO_POSITION;

    if (opt_s) {
        int before = buf_next_byte();
        int at = buf_next_byte();
        if (at != END_OF_INPUT)
            buf_prev_byte();
        if (before != END_OF_INPUT)
            buf_prev_byte();
        if (at == '\n') {
            // The line at pos is blank: go above the whole run of blank lines.
            int ch;
            do {
                if (pending_signals)
                    return NO_POSITION;
                ch = buf_prev_byte();
                if (ch == END_OF_INPUT)
                    return NO_POSITION;
            } while (ch == '\n');
            buf_next_byte();
        }
    }

    file_pos start;
    for (;;) {
        if (pending_signals)
            return NO_POSITION;
        int ch = buf_prev_byte();
        if (ch == END_OF_INPUT) {
            start = buf_tell();
            break;
        }
        if (ch == '\n') {
            start = buf_tell() + 1;
            break;
        }
    }
    if (buf_seek(start) != 0)
        return NO_POSITION;

    // Cut the raw line into display lines up to pos; the last one stays.
    line_start();
    for (file_pos at = start; at < pos;) {
        int ch = buf_next_byte();
        if (ch == END_OF_INPUT || pending_signals)
            return NO_POSITION;
        if (ch == '\n')
            break;
        if (line_add(ch) != 0) {
            line_add(0);
            buf_prev_byte();
            start = at;
            line_start();
            continue;
        }
        at++;
    }
    line_add(0);
    return start;
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
    char *end = line_buffer + RAW_LINE_MAX;
    char *first = end;
    *end = 0;
    // The byte at pos - 1 is normally the newline that ends the line. When
    // it is not (a last line without one, or pos inside a long line), it is
    // the line's last byte and must not be lost.
    int last = buf_next_byte();
    if (last != END_OF_INPUT) {
        buf_prev_byte();
        if (last != '\n')
            *--first = static_cast<char>(last);
    }
    file_pos start;
    for (;;) {
        int ch = buf_prev_byte();
        if (ch == END_OF_INPUT) {
            // The beginning of the input, or of what a pipe still holds.
            start = buf_tell();
            break;
        }
        if (ch == '\n' || first == line_buffer) {
            start = buf_tell() + 1;
            break;
        }
        *--first = static_cast<char>(ch);
    }
    raw_line_text = first;
    return start;
}

// 1 for the bytes shown in caret form: DEL only.
int char_is_control(int ch)
{
    return ch == 0x7F;
}

// The letter of the caret form of ch.
int char_control_form(int ch)
{
    return ch == 0x7F ? '?' : ch | 0x40;
}
