#include "viewer/control/prompt.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/strings.h"

#include "viewer/control/program.h"
#include "viewer/display/screen.h"
#include "viewer/display/syntax.h"
#include "viewer/input/buffer.h"
#include "viewer/input/exec.h"
#include "viewer/input/linenum.h"
#include "viewer/navigation/filter.h"
#include "viewer/options/option.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

constexpr const char *BUILTIN_SHORT =
    "?n?f%f .?m(file %i of %m) ..?e(END) ?x- Next\\: %x..%t";
constexpr const char *BUILTIN_MEDIUM =
    "?n?f%f .?m(file %i of %m) ..?e(END) ?x- Next\\: %x.:?pB%pB\\%:byte %bB?s/%s...%t";
constexpr const char *BUILTIN_LONG =
    "?f%f .?n?m(file %i of %m) ..?ltline %lt :byte %bB?s/%s ..?e(END) ?x- Next\\: %x.:?pB%pB\\%..%t";
constexpr const char *BUILTIN_STATUS =
    "?f%f .?m(file %i of %m) .?ltline %lt .byte %bB?s/%s. ?e(END) :?pB%pB\\%..%t";

// File names stop here so that a long name still leaves room for the rest.
constexpr int NAME_LIMIT = 249;

char *prompt_templates[3];
char *status_template;
char prompt_buffer[PROMPT_BUFFER_SIZE];
int prompt_fill;
bool name_shown;                // the expansion has named the file
bool count_in_note;             // the status text: the filter note counts lines

// Store one byte; bytes past the end of the buffer are dropped, and the last
// byte is kept for the terminator.
void put_char(char c)
{
    if (prompt_fill < PROMPT_BUFFER_SIZE - 1)
        prompt_buffer[prompt_fill++] = c;
}

void put_string(const char *s)
{
    while (*s)
        put_char(*s++);
}

void put_number(int64_t n)
{
    char digits[24];
    snprintf(digits, sizeof digits, "%" PRId64, n);
    put_string(digits);
}

// A file name, cut so that the expansion does not grow past NAME_LIMIT bytes.
void put_name(const char *name)
{
    if (name == nullptr || prompt_fill >= NAME_LIMIT)
        return;
    copy_bounded(prompt_buffer + prompt_fill, name, NAME_LIMIT + 1 - prompt_fill);
    while (prompt_buffer[prompt_fill] != '\0')
        prompt_fill++;
}

int row_of(char selector)
{
    switch (selector) {
    case 'm':
        return ROW_MIDDLE;
    case 'b':
        return ROW_BOTTOM;
    case 'B':
        return ROW_AFTER_BOTTOM;
    default:
        return ROW_TOP;
    }
}

// The row's position, or the input's length for a row without one.
file_pos row_position(int row)
{
    file_pos pos = screen_pos(row);
    return pos == NO_POSITION ? buf_length() : pos;
}

// pos * 100 / length without overflowing for positions near the top of the
// 64-bit range.
int64_t percent_of(file_pos pos, file_pos length)
{
    if (pos <= INT64_MAX / 100)
        return pos * 100 / length;
    int64_t whole = pos / length;
    int64_t rest = pos % length;
    int64_t part;
    if (rest <= INT64_MAX / 100) {
        part = rest * 100 / length;
    } else {
        // length is above INT64_MAX / 100 here, so length / 100 is large and
        // the rounding of the divisor costs at most a point.
        part = rest / (length / 100);
        if (part > 99)
            part = 99;
    }
    return whole * 100 + part;
}

// "[filter: pattern]", and in the status text how many lines it shows
// once that is known.
void put_filter_note()
{
    put_string("[filter: ");
    put_string(filter_text());
    int64_t shown = count_in_note ? filter_count() : -1;
    if (shown >= 0) {
        put_string(", ");
        put_number(shown);
        put_string(shown == 1 ? " line" : " lines");
    }
    put_char(']');
}

bool takes_row(char letter)
{
    return letter == 'b' || letter == 'l' || letter == 'p';
}

bool condition_holds(char letter, int row)
{
    file_pos length = buf_length();
    switch (letter) {
    case 'a':
        return prompt_fill != 0;
    case 'b':
        return screen_pos(row) != NO_POSITION || length != NO_POSITION;
    case 'e':
        return eof_count != 0;
    case 'f':
        return input_is_pipe == 0 || input_named || input_is_command();
    case 'l':
        return opt_n != 0;
    case 'm':
        return file_count >= 2;
    case 'n':
        return file_just_opened != 0;
    case 'p':
        return length != NO_POSITION && length > 0;
    case 's':
        return length != NO_POSITION;
    case 'x':
        return file_tried + 1 < file_count;
    default:
        return false;
    }
}

void substitute(char letter, int row)
{
    switch (letter) {
    case 'b': {
        file_pos pos = row_position(row);
        if (pos == NO_POSITION)
            put_char('?');
        else
            put_number(pos);
        break;
    }
    case 'f':
        put_name(current_file_name);
        if (filter_text()) {
            put_char(' ');
            put_filter_note();
        }
        name_shown = true;
        break;
    case 'i':
        put_number(file_index + 1);
        break;
    case 'l': {
        int64_t line = linenum_of_row(screen_pos(row));
        if (line == 0)
            put_char('?');
        else
            put_number(line);
        break;
    }
    case 'm':
        put_number(file_count);
        break;
    case 'p': {
        file_pos pos = row_position(row);
        file_pos length = buf_length();
        if (pos == NO_POSITION || length == NO_POSITION || length <= 0)
            put_char('?');
        else
            put_number(percent_of(pos, length));
        break;
    }
    case 's': {
        file_pos length = buf_length();
        if (length == NO_POSITION)
            put_char('?');
        else
            put_number(length);
        break;
    }
    case 't':
        while (prompt_fill > 0 && prompt_buffer[prompt_fill - 1] == ' ')
            prompt_fill--;
        break;
    case 'x':
        if (file_tried + 1 < file_count && file_list != nullptr)
            put_name(file_list[file_tried + 1]);
        else
            put_char('?');
        break;
    default:
        break;
    }
}

// Skip the part of a conditional that is not shown. Returns where expansion
// resumes, or nullptr when the template ended first.
const char *skip_part(const char *p)
{
    int level = 1;
    for (;;) {
        switch (*p++) {
        case '\0':
            return nullptr;
        case '?':
            level++;
            break;
        case '.':
            if (--level == 0)
                return p;
            break;
        case ':':
            if (level == 1)
                return p;
            break;
        case '\\':
            if (*p == '\0')
                return nullptr;
            p++;
            break;
        default:
            break;
        }
    }
}

void expand(const char *p)
{
    while (p != nullptr && *p != '\0') {
        char c = *p++;
        switch (c) {
        case '%':
        case '?': {
            if (*p == '\0')
                return;
            char letter = *p++;
            int row = ROW_TOP;
            if (takes_row(letter)) {
                if (*p == '\0') {
                    // The row selector is missing: the template ends here.
                    if (c == '%')
                        substitute(letter, row);
                    return;
                }
                row = row_of(*p++);
            }
            if (c == '%')
                substitute(letter, row);
            else if (!condition_holds(letter, row))
                p = skip_part(p);
            break;
        }
        case ':':
            p = skip_part(p);
            break;
        case '.':
            break;
        case '\\':
            if (*p == '\0')
                return;
            put_char(*p++);
            break;
        default:
            put_char(c);
            break;
        }
    }
}

void replace_template(char **slot, const char *text)
{
    char *copy = copy_string(text);
    free(*slot);
    *slot = copy;
}

} // namespace

// Install copies of the built-in templates.
void prompt_setup()
{
    replace_template(&prompt_templates[0], BUILTIN_SHORT);
    replace_template(&prompt_templates[1], BUILTIN_MEDIUM);
    replace_template(&prompt_templates[2], BUILTIN_LONG);
    replace_template(&status_template, BUILTIN_STATUS);
}

// Replace one template with a copy of text.
void prompt_replace(int which, const char *text)
{
    if (which == PROMPT_STATUS)
        replace_template(&status_template, text);
    else if (which >= PROMPT_SHORT && which <= PROMPT_LONG)
        replace_template(&prompt_templates[which], text);
}

// Expand a template into the shared buffer.
const char *prompt_format(const char *tmpl, int width)
{
    prompt_fill = 0;
    if (tmpl == nullptr || *tmpl == '\0') {
        prompt_buffer[0] = '\0';
        return prompt_buffer;
    }
    name_shown = false;
    expand(tmpl);
    // How a command ended is told whatever the template: the prompt is
    // where one looks for it.
    if (!count_in_note && input_is_command()) {
        if (const char *ended = exec_status_text()) {
            if (prompt_fill > 0 && prompt_buffer[prompt_fill - 1] != ' ')
                put_char(' ');
            put_string(ended);
        }
    }
    // The status names the language of the syntax colours, whatever its template.
    if (count_in_note) {
        if (const char *language = syntax_language()) {
            if (prompt_fill > 0 && prompt_buffer[prompt_fill - 1] != ' ')
                put_char(' ');
            put_string("syntax: ");
            put_string(language);
        }
    }
    // Where the file name is not shown, the filter still is.
    if (!name_shown && filter_text()) {
        char rest[PROMPT_BUFFER_SIZE];
        int n = prompt_fill;
        memcpy(rest, prompt_buffer, static_cast<size_t>(n));
        prompt_fill = 0;
        put_filter_note();
        if (n > 0)
            put_char(' ');
        for (int i = 0; i < n; i++)
            put_char(rest[i]);
    }
    file_just_opened = 0;
    if (prompt_fill == 0)
        return nullptr;
    prompt_buffer[prompt_fill] = '\0';
    if (width > 0)
        return text_tail(prompt_buffer, width);
    return prompt_buffer;
}

// The prompt of the current -m style, cut to fit beside the standout codes.
const char *prompt_text()
{
    int style = opt_m < 0 ? 0 : opt_m > 2 ? 2 : opt_m;
    int width = screen_cols - standout_on_width - standout_off_width - 2;
    const char *text = prompt_format(prompt_templates[style], width);
    // No room at all: an unlimited text would wrap the bottom line.
    return width > 0 ? text : nullptr;
}

// The status text; no width limit.
const char *status_text()
{
    count_in_note = true;
    const char *text = prompt_format(status_template, 0);
    count_in_note = false;
    return text;
}

// The raw text of a prompt template, as the user would write it.
int prompt_select(char **text)
{
    switch (**text) {
    case '=': ++*text; return PROMPT_STATUS;
    case 'm': ++*text; return PROMPT_MEDIUM;
    case 'M': ++*text; return PROMPT_LONG;
    default: return opt_m;
    }
}

const char *prompt_template(int which)
{
    if (which == PROMPT_STATUS)
        return status_template;
    return prompt_templates[which < PROMPT_SHORT || which > PROMPT_LONG ? 0 : which];
}
