// Small string helpers that the viewer's layers and mivokey share.
#pragma once
#include <cstring>

// Copy at most n - 1 bytes of src, then a NUL; nothing when n is not positive.
inline void copy_bounded(char *dst, const char *src, int n)
{
    if (n <= 0)
        return;
    size_t length = strnlen(src, static_cast<size_t>(n - 1));
    memcpy(dst, src, length);
    dst[length] = '\0';
}

// A space or a tab, the blanks that separate words in typed text and files.
inline bool is_blank(int ch)
{
    return ch == ' ' || ch == '\t';
}

// An ASCII digit, whatever the locale says.
inline bool is_digit(int ch)
{
    return ch >= '0' && ch <= '9';
}
