// The escape sequences that the screen turns into colour, links or
// nothing rather than text: one rule for the line assembler, which passes
// them to the terminal, and for the matcher, which takes them out so that
// a search sees the line as it is shown.
#pragma once
#include <cstddef>

// What the bytes read so far after an escape byte are.
enum escape_kind {
    ESCAPE_NONE,     // no sequence passed: the escape byte is shown as text
    ESCAPE_MORE,     // a sequence may still follow
    ESCAPE_COLOUR,   // ESC [ digits, ';' and ':' m
    ESCAPE_LINK,     // ESC ] 8 ; parameters ; URI of printable ASCII, then BEL or ESC '\'
    ESCAPE_ERASE,    // ESC [ K or ESC [ 0 K: dropped, the viewer clears rows itself
};
// The longest colour sequence passed; a longer one is shown as text.
constexpr int ESCAPE_COLOUR_MAX = 64;
// The longest hyperlink passed, from its escape to its end.
constexpr int ESCAPE_LINK_MAX = 2048;

// Whether colour and link sequences are recognised (-r not asking for
// their caret form, or --plain taking them out).
bool escape_passed();

// A sequence read a byte at a time, from the byte after the escape on.
struct escape_reader {
    int length = 1;            // bytes so far, the escape's included
    unsigned char opener = 0;  // '[' or ']'
    unsigned char first = 0;   // the byte after a '[': a '0' before a 'K' still erases
    int fields = 0;            // a link's ';' so far
    bool closing = false;      // a link's ESC before its '\\'
};
// Take the next byte: ESCAPE_MORE until the sequence is decided.
escape_kind escape_step(escape_reader &r, unsigned char b);

// The length of the sequence passed that begins at s (an escape byte)
// within n bytes, with its kind in *kind; 0 when there is none, also when
// the bytes end before it does.
int escape_length(const char *s, size_t n, escape_kind *kind);
