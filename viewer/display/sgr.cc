#include "viewer/display/sgr.h"

#include <cstdio>

namespace {

constexpr int MAX_PARAMETERS = 32;
constexpr int OVERLINE_BIT = 10;

struct parameters {
    int value[MAX_PARAMETERS];
    bool sub[MAX_PARAMETERS];   // written after a ':', a part of the one before
    int count;
};

// The numbers between "ESC [" and "m"; an empty one is 0, and what does
// not fit is dropped.
void split(const char *s, int length, parameters &p)
{
    p.count = 0;
    int value = 0;
    bool sub = false;
    for (int i = 2; i < length; i++) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            if (value < 100000)
                value = value * 10 + (c - '0');
            continue;
        }
        if (p.count < MAX_PARAMETERS) {
            p.value[p.count] = value;
            p.sub[p.count++] = sub;
        }
        value = 0;
        sub = c == ':';
    }
}

// An extended colour: "5;n" or "2;r;g;b" after 38, 48 or 58, the numbers
// at at (count of them); how many were used.
int extended_colour(const int *at, int count, bool colon_form, sgr_colour &colour)
{
    if (count >= 2 && at[0] == 5) {
        colour = {SGR_INDEXED, static_cast<uint8_t>(at[1]), 0, 0};
        return 2;
    }
    if (at[0] == 2) {
        // The colon form may name a colour space before the three values.
        int skip = colon_form && count >= 5 ? 1 : 0;
        if (count >= 4 + skip) {
            colour = {SGR_RGB, static_cast<uint8_t>(at[1 + skip]),
                      static_cast<uint8_t>(at[2 + skip]), static_cast<uint8_t>(at[3 + skip])};
            return 4 + skip;
        }
    }
    return count;
}

void set_flag(sgr_state &s, int bit, bool on)
{
    if (on)
        s.flags = static_cast<uint16_t>(s.flags | 1u << bit);
    else
        s.flags = static_cast<uint16_t>(s.flags & ~(1u << bit));
}

int put_colour(char *out, int base, const sgr_colour &c)
{
    switch (c.kind) {
    case SGR_BASIC:
        return snprintf(out, 24, ";%d", c.r < 8 ? base + c.r : base + 60 + c.r - 8);
    case SGR_INDEXED:
        return snprintf(out, 24, ";%d;5;%d", base + 8, c.r);
    case SGR_RGB:
        return snprintf(out, 24, ";%d;2;%d;%d;%d", base + 8, c.r, c.g, c.b);
    default:
        return 0;
    }
}

} // namespace

void sgr_apply(sgr_state &s, const char *sequence, int length)
{
    parameters p;
    split(sequence, length, p);
    if (p.count == 0)
        s = {};
    for (int i = 0; i < p.count;) {
        int v = p.value[i];
        int subs = 0;
        while (i + 1 + subs < p.count && p.sub[i + 1 + subs])
            subs++;
        const int *after = p.value + i + 1;
        int next = i + 1 + subs;
        if (v == 38 || v == 48 || v == 58) {
            sgr_colour &c = v == 38 ? s.foreground : v == 48 ? s.background : s.underline_colour;
            if (subs > 0)
                extended_colour(after, subs, true, c);
            else
                next += extended_colour(after, p.count - i - 1, false, c);
            i = next;
            continue;
        }
        if (v == 0)
            s = {};
        else if (v == 4)
            set_flag(s, 4, subs == 0 || after[0] != 0);  // "4:0" is no underline
        else if (v >= 1 && v <= 9)
            set_flag(s, v == 6 ? 5 : v, true);
        else if (v == 21)
            set_flag(s, 4, true);
        else if (v == 22) {
            set_flag(s, 1, false);
            set_flag(s, 2, false);
        } else if (v >= 23 && v <= 29 && v != 26)
            set_flag(s, v - 20, false);
        else if (v >= 30 && v <= 37)
            s.foreground = {SGR_BASIC, static_cast<uint8_t>(v - 30), 0, 0};
        else if (v == 39)
            s.foreground = {};
        else if (v >= 40 && v <= 47)
            s.background = {SGR_BASIC, static_cast<uint8_t>(v - 40), 0, 0};
        else if (v == 49)
            s.background = {};
        else if (v == 53 || v == 55)
            set_flag(s, OVERLINE_BIT, v == 53);
        else if (v == 59)
            s.underline_colour = {};
        else if (v >= 90 && v <= 97)
            s.foreground = {SGR_BASIC, static_cast<uint8_t>(v - 90 + 8), 0, 0};
        else if (v >= 100 && v <= 107)
            s.background = {SGR_BASIC, static_cast<uint8_t>(v - 100 + 8), 0, 0};
        i = next;
    }
}

bool sgr_plain(const sgr_state &s)
{
    return s.flags == 0 && s.foreground.kind == SGR_DEFAULT &&
           s.background.kind == SGR_DEFAULT && s.underline_colour.kind == SGR_DEFAULT;
}

int sgr_write(const sgr_state &s, char *out)
{
    int n = snprintf(out, SGR_TEXT_MAX, "\033[0");
    for (int bit = 1; bit <= OVERLINE_BIT; bit++)
        if (s.flags & 1u << bit)
            n += snprintf(out + n, 8, ";%d", bit == OVERLINE_BIT ? 53 : bit);
    n += put_colour(out + n, 30, s.foreground);
    n += put_colour(out + n, 40, s.background);
    if (s.underline_colour.kind != SGR_DEFAULT) {
        // 58 has no short forms: a basic colour is given by its index.
        sgr_colour c = s.underline_colour;
        if (c.kind == SGR_BASIC)
            c.kind = SGR_INDEXED;
        n += put_colour(out + n, 50, c);
    }
    out[n++] = 'm';
    return n;
}
