// Follow mode: keep showing the end of the input as it grows.
#pragma once

// Go to the end and show new input as it arrives until the user interrupts
// or types a key, which is then the next command; normal paging goes on at
// the end of what was read. Under --watch, an input that can be read again
// is watched instead.
void follow_input();
// --watch at start: watch the input if it can be read again (a named
// regular file, the command of --exec), until a key; else nothing.
void watch_start();
