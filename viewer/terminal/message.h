// Messages on the bottom line (or on standard error before the screen).
#pragma once

// show_error calls so far, wherever the message went.
extern int error_count;

// Show a message and wait for a key; a command key typed to dismiss it is
// kept as the next command. Before the screen is in use: standard error.
void show_error(const char *message);
// Show a progress message for a long operation that an interrupt can stop.
void show_notice(const char *message);
