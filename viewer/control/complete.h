// Completion of file names in the text of the examine command, and of
// long option names after "- -".
#pragma once

// Tab: complete the word before the cursor as a file name. One match goes
// in whole (a directory with its '/'); several put in what they have in
// common and ring the bell; `again` (a second Tab in a row) lists them on
// the bottom rows instead.
void complete_tab(bool again);
// Tab after "- -": the long option name before the cursor, the same way;
// after its '=', the value of a choice.
void complete_option_name(bool again);
// After the key that follows a list: the screen is painted again.
void complete_dismiss();
