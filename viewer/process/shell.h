// Shell commands, file-name expansion and the help screen.
#pragma once

// Run a command through the user's shell with the terminal handed over; a
// leading '-' runs it without announcing it.
void run_shell_command(const char *command);
// The first line of the shell's echo of pattern (at most 127 characters),
// or the pattern itself when it cannot be expanded or an interrupt stops it.
const char *glob(const char *pattern);
// Run a second viewer on the help file, then say so.
void show_help();
