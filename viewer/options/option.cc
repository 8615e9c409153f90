#include "viewer/options/option.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/strings.h"

#include "viewer/terminal/text.h"

int opt_a, opt_b, opt_B, opt_c, opt_d, opt_e, opt_F, opt_h, opt_H, opt_i, opt_I, opt_m, opt_n,
    opt_N, opt_q, opt_r, opt_s, opt_S, opt_u, opt_w, opt_x, opt_X, opt_Y, opt_z;
int opt_follow_name, opt_no_preprocess, opt_exec, opt_plain, opt_wrap;
int opt_header_columns, opt_column_colours;
int opt_header;

// One row per option; --help, --list-options (the shell completions) and
// the checks of the manual and the help file are all read from here.
constexpr option_entry option_table[] = {
    {'a', OPT_THREEWAY, 0, &opt_a,
     {"Forward search starts at second REAL line displayed",
      "Forward search starts at bottom of screen",
      "Forward search starts at second SCREEN line displayed"},
     "search-start", "second-line|after-screen|second-row", "where a forward search starts",
     nullptr},
    {'b', OPT_NUMBER, 10, &opt_b, {"%d buffers"}, "buffer-count", "N",
     "number of 1 KB input buffers (default 10)", nullptr},
    {'B', OPT_BOOL, 1, &opt_B,
     {"Don't automatically allocate buffers", "Automatically allocate buffers when needed"},
     "fixed-buffers", nullptr, "do not grow the buffer pool for a pipe", nullptr},
    {'c', OPT_THREEWAY, 0, &opt_c,
     {"Repaint by scrolling from bottom of screen", "Repaint by clearing each line",
      "Repaint by painting from top of screen"},
     "repaint", "scroll|clear-lines|from-top", "how the screen is repainted", nullptr},
    {'d', OPT_BOOL | OPT_STARTUP_ONLY, 0, &opt_d, {}, "skip-terminal-warnings", nullptr,
     "no warnings on missing terminal features", nullptr},
    {'e', OPT_THREEWAY, 0, &opt_e,
     {"Don't quit at end-of-file", "Quit at end-of-file", "Quit immediately at end-of-file"},
     "quit-at-end", "never|past-end|shown", "when to quit at the end of the last file",
     nullptr},
    {'F', OPT_BOOL, 0, &opt_F,
     {"Don't quit if the input fits on one screen", "Quit if the input fits on one screen"},
     "quit-if-fits", nullptr, "quit when the input fits on one screen", nullptr},
    {'h', OPT_NUMBER, -1, &opt_h, {"Backwards scroll limit is %d lines"}, "back-scroll-limit",
     "N", "backward scroll limit in lines", nullptr},
    {'H', OPT_BOOL | OPT_REPAINT, 1, &opt_H, {"Don't highlight matches", "Highlight matches"},
     "plain-matches", nullptr, "do not highlight the matches of a search", nullptr},
    {'i', OPT_BOOL, 0, &opt_i, {"Case is significant in searches", "Ignore case in searches"},
     "ignore-case", nullptr, "ignore case in searches", nullptr},
    {'I', OPT_BOOL, 0, &opt_I,
     {"Search as the pattern is typed", "Search only when RETURN is typed"},
     "search-on-return", nullptr, "search only when RETURN is typed", nullptr},
    {'m', OPT_THREEWAY, 0, &opt_m, {"Short prompt", "Medium prompt", "Long prompt"},
     "prompt-style", "short|medium|long", "which prompt is shown", nullptr},
    {'n', OPT_BOOL, 1, &opt_n, {"Don't use line numbers", "Use line numbers"},
     "skip-line-count", nullptr, "do not count lines (no line numbers)", nullptr},
    {'N', OPT_BOOL | OPT_REPAINT, 0, &opt_N,
     {"Don't show line numbers in a column", "Show line numbers in a column"},
     "line-numbers", nullptr, "show line numbers in a column", nullptr},
    {'q', OPT_THREEWAY, 0, &opt_q,
     {"Ring the bell for errors AND at eof/bof", "Ring the bell for errors but not at eof/bof",
      "Never ring the bell"},
     "bell", "always|errors|never", "when to ring the bell", nullptr},
    // Colour is passed by default; -r shows the sequences in caret form, and
    // -R (setting 2) keeps the configurations that asked for colour working.
    {'r', OPT_THREEWAY | OPT_REPAINT, 0, &opt_r,
     {"Show colour escape sequences as colour", "Show colour escape sequences in caret form",
      "Show colour escape sequences as colour"},
     "colour-sequences", "show|caret|pass", "colour sequences as colour or in caret form",
     nullptr},
    {'s', OPT_BOOL | OPT_REPAINT, 0, &opt_s,
     {"Don't squeeze multiple blank lines", "Squeeze multiple blank lines"},
     "squeeze-blanks", nullptr, "squeeze runs of blank lines into one", nullptr},
    {'S', OPT_BOOL | OPT_REPAINT, 0, &opt_S, {"Fold long lines", "Chop long lines"},
     "chop-lines", nullptr, "chop long lines (arrows scroll sideways)", nullptr},
    {'u', OPT_THREEWAY | OPT_REPAINT, 0, &opt_u,
     {"Underlined text displayed in underline mode", "Backspaces cause overstrike",
      "Backspaces print as ^H"},
     "backspaces", "format|overstrike|caret", "how backspaces in the text show", nullptr},
    {'w', OPT_BOOL | OPT_REPAINT, 1, &opt_w,
     {"Display nothing for lines after end-of-file", "Display ~ for lines after end-of-file"},
     "blank-past-end", nullptr, "show nothing instead of ~ after the end", nullptr},
    {'x', OPT_NUMBER | OPT_REPAINT, 8, &opt_x, {"Tab stops every %d spaces"}, "tab-stops", "N",
     "tab stops every N columns (default 8)", nullptr},
    {'X', OPT_BOOL, 0, &opt_X,
     {"Use the terminal's screen-mode strings", "Don't use the terminal's screen-mode strings"},
     "keep-screen", nullptr, "leave the text on the terminal at the end", nullptr},
    {'Y', OPT_BOOL, 0, &opt_Y, {"Don't use the mouse", "Scroll with the mouse wheel"},
     "mouse-wheel", nullptr, "scroll with the mouse wheel", nullptr},
    {'z', OPT_NUMBER | OPT_REPAINT, -1, &opt_z, {"Scroll window size is %d lines"},
     "page-lines", "N", "lines a screen moves (-N alone too)", nullptr},
    {'\0', OPT_BOOL, 0, &opt_follow_name,
     {"Follow the open file", "Follow the file's name through rotation"}, "follow-name",
     nullptr, "follow a file by name when it is replaced or truncated", nullptr},
    {'\0', OPT_BOOL, 0, &opt_no_preprocess,
     {"Run QUOREL_PREPROCESS on files", "Don't run QUOREL_PREPROCESS"}, "no-preprocess",
     nullptr, "do not run the input preprocessor", nullptr},
    {'\0', OPT_BOOL | OPT_STARTUP_ONLY, 0, &opt_exec,
     {"View files", "View a command's output and errors"}, "exec", nullptr,
     "the words after the options are a command: view its output and errors", nullptr},
    {'\0', OPT_TEXT, 0, nullptr, {}, "watch", "SECONDS",
     "read the file (or run the command) again every SECONDS, at least 0.1", "watch"},
    // Plain wins over -r while it is on: the sequences are recognised as
    // they are for colour and taken out, so the text reads as a search sees it.
    {'\0', OPT_BOOL | OPT_REPAINT, 0, &opt_plain,
     {"Keep colour in the text", "Take colour and links out of the text"}, "plain", nullptr,
     "take colour and link sequences out of the text", nullptr},
    {'\0', OPT_THREEWAY | OPT_REPAINT, 0, &opt_wrap,
     {"Fold long lines at the edge", "Fold long lines at the last space before the edge"},
     "wrap", "char|word", "where long lines fold: at the edge or between words", nullptr},
    {'P', OPT_TEXT, 0, nullptr, {}, "prompt", "TEXT",
     "a prompt template (m, M or = first: which)", "P"},
    {'t', OPT_TEXT, 0, nullptr, {}, "tag", "TEXT", "start at a tag from ./tags", "t"},
    {'l', OPT_TEXT, 0, nullptr, {}, "log-file", "FILE", "copy piped input into FILE", "l"},
    {'L', OPT_TEXT, 0, nullptr, {}, "log-file-overwrite", "FILE",
     "the same, overwriting FILE without asking", "L"},
    {'\0', OPT_TEXT, 0, nullptr, {}, "start-command", "TEXT",
     "keys run on the first file (+TEXT)", "+"},
    {'\0', OPT_TEXT, 0, nullptr, {}, "every-file-command", "TEXT",
     "keys run on every file opened (++TEXT)", "++"},
    {'\0', OPT_TEXT, 0, nullptr, {}, "highlight", "PATTERN",
     "highlight PATTERN in a colour of its own (repeatable)", "highlight"},
    {'\0', OPT_TEXT, 0, nullptr, {}, "jump-target", "N",
     "put the line a jump or search finds on row N (or N%)", "jump-target"},
    // A value in brackets may be left out: "--columns" alone, never the
    // next word, turns column mode on.
    {'\0', OPT_TEXT, 0, nullptr, {}, "columns", "[DELIMITER]",
     "align the fields of lines in columns", "columns"},
    {'\0', OPT_NUMBER | OPT_REPAINT, 0, &opt_header_columns, {"Columns held in place: %d"},
     "header-columns", "N", "keep N columns in place sideways", nullptr},
    {'\0', OPT_BOOL | OPT_REPAINT, 0, &opt_column_colours,
     {"Columns in one colour", "Every other column in a colour of its own"}, "column-colours",
     nullptr, "tell columns apart by colour", nullptr},
    {'\0', OPT_NUMBER | OPT_REPAINT, 0, &opt_header, {"%d header lines"}, "header", "N",
     "keep the first N lines on the top rows, in bold", nullptr},
    {'\0', OPT_TEXT, 0, nullptr, {}, "section", "PATTERN",
     "lines matching PATTERN start sections (} and { move)", "section"},
    {'\0', OPT_TEXT, 0, nullptr, {}, "syntax", "LANGUAGE",
     "colour code as LANGUAGE, by file name (auto) or not (off)", "syntax"},
    {'\0', OPT_ACTION, 0, nullptr, {}, "help", nullptr, "show this help", "help"},
    {'\0', OPT_ACTION, 0, nullptr, {}, "version", nullptr, "show the version and libraries",
     "version"},
    // For the completion scripts: never abbreviated, listed by neither.
    {'\0', OPT_ACTION | OPT_WHOLE_ONLY, 0, nullptr, {}, "list-options", nullptr,
     "list the options for shell completion", "list-options"},
    {'\0', 0, 0, nullptr, {}, nullptr, nullptr, nullptr, nullptr},
};

namespace {

enum class option_fault { invalid_flag, number_required, string_required };

void (*error_hook)(const char *message);

// An option error ends the program before the terminal has been touched.
void report(const char *message)
{
    if (error_hook)
        error_hook(message);
    else
        text_write_message(2, message);
}

// The error names the offending letter.
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
    report(message);
    exit(1);
}

// A long option misused: a usage error, told in one line on standard error
// (where the names, being data, are shown safely). Formatted into a buffer
// of its own: nothing with a destructor may be alive at the exit, which a
// test harness may turn into a jump.
[[noreturn]] __attribute__((format(printf, 1, 2))) void long_error(const char *format, ...)
{
    char message[2048];
    int n = snprintf(message, sizeof message, "quorel: ");
    va_list args;
    va_start(args, format);
    vsnprintf(message + n, sizeof message - static_cast<size_t>(n), format, args);
    va_end(args);
    report(message);
    exit(2);
}

// What of a name or value given is repeated in a message.
constexpr int SHOWN_MAX = 256;

int shown(size_t length)
{
    return length > SHOWN_MAX ? SHOWN_MAX : static_cast<int>(length);
}

// How an option string is taken: applied, or only checked.
struct parse_state {
    bool apply;
    option_text_handler handle;
    bool from_arguments;   // a command-line argument, not MIVO
    const char *argument;  // where the string begins
};

// The text of a text option, its '$' made a NUL when applying; where
// parsing goes on.
char *take_text(char *s, bool apply)
{
    s += option_text_length(s);
    if (*s == '$') {
        if (apply)
            *s = '\0';
        s++;
    }
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

void hand_on(const parse_state &st, const char *option, char *text)
{
    if (st.apply)
        st.handle(option, text);
}

// A number or a choice's value, given as value (length bytes) to the long
// option o, named as name.
void apply_long_value(const parse_state &st, const option_entry *o, const char *name,
                      const char *value, size_t length)
{
    if (o->kind & OPT_NUMBER) {
        const char *p = value;
        int64_t n = option_read_number(&p, INT_MAX);
        if (n < 0 || p != value + length)
            long_error("option %s takes a number, not \"%.*s\"", name, shown(length), value);
        if (st.apply)
            option_store_number(o, static_cast<int>(n));
        return;
    }
    int v = option_choice_value(o, value, length);
    if (v < 0) {
        char names[256] = "";
        char one[64];
        int count = 0;
        for (; option_choice_name(o, count, one, sizeof one); count++) {
            if (count)
                strncat(names, ", ", sizeof names - strlen(names) - 1);
            strncat(names, one, sizeof names - strlen(names) - 1);
        }
        long_error("option %s takes %s (or %s), not \"%.*s\"", name, names,
                   count == 2 ? "0, 1" : "0, 1, 2", shown(length), value);
    }
    if (st.apply)
        *o->setting = v;
}

// A long option at s (after its "--"), in a string whose next argument (or
// nullptr) may hold its value. Where parsing goes on; *used_next says
// whether the next argument was taken.
char *parse_long(const parse_state &st, char *s, char *next, bool *used_next)
{
    size_t length = strcspn(s, "= \t$");
    option_long_match m = option_lookup_long(s, length);
    if (m.candidates > 1 && !m.entry) {
        char candidates[2048];
        option_candidates(s, length, candidates, sizeof candidates);
        long_error("ambiguous option --%.*s: %s (see quorel --help)", shown(length), s,
                   candidates);
    }
    if (!m.entry)
        long_error("unknown option --%.*s (see quorel --help)", shown(length), s);
    const option_entry *o = m.entry;
    char name[64];
    snprintf(name, sizeof name, "--%s%s", m.negated ? "no-" : "", o->long_name);
    s += length;
    bool has_value = *s == '=';

    if (o->kind & (OPT_BOOL | OPT_ACTION)) {
        if (has_value)
            long_error("option %s takes no value", name);
        if (o->kind & OPT_ACTION) {
            if (!st.from_arguments)
                long_error("%s is taken only on the command line", name);
            if (s - length - 2 != st.argument || *s)
                long_error("%s is taken only as an argument of its own", name);
            char none[1] = {'\0'};
            hand_on(st, o->handler_name, none);
        } else if (st.apply) {
            bool on = !m.negated;
            *o->setting = on ? (o->default_value == 0 ? 1 : 0) : o->default_value;
        }
        return s;
    }

    // A value that may be left out is taken only after '='.
    if (!has_value && option_value_optional(o)) {
        char none[1] = {'\0'};
        hand_on(st, o->handler_name, none);
        return s;
    }
    // The value: after '=', else the next word of this string, else the
    // next argument, whole.
    if (has_value) {
        s++;
    } else {
        while (is_blank(*s) || *s == '$')
            s++;
        if (!*s) {
            if (!next)
                long_error("option %s needs a value: %s=%s", name, name, o->value);
            *used_next = true;
            if (o->kind & OPT_TEXT)
                hand_on(st, o->handler_name, next);
            else
                apply_long_value(st, o, name, next, strlen(next));
            return s;
        }
    }
    if (o->kind & OPT_TEXT) {
        char *start = s;
        s = take_text(s, st.apply);
        hand_on(st, o->handler_name, start);
        return s;
    }
    size_t value_length = strcspn(s, " \t$");
    apply_long_value(st, o, name, s, value_length);
    return s + value_length;
}

// The string's options in order; a long option at the end may take next.
// Whether next was taken.
bool parse(parse_state st, char *text, char *next)
{
    st.argument = text;
    bool used_next = false;
    if (!text)
        return false;
    int reset_mode = 0;
    char *s = text;
    bool word_start = true;
    while (*s) {
        bool at_word_start = word_start;
        int c = static_cast<unsigned char>(*s++);
        word_start = false;
        switch (c) {
        case ' ':
        case '\t':
        case '$':
            word_start = true;
            continue;
        case '-':
            // "--" begins a long name, and never letters; a lone "--" in a
            // string ends nothing and means nothing.
            if (at_word_start && *s == '-') {
                s++;
                if (*s && !is_blank(*s) && *s != '$')
                    s = parse_long(st, s, next, &used_next);
                continue;
            }
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
            s = take_text(s, st.apply);
            word_start = true;
            hand_on(st, every_file ? "++" : "+", start);
            continue;
        }
        case 'P':
        case 't':
        case 'l':
        case 'L': {
            if (!*s)
                option_error(option_fault::string_required, c);
            char *start = s;
            s = take_text(s, st.apply);
            word_start = true;
            const char option[2] = {static_cast<char>(c), '\0'};
            hand_on(st, option, start);
            continue;
        }
        default:
            break;
        }

        if (is_digit(c)) {
            s--;
            int n = read_number(&s);
            if (st.apply)
                option_store_number(option_find('z'), n);
            continue;
        }
        const option_entry *o = option_find(c);
        if (!o || (o->kind & (OPT_TEXT | OPT_ACTION)))
            option_error(option_fault::invalid_flag, c);
        if (o->kind & OPT_NUMBER) {
            if (!is_digit(*s))
                option_error(option_fault::number_required, c);
            int n = read_number(&s);
            if (st.apply)
                option_store_number(o, n);
        } else if (!st.apply) {
            continue;
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
    return used_next;
}

// Whether the row's long name (its "no-" form when negated) begins with,
// or (exact) is, the given bytes.
bool name_fits(const option_entry *o, bool negated, const char *given, size_t length, bool exact)
{
    if (o->kind & OPT_WHOLE_ONLY)
        exact = true;
    if (negated) {
        if (length < 3)
            return !exact && memcmp(given, "no-", length) == 0;
        if (memcmp(given, "no-", 3) != 0)
            return false;
        given += 3;
        length -= 3;
    }
    size_t name_length = strlen(o->long_name);
    if (exact ? length != name_length : length > name_length)
        return false;
    return memcmp(o->long_name, given, length) == 0;
}

// Each name of the table: its row and whether it is the "no-" form.
template <typename F> void each_name(F f)
{
    for (const option_entry *o = option_table; o->long_name; o++) {
        f(o, false);
        if (o->kind & OPT_BOOL)
            f(o, true);
    }
}

// A row's help line: the letters, the long name and its value.
std::string letters_of(const option_entry *o)
{
    std::string letters;
    if (o->letter) {
        letters = std::string("-") + o->letter;
        if (o->kind & OPT_THREEWAY)
            letters += std::string(" -") + static_cast<char>(o->letter - 'a' + 'A');
    } else if (o->handler_name && o->handler_name[0] == '+') {
        letters = std::string(o->handler_name) + "TEXT";
    }
    return letters;
}

} // namespace

bool option_value_optional(const option_entry *entry)
{
    return entry->value && entry->value[0] == '[';
}

const option_entry *option_find(int letter)
{
    for (const option_entry *o = option_table; o->long_name; o++) {
        if (!o->letter)
            continue;
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

void option_set_error_hook(void (*hook)(const char *message))
{
    error_hook = hook;
}

void option_parse_string(char *text, option_text_handler handle)
{
    parse({true, handle, false, nullptr}, text, nullptr);
}

void option_check_string(const char *text)
{
    // Only read when checking.
    parse({false, nullptr, false, nullptr}, const_cast<char *>(text), nullptr);
}

int option_parse_arguments(int argc, char **argv, option_text_handler handle, bool apply)
{
    parse_state st{apply, handle, true, nullptr};
    int i = 1;
    for (; i < argc; i++) {
        char *a = argv[i];
        if (strcmp(a, "--") == 0)
            return i + 1;
        if ((a[0] != '-' && a[0] != '+') || a[1] == '\0')
            break;
        if (parse(st, a, i + 1 < argc ? argv[i + 1] : nullptr))
            i++;
    }
    return i;
}

option_long_match option_lookup_long(const char *name, size_t length)
{
    option_long_match exact{nullptr, false, 0};
    option_long_match prefix{nullptr, false, 0};
    each_name([&](const option_entry *o, bool negated) {
        if (name_fits(o, negated, name, length, true))
            exact = {o, negated, 1};
        if (name_fits(o, negated, name, length, false))
            prefix = {o, negated, prefix.candidates + 1};
    });
    if (exact.entry)
        return exact;
    if (prefix.candidates != 1)
        prefix.entry = nullptr;
    return prefix;
}

void option_candidates(const char *name, size_t length, char *out, size_t size)
{
    size_t fill = 0;
    out[0] = '\0';
    each_name([&](const option_entry *o, bool negated) {
        if (!name_fits(o, negated, name, length, false) || fill >= size)
            return;
        int n = snprintf(out + fill, size - fill, "%s%s%s", fill ? ", " : "",
                         negated ? "--no-" : "--", o->long_name);
        fill += n > 0 ? static_cast<size_t>(n) : 0;
    });
}

bool option_choice_name(const option_entry *entry, int i, char *out, size_t size)
{
    if (!(entry->kind & OPT_THREEWAY) || !entry->value)
        return false;
    const char *p = entry->value;
    for (; i > 0; i--) {
        p = strchr(p, '|');
        if (!p)
            return false;
        p++;
    }
    size_t n = strcspn(p, "|");
    if (n >= size)
        n = size - 1;
    memcpy(out, p, n);
    out[n] = '\0';
    return true;
}

int option_choice_value(const option_entry *entry, const char *text, size_t length)
{
    if (length == 1 && text[0] >= '0' && text[0] <= '2') {
        // A choice of two names has no third value.
        char name[64];
        int v = text[0] - '0';
        return !entry->value || option_choice_name(entry, v, name, sizeof name) ? v : -1;
    }
    char name[64];
    for (int i = 0; option_choice_name(entry, i, name, sizeof name); i++)
        if (strlen(name) == length && memcmp(name, text, length) == 0)
            return i;
    return -1;
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
    const option_entry *o = option_find(letter);
    if (!o || o->letter != letter)
        return 1;
    if (o->kind & OPT_TEXT)
        return 0;
    return o->kind & 3;
}

void option_write_help(FILE *out)
{
    constexpr size_t LONG_AT = 10, HELP_AT = 36;
    for (const option_entry *o = option_table; o->long_name; o++) {
        if (o->kind & OPT_WHOLE_ONLY)
            continue;
        std::string head = "  " + letters_of(o);
        head.resize(LONG_AT, ' ');
        head += std::string("--") + o->long_name;
        if (option_value_optional(o))
            head += std::string("[=") + (o->value + 1);
        else if (o->value)
            head += std::string("=") + o->value;
        // A long choice puts its description on a line of its own.
        if (head.size() >= HELP_AT) {
            fprintf(out, "%s\n", head.c_str());
            head.clear();
        }
        head.resize(HELP_AT, ' ');
        fprintf(out, "%s%s\n", head.c_str(), o->help);
    }
}

void option_write_list(FILE *out)
{
    each_name([&](const option_entry *o, bool negated) {
        if (o->kind & OPT_WHOLE_ONLY)
            return;
        std::string letter = o->letter && !negated ? std::string("-") + o->letter : "";
        fprintf(out, "%s\t--%s%s\t%s\t%s%s\n", letter.c_str(), negated ? "no-" : "", o->long_name,
                negated || !o->value ? "" : o->value, negated ? "turn off: " : "", o->help);
    });
}
