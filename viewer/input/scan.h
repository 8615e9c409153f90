// Scans over whole runs of input bytes at memory speed: newline counts,
// case folding and encoding checks for the line counter and the search.
#pragma once
#include <cstddef>
#include <cstdint>

// The number of newlines in the n bytes at data.
int64_t scan_count_newlines(const char *data, size_t n);
// Offset of the k-th newline (k >= 1) in the n bytes at data, or -1 when
// there are fewer.
int64_t scan_find_newline(const char *data, size_t n, int64_t k);
// Turn every NUL among the n bytes at data into '@', as the reader shows it.
void scan_replace_nuls(char *data, size_t n);
// An ASCII capital as its small letter; every other byte as it is.
inline char scan_fold_char(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
}
// Copy n bytes with the ASCII capitals turned into small letters.
void scan_fold_ascii(char *to, const char *from, size_t n);
// Offset of the first byte of the n at data that does not belong to valid
// UTF-8 (an overlong form, a surrogate, beyond U+10FFFF, a sequence cut at
// the end), or -1 when they are all valid.
int64_t scan_invalid_utf8(const char *data, size_t n);
// Offset of the start of the first line longer than max bytes among the
// whole lines at data (the n bytes end with a newline), or -1 when none is.
int64_t scan_long_line(const char *data, size_t n, size_t max);
// Offset of the first of the n bytes at data that is not printable ASCII
// (0x20 to 0x7E), or -1 when all are.
int64_t scan_plain_ascii(const char *data, size_t n);
