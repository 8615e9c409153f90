#include "viewer/navigation/search.h"

#include <regex.h>

#include "viewer/display/highlight.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/navigation/jump.h"
#include "viewer/navigation/linenum.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

namespace {

regex_t search_regex;
int search_regex_valid;
char regex_error_text[100];

// nullptr on success, else the message to show.
const char *regex_compile(const char *pattern)
{
    if (!pattern || !*pattern)
        return search_regex_valid ? nullptr : "no previous regular expression";
    if (search_regex_valid) {
        regfree(&search_regex);
        search_regex_valid = 0;
    }
    int err = regcomp(&search_regex, pattern, REG_EXTENDED);
    if (err == 0) {
        search_regex_valid = 1;
        return nullptr;
    }
    regerror(err, &search_regex, regex_error_text, sizeof regex_error_text);
    regex_error_text[sizeof regex_error_text - 1] = '\0';
    return regex_error_text;
}

int regex_match(const char *line)
{
    if (!search_regex_valid)
        return -1;
    return regexec(&search_regex, line, 0, nullptr, 0) == 0 ? 1 : 0;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Fold a line for case-blind matching: capitals to small letters, and each
// overstrike (a character, backspace, another) down to the last character.
void fold_line(char *text)
{
    char *out = text;
    for (const char *in = text; *in; in++) {
        if (*in == '\b' && out > text)
            out--;
        else
            *out++ = lower(*in);
    }
    *out = '\0';
}

// Where a forward search starts reading, by the -a setting.
file_pos forward_start()
{
    if (opt_a == 1)
        return screen_pos(ROW_AFTER_BOTTOM);
    if (opt_a == 2)
        return screen_pos(1);
    file_pos second = screen_pos(1);
    file_pos p = screen_pos(ROW_TOP);
    do
        p = raw_line_next(p);
    while (p != NO_POSITION && p < second);
    return p;
}

} // namespace

void search_text(int forward, char *pattern, int n, int match_wanted)
{
    if (pattern && *pattern && opt_i)
        for (char *c = pattern; *c; c++)
            *c = lower(*c);
    if (const char *problem = regex_compile(pattern)) {
        show_error(problem);
        return;
    }
    if (pattern && *pattern)
        highlight_set(pattern, REG_EXTENDED, opt_i);
    highlight_enable(match_wanted);
    file_pos p;
    if (screen_pos(ROW_TOP) == NO_POSITION)
        p = 0;
    else if (!forward)
        p = screen_pos(ROW_TOP);
    else
        p = forward_start();
    if (p == NO_POSITION) {
        show_error("Nothing to search");
        return;
    }
    int line = linenum_of(p);
    if (pending_signals)
        return;
    for (bool first = true;; first = false) {
        if (!first && pending_signals)
            return;
        file_pos start;
        if (forward) {
            start = p;
            p = raw_line_next(p);
            if (line != 0)
                line++;
        } else {
            p = raw_line_prev(p);
            start = p;
            if (line != 0)
                line--;
        }
        if (p == NO_POSITION) {
            show_error("Pattern not found");
            return;
        }
        if (opt_n && line != 0)
            linenum_add(line, p);
        if (opt_i)
            fold_line(raw_line_text);
        bool matched = regex_match(raw_line_text) == 1;
        if (matched != (match_wanted != 0))
            continue;
        if (n >= 2) {
            n--;
            continue;
        }
        goto_position(start);
        return;
    }
}
