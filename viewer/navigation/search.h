// Searching for lines that match, or do not match, a regular expression.
#pragma once

// Move to the n-th line after (forward) or before the screen whose match
// of the pattern equals match_wanted. A null or empty pattern means the
// previous one; the pattern may be folded to lower case in place.
void search_text(int forward, char *pattern, int n, int match_wanted);
