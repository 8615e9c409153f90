// The rows held at the top of the screen while the text scrolls under
// them: the input's first lines (--header), and below them the line that
// starts the section shown (--section). The painter asks here what they
// are and tells the view's geometry how many rows they take.
#pragma once
#include "viewer/display/cell.h"
#include "viewer/display/style.h"
#include "viewer/input/buffer.h"

// How the section shown from top on begins: the last line before top, at
// or after floor, that starts a section; NO_POSITION for none or when it
// is not known. The sections register it (nullptr: no sections).
void header_set_sections(file_pos (*start_before)(file_pos top, file_pos floor));

// Measure the header lines for the window as it is, waiting on a pipe
// until they have come. While they had not all come before, show is given
// each row as it is built (its index among the header rows), so that what
// has come stands on the screen during the wait. Whether the rows held or
// where the text begins changed.
bool header_measure(void (*show)(int index, const display_row &row));
// Where the text under the header begins: after its lines, 0 without.
file_pos header_body_start();
// Rows the header lines take on the screen.
int header_line_rows();

// What learning the section start for a top line changed.
enum class held_change { none, line, rows };
// Learn which line starts the section shown from top on.
held_change header_section_for(file_pos top);
// That line, held below the header lines, or NO_POSITION.
file_pos header_section_line();

// The style pass of a held row: every cell in the header's style.
void header_style(const display_row &row, cell_style *styles);
