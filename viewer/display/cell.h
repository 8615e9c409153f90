// The cells of a display line, shared by line assembly, the sideways view
// of chopped lines and the painter.
#pragma once
#include <cstdint>

#include "viewer/input/buffer.h"
#include "viewer/terminal/text.h"

// A display line is a 0-terminated string of cells, one per character.
// The low bits hold the character: a byte in a single-byte locale, a code
// point in a UTF-8 one; the kind bits say how it is shown. Every control
// byte of the input becomes a caret cell, so a plain cell below 0x20 is
// always the viewer's own: tab, backspace or one of the four markers.
using line_cell = uint32_t;
constexpr line_cell MARK_UNDERLINE_ON = 0x15;
constexpr line_cell MARK_UNDERLINE_OFF = 0x16;
constexpr line_cell MARK_BOLD_ON = 0x17;
constexpr line_cell MARK_BOLD_OFF = 0x18;
constexpr line_cell CELL_KIND = 0xFu << 24;
constexpr line_cell CELL_CHAR = 0xFFFFFF;     // the character bits
constexpr line_cell CELL_WIDE = 1u << 24;     // a character two columns wide
constexpr line_cell CELL_ZERO = 2u << 24;     // a combining character, no column
constexpr line_cell CELL_CARET = 3u << 24;    // '^' and the letter in the low byte
constexpr line_cell CELL_HEX = 4u << 24;      // "<XX>" for the byte in the low byte
constexpr line_cell CELL_ESCAPE = 5u << 24;   // a colour or link sequence, no column;
                                              // its bytes are in the line's escapes
constexpr line_cell CELL_HEXCODE = 6u << 24;  // a character that is not printable:
                                              // "<XX>" for each byte of its UTF-8 form
constexpr line_cell CELL_EDGE = 7u << 24;     // '<' or '>' in standout: a chopped
                                              // line goes on beyond the view

// The escape bytes a cell stands for lie in a pool of ESCAPE_POOL_SIZE
// bytes: the cell holds their offset and count.
constexpr int ESCAPE_POOL_SIZE = 4096;
constexpr int ESCAPE_LENGTH_BITS = 12;

constexpr line_cell escape_cell(int offset, int length)
{
    return CELL_ESCAPE | static_cast<line_cell>(offset) << ESCAPE_LENGTH_BITS |
           static_cast<line_cell>(length);
}
constexpr int escape_offset(line_cell c)
{
    return static_cast<int>((c & CELL_CHAR) >> ESCAPE_LENGTH_BITS);
}
constexpr int escape_length(line_cell c)
{
    return static_cast<int>(c & ((1u << ESCAPE_LENGTH_BITS) - 1));
}

// A row as it was built: a value that the style passes and the painter
// read. It points into the storage of whoever built it (the line builder,
// or the sideways view of chopped lines) and holds until the next row is
// built.
struct display_row {
    const line_cell *cells;     // 0-terminated; nullptr: a row past the end
    const int *columns;         // the row column each cell starts at
    const file_pos *positions;  // the input position of the character each shows
    const char *escapes;        // the bytes of the escape cells
    int count;                  // cells, the terminator aside
    file_pos start;             // where the row's input begins (with -S the start
                                // of its line); NO_POSITION for a line made by
                                // line_add
    file_pos pos;               // the position it was built at: the one asked for,
                                // or past it the first line a filter shows
    file_pos next;              // where the next row begins, or NO_POSITION
};

// The cell of a decoded character; byte is its first byte.
inline line_cell cell_of(const text_char &c, int byte)
{
    switch (c.form) {
    case FORM_CARET:
        return CELL_CARET | static_cast<line_cell>(text_control_letter(byte));
    case FORM_HEX:
        return c.length == 1 ? CELL_HEX | static_cast<line_cell>(byte & 0xFF)
                             : CELL_HEXCODE | static_cast<line_cell>(c.code);
    case FORM_PLAIN:
        break;
    }
    line_cell code = static_cast<line_cell>(c.code);
    return c.columns == 2 ? CELL_WIDE | code : c.columns == 0 ? CELL_ZERO | code : code;
}

// Columns of a character's cell by its kind (the viewer's own cells, tab,
// backspace and the markers, aside).
inline int cell_kind_columns(line_cell c)
{
    switch (c & CELL_KIND) {
    case CELL_WIDE:
    case CELL_CARET:
        return 2;
    case CELL_ZERO:
    case CELL_ESCAPE:
        return 0;
    case CELL_HEX:
        return 4;
    case CELL_HEXCODE: {
        char bytes[4];
        return 4 * text_encode(static_cast<int>(c & CELL_CHAR), bytes);
    }
    default:
        return 1;
    }
}
