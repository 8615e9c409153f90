// Changing and showing options while viewing.
#pragma once

// text: the option letter and the typed value. change 1: change the
// option, then show it; 0: only show it.
void option_change(const char *text, int change);
// text: a long name (no "--", any unique beginning of one), then '=' or a
// blank and the value, if any. A flag's name toggles it and its "no-" form
// turns it off; NAME=VALUE sets; a name alone shows a number or a choice.
// change 0: only show.
void option_change_long(const char *text, int change);
// Apply a text option that may change while viewing (--highlight,
// --jump-target), at start or after "- -"; false for any other.
bool apply_view_option(const char *option, const char *text);
