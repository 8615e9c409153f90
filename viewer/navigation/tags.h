// Tags: start at the definition named in the "tags" file.
#pragma once

// File named by the last successful lookup, or nullptr.
extern char *tag_file_name;

// Find a tag in "tags"; sets tag_file_name or shows why not.
void tag_lookup(const char *tag);
// Go to the first line equal to the tag's search text; 0 found, 1 not.
int tag_locate();
