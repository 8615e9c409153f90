// The style of each cell of a row: what the viewer shows it in, given by
// passes over the row value, one pass a concern, and turned into terminal
// modes by the painter alone.
#pragma once
#include <cstdint>

#include "viewer/display/cell.h"

// A row's styles are an array of small integers, one a cell, so that a pass
// is a loop that sets bits. The low bits hold a highlight class (0: none;
// the search match is class 1, and more patterns take the classes after
// it); the bits above them say where a cell stands. The top bits hold the
// syntax element a cell belongs to (0: none), which shows only where no
// highlight class does.
using cell_style = uint16_t;
constexpr cell_style STYLE_PLAIN = 0;
constexpr cell_style STYLE_CLASS = 0xF;                 // the highlight class
constexpr cell_style STYLE_MATCH = 1;                   // class 1: the search
constexpr cell_style STYLE_INPUT_COLOUR = 1u << 4;      // after colour from the input
constexpr cell_style STYLE_MARKER = 1u << 5;            // '<' '>' at a cut line's edges
constexpr cell_style STYLE_HEADER = 1u << 6;            // a header row
constexpr cell_style STYLE_NUMBER = 1u << 7;            // the number column
constexpr cell_style STYLE_COLUMN_TINT = 1u << 8;       // every other column (--column-colours)
constexpr int STYLE_SYNTAX_SHIFT = 12;
constexpr cell_style STYLE_SYNTAX = 0xFu << STYLE_SYNTAX_SHIFT;  // a syntax element

// The most cells a row has, its terminator aside.
constexpr int STYLE_ROW_CELLS = 4096;

// The first pass: what the row's own cells say, the viewer's markers and
// the colour the input gave; every other style plain.
void style_row(const display_row &row, cell_style *styles);
