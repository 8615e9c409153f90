// The file list, the current input, and shutdown.
#pragma once

extern char **file_list;
extern int file_count;
extern int file_index;                // the entry shown
// The entry the next- and previous-file commands count from: the one last
// tried, shown or not, so that a file that cannot be opened is passed over.
extern int file_tried;
extern char *current_file_name;       // "-" for standard input
extern char *previous_file_name;
extern int output_is_terminal;
extern int file_just_opened;
extern char *editor_command;
extern char *first_command;           // run on every newly opened input
// Set while the keys being run come from the every-file command: a file
// they open does not run it again, or "++:e" would open files for ever.
extern int running_every_file_command;
// --watch's interval, 0 when not watching.
extern int watch_ms;

// The names that follow the options; the editor and the mode are learnt
// from the environment with them.
void program_set_files(char **names, int count);
// Copying mode: copy each named file, or standard input, to standard output
// and exit, with status 1 when one could not be opened.
[[noreturn]] void copy_files();
// View the first input that can be opened: 0, or 1 when none could be.
int view_first_file();
// Make an input current; 0 on success, 1 when it could not be (a message was
// shown and the current input is unchanged).
int view_file(const char *name);
// Open the current file again by its name, which may now lead to another
// file, and read it from its start; 1 (nothing changed) when the input is
// not a regular file opened by name or the name leads to none.
int reopen_file();
// Read the current input again for watching: a command is run anew, a
// named regular file opened again; 1 (nothing changed) for anything else.
int refresh_input();
// Whether the current input is the command of --exec.
bool input_is_command();
void view_next_file(int n);
void view_prev_file(int n);
// Take the terminal for interactive mode: its description, the signal
// handlers, raw mode and the keyboard; from then on the way out gives it back.
void program_take_terminal();
// Orderly shutdown: finish the log, restore the terminal, exit; a status of
// 0 becomes 1 when the log or the output lost data.
[[noreturn]] void finish_and_exit(int status = 0);
// Shutdown after the input was written as plain output (-F): the terminal
// gets its modes back, and the screen is left as it is.
[[noreturn]] void finish_plain();
// Exhausted memory: "cannot allocate memory", then shutdown with status 2.
[[noreturn]] void out_of_memory();
// Whether p points into the text of the every-file command.
bool in_every_file_command(const char *p);
// Replace the every-file command (nullptr: none); keys still pending from
// the old one stay valid.
void set_first_command(const char *text);
// A heap copy; the program ends with a message when memory is exhausted.
char *copy_string(const char *s);
// nullptr for a file that can be viewed: a regular file, or a named pipe or
// character device (*stream set: read once, as standard input is); else a
// message in buffer (a directory, anything else).
const char *check_input_file(const char *name, char *buffer, int size, bool *stream);
// The name, ": " and the system's text for errno, cut to fit size.
char *error_text(const char *name, char *buffer, int size);
// Copy the rest of the current input to standard output.
void copy_to_output();
