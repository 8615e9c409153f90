#include "viewer/terminal/text.h"

#include <cstring>
#include <cwchar>
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include "viewer/terminal/output.h"

int text_utf8;

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// The driver expands a tab to the next multiple of this many columns.
constexpr int TAB_STOP = 8;

text_char single(int byte, int columns, text_form form)
{
    return {1, byte, columns, form};
}

// "<XX>", the hexadecimal form of a byte.
template <typename Put>
void emit_hex(int byte, Put put)
{
    byte &= 0xFF;
    put('<');
    put(HEX_DIGITS[byte >> 4]);
    put(HEX_DIGITS[byte & 15]);
    put('>');
}

// Give put the bytes that show n bytes of text safely; a tab stays a tab
// when `tabs` says so. An incomplete character at the end is held back when
// `more` says it may still grow. The bytes of text taken.
template <typename Put>
size_t emit_text(const char *s, size_t n, bool more, bool tabs, Put put)
{
    auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    while (i < n) {
        text_char c = text_decode(p + i, n - i, more);
        if (c.length == 0)
            break;
        if (tabs && p[i] == '\t')
            c.form = FORM_PLAIN;
        switch (c.form) {
        case FORM_CARET:
            put('^');
            put(text_control_letter(p[i]));
            break;
        case FORM_HEX:
            for (int k = 0; k < c.length; k++)
                emit_hex(p[i + k], put);
            break;
        case FORM_PLAIN:
            for (int k = 0; k < c.length; k++)
                put(p[i + k]);
            break;
        }
        i += static_cast<size_t>(c.length);
    }
    return i;
}

} // namespace

void text_setup()
{
    text_utf8 = text_locale_utf8();
}

bool text_locale_utf8()
{
    const char *set = nl_langinfo(CODESET);
    return set && (strcasecmp(set, "UTF-8") == 0 || strcasecmp(set, "UTF8") == 0);
}

int text_is_control(int byte)
{
    byte &= 0xFF;
    return byte < 0x20 || byte == 0x7F;
}

int text_control_letter(int byte)
{
    byte &= 0xFF;
    return byte == 0x7F ? '?' : byte | 0x40;
}

text_char text_decode(const unsigned char *s, size_t n, bool more)
{
    unsigned char b = s[0];
    if (text_is_control(b))
        return single(b, 2, FORM_CARET);
    if (b < 0x80)
        return single(b, 1, FORM_PLAIN);
    if (!text_utf8) {
        // Bytes 0x80-0x9F are the 8-bit control codes on some terminals.
        return b < 0xA0 ? single(b, 4, FORM_HEX) : single(b, 1, FORM_PLAIN);
    }
    unsigned char low, high;
    int length = text_utf8_length(b, low, high);
    if (length == 0)
        return single(b, 4, FORM_HEX);
    int code = b & (0x7F >> length);
    for (int i = 1; i < length; i++) {
        if (static_cast<size_t>(i) >= n)
            return more ? text_char{0, 0, 0, FORM_PLAIN} : single(b, 4, FORM_HEX);
        unsigned char c = s[i];
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return single(b, 4, FORM_HEX);
        code = (code << 6) | (c & 0x3F);
    }
    int width = wcwidth(static_cast<wchar_t>(code));
    if (width < 0)
        return {length, code, 4 * length, FORM_HEX};
    return {length, code, width, FORM_PLAIN};
}

int text_encode(int code, char *out)
{
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

int text_columns(const char *s, size_t n)
{
    auto *p = reinterpret_cast<const unsigned char *>(s);
    int columns = 0;
    for (size_t i = 0; i < n;) {
        text_char c = text_decode(p + i, n - i);
        columns += c.columns;
        i += static_cast<size_t>(c.length);
    }
    return columns;
}

int text_columns(const char *s)
{
    return text_columns(s, strlen(s));
}

const char *text_tail(const char *s, int width)
{
    // Where a tab lands decides its width: each start is measured afresh.
    auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t n = strlen(s);
    size_t i = 0;
    while (i < n && text_message_columns(s + i) > width)
        i += static_cast<size_t>(text_decode(p + i, n - i).length);
    return s + i;
}

size_t out_text(const char *s, size_t n, bool more)
{
    return emit_text(s, n, more, false, out_char);
}

void out_text(const char *s)
{
    out_text(s, strlen(s));
}

int out_message(const char *s, int column, int width)
{
    // Expanded here: the driver's own expansion counts the bytes of escape
    // sequences sent before as columns.
    auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t n = strlen(s);
    for (size_t i = 0; i < n;) {
        text_char c = text_decode(p + i, n - i);
        int next = p[i] == '\t' ? (column / TAB_STOP + 1) * TAB_STOP : column + c.columns;
        if (next > width)
            break;
        if (p[i] == '\t') {
            while (column < next) {
                out_char(' ');
                column++;
            }
        } else {
            out_text(s + i, static_cast<size_t>(c.length));
        }
        column = next;
        i += static_cast<size_t>(c.length);
    }
    return column;
}

void text_write_message(int fd, const char *s)
{
    // In pieces through a buffer of its own: this also reports exhausted
    // memory, so it must not allocate.
    char piece[256];
    size_t fill = 0;
    auto flush = [&] {
        ssize_t ignored = write(fd, piece, fill);
        (void)ignored;
        fill = 0;
    };
    emit_text(s, strlen(s), false, true, [&](int byte) {
        if (fill == sizeof piece)
            flush();
        piece[fill++] = static_cast<char>(byte);
    });
    if (fill == sizeof piece)
        flush();
    piece[fill++] = '\n';
    flush();
}

int text_message_columns(const char *s)
{
    auto *p = reinterpret_cast<const unsigned char *>(s);
    size_t n = strlen(s);
    int columns = 0;
    for (size_t i = 0; i < n;) {
        text_char c = text_decode(p + i, n - i);
        columns = p[i] == '\t' ? (columns / TAB_STOP + 1) * TAB_STOP : columns + c.columns;
        i += static_cast<size_t>(c.length);
    }
    return columns;
}

void out_hex(int byte)
{
    emit_hex(byte, out_char);
}
