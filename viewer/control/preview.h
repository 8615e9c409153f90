// The view while a search pattern is typed: the first match from where
// the search starts, found again after every key.
#pragma once
#include "viewer/input/buffer.h"

// A search is being typed: note where it starts and what the screen shows.
// Previews are off with -I, on a terminal that cannot repaint quickly, and
// while keys are taken from a start command.
void preview_begin(int forward);
// The pattern (its modifiers apart) is now this: show its n-th match within
// the bound of one key, or the view the search started from.
void preview_update(const char *pattern, int n, int match_wanted);
// The search is cancelled or about to run: the view it started from and the
// last search's highlighting come back. Where the search starts.
file_pos preview_finish();
