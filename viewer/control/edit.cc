#include "viewer/control/edit.h"

#include <cstring>

#include "common/strings.h"

#include "viewer/control/history.h"
#include "viewer/control/program.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

constexpr int ESC = 27;
constexpr int PROMPT_MAX = 32;
constexpr int MODIFIERS_MAX = 8;
// Parameter bytes kept of a sequence; real keys send at most a few.
constexpr int SEQUENCE_MAX = 16;

enum edit_op { OP_NONE, OP_LEFT, OP_RIGHT, OP_HOME, OP_END, OP_DELETE, OP_UP, OP_DOWN };

// The keypad's keys by the final byte of their sequence, as ESC [ or
// ESC O sends them (modifiers in a second parameter are ignored).
struct final_key {
    char final;
    edit_op op;
};
constexpr final_key FINAL_KEYS[] = {
    {.final = 'A', .op = OP_UP},   {.final = 'B', .op = OP_DOWN}, {.final = 'C', .op = OP_RIGHT},
    {.final = 'D', .op = OP_LEFT}, {.final = 'H', .op = OP_HOME}, {.final = 'F', .op = OP_END},
};
// And those sent as ESC [ number ~.
struct numbered_key {
    int number;
    edit_op op;
};
constexpr numbered_key NUMBERED_KEYS[] = {
    {.number = 1, .op = OP_HOME}, {.number = 7, .op = OP_HOME}, {.number = 4, .op = OP_END},
    {.number = 8, .op = OP_END},  {.number = 3, .op = OP_DELETE},
};

enum class escape_state { none, escape, sequence, intermediate };

char text[EDIT_TEXT_MAX + 1];   // always NUL-terminated
int length;
int cursor;                     // on a character boundary, 0 to length
int view_start;                 // first byte shown on the bottom line
int drawn_columns;              // the bottom line's columns at the last drawing
char prompt[PROMPT_MAX];
char modifiers[MODIFIERS_MAX];
char modifier_set[MODIFIERS_MAX];

int kind = HISTORY_NONE;
int recalled;                   // entry shown; history_count(kind): the text being typed
char draft[EDIT_TEXT_MAX + 1];
int draft_length;
char draft_modifiers[MODIFIERS_MAX];

// Bytes of a character that has not fully arrived.
char partial[4];
int partial_length;

escape_state escape;
char sequence[SEQUENCE_MAX];
int sequence_length;
bool sequence_overflow;

text_char char_at(int i)
{
    return text_decode(reinterpret_cast<const unsigned char *>(text) + i,
                       static_cast<size_t>(length - i));
}

// The start of the character that holds byte pos (pos itself at the end).
int boundary_at(int pos)
{
    int i = 0;
    while (i < pos && i < length) {
        int next = i + char_at(i).length;
        if (next > pos)
            break;
        i = next;
    }
    return i;
}

int previous_boundary(int pos)
{
    return pos > 0 ? boundary_at(pos - 1) : 0;
}

int columns_between(int from, int to)
{
    return text_columns(text + from, static_cast<size_t>(to - from));
}

// Scroll the view sideways so that the cursor's cell is within width
// columns, and no further than that needs.
void place_view(int width)
{
    cursor = boundary_at(cursor);
    view_start = boundary_at(view_start < cursor ? view_start : cursor);
    int cell = cursor < length ? char_at(cursor).columns : 1;
    while (view_start < cursor && columns_between(view_start, cursor) + cell > width)
        view_start += char_at(view_start).length;
    // Text taken away on the right makes room for more on the left.
    while (view_start > 0) {
        int before = previous_boundary(view_start);
        if (columns_between(before, length) + (cursor == length ? 1 : 0) > width)
            break;
        view_start = before;
    }
}

void draw()
{
    int prompt_columns = text_columns(modifiers) + text_columns(prompt);
    int width = screen_cols - 1 - prompt_columns;
    if (width < 1)
        width = 1;
    place_view(width);
    term_lower_left();
    term_clear_eol();
    out_string(modifiers);
    out_string(prompt);
    // Only whole characters: one that does not fit is left off.
    int columns = 0, cursor_column = -1;
    for (int i = view_start; i < length;) {
        text_char c = char_at(i);
        if (columns + c.columns > width)
            break;
        if (i == cursor)
            cursor_column = columns;
        out_text(text + i, static_cast<size_t>(c.length));
        columns += c.columns;
        i += c.length;
    }
    if (cursor_column < 0)
        cursor_column = columns;
    int end = prompt_columns + columns;
    // Spaces over what was there, for terminals that cannot clear a line.
    for (int k = end; k < drawn_columns; k++)
        out_char(' ');
    for (int k = (end > drawn_columns ? end : drawn_columns) - prompt_columns - cursor_column;
         k > 0; k--)
        term_backspace();
    drawn_columns = end;
}

void copy_modifiers(char *to, const char *from)
{
    copy_bounded(to, from, MODIFIERS_MAX);
}

int changed()
{
    text[length] = '\0';
    draw();
    return EDIT_CHANGED;
}

int moved(int to)
{
    cursor = to;
    draw();
    return EDIT_GOING;
}

void remove_bytes(int from, int to)
{
    memmove(text + from, text + to, static_cast<size_t>(length - to));
    length -= to - from;
    cursor = from;
}

void set_text(const char *s, int n)
{
    length = n < EDIT_TEXT_MAX ? n : EDIT_TEXT_MAX;
    memcpy(text, s, static_cast<size_t>(length));
    cursor = length;
    view_start = 0;
}

// Show another entry of the history in place of the text; step -1 is
// older, +1 newer. Past the newest is the text the user was typing.
int recall(int step)
{
    int count = history_count(kind);
    int to = recalled + step;
    if (to < 0 || to > count) {
        term_bell();
        return EDIT_GOING;
    }
    if (recalled == count) {
        memcpy(draft, text, static_cast<size_t>(length));
        draft_length = length;
        copy_modifiers(draft_modifiers, modifiers);
    }
    recalled = to;
    if (to == count) {
        copy_modifiers(modifiers, draft_modifiers);
        set_text(draft, draft_length);
        return changed();
    }
    int n;
    const char *entry = history_entry(kind, to, &n);
    // The modifiers in front, each once, go back in front of the prompt.
    int taken = 0;
    while (taken < n && taken < MODIFIERS_MAX - 1 && entry[taken] != '\0' &&
           strchr(modifier_set, entry[taken]) && !memchr(entry, entry[taken], static_cast<size_t>(taken)))
        taken++;
    memcpy(modifiers, entry, static_cast<size_t>(taken));
    modifiers[taken] = '\0';
    set_text(entry + taken, n - taken);
    return changed();
}

int apply(edit_op op)
{
    switch (op) {
    case OP_LEFT:
        return moved(previous_boundary(cursor));
    case OP_RIGHT:
        return moved(cursor < length ? cursor + char_at(cursor).length : cursor);
    case OP_HOME:
        return moved(0);
    case OP_END:
        return moved(length);
    case OP_DELETE:
        if (cursor == length)
            return EDIT_GOING;
        remove_bytes(cursor, cursor + char_at(cursor).length);
        return changed();
    case OP_UP:
        return recall(-1);
    case OP_DOWN:
        return recall(1);
    case OP_NONE:
        break;
    }
    return EDIT_GOING;
}

// The key a complete sequence stands for: only plain numeric parameters,
// the first of them naming the key or absent.
edit_op sequence_op(int final)
{
    if (sequence_overflow)
        return OP_NONE;
    int number = 0;
    bool first = true;
    for (int i = 0; i < sequence_length; i++) {
        char c = sequence[i];
        if (c == ';')
            first = false;
        else if (c < '0' || c > '9')
            return OP_NONE;
        else if (first && number < 1000)
            number = number * 10 + (c - '0');
    }
    if (final == '~') {
        for (const numbered_key &k : NUMBERED_KEYS)
            if (k.number == number)
                return k.op;
        return OP_NONE;
    }
    for (const final_key &k : FINAL_KEYS)
        if (k.final == final && number <= 1)
            return k.op;
    return OP_NONE;
}

// Consumed whole, announced once, never taken as text.
int unknown_sequence()
{
    escape = escape_state::none;
    term_bell();
    return EDIT_GOING;
}

int sequence_key(int key)
{
    switch (escape) {
    case escape_state::escape:
        if (key == EDIT_TIMEOUT) {
            escape = escape_state::none;
            return EDIT_CANCEL;
        }
        // A second ESC (Alt with a keypad key) begins the sequence anew.
        if (key == ESC)
            return EDIT_SEQUENCE;
        if (key == '[' || key == 'O') {
            escape = escape_state::sequence;
            sequence_length = 0;
            sequence_overflow = false;
            return EDIT_SEQUENCE;
        }
        if (key >= 0x20 && key <= 0x2F) {
            escape = escape_state::intermediate;
            return EDIT_SEQUENCE;
        }
        return unknown_sequence();
    case escape_state::intermediate:
        if (key >= 0x20 && key <= 0x2F)
            return EDIT_SEQUENCE;
        return unknown_sequence();
    case escape_state::sequence:
        // The console's function keys put a second '[' before their letter.
        if ((key >= 0x20 && key <= 0x3F) || (key == '[' && sequence_length == 0)) {
            if (sequence_length < SEQUENCE_MAX)
                sequence[sequence_length++] = static_cast<char>(key);
            else
                sequence_overflow = true;
            return EDIT_SEQUENCE;
        }
        if (key >= 0x40 && key <= 0x7E) {
            edit_op op = sequence_op(key);
            if (op == OP_NONE)
                return unknown_sequence();
            escape = escape_state::none;
            return apply(op);
        }
        // Cut short by a pause, a control byte or a byte outside ASCII.
        return unknown_sequence();
    case escape_state::none:
        break;
    }
    return EDIT_GOING;
}

int insert_key(const char *s, int n)
{
    if (edit_insert(s, n))
        return EDIT_CHANGED;
    term_bell();
    return EDIT_GOING;
}

// A byte of a character typed as several: the character goes in once it
// is whole. Bytes that turn out to form none go in one by one.
int partial_key(int key)
{
    partial[partial_length++] = static_cast<char>(key);
    text_char c = text_decode(reinterpret_cast<const unsigned char *>(partial),
                              static_cast<size_t>(partial_length), true);
    if (c.length == 0)
        return EDIT_GOING;
    int n = partial_length;
    partial_length = 0;
    if (c.length == n)
        return insert_key(partial, n);
    int status = EDIT_GOING;
    for (int i = 0; i < n - 1; i++)
        if (insert_key(partial + i, 1) == EDIT_CHANGED)
            status = EDIT_CHANGED;
    int last = edit_key(static_cast<unsigned char>(partial[n - 1]));
    return last == EDIT_GOING ? status : last;
}

int erase_word()
{
    if (cursor == 0) {
        term_bell();
        return EDIT_GOING;
    }
    int from = cursor;
    while (from > 0 && is_blank(text[from - 1]))
        from--;
    while (from > 0 && !is_blank(text[from - 1]))
        from--;
    remove_bytes(from, cursor);
    return changed();
}

} // namespace

void edit_start(const char *prompt_text, int history_kind, const char *modifier_bytes)
{
    copy_bounded(prompt, prompt_text, PROMPT_MAX);
    copy_modifiers(modifier_set, modifier_bytes);
    modifiers[0] = '\0';
    length = cursor = view_start = 0;
    text[0] = '\0';
    drawn_columns = 0;
    partial_length = 0;
    escape = escape_state::none;
    kind = history_kind;
    recalled = history_count(kind);
    draw();
}

void edit_set_modifiers(const char *new_modifiers)
{
    copy_modifiers(modifiers, new_modifiers);
    draw();
}

const char *edit_modifiers()
{
    return modifiers;
}

// The order of the tests decides for a terminal whose erase or kill
// character is a newline or a carriage return: RETURN wins.
int edit_key(int key)
{
    if (escape != escape_state::none)
        return sequence_key(key);
    if (key < 0 || key > 0xFF)
        return EDIT_GOING;
    if (partial_length > 0 || (text_utf8 && key >= 0xC2 && key <= 0xF4))
        return partial_key(key);
    if (key == '\r' || key == '\n') {
        char entry[HISTORY_ENTRY_MAX];
        int m = static_cast<int>(strlen(modifiers));
        if (kind != HISTORY_NONE && length > 0 && m + length <= HISTORY_ENTRY_MAX) {
            memcpy(entry, modifiers, static_cast<size_t>(m));
            memcpy(entry + m, text, static_cast<size_t>(length));
            history_add(kind, entry, m + length);
        }
        return EDIT_ENTER;
    }
    // A NUL would end the text where C code reads it; and an editing key
    // the terminal has disabled reads as NUL.
    if (key == 0) {
        term_bell();
        return EDIT_GOING;
    }
    if (key == erase_key) {
        if (length == 0)
            return EDIT_CANCEL;
        if (cursor == 0) {
            term_bell();
            return EDIT_GOING;
        }
        remove_bytes(previous_boundary(cursor), cursor);
        return changed();
    }
    if (key == kill_key) {
        if (length == 0)
            return EDIT_GOING;
        length = cursor = 0;
        return changed();
    }
    if (key == word_erase_key)
        return erase_word();
    if (key == ESC) {
        escape = escape_state::escape;
        return EDIT_SEQUENCE;
    }
    char byte = static_cast<char>(key);
    return insert_key(&byte, 1);
}

bool edit_insert(const char *s, int n)
{
    if (n < 0 || length + n > EDIT_TEXT_MAX || memchr(s, '\0', static_cast<size_t>(n)))
        return false;
    memmove(text + cursor + n, text + cursor, static_cast<size_t>(length - cursor));
    memcpy(text + cursor, s, static_cast<size_t>(n));
    length += n;
    cursor += n;
    changed();
    return true;
}

void edit_redraw()
{
    draw();
}

const char *edit_text()
{
    return text;
}

int edit_length()
{
    return length;
}

int edit_cursor()
{
    return cursor;
}
