#include "viewer/options/option.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "viewer/terminal/message.h"

int opt_a, opt_b, opt_B, opt_c, opt_d, opt_e, opt_F, opt_h, opt_H, opt_i, opt_I, opt_m, opt_n,
    opt_N, opt_q, opt_r, opt_s, opt_S, opt_u, opt_w, opt_x, opt_X, opt_Y, opt_z;

constexpr option_entry option_table[] = {
    {'a', OPT_THREEWAY, 0, &opt_a,
     {"Forward search starts at second REAL line displayed",
      "Forward search starts at bottom of screen",
      "Forward search starts at second SCREEN line displayed"}},
    {'b', OPT_NUMBER, 10, &opt_b, {"%d buffers"}},
    {'B', OPT_BOOL, 1, &opt_B,
     {"Don't automatically allocate buffers", "Automatically allocate buffers when needed"}},
    {'c', OPT_THREEWAY, 0, &opt_c,
     {"Repaint by scrolling from bottom of screen", "Repaint by clearing each line",
      "Repaint by painting from top of screen"}},
    {'d', OPT_BOOL | OPT_STARTUP_ONLY, 0, &opt_d, {}},
    {'e', OPT_THREEWAY, 0, &opt_e,
     {"Don't quit at end-of-file", "Quit at end-of-file", "Quit immediately at end-of-file"}},
    {'F', OPT_BOOL, 0, &opt_F,
     {"Don't quit if the input fits on one screen", "Quit if the input fits on one screen"}},
    {'h', OPT_NUMBER, -1, &opt_h, {"Backwards scroll limit is %d lines"}},
    {'H', OPT_BOOL | OPT_REPAINT, 1, &opt_H, {"Don't highlight matches", "Highlight matches"}},
    {'i', OPT_BOOL, 0, &opt_i, {"Case is significant in searches", "Ignore case in searches"}},
    {'I', OPT_BOOL, 0, &opt_I,
     {"Search as the pattern is typed", "Search only when RETURN is typed"}},
    {'m', OPT_THREEWAY, 0, &opt_m, {"Short prompt", "Medium prompt", "Long prompt"}},
    {'n', OPT_BOOL, 1, &opt_n, {"Don't use line numbers", "Use line numbers"}},
    {'N', OPT_BOOL | OPT_REPAINT, 0, &opt_N,
     {"Don't show line numbers in a column", "Show line numbers in a column"}},
    {'q', OPT_THREEWAY, 0, &opt_q,
     {"Ring the bell for errors AND at eof/bof", "Ring the bell for errors but not at eof/bof",
      "Never ring the bell"}},
    // Colour is passed by default; -r shows the sequences in caret form, and
    // -R (setting 2) keeps the configurations that asked for colour working.
    {'r', OPT_THREEWAY | OPT_REPAINT, 0, &opt_r,
     {"Show colour escape sequences as colour", "Show colour escape sequences in caret form",
      "Show colour escape sequences as colour"}},
    {'s', OPT_BOOL | OPT_REPAINT, 0, &opt_s,
     {"Don't squeeze multiple blank lines", "Squeeze multiple blank lines"}},
    {'S', OPT_BOOL | OPT_REPAINT, 0, &opt_S, {"Fold long lines", "Chop long lines"}},
    {'u', OPT_THREEWAY | OPT_REPAINT, 0, &opt_u,
     {"Underlined text displayed in underline mode", "Backspaces cause overstrike",
      "Backspaces print as ^H"}},
    {'w', OPT_BOOL | OPT_REPAINT, 1, &opt_w,
     {"Display nothing for lines after end-of-file", "Display ~ for lines after end-of-file"}},
    {'x', OPT_NUMBER | OPT_REPAINT, 8, &opt_x, {"Tab stops every %d spaces"}},
    {'X', OPT_BOOL, 0, &opt_X,
     {"Use the terminal's screen-mode strings", "Don't use the terminal's screen-mode strings"}},
    {'Y', OPT_BOOL, 0, &opt_Y, {"Don't use the mouse", "Scroll with the mouse wheel"}},
    {'z', OPT_NUMBER | OPT_REPAINT, -1, &opt_z, {"Scroll window size is %d lines"}},
    {'\0', 0, 0, nullptr, {}},
};

namespace {

enum class option_fault { invalid_flag, number_required, string_required };

// The error names the offending letter; an option error ends the program
// before the terminal has been touched.
[[noreturn]] void option_error(option_fault fault, int letter)
{
    char message[64];
    switch (fault) {
    case option_fault::invalid_flag:
        snprintf(message, sizeof message, "\"-%c\": invalid flag", letter);
        break;
    case option_fault::number_required:
        snprintf(message, sizeof message, "number is required after -%c", letter);
        break;
    case option_fault::string_required:
        snprintf(message, sizeof message, "string is required after -%c", letter);
        break;
    }
    show_error(message);
    exit(1);
}

bool is_digit(int ch)
{
    return ch >= '0' && ch <= '9';
}

// The text of a text option, its '$' made a NUL; where parsing goes on.
char *take_text(char *s)
{
    s += option_text_length(s);
    if (*s == '$')
        *s++ = '\0';
    return s;
}

// A run of decimal digits; values beyond an int saturate rather than wrap.
int read_number(char **s)
{
    const char *p = *s;
    int64_t value = option_read_number(&p, INT_MAX);
    *s += p - *s;
    return static_cast<int>(value);
}

} // namespace

const option_entry *option_find(int letter)
{
    for (const option_entry *o = option_table; o->letter; o++) {
        if (o->letter == letter)
            return o;
        if ((o->kind & OPT_THREEWAY) && o->letter - 'a' + 'A' == letter)
            return o;
    }
    return nullptr;
}

void option_store_number(const option_entry *entry, int value)
{
    // A tab stop interval of 0 has no meaning and would be divided by.
    if (entry->setting == &opt_x && value < 1)
        value = 1;
    *entry->setting = value;
}

void option_parse_string(char *text, option_text_handler handle)
{
    if (!text)
        return;
    int reset_mode = 0;
    char *s = text;
    while (*s) {
        int c = static_cast<unsigned char>(*s++);
        switch (c) {
        case ' ':
        case '\t':
        case '$':
            continue;
        case '-':
            if (*s == '+') {
                reset_mode = 1;
                s++;
            } else {
                reset_mode = 0;
            }
            continue;
        case '+': {
            bool every_file = *s == '+';
            if (every_file)
                s++;
            if (!*s)
                option_error(option_fault::string_required, '+');
            char *start = s;
            s = take_text(s);
            handle(every_file ? "++" : "+", start);
            continue;
        }
        case 'P':
        case 't':
        case 'l':
        case 'L': {
            if (!*s)
                option_error(option_fault::string_required, c);
            char *start = s;
            s = take_text(s);
            const char option[2] = {static_cast<char>(c), '\0'};
            handle(option, start);
            continue;
        }
        default:
            break;
        }

        if (is_digit(c)) {
            s--;
            option_store_number(option_find('z'), read_number(&s));
            continue;
        }
        const option_entry *o = option_find(c);
        if (!o)
            option_error(option_fault::invalid_flag, c);
        if (o->kind & OPT_NUMBER) {
            if (!is_digit(*s))
                option_error(option_fault::number_required, c);
            option_store_number(o, read_number(&s));
        } else if (reset_mode) {
            *o->setting = o->default_value;
        } else if (o->kind & OPT_BOOL) {
            *o->setting = o->default_value == 0 ? 1 : 0;
        } else if (o->letter == c) {
            *o->setting = o->default_value != 1 ? 1 : 0;
        } else {
            *o->setting = o->default_value != 2 ? 2 : 0;
        }
    }
}

int64_t option_read_number(const char **s, int64_t max, bool *overflow)
{
    const char *p = *s;
    if (!is_digit(*p))
        return -1;
    int64_t value = 0;
    bool over = false;
    for (; is_digit(*p); p++) {
        int digit = *p - '0';
        if (value > (max - digit) / 10) {
            over = true;
            value = max;
        } else if (!over) {
            value = value * 10 + digit;
        }
    }
    *s = p;
    if (overflow)
        *overflow = over;
    return value;
}

size_t option_text_length(const char *text)
{
    return strcspn(text, "$");
}

int option_is_toggle(int letter)
{
    if (letter == 'P' || letter == 't' || letter == 'l' || letter == 'L')
        return 0;
    for (const option_entry *o = option_table; o->letter; o++)
        if (o->letter == letter)
            return o->kind & 3;
    return 1;
}
