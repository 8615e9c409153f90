#include "viewer/terminal/term.h"

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <termcap.h>
#include <new>
#include <termios.h>
#include <unistd.h>

#include "common/strings.h"

#include "viewer/options/option.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/text.h"


int screen_rows = 24;
int screen_cols = 80;
int wraps_at_margin;
int wrap_glitch;
int hard_copy;
int standout_on_width, standout_off_width;
int underline_on_width, underline_off_width;
int bold_on_width, bold_off_width;
int erase_key, kill_key, word_erase_key;
int term_cursor_lost;

namespace {

constexpr int TERMCAP_BUFFER_SIZE = 2048;
constexpr int CAPABILITY_AREA_SIZE = 1024;

// At least one text row is needed above the bottom line; a one-column
// screen leaves no room for a character beside a mode change. The column
// limit keeps column arithmetic small.
constexpr int MIN_ROWS = 2;
constexpr int MIN_COLS = 2;
constexpr int MAX_COLS = 1000;
// Real terminals spend a column or two on a mode change; a larger "sg"
// would leave no room for text on a line.
constexpr int MAX_MODE_WIDTH = 8;

constexpr char HOME_MARKER[] = "|\b^";

// What a terminal without a usable description looks like: "dumb:co#80:hc:".
struct fallback_number {
    const char *id;
    int value;
};
constexpr fallback_number FALLBACK_NUMBERS[] = {{"co", 80}};
constexpr const char *FALLBACK_FLAGS[] = {"hc"};

termios saved_terminal_mode;
int mode_saved;                 // saved_terminal_mode holds real settings
// The viewer's modes are in force, and its initialisation string was sent:
// what a dying process must undo.
volatile sig_atomic_t raw_in_force;
volatile sig_atomic_t init_sent;
volatile sig_atomic_t mouse_reporting;
// Screen mode was entered (its "ti" sent, or held back by -X) and not left.
int screen_entered;

// Mouse reporting as xterm and its followers offer it: button events (1000)
// in the SGR form (1006), which has no limit on the column.
constexpr char MOUSE_ON[] = "\033[?1000h\033[?1006h";
constexpr char MOUSE_OFF[] = "\033[?1006l\033[?1000l";

char capability_area[CAPABILITY_AREA_SIZE];
char *area_fill = capability_area;
int description_loaded;         // 0: answer queries from the fallback entry

const char *init_string = "";
const char *deinit_string = "";
const char *clear_eol_string = "";
const char *clear_string = "";
const char *standout_on_string = "";
const char *standout_off_string = "";
const char *underline_on_string = "";
const char *underline_off_string = "";
const char *bold_on_string = "";
const char *bold_off_string = "";
const char *attributes_off_string = "";
const char *visual_bell_string = "";
const char *home_string = HOME_MARKER;
const char *lower_left_string = "\r";
const char *insert_line_string = "";
// Until a description says otherwise, as nothing is painted before one is read.
bool scrolls_back = true;
const char *save_cursor_string = "";
const char *restore_cursor_string = "";
const char *backspace_string = "\b";
// The highlight palette's colours as this terminal sets them, foreground
// and background per entry; none where it has no colours.
const char *highlight_strings[HIGHLIGHT_COLOURS][2];
const char *original_colours_string = "";
// Red text for a command's error lines, where there are colours.
const char *error_colour_string = "";
const char *column_colour_string = "";
bool has_colours;
// The syntax elements' foreground colours, where there are colours and
// room for them all.
const char *syntax_strings[SYNTAX_ELEMENTS];
bool syntax_coloured;
// Each element's ANSI colour number, and its mode without colours: keywords
// blue, types green, strings red, numbers and the preprocessor magenta,
// comments cyan, functions yellow.
constexpr int SYNTAX_COLOUR[SYNTAX_ELEMENTS] = {0, 4, 2, 1, 5, 6, 5, 3};
enum { SYNTAX_PLAIN, SYNTAX_BOLD, SYNTAX_UNDERLINE };
constexpr int SYNTAX_MODE[SYNTAX_ELEMENTS] = {
    SYNTAX_PLAIN, SYNTAX_BOLD, SYNTAX_BOLD, SYNTAX_PLAIN,
    SYNTAX_PLAIN, SYNTAX_UNDERLINE, SYNTAX_BOLD, SYNTAX_PLAIN,
};
// The palette, in the ANSI colour numbers of AF and AB: black, red, green,
// yellow, blue, magenta, cyan, white. Each differs from the others in its
// background or its foreground.
constexpr int PALETTE[HIGHLIGHT_COLOURS][2] = {
    {0, 3}, {0, 6}, {0, 2}, {7, 5}, {7, 1}, {7, 4}, {0, 7}, {1, 7},
};
// Sf and Sb number the colours with red and blue swapped.
constexpr int SF_NUMBER[8] = {0, 4, 2, 6, 1, 5, 3, 7};

int cap_number(const char *id)
{
    if (description_loaded)
        return tgetnum(id);
    for (const fallback_number &n : FALLBACK_NUMBERS)
        if (strcmp(n.id, id) == 0)
            return n.value;
    return -1;
}

int cap_flag(const char *id)
{
    if (description_loaded)
        return tgetflag(id) > 0;
    for (const char *flag : FALLBACK_FLAGS)
        if (strcmp(flag, id) == 0)
            return 1;
    return 0;
}

// Copy s into the capability area; nullptr when it does not fit, so that
// an oversized string counts as missing rather than overrunning the area.
const char *keep_string(const char *s)
{
    if (s == nullptr)
        return nullptr;
    size_t size = strlen(s) + 1;
    if (size > static_cast<size_t>(capability_area + CAPABILITY_AREA_SIZE - area_fill))
        return nullptr;
    char *kept = area_fill;
    memcpy(kept, s, size);
    area_fill += size;
    return kept;
}

// The library hands out its own copy when given no area; the copy into
// ours is then bounded here.
const char *fetch_string(const char *id)
{
    if (!description_loaded)
        return nullptr;
    return keep_string(tgetstr(id, nullptr));
}

bool usable(const char *s)
{
    return s != nullptr && *s != '\0' && !hard_copy;
}

// How a missing string capability is taken.
enum capability_need {
    ANY,        // used as given, even empty or on a hard-copy terminal
    SHOWN,      // an attribute or flash: none on a hard-copy terminal
    USABLE,     // a motion or clear: empty, or on a hard-copy terminal, is missing
};

// The string capabilities that stand alone; the attributes that fall back
// on others, and the motions built from "cm", follow in read_description.
struct string_capability {
    const char *id;
    const char **string;
    capability_need need;
    const char *fallback;   // used when it is missing
    const char *warning;    // what the terminal then cannot do, or nullptr
};
constexpr string_capability STRING_CAPABILITIES[] = {
    {"ti", &init_string, ANY, "", nullptr},
    {"te", &deinit_string, ANY, "", nullptr},
    {"ce", &clear_eol_string, USABLE, "", "clear to end of line"},
    {"cl", &clear_string, USABLE, "\n\n", "clear screen"},
    {"so", &standout_on_string, SHOWN, "", nullptr},
    {"se", &standout_off_string, SHOWN, "", nullptr},
    {"me", &attributes_off_string, SHOWN, "", nullptr},
    {"vb", &visual_bell_string, SHOWN, "", nullptr},
    {"sc", &save_cursor_string, USABLE, "", nullptr},
    {"rc", &restore_cursor_string, USABLE, "", nullptr},
};

// The terminal type whose missing capabilities were last reported: a
// window-size change reads the description again, and the user was told
// already (five messages, each waiting for RETURN, after every change of
// size made a terminal without them look hung).
char warned_type[128];
bool warnings_due;
void (*warning_hook)(const char *message);

void warn(const char *phrase)
{
    if (opt_d == 1 || !warnings_due)
        return;
    char message[80];
    snprintf(message, sizeof message, "WARNING: terminal cannot \"%s\"", phrase);
    if (warning_hook)
        warning_hook(message);
    else
        text_write_message(2, message);
}

int clamp(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

// Load the description of type into buffer, keeping ospeed and PC: the
// library resets both on every load, but they belong to the viewer.
int load_description(char *buffer, const char *type)
{
    short speed = ospeed;
    char pad = PC;
    int result = tgetent(buffer, type);
    ospeed = speed;
    PC = pad;
    return result;
}

// A cursor-motion string to column 0 of line, kept in the area; nullptr
// when there is no motion string or the result does not fit.
const char *goto_string(const char *motion, int line)
{
    if (*motion == '\0')
        return nullptr;
    return keep_string(tgoto(motion, 0, line));
}

void send(const char *s, int lines)
{
    tputs(s, lines, out_char);
}

// A capability string written straight out, without the library and
// without its padding marks ("$<...>"): all a signal handler may do.
void write_unpadded(const char *s)
{
    while (*s) {
        const char *mark = strstr(s, "$<");
        size_t n = mark ? static_cast<size_t>(mark - s) : strlen(s);
        if (n > 0 && write(1, s, n) < 0)
            return;
        if (!mark)
            return;
        const char *end = strchr(mark, '>');
        if (!end)
            return;
        s = end + 1;
    }
}

void restore_at_exit()
{
    term_restore_emergency();
}

} // namespace

// Enter raw mode on descriptor 2 (on != 0), or give back the saved modes.
void term_set_mode(int on)
{
    if (!on) {
        raw_in_force = 0;
        if (mode_saved)
            tcsetattr(2, TCSANOW, &saved_terminal_mode);
        return;
    }
    termios mode;
    if (tcgetattr(2, &mode) != 0) {
        // Not a terminal: nothing to change and nothing to give back later.
        mode_saved = 0;
        return;
    }
    saved_terminal_mode = mode;
    mode_saved = 1;
    ospeed = static_cast<short>(cfgetospeed(&mode));
    erase_key = static_cast<unsigned char>(mode.c_cc[VERASE]);
    kill_key = static_cast<unsigned char>(mode.c_cc[VKILL]);
    word_erase_key = static_cast<unsigned char>(mode.c_cc[VWERASE]);

    // ISIG stays: interrupt, quit and suspend keys keep making signals.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST | ONLCR | TABDLY | OCRNL | ONOCR | ONLRET);
    mode.c_oflag |= OPOST | ONLCR | TAB3;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    raw_in_force = 1;
    tcsetattr(2, TCSANOW, &mode);
}

// Undo the viewer's screen and modes in a process about to die; safe in a
// signal handler, and does nothing when they are not in force.
void term_restore_emergency()
{
    if (!raw_in_force)
        return;
    raw_in_force = 0;
    if (mouse_reporting)
        write_unpadded(MOUSE_OFF);
    mouse_reporting = 0;
    if (init_sent)
        write_unpadded(deinit_string);
    init_sent = 0;
    screen_entered = 0;
    tcsetattr(2, TCSANOW, &saved_terminal_mode);
}

// Have exit() give the terminal back, also when a library calls it.
void term_restore_at_exit()
{
    static bool registered;
    if (!registered)
        atexit(restore_at_exit);
    registered = true;
}

namespace {

// The terminal library's own fault: it can crash when memory runs out
// while it answers (its tables are built on first use, unchecked).
sigjmp_buf library_fault;

void on_library_fault(int)
{
    siglongjmp(library_fault, 1);
}

// The palette's strings from the terminal's own colour strings: the ANSI
// ones (AF, AB) first, else the older ones (Sf, Sb).
void read_colours()
{
    has_colours = false;
    syntax_coloured = false;
    if (!description_loaded || hard_copy || cap_number("Co") < 8)
        return;
    // Only what they give is kept in the area: the parameterised strings
    // are read from the library's copies, once each, into ours.
    char fg_form[128], bg_form[128];
    copy_bounded(fg_form, tgetstr("AF", nullptr) ? tgetstr("AF", nullptr) : "",
                 static_cast<int>(sizeof fg_form));
    copy_bounded(bg_form, tgetstr("AB", nullptr) ? tgetstr("AB", nullptr) : "",
                 static_cast<int>(sizeof bg_form));
    bool ansi = *fg_form && *bg_form;
    if (!ansi) {
        copy_bounded(fg_form, tgetstr("Sf", nullptr) ? tgetstr("Sf", nullptr) : "",
                     static_cast<int>(sizeof fg_form));
        copy_bounded(bg_form, tgetstr("Sb", nullptr) ? tgetstr("Sb", nullptr) : "",
                     static_cast<int>(sizeof bg_form));
    }
    if (!*fg_form || !*bg_form)
        return;
    for (int i = 0; i < HIGHLIGHT_COLOURS; i++) {
        for (int k = 0; k < 2; k++) {
            int colour = PALETTE[i][k];
            if (!ansi)
                colour = SF_NUMBER[colour];
            const char *s = keep_string(tgoto(k == 0 ? fg_form : bg_form, 0, colour));
            if (!s)
                return;
            highlight_strings[i][k] = s;
        }
    }
    const char *red = keep_string(tgoto(fg_form, 0, ansi ? 1 : SF_NUMBER[1]));
    if (!red)
        return;
    error_colour_string = red;
    // Cyan: apart from the error red and from the highlights' backgrounds.
    const char *cyan = keep_string(tgoto(fg_form, 0, ansi ? 6 : SF_NUMBER[6]));
    if (!cyan)
        return;
    column_colour_string = cyan;
    const char *s = fetch_string("op");
    original_colours_string = s && *s ? s : attributes_off_string;
    has_colours = true;
    for (int e = 1; e < SYNTAX_ELEMENTS; e++) {
        int colour = SYNTAX_COLOUR[e];
        syntax_strings[e] = keep_string(tgoto(fg_form, 0, ansi ? colour : SF_NUMBER[colour]));
        if (!syntax_strings[e])
            return;
    }
    syntax_coloured = true;
}

void read_description()
{
    // Static: the library keys its cache of loaded entries by this address,
    // and one address keeps it reusing (and freeing) a single entry.
    static char description[TERMCAP_BUFFER_SIZE];
    const char *type = getenv("TERM");
    if (type == nullptr)
        type = "unknown";
    warnings_due = strncmp(type, warned_type, sizeof warned_type - 1) != 0;
    copy_bounded(warned_type, type, sizeof warned_type);
    // The library may keep the entry elsewhere and answer from nothing
    // after a failed load, so the fallback is answered here instead.
    description_loaded = load_description(description, type) > 0;

    winsize window{};
    bool have_window = ioctl(2, TIOCGWINSZ, &window) == 0;
    hard_copy = 0;
    if (have_window && window.ws_row != 0) {
        screen_rows = window.ws_row;
    } else {
        screen_rows = cap_number("li");
        if (screen_rows < 0) {
            screen_rows = 24;
            hard_copy = 1;
        }
    }
    if (!hard_copy && cap_flag("hc")) {
        screen_rows = 24;
        hard_copy = 1;
    }
    if (have_window && window.ws_col != 0) {
        screen_cols = window.ws_col;
    } else {
        screen_cols = cap_number("co");
        if (screen_cols < 0)
            screen_cols = 80;
    }
    screen_rows = clamp(screen_rows, MIN_ROWS, MAX_SCREEN_ROWS);
    screen_cols = clamp(screen_cols, MIN_COLS, MAX_COLS);

    wraps_at_margin = cap_flag("am");
    wrap_glitch = cap_flag("xn");

    int glitch = cap_number("sg");
    int width = glitch > 0 ? clamp(glitch, 0, MAX_MODE_WIDTH) : 0;
    standout_on_width = standout_off_width = width;
    underline_on_width = underline_off_width = width;
    bold_on_width = bold_off_width = width;

    area_fill = capability_area;
    if (description_loaded) {
        const char *pad = tgetstr("pc", nullptr);
        if (pad != nullptr)
            PC = *pad;
    }

    const char *s;
    for (const string_capability &c : STRING_CAPABILITIES) {
        s = fetch_string(c.id);
        bool present = c.need == ANY ? s != nullptr
                       : c.need == SHOWN ? s != nullptr && !hard_copy
                                         : usable(s);
        *c.string = present ? s : c.fallback;
        if (!present && c.warning)
            warn(c.warning);
    }
    s = fetch_string("cm");
    const char *motion = usable(s) ? s : "";

    s = fetch_string("us");
    underline_on_string = s && !hard_copy ? s : standout_on_string;
    s = fetch_string("ue");
    underline_off_string = s && !hard_copy ? s : standout_off_string;
    s = fetch_string("md");
    if (s && !hard_copy) {
        bold_on_string = s;
        s = fetch_string("me");
        bold_off_string = s ? s : "";
    } else {
        bold_on_string = standout_on_string;
        bold_off_string = standout_off_string;
    }

    s = fetch_string("ho");
    if (!usable(s))
        s = goto_string(motion, 0);
    home_string = s ? s : HOME_MARKER;
    if (s == nullptr)
        warn("home cursor");
    s = fetch_string("ll");
    if (!usable(s))
        s = goto_string(motion, screen_rows - 1);
    lower_left_string = s ? s : "\r";
    if (s == nullptr)
        warn("move cursor to lower left of screen");

    s = fetch_string("al");
    if (s == nullptr || *s == '\0')
        s = fetch_string("sr");
    scrolls_back = usable(s);
    if (scrolls_back) {
        insert_line_string = s;
    } else {
        insert_line_string = "";
        warn("scroll backwards");
    }

    backspace_string = "\b";
    if (!cap_flag("bs")) {
        s = fetch_string("bc");
        if (s != nullptr && *s != '\0')
            backspace_string = s;
    }
    // Last: the palette is what a crowded area goes without.
    read_colours();
}

} // namespace

// Learn the screen size and the capability strings, with fallbacks and
// warnings for what the terminal lacks.
void term_setup()
{
    struct sigaction guard = {}, old_segv, old_bus;
    guard.sa_handler = on_library_fault;
    sigemptyset(&guard.sa_mask);
    sigaction(SIGSEGV, &guard, &old_segv);
    sigaction(SIGBUS, &guard, &old_bus);
    bool faulted = sigsetjmp(library_fault, 1) != 0;
    if (!faulted)
        read_description();
    sigaction(SIGSEGV, &old_segv, nullptr);
    sigaction(SIGBUS, &old_bus, nullptr);
    if (faulted) {
        // Handled as any allocation that failed; the handler does not return.
        std::get_new_handler()();
        abort();
    }
}

void term_set_warning_hook(void (*warn)(const char *message))
{
    warning_hook = warn;
}

// The bytes a key of the terminal sends ("ku", "kP", ...), as its
// description gives them; nullptr when it names none.
bool term_can_scroll_back()
{
    return scrolls_back;
}

bool term_paints_quickly()
{
    return !hard_copy && home_string != HOME_MARKER && *clear_string != '\0';
}

const char *term_key_string(const char *id)
{
    return description_loaded ? tgetstr(id, nullptr) : nullptr;
}

// Enter screen mode: the terminal's initialisation string unless -X keeps
// what is on the terminal, and mouse reporting when -Y asks for it.
void term_init_screen()
{
    // A "ti" that saves the cursor must not save it again.
    if (screen_entered)
        return;
    if (!opt_X) {
        send(init_string, screen_rows);
        init_sent = 1;
    }
    screen_entered = 1;
    term_set_mouse(opt_Y);
}

// Leave screen mode: what entering it turned on is turned off.
void term_deinit_screen()
{
    term_set_mouse(0);
    if (init_sent)
        send(deinit_string, screen_rows);
    init_sent = 0;
    screen_entered = 0;
}

int term_screen_entered()
{
    return screen_entered;
}

// The end strings go only where the start strings went: on a screen never
// entered they would move the cursor over the shell's lines.
int term_leave_screen()
{
    if (!screen_entered)
        return 0;
    term_lower_left();
    term_clear_eol();
    term_deinit_screen();
    return 1;
}

// Have the terminal report mouse buttons and the wheel, or stop it.
void term_set_mouse(int on)
{
    if ((on != 0) == (mouse_reporting != 0))
        return;
    out_string(on ? MOUSE_ON : MOUSE_OFF);
    mouse_reporting = on != 0;
}

// Move the cursor to the top-left corner.
void term_home()
{
    send(home_string, 1);
}

// Insert a line at the cursor (used at the top to scroll backwards).
void term_insert_line()
{
    send(insert_line_string, screen_rows);
}

// Move the cursor to the start of the bottom line.
void term_lower_left()
{
    send(lower_left_string, 1);
}

// Remember where the cursor is, and go back there. A terminal that cannot
// leaves what is painted from there on out of place: the screen is stale.
void term_save_cursor()
{
    send(save_cursor_string, 1);
}

void term_restore_cursor()
{
    if (*save_cursor_string && *restore_cursor_string) {
        send(restore_cursor_string, 1);
        return;
    }
    term_cursor_lost = 1;
    screen_stale = 1;
}

// Ring the bell for an error: audible unless -q 2 asks for a flash only.
void term_bell()
{
    if (opt_q == 2) {
        if (*visual_bell_string != '\0')
            send(visual_bell_string, screen_rows);
        return;
    }
    out_char('\a');
}

// Flash the screen, when the terminal can.
void term_visual_bell()
{
    if (*visual_bell_string != '\0')
        send(visual_bell_string, screen_rows);
}

// Clear the screen.
void term_clear()
{
    send(clear_string, screen_rows);
}

// Clear from the cursor to the end of the line.
void term_clear_eol()
{
    send(clear_eol_string, 1);
}

void term_standout_on()
{
    send(standout_on_string, 1);
}

void term_standout_off()
{
    send(standout_off_string, 1);
}

void term_underline_on()
{
    send(underline_on_string, 1);
}

void term_underline_off()
{
    send(underline_off_string, 1);
}

void term_bold_on()
{
    send(bold_on_string, 1);
}

void term_bold_off()
{
    send(bold_off_string, 1);
}

void term_highlight_on(int index)
{
    index %= HIGHLIGHT_COLOURS;
    if (has_colours) {
        send(highlight_strings[index][0], 1);
        send(highlight_strings[index][1], 1);
    } else if (index % 2 == 0) {
        send(underline_on_string, 1);
    } else {
        send(bold_on_string, 1);
    }
}

void term_highlight_off(int index)
{
    index %= HIGHLIGHT_COLOURS;
    if (has_colours)
        send(original_colours_string, 1);
    else if (index % 2 == 0)
        send(underline_off_string, 1);
    else
        send(bold_off_string, 1);
}

void term_syntax_on(int element)
{
    if (element <= SYNTAX_NONE || element >= SYNTAX_ELEMENTS)
        return;
    if (syntax_coloured)
        send(syntax_strings[element], 1);
    else if (SYNTAX_MODE[element] == SYNTAX_BOLD)
        send(bold_on_string, 1);
    else if (SYNTAX_MODE[element] == SYNTAX_UNDERLINE)
        send(underline_on_string, 1);
}

void term_syntax_off(int element)
{
    if (element <= SYNTAX_NONE || element >= SYNTAX_ELEMENTS)
        return;
    if (syntax_coloured)
        send(original_colours_string, 1);
    else if (SYNTAX_MODE[element] == SYNTAX_BOLD)
        send(bold_off_string, 1);
    else if (SYNTAX_MODE[element] == SYNTAX_UNDERLINE)
        send(underline_off_string, 1);
}

void term_error_on()
{
    send(has_colours ? error_colour_string : bold_on_string, 1);
}

void term_error_off()
{
    send(has_colours ? original_colours_string : bold_off_string, 1);
}

void term_column_tint_on()
{
    send(has_colours ? column_colour_string : underline_on_string, 1);
}

void term_column_tint_off()
{
    send(has_colours ? original_colours_string : underline_off_string, 1);
}

// Turn every attribute off, colours included.
void term_attributes_off()
{
    send(attributes_off_string, 1);
}

// Move the cursor one column left.
void term_backspace()
{
    send(backspace_string, 1);
}

// Erase the character left of the cursor.
void term_erase_char()
{
    send(backspace_string, 1);
    out_char(' ');
    send(backspace_string, 1);
}
