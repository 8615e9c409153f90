// Saving what was read of the current input to a file of the user's.
#pragma once
#include <cstddef>

// The file the typed text names, in path (a leading "~/" is the home
// folder): true when there is one to write; false for an empty text, and
// for a name too long or a folder, which are reported.
bool save_target(const char *typed, char *path, size_t size);
// Whether path names something that saving would replace.
bool save_exists(const char *path);
// Write what was read of the current input (or the lines the filter shows)
// as a new file beside path, renamed over it once whole: a failure or an
// interrupt leaves no file behind and is reported; true when saved.
bool save_input(const char *path);
