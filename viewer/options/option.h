// The option table and the parsing of option strings.
#pragma once
#include <cstddef>
#include <cstdint>

// One setting per option letter.
extern int opt_a, opt_b, opt_B, opt_c, opt_d, opt_e, opt_F, opt_h, opt_H, opt_i, opt_I, opt_m,
    opt_n, opt_N, opt_q, opt_r, opt_s, opt_S, opt_u, opt_w, opt_x, opt_X, opt_Y, opt_z;

enum option_kind : unsigned char {
    OPT_BOOL = 1,
    OPT_THREEWAY = 2,
    OPT_NUMBER = 4,
    OPT_REPAINT = 0x20,
    OPT_STARTUP_ONLY = 0x40,
};

struct option_entry {
    char letter;                    // case matters; NUL ends the table
    unsigned char kind;             // option_kind bits
    int default_value;
    int *setting;
    const char *descriptions[3];    // per value, or one "%d" format
};

extern const option_entry option_table[];

// Receives an option that carries text: option is "+", "++", "P", "t", "l"
// or "L", and text its text, ended at the first '$'.
using option_text_handler = void (*)(const char *option, char *text);

// Apply an option string; the settings are set here, the text options are
// handed to handle. On an error the program ends with status 1. The string
// is changed in place and must live for the whole run.
void option_parse_string(char *text, option_text_handler handle);
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
