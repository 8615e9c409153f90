// Text that comes from outside the viewer (file bytes, file names, tags,
// patterns, typed keys) decoded into characters, measured in screen columns
// and sent so that nothing in it reaches the terminal as a control sequence.
#pragma once
#include <climits>
#include <cstddef>

// The locale's character set is UTF-8: text is laid out by characters.
extern int text_utf8;

// Take the character set from the locale (after setlocale).
void text_setup();
// Whether the locale in force now has UTF-8 for its character set.
bool text_locale_utf8();

// The bytes a UTF-8 lead byte announces, and the range its first
// continuation byte must fall in (which rules out overlong forms,
// surrogates and code points beyond U+10FFFF); 0 for a byte that cannot
// begin a character. ASCII bytes announce 1.
inline int text_utf8_length(unsigned char lead, unsigned char &low, unsigned char &high)
{
    low = 0x80;
    high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
        return 4;
    }
    return 0;
}

// How a character is shown.
enum text_form : unsigned char {
    FORM_PLAIN,     // as itself
    FORM_CARET,     // '^' and a letter: control bytes and DEL
    FORM_HEX,       // "<XX>" for each of its bytes: bytes that are no character
};

struct text_char {
    int length;     // bytes it spans, 1 to 4; 0: incomplete, more bytes may follow
    int code;       // the code point in a UTF-8 locale, else the byte
    int columns;    // screen columns it takes
    text_form form;
};

// The character at s, given n >= 1 bytes. A sequence cut short by the end of
// the n bytes is incomplete (length 0) when `more` says bytes may follow,
// else its first byte stands alone.
text_char text_decode(const unsigned char *s, size_t n, bool more = false);
// Whether a byte begins a control form ("^X"): bytes below 0x20 and DEL.
int text_is_control(int byte);
// The letter of a control form: '?' for DEL, else the byte with 0x40 set.
int text_control_letter(int byte);
// Bytes a code point takes in UTF-8 (1-4), written to out.
int text_encode(int code, char *out);

// Screen columns of n bytes of text.
int text_columns(const char *s, size_t n);
int text_columns(const char *s);
// The longest end of s that fits in width columns shown as a message,
// starting on a character.
const char *text_tail(const char *s, int width);
// Send n bytes of text safely through the output buffer; an incomplete
// character at the end is held back when `more` says it may still grow.
// The bytes sent.
size_t out_text(const char *s, size_t n, bool more = false);
void out_text(const char *s);
// Send a message or prompt safely from column on, as far as whole
// characters fit in width columns; a tab in it moves to the next multiple
// of 8 columns, as a tab does. The column reached.
int out_message(const char *s, int column = 0, int width = INT_MAX);
// Write a message safely to fd (standard error), where a tab goes out as a
// tab, and a newline after it.
void text_write_message(int fd, const char *s);
// Screen columns of a message or prompt shown from the start of a line,
// its tabs expanded.
int text_message_columns(const char *s);
// Send "<XX>", the hexadecimal form of a byte.
void out_hex(int byte);
