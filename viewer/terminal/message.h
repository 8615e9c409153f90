// Messages on the bottom line (or on standard error before the screen).
#pragma once

// show_error calls so far, wherever the message went.
extern int error_count;

// The program lies above every module that must leave or repaint, so it
// registers at start its orderly way out (finish_and_exit) and the repaint
// of a screen that a long message scrolled.
void message_set_hooks(void (*leave)(int status), void (*repaint)());
// Show message, if there is one, then leave through the program's way out.
[[noreturn]] void message_fatal(const char *message, int status);

// Show a message and wait for a key; a command key typed to dismiss it is
// kept as the next command. Before the screen is in use: standard error.
void show_error(const char *message);
// Out of the screen mode, with a child's output in sight: the next message
// goes below it, and the screen mode comes back once it is answered.
void message_below_output();
// Put text (and suffix, the viewer's own) on the bottom line in standout,
// cut to fit in it.
void show_bottom_line(const char *text, const char *suffix = nullptr);
// Show a progress message for a long operation that an interrupt can stop.
void show_notice(const char *message);
