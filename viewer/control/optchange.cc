#include "viewer/control/optchange.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "viewer/control/program.h"
#include "viewer/terminal/text.h"
#include "viewer/control/prompt.h"
#include "viewer/display/columns.h"
#include "viewer/display/highlight.h"
#include "viewer/display/screen.h"
#include "viewer/display/syntax.h"
#include "viewer/display/view.h"
#include "viewer/input/buffer.h"
#include "viewer/input/decompress.h"
#include "viewer/input/log.h"
#include "viewer/navigation/filter.h"
#include "viewer/navigation/section.h"
#include "viewer/navigation/tags.h"
#include "viewer/options/option.h"
#include "viewer/process/shell.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

// The text of a text option, without what follows its '$'.
std::string text_value(const char *value)
{
    return std::string(value, option_text_length(value));
}

void change_log(int letter, const char *value)
{
    log_overwrite = letter == 'L';
    if (!*value) {
        if (log_fd < 0) {
            show_error("no log file");
        } else {
            std::string message = "log file \"";
            message += log_file_name;
            message += "\"";
            show_error(message.c_str());
        }
        return;
    }
    if (!input_is_pipe || input_named) {
        show_error("input is not a pipe");
        return;
    }
    if (log_fd >= 0) {
        show_error("log file is already in use");
        return;
    }
    // The log is the data as read, and what was read of compressed data is
    // held only decompressed.
    compress_format kind = decompress_kind();
    if (kind != COMPRESS_NONE && kind != COMPRESS_UNDECIDED) {
        show_error("compressed input can be logged only from the start");
        return;
    }
    // The name given at start points into the arguments; this one is ours.
    log_file_name = copy_string(text_value(value).c_str());
    log_start();
    log_copy_buffered();
}

void change_prompt(const char *value)
{
    if (!*value) {
        show_error(prompt_template(opt_m));
        return;
    }
    std::string text = text_value(value);
    char *start = text.data();
    int which = prompt_select(&start);
    prompt_replace(which, start);
}

void change_tag(const char *value)
{
    if (!*value) {
        show_error("no tag");
        return;
    }
    std::string tag = text_value(value);
    tag_lookup(tag.c_str());
    if (tag_file_name && view_file(tag_file_name) == 0)
        tag_locate();
}

void change_number(const option_entry *o, const char *value, int change)
{
    bool overflow = false;
    int64_t n = option_read_number(&value, INT_MAX, &overflow);
    bool valid = n >= 0 && !overflow;
    if (valid && change)
        option_store_number(o, static_cast<int>(n));
    if (o->setting == &opt_b)
        buf_attach(opt_b, 1);
    int shown = o->setting == &opt_h ? back_scroll_limit() : *o->setting;
    // The row's format holds one "%d".
    std::string message = o->descriptions[0];
    size_t at = message.find("%d");
    if (at != std::string::npos)
        message.replace(at, 2, std::to_string(shown));
    show_error(message.c_str());
    if (change && valid && (o->kind & OPT_REPAINT))
        repaint_screen();
}

// The setting's description after a change or for a look, then the repaint
// a change of it asks for.
void show_setting(const option_entry *o, int change)
{
    if (change && o->setting == &opt_Y)
        term_set_mouse(opt_Y);
    if (o->setting == &opt_N && opt_N && !opt_n)
        show_error("Show line numbers in a column (none with -n)");
    else
        show_error(o->descriptions[*o->setting]);
    // The column of line numbers goes with the numbers.
    bool repaint = (o->kind & OPT_REPAINT) || (o->setting == &opt_n && opt_N);
    if (change && repaint)
        repaint_screen();
    // The rows a filter left are judged again by the case setting now in force.
    else if (change && o->setting == &opt_i && filter_text())
        repaint_screen();
}

} // namespace

void option_change(const char *text, int change)
{
    int letter = static_cast<unsigned char>(text[0]);
    const char *value = text[0] ? text + 1 : text;
    if ((letter == 'l' || letter == 'L' || letter == 't') && secure_refuse())
        return;
    switch (letter) {
    case 'l':
    case 'L':
        change_log(letter, value);
        return;
    case 'P':
        change_prompt(value);
        return;
    case 't':
        change_tag(value);
        return;
    }
    const option_entry *o = option_find(letter);
    if (!o || (o->kind & OPT_STARTUP_ONLY)) {
        char message[32];
        if (text_is_control(letter))
            snprintf(message, sizeof message, "-^%c: no such flag.", text_control_letter(letter));
        else
            snprintf(message, sizeof message, "-%c: no such flag.", letter);
        show_error(message);
        return;
    }
    if (o->kind & OPT_NUMBER) {
        change_number(o, value, change);
        return;
    }
    if (change) {
        int &setting = *o->setting;
        if (o->kind & OPT_BOOL)
            setting = setting == 0 ? 1 : 0;
        else if (o->letter == letter)
            setting = setting != 1 ? 1 : 0;
        else
            setting = setting != 2 ? 2 : 0;
    }
    show_setting(o, change);
}

// What "_ -" shows of a text option that may change while viewing; false
// for any other.
bool show_view_option(const char *option)
{
    char message[64];
    if (strcmp(option, "highlight") == 0) {
        snprintf(message, sizeof message, "Highlight patterns: %d of %d", highlight_count(),
                 HIGHLIGHT_PATTERNS);
    } else if (strcmp(option, "section") == 0) {
        const char *pattern = section_pattern();
        show_error((std::string("Section pattern: ") + (pattern ? pattern : "none")).c_str());
        return true;
    } else if (strcmp(option, "jump-target") == 0) {
        bool percent;
        int target = view_jump_target(&percent);
        snprintf(message, sizeof message, "Jump target: row %d%s", target, percent ? "%" : "");
    } else if (strcmp(option, "columns") == 0) {
        columns_describe(message, sizeof message);
    } else if (strcmp(option, "syntax") == 0) {
        const char *language = syntax_language();
        snprintf(message, sizeof message, "Syntax colours: %s (%s)", syntax_setting(),
                 language ? language : "none here");
    } else {
        return false;
    }
    show_error(message);
    return true;
}

bool apply_view_option(const char *option, const char *text)
{
    if (strcmp(option, "highlight") == 0) {
        highlight_add(text);
        return true;
    }
    if (strcmp(option, "columns") == 0) {
        if (!columns_set(text))
            show_error("option --columns takes one delimiter byte, tab, spaces or off");
        return true;
    }
    if (strcmp(option, "section") == 0) {
        // The row held for a section's start comes or goes.
        if (section_set(text) && screen_pos(ROW_TOP) != NO_POSITION)
            repaint_screen();
        return true;
    }
    if (strcmp(option, "syntax") == 0) {
        char message[100];
        if (syntax_choose(text, message, sizeof message))
            screen_stale = 1;
        else
            show_error(message);
        return true;
    }
    if (strcmp(option, "jump-target") != 0)
        return false;
    const char *p = text;
    int64_t rows = option_read_number(&p, INT_MAX);
    bool percent = *p == '%';
    if (percent)
        p++;
    if (rows < 0 || *p || (percent && rows > 100)) {
        show_error("option --jump-target takes N or N% (at most 100%)");
        return true;
    }
    view_set_jump_target(static_cast<int>(rows), percent);
    return true;
}

void option_change_long(const char *text, int change)
{
    size_t length = strcspn(text, "= ");
    if (length == 0 && !*text)
        return;
    std::string given = "--" + std::string(text, length);
    option_long_match m = option_lookup_long(text, length);
    if (!m.entry) {
        char candidates[2048];
        option_candidates(text, length, candidates, sizeof candidates);
        std::string message = m.candidates > 1 ? "ambiguous option " + given + ": " + candidates
                                               : "unknown option " + given;
        show_error(message.c_str());
        return;
    }
    const option_entry *o = m.entry;
    std::string name = std::string(m.negated ? "--no-" : "--") + o->long_name;
    const char *value = text + length;
    bool has_value = *value != '\0';
    if (has_value)
        value++;
    if (o->kind & OPT_TEXT) {
        if (o->letter) {
            std::string letter_form(1, o->letter);
            if (change)
                letter_form += value;
            option_change(letter_form.c_str(), change);
        } else if (o->handler_name[1] == '+' && change) {
            set_first_command(*value ? value : nullptr);
        } else if (change ? !apply_view_option(o->handler_name, value)
                          : !show_view_option(o->handler_name)) {
            show_error((name + " is taken only at start").c_str());
        }
        return;
    }
    if (o->kind & (OPT_ACTION | OPT_STARTUP_ONLY)) {
        show_error((name + " is taken only at start").c_str());
        return;
    }
    if (o->kind & OPT_NUMBER) {
        const char *p = value;
        if (has_value && (option_read_number(&p, INT_MAX) < 0 || *p)) {
            show_error(("option " + name + " takes a number").c_str());
            return;
        }
        change_number(o, value, change && has_value);
        return;
    }
    if (o->kind & OPT_BOOL) {
        if (has_value) {
            show_error(("option " + name + " takes no value").c_str());
            return;
        }
        // The name toggles, as its letter does; "no-" turns it off.
        if (change)
            *o->setting = m.negated ? o->default_value : *o->setting == 0 ? 1 : 0;
        show_setting(o, change);
        return;
    }
    if (has_value) {
        int v = option_choice_value(o, value, strlen(value));
        if (v < 0) {
            char third[64];
            bool three = option_choice_name(o, 2, third, sizeof third);
            show_error(("option " + name + " takes " + o->value + (three ? " (or 0, 1, 2)" : " (or 0, 1)"))
                           .c_str());
            return;
        }
        if (change)
            *o->setting = v;
    }
    show_setting(o, change && has_value);
}
