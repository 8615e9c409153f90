#include "viewer/input/scan.h"

#include <cstring>

#include "viewer/terminal/text.h"

// SSE2 is part of every x86-64 processor; elsewhere plain loops do the work.
#if defined(__x86_64__)
#include <immintrin.h>
#define SCAN_X86 1
#endif

namespace {

int64_t count_plain(const unsigned char *p, size_t n)
{
    int64_t total = 0;
    for (size_t i = 0; i < n; i++)
        total += p[i] == '\n';
    return total;
}

void fold_plain(char *to, const char *from, size_t n)
{
    for (size_t i = 0; i < n; i++)
        to[i] = scan_fold_char(from[i]);
}

void replace_plain(char *p, size_t n, char from, char to)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] == from)
            p[i] = to;
}

#ifdef SCAN_X86

// Byte counters in a vector overflow after 255 steps; each batch stays below.
constexpr size_t BATCH = 255;

int64_t count_newlines(const unsigned char *p, size_t n)
{
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    int64_t total = 0;
    size_t i = 0;
    while (n - i >= 64) {
        __m128i a = zero, b = zero, c = zero, d = zero;
        size_t steps = (n - i) / 64;
        if (steps > BATCH)
            steps = BATCH;
        for (size_t k = 0; k < steps; k++, i += 64) {
            auto *v = reinterpret_cast<const __m128i *>(p + i);
            a = _mm_sub_epi8(a, _mm_cmpeq_epi8(_mm_loadu_si128(v), newline));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi8(_mm_loadu_si128(v + 1), newline));
            c = _mm_sub_epi8(c, _mm_cmpeq_epi8(_mm_loadu_si128(v + 2), newline));
            d = _mm_sub_epi8(d, _mm_cmpeq_epi8(_mm_loadu_si128(v + 3), newline));
        }
        __m128i sum = _mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)),
                                    _mm_add_epi64(_mm_sad_epu8(c, zero), _mm_sad_epu8(d, zero)));
        total += _mm_cvtsi128_si64(sum) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum));
    }
    return total + count_plain(p + i, n - i);
}

void fold_run(char *to, const char *from, size_t n)
{
    const __m128i before_a = _mm_set1_epi8('A' - 1);
    const __m128i after_z = _mm_set1_epi8('Z' + 1);
    const __m128i bit = _mm_set1_epi8(0x20);
    size_t i = 0;
    for (; n - i >= 16; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        // Bytes 0x80 and up compare as negative, so they are never capitals.
        __m128i capital = _mm_and_si128(_mm_cmpgt_epi8(v, before_a), _mm_cmplt_epi8(v, after_z));
        v = _mm_or_si128(v, _mm_and_si128(capital, bit));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), v);
    }
    fold_plain(to + i, from + i, n - i);
}

void replace_run(char *p, size_t n, char from, char to)
{
    const __m128i match = _mm_set1_epi8(from);
    const __m128i with = _mm_set1_epi8(to);
    size_t i = 0;
    for (; n - i >= 16; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        __m128i hit = _mm_cmpeq_epi8(v, match);
        v = _mm_or_si128(_mm_andnot_si128(hit, v), _mm_and_si128(hit, with));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + i), v);
    }
    replace_plain(p + i, n - i, from, to);
}

// Bytes from p on that are all ASCII, in whole vectors.
size_t ascii_prefix(const unsigned char *p, size_t n)
{
    size_t i = 0;
    for (; n - i >= 16; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        if (_mm_movemask_epi8(v) != 0)
            break;
    }
    return i;
}

#else

int64_t count_newlines(const unsigned char *p, size_t n)
{
    return count_plain(p, n);
}

void fold_run(char *to, const char *from, size_t n)
{
    fold_plain(to, from, n);
}

size_t ascii_prefix(const unsigned char *p, size_t n)
{
    size_t i = 0;
    while (i < n && p[i] < 0x80)
        i++;
    return i;
}

void replace_run(char *p, size_t n, char from, char to)
{
    replace_plain(p, n, from, to);
}

#endif

} // namespace

int64_t scan_count_newlines(const char *data, size_t n)
{
    return count_newlines(reinterpret_cast<const unsigned char *>(data), n);
}

int64_t scan_find_newline(const char *data, size_t n, int64_t k)
{
    // Whole stretches are counted at once; only the one holding the wanted
    // newline is walked.
    constexpr size_t STRETCH = 4096;
    size_t at = 0;
    while (at < n) {
        size_t len = n - at < STRETCH ? n - at : STRETCH;
        int64_t here = scan_count_newlines(data + at, len);
        if (here < k) {
            k -= here;
            at += len;
            continue;
        }
        const char *p = data + at;
        for (;;) {
            p = static_cast<const char *>(memchr(p, '\n', data + at + len - p));
            if (--k == 0)
                return p - data;
            p++;
        }
    }
    return -1;
}

void scan_replace_nuls(char *data, size_t n)
{
    // Text rarely holds a NUL: the library's search passes over it fastest.
    auto *first = static_cast<char *>(memchr(data, 0, n));
    if (first)
        replace_run(first, n - static_cast<size_t>(first - data), '\0', '@');
}

void scan_fold_ascii(char *to, const char *from, size_t n)
{
    fold_run(to, from, n);
}

int64_t scan_invalid_utf8(const char *data, size_t n)
{
    auto *p = reinterpret_cast<const unsigned char *>(data);
    size_t i = 0;
    while (i < n) {
        i += ascii_prefix(p + i, n - i);
        if (i >= n)
            break;
        unsigned c = p[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        unsigned char low, high;
        auto len = static_cast<size_t>(text_utf8_length(static_cast<unsigned char>(c), low, high));
        if (len == 0)
            return static_cast<int64_t>(i);
        if (n - i < len || p[i + 1] < low || p[i + 1] > high)
            return static_cast<int64_t>(i);
        for (size_t k = 2; k < len; k++)
            if ((p[i + k] & 0xC0) != 0x80)
                return static_cast<int64_t>(i);
        i += len;
    }
    return -1;
}

int64_t scan_long_line(const char *data, size_t n, size_t max)
{
    // From a line start, a newline within the next max + 1 bytes ends that
    // line in time; the last such newline lets the scan leap ahead.
    size_t at = 0;
    while (at < n) {
        size_t window = n - at < max + 1 ? n - at : max + 1;
        auto *nl = static_cast<const char *>(memrchr(data + at, '\n', window));
        if (!nl)
            return static_cast<int64_t>(at);
        at = static_cast<size_t>(nl - data) + 1;
    }
    return -1;
}

int64_t scan_plain_ascii(const char *data, size_t n)
{
    // Branch-free over blocks of 64, so the compiler can use vectors.
    size_t at = 0;
    for (; at + 64 <= n; at += 64) {
        unsigned odd = 0;
        for (size_t i = 0; i < 64; i++) {
            auto c = static_cast<unsigned char>(data[at + i]);
            odd |= (c < 0x20) | (c > 0x7E);
        }
        if (odd)
            break;
    }
    for (; at < n; at++) {
        auto c = static_cast<unsigned char>(data[at]);
        if (c < 0x20 || c > 0x7E)
            return static_cast<int64_t>(at);
    }
    return -1;
}
