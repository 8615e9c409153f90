// Changing and showing options while viewing.
#pragma once

// text: the option letter and the typed value. change 1: change the
// option, then show it; 0: only show it.
void option_change(const char *text, int change);
