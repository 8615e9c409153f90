// Terminal modes and termcap capabilities.
#pragma once

// The most rows a window can have: the row count of a window size is 16 bits.
constexpr int MAX_SCREEN_ROWS = 65535;

extern int screen_rows;        // lines on the screen, the bottom line included
extern int screen_cols;
extern int wraps_at_margin;    // "am"
extern int wrap_glitch;        // "xn"
extern int hard_copy;
// Columns taken by each mode change ("sg", or 0).
extern int standout_on_width, standout_off_width;
extern int underline_on_width, underline_off_width;
extern int bold_on_width, bold_off_width;
// The terminal's erase, line-kill and word-erase characters, learnt on
// entering raw mode.
extern int erase_key, kill_key, word_erase_key;
// Set when the cursor could not be put back where a paint left it; cleared
// by whoever watches for it.
extern int term_cursor_lost;

// on != 0: save the modes of descriptor 2 and enter raw mode; 0: restore.
void term_set_mode(int on);
// Read the terminal description and the window size.
void term_setup();
// The message module lies above this one, so the program registers at start
// how a capability the terminal lacks is told (show_error); until then it
// goes to standard error.
void term_set_warning_hook(void (*warn)(const char *message));
// Give back the modes (and leave the screen) in a dying process; safe in a
// signal handler.
void term_restore_emergency();
// Make exit() call term_restore_emergency, whoever calls exit.
void term_restore_at_exit();

// Whether a line can be inserted at the top: without it, every move
// backward repaints the screen.
bool term_can_scroll_back();
// Whether the screen can be cleared and the cursor sent home: painting
// whole screens as keys are typed is then quick enough.
bool term_paints_quickly();
// What a key of the terminal sends, from its description; nullptr if none.
const char *term_key_string(const char *id);

// Send the initialisation string, once until the end string is sent.
void term_init_screen();
void term_deinit_screen();
// The initialisation string was sent, and the end string not since.
int term_screen_entered();
// Only if the screen mode was entered: the cursor to a cleared bottom line,
// then the end string; 1 when it was entered.
int term_leave_screen();
// Mouse reporting on (while in screen mode) or off.
void term_set_mouse(int on);
void term_home();
void term_insert_line();
void term_lower_left();
// Remember where the cursor is, and go back there. On a terminal that
// cannot, the screen is marked stale and term_cursor_lost set.
void term_save_cursor();
void term_restore_cursor();
void term_bell();
void term_visual_bell();
void term_clear();
void term_clear_eol();
void term_standout_on();
void term_standout_off();
void term_underline_on();
void term_underline_off();
void term_bold_on();
void term_bold_off();
void term_attributes_off();
// The colours of the highlight palette: entry index in its own colours
// (through the terminal's colour strings; underline or bold, in turn,
// where it has none), and back to the default colours. Other modes may
// end with them.
constexpr int HIGHLIGHT_COLOURS = 8;
void term_highlight_on(int index);
void term_highlight_off(int index);
// The elements of a language that syntax colours show, each in a
// foreground colour of its own (bold or underline, or nothing, where the
// terminal has no colours); 0 is none.
enum syntax_element : int {
    SYNTAX_NONE,
    SYNTAX_KEYWORD,
    SYNTAX_TYPE,
    SYNTAX_STRING,
    SYNTAX_NUMBER,
    SYNTAX_COMMENT,
    SYNTAX_PREPROC,
    SYNTAX_FUNCTION,
    SYNTAX_ELEMENTS
};
void term_syntax_on(int element);
void term_syntax_off(int element);
// A command's error lines: their own foreground colour (bold where the
// terminal has no colours), and back.
void term_error_on();
void term_error_off();
// Every other column of a table (--column-colours): a colour of its own
// (underline where the terminal has none), and back.
void term_column_tint_on();
void term_column_tint_off();
void term_backspace();
// Erase the character left of the cursor: backspace, space, backspace.
void term_erase_char();
