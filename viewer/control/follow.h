// Follow mode: keep showing the end of the input as it grows.
#pragma once

// Go to the end and show new input as it arrives until the user interrupts
// or types a key, which is then the next command; normal paging goes on at
// the end of what was read.
void follow_input();
