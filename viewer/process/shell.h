// Shell commands, file-name expansion and the help screen.
#pragma once
#include <string>

// Run a command through the user's shell with the terminal handed over; a
// leading '-' runs it without announcing it. With keep_output the screen
// mode comes back only after the next message, shown below the output.
void run_shell_command(const char *command, bool keep_output = false);
// The first line of the shell's echo of pattern (at most 127 characters),
// or the pattern itself when it cannot be expanded or an interrupt stops it.
const char *glob(const char *pattern);
// Run this viewer's own program on its help file, then say so.
void show_help();
// Text as one word for the POSIX shell: in single quotes, each ' as '\''.
std::string shell_quote(const char *text);
// This viewer is the one showing the help.
bool in_help_viewer();
// QUOREL_SECURE=1: nothing reaches beyond the files the viewer was given.
bool secure_mode();
// In secure mode, show "Command not available" and return true.
bool secure_refuse();
