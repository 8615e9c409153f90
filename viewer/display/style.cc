#include "viewer/display/style.h"

void style_row(const display_row &row, cell_style *styles)
{
    // Once a colour sequence has come, the rest of the row stands in what it
    // left: the viewer's own modes must clear it first, and the row end too.
    cell_style colour = STYLE_PLAIN;
    for (int i = 0; i < row.count; i++) {
        line_cell c = row.cells[i];
        cell_style style = colour;
        switch (c & CELL_KIND) {
        case CELL_ESCAPE:
            // A link carries no colour.
            if (row.escapes[escape_offset(c) + 1] != ']')
                colour = style = STYLE_INPUT_COLOUR;
            break;
        case CELL_EDGE:
            style |= STYLE_MARKER;
            break;
        default:
            break;
        }
        styles[i] = style;
    }
}
