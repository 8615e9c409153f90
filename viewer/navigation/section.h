// Sections: the lines that match a pattern (--section) start them. The
// moves between their starts, and the start of the section shown, held
// on the top row while the section scrolls under it.
#pragma once

// Lines matching pattern start sections from now on (nullptr or "": no
// sections); false, with the message shown, when it does not compile.
bool section_set(const char *pattern);
// The pattern given, or nullptr.
const char *section_pattern();
// Show the n-th section after the top line (forward), or before the
// section shown (backward): its start on the row held for it, the
// section's text under it.
void section_move(int forward, int n);
