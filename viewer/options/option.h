// The option table and the parsing of option strings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// One setting per option letter.
extern int opt_a, opt_b, opt_B, opt_c, opt_d, opt_e, opt_F, opt_h, opt_H, opt_i, opt_I, opt_m,
    opt_n, opt_N, opt_q, opt_r, opt_s, opt_S, opt_u, opt_w, opt_x, opt_X, opt_Y, opt_z;
// Settings with a long name only.
extern int opt_follow_name, opt_no_preprocess, opt_exec, opt_plain, opt_wrap;
// Column mode's settings (the mode itself and its delimiter are the
// display's).
extern int opt_header_columns, opt_column_colours;
// The input's first lines held at the top (--header).
extern int opt_header;

enum option_kind : unsigned char {
    OPT_BOOL = 1,
    OPT_THREEWAY = 2,
    OPT_NUMBER = 4,
    OPT_TEXT = 8,           // handed to the text handler; no setting of its own
    OPT_ACTION = 0x10,      // --help and its kin: answered at start, then the end
    OPT_REPAINT = 0x20,
    OPT_STARTUP_ONLY = 0x40,
    OPT_WHOLE_ONLY = 0x80,  // a long name taken only when written whole
};

struct option_entry {
    char letter;                    // case matters; NUL for a long name only
    unsigned char kind;             // option_kind bits
    int default_value;
    int *setting;                   // none for text options and actions
    const char *descriptions[3];    // per value, or one "%d" format
    // The long name, without its "--"; the row with none ends the table.
    // A flag's long name says what its letter does, and "no-" in front of
    // it turns that off again.
    const char *long_name;
    // What follows "=": "N" a number, "TEXT" or "FILE" a text, names of
    // the three values separated by '|'; none for flags.
    const char *value;
    // One line for --help, the completions and the manual's checks.
    const char *help;
    // The text handler's name for a text option or an action.
    const char *handler_name;
};

extern const option_entry option_table[];

// Receives an option that carries text: option is "+", "++", "P", "t", "l"
// or "L", and text its text, ended at the first '$' (a value given as an
// argument of its own is taken whole). Actions ("help", "version",
// "list-options") come with an empty text.
using option_text_handler = void (*)(const char *option, char *text);

// The message module lies above this one, so the program registers at start
// how an option error is told before the program ends (show_error); until
// then it goes to standard error.
void option_set_error_hook(void (*report)(const char *message));
// Apply an option string (MIVO: letters and long names, separated by
// blanks); the settings are set here, the text options are handed to
// handle. On an error the program ends: status 1 for a letter, 2 for a
// long name. The string is changed in place and must live for the whole
// run.
void option_parse_string(char *text, option_text_handler handle);
// Check an option string as option_parse_string would apply it, ending the
// program on the same errors; nothing is set, changed or handed on.
void option_check_string(const char *text);
// The leading options of a command line (argv[0] is the program), a long
// option's value possibly in the next argument; "--" ends them. The index
// of the first file name. apply false: only checked, as above.
int option_parse_arguments(int argc, char **argv, option_text_handler handle, bool apply);

// A long name looked up: the row (none when unknown or ambiguous), whether
// its "no-" form was named, and how many names begin with what was given.
struct option_long_match {
    const option_entry *entry;
    bool negated;
    int candidates;
};
// Look up the first length bytes of name (no "--"): a whole name, or the
// beginning of exactly one.
option_long_match option_lookup_long(const char *name, size_t length);
// The names that begin so, each with its "--", separated by ", ", into out
// (size bytes, cut to fit).
void option_candidates(const char *name, size_t length, char *out, size_t size);
// The value of a three-valued option given by name or number; -1 when it
// is neither.
int option_choice_value(const option_entry *entry, const char *text, size_t length);
// The i-th name of a choice into out (size bytes); false past the last.
bool option_choice_name(const option_entry *entry, int i, char *out, size_t size);

// The decimal number at *s, which moves past its digits; values beyond max
// saturate at max, and *overflow (when given) says so. -1 without a digit.
int64_t option_read_number(const char **s, int64_t max, bool *overflow = nullptr);
// The length of an option's text: up to the first '$' or the end.
size_t option_text_length(const char *text);
// 0 for letters that take a value, 2 for three-valued letters, else 1.
int option_is_toggle(int letter);
// Store a number into a setting, keeping values that make no sense (a tab
// stop of 0) out.
void option_store_number(const option_entry *entry, int value);
// The table row of a letter (upper-case forms of three-valued ones too).
const option_entry *option_find(int letter);
// Whether a text option's value may be left out ("[VALUE]" in the table):
// it is then taken only after '='.
bool option_value_optional(const option_entry *entry);

// --help's list of options, and --list-options' lines for the completion
// scripts, written to out.
void option_write_help(FILE *out);
void option_write_list(FILE *out);
