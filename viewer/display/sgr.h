// Colour and attribute sequences (SGR, "ESC [ ... m"): the state a run of
// them leaves, so that a row painted from the middle of a line, or a
// chopped line scrolled sideways, starts in the attributes the line's
// earlier sequences left.
#pragma once
#include <cstdint>

struct sgr_colour {
    uint8_t kind;           // SGR_DEFAULT, SGR_BASIC, SGR_INDEXED or SGR_RGB
    uint8_t r, g, b;        // SGR_BASIC, SGR_INDEXED: the index in r
};
constexpr uint8_t SGR_DEFAULT = 0;
constexpr uint8_t SGR_BASIC = 1;    // 30-37 and 90-97 (index 8-15), their own codes
constexpr uint8_t SGR_INDEXED = 2;  // "38;5;n"
constexpr uint8_t SGR_RGB = 3;      // "38;2;r;g;b"

struct sgr_state {
    uint16_t flags;         // bit n: attribute n (1 bold to 9 crossed out; 10 overline)
    sgr_colour foreground, background, underline_colour;
};

// The longest sequence sgr_write makes.
constexpr int SGR_TEXT_MAX = 80;

// Apply one whole sequence (ESC, '[', parameters, 'm') to state.
void sgr_apply(sgr_state &state, const char *sequence, int length);
// Whether state is the terminal's plain one.
bool sgr_plain(const sgr_state &state);
// A sequence that takes a terminal from plain to state, in out (room for
// SGR_TEXT_MAX bytes); its length.
int sgr_write(const sgr_state &state, char *out);
