#include "viewer/control/command.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/keys.h"
#include "common/strings.h"
#include "common/version.h"
#include "viewer/control/complete.h"
#include "viewer/control/decode.h"
#include "viewer/control/edit.h"
#include "viewer/control/follow.h"
#include "viewer/control/history.h"
#include "viewer/control/mouse.h"
#include "viewer/control/preview.h"
#include "viewer/control/program.h"
#include "viewer/control/prompt.h"
#include "viewer/control/save.h"
#include "viewer/display/chop.h"
#include "viewer/display/columns.h"
#include "viewer/display/highlight.h"
#include "viewer/display/screen.h"
#include "viewer/display/syntax.h"
#include "viewer/display/view.h"
#include "viewer/input/buffer.h"
#include "viewer/input/exec.h"
#include "viewer/navigation/filter.h"
#include "viewer/navigation/jump.h"
#include "viewer/input/linenum.h"
#include "viewer/navigation/search.h"
#include "viewer/navigation/section.h"
#include "viewer/control/optchange.h"
#include "viewer/options/option.h"
#include "viewer/process/shell.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

constexpr int COMMAND_TEXT_SIZE = 120;
// Returned by the dispatchers when the command is over: back to the top.
constexpr int NO_KEY = -1000;
constexpr char VERSION_STRING[] = "@(#) mivo  version " MIVO_VERSION;
// States beyond the action codes: a long option name typed after "- -"
// (changed) or "_ -" (shown).
constexpr int STATE_LONG_OPTION = 0x100;
constexpr int STATE_SHOW_LONG_OPTION = 0x101;

int command_state;
int64_t command_number;   // typed before a command; 64-bit, as line numbers are
char command_text[COMMAND_TEXT_SIZE];
int text_length;
int command_column;
// Bytes of command_text shown so far: a character typed as several bytes
// is shown once it is whole.
int echoed_length;
int last_search_action;
unsigned char search_match_wanted;
char *last_shell_command;
bool after_tab;           // the last key typed into the text was a Tab
// Lines moved by the half-screen commands, and the screen size they were
// last set for: a new size sets them afresh.
int scroll;
int scroll_rows, scroll_cols;
// The last move's paint was taken back unsent, as a move typed already
// follows at once: the screen is stale until a paint is kept.
bool paint_dropped;

void start_command_entry(const char *prompt, int state)
{
    term_lower_left();
    term_clear_eol();
    out_string(prompt);
    command_column = static_cast<int>(strlen(prompt));
    command_state = state;
    echoed_length = 0;
}

void start_text_entry(const char *prompt, int state)
{
    text_length = 0;
    start_command_entry(prompt, state);
}

// A text typed with the line editor, remembered in the history of kind.
void start_edit_entry(const char *prompt, int state, int kind, const char *modifiers = "")
{
    command_state = state;
    after_tab = false;
    edit_start(prompt, kind, modifiers);
}

// Whether the state's text is typed with the line editor; numbers are not.
bool edits_text(int state)
{
    return state != 0 && state != ACTION_NEED_MORE && state != ACTION_NUMBER;
}

// Move to the bottom-left corner before the screen moves. The paint that
// follows goes out in the same write; only a pipe can keep the move waiting,
// and then the corner is shown first.
void prepare()
{
    term_lower_left();
    if (input_is_pipe)
        out_flush();
}

int next_key()
{
    if (pending_command_text && *pending_command_text) {
        if (!in_every_file_command(pending_command_text))
            running_every_file_command = 0;
        return static_cast<unsigned char>(*pending_command_text++);
    }
    if (pending_command_text) {
        pending_command_text = nullptr;
        // A first command that stopped in the middle of a command before the
        // first screen: finish it as if the user had.
        int typed = edits_text(command_state) ? edit_length() : text_length;
        if (typed > 0 && screen_pos(ROW_TOP) == NO_POSITION)
            return command_state == ACTION_NUMBER ? 'g' : '\n';
    }
    running_every_file_command = 0;
    return key_read();
}

// Show what has been typed and not yet shown, as far as it forms whole
// characters.
void echo_typed()
{
    const char *rest = command_text + echoed_length;
    size_t shown = out_text(rest, static_cast<size_t>(text_length - echoed_length), true);
    command_column += text_columns(rest, shown);
    echoed_length += static_cast<int>(shown);
}

// Take back the last typed character and erase it from the bottom line.
void erase_last()
{
    if (echoed_length < text_length) {
        // Part of a character not yet shown.
        text_length = echoed_length;
        return;
    }
    int start = 0;
    for (int i = 0; i < text_length;) {
        start = i;
        i += text_decode(reinterpret_cast<const unsigned char *>(command_text) + i,
                         static_cast<size_t>(text_length - i)).length;
    }
    for (int k = text_columns(command_text + start, static_cast<size_t>(text_length - start));
         k > 0; k--) {
        term_erase_char();
        command_column--;
    }
    text_length = echoed_length = start;
}

// The typed number for the commands that count screens, files or matches.
int command_count()
{
    return command_number > INT_MAX ? INT_MAX : static_cast<int>(command_number);
}

// The count for commands that default to 1.
int count_or_one()
{
    return command_number > 0 ? command_count() : 1;
}

// What RETURN does with a shell command, in command_text.
void finish_shell(int)
{
    if (command_text[0] != '!') {
        // Every '%' stands for the current file's name.
        std::string command;
        for (const char *c = command_text; *c; c++) {
            if (*c == '%' && current_file_name)
                command += current_file_name;
            else
                command += *c;
        }
        auto *copy = static_cast<char *>(malloc(command.size() + 1));
        if (!copy) {
            show_error("cannot allocate memory");
            return;
        }
        memcpy(copy, command.c_str(), command.size() + 1);
        free(last_shell_command);
        last_shell_command = copy;
    }
    // The output stays in sight until "!done" is answered.
    run_shell_command(last_shell_command ? last_shell_command : "", true);
    show_error("!done");
}

// What RETURN does with the texts of the other typed commands.
void finish_search(int state)
{
    search_text_from(preview_finish(), state == ACTION_FORW_SEARCH, command_text, count_or_one(),
                     search_match_wanted);
}

void finish_examine(int)
{
    const char *name = command_text;
    while (*name == ' ')
        name++;
    view_file(glob(name));
}

void finish_first_command(int)
{
    const char *s = command_text;
    while (*s == '+' || *s == ' ')
        s++;
    set_first_command(*s ? s : nullptr);
}

void finish_filter(int)
{
    file_pos top = screen_pos(ROW_TOP);
    // Before the first screen, the first screen is painted filtered.
    if (filter_set(command_text, strchr(edit_modifiers(), '!') == nullptr) &&
        top != NO_POSITION) {
        // Judging a pipe's lines may wait for data: the lines of the old
        // screen must not stand there meanwhile as if shown by the new
        // filter.
        if (input_is_pipe && eof_position == NO_POSITION) {
            term_clear();
            screen_stale = 1;
        }
        show_position(top);
    }
}

// Whether the user answers 'y' to "Overwrite NAME? (y/n)"; the name is
// cut from the front to fit the bottom line.
bool overwrite_confirmed(const char *name)
{
    static constexpr char ASK[] = "Overwrite ";
    static constexpr char CHOICE[] = "? (y/n) ";
    int room = screen_cols - 1 - static_cast<int>(sizeof ASK + sizeof CHOICE) + 2;
    term_lower_left();
    term_clear_eol();
    out_string(ASK);
    int column = out_message(text_tail(name, room > 1 ? room : 1), sizeof ASK - 1);
    out_string(CHOICE);
    command_column = column + static_cast<int>(sizeof CHOICE) - 1;
    command_state = ACTION_SAVE;
    out_flush();
    return next_key() == 'y';
}

void finish_save(int)
{
    char path[PATH_MAX];
    if (!save_target(command_text, path, sizeof path))
        return;
    if (save_exists(path) && !overwrite_confirmed(path))
        return;
    save_input(path);
}

void finish_highlight(int)
{
    highlight_add(command_text);
}

void finish_option(int)
{
    option_change(command_text, 1);
}

void finish_long_option(int state)
{
    option_change_long(command_text, state == STATE_LONG_OPTION);
}

// The commands that take a line of text, one row each: the state the text
// is typed in (the action of the key that starts the command, or a state of
// its own when another command leads to it), the prompt, the history the
// texts go to, whether a '!' typed first asks for the lines that do not
// match, whether restricted mode refuses the command, whether its key only
// starts it (the others are started where they need more), what Tab
// completes, what RETURN does, and the prompt while a filter is on when
// the command takes only the lines it shows.
struct typed_command {
    int state;
    const char *prompt;
    int history;
    bool negatable;
    bool restricted;
    bool started_by_key;
    void (*complete)(bool again);
    void (*finish)(int state);
    const char *filtered_prompt = nullptr;
};
constexpr typed_command TYPED_COMMANDS[] = {
    {.state = ACTION_EXAMINE, .prompt = "Examine: ", .history = HISTORY_EXAMINE,
     .negatable = false, .restricted = true, .started_by_key = true, .complete = complete_tab,
     .finish = finish_examine},
    {.state = ACTION_SAVE, .prompt = "Save to file: ", .history = HISTORY_EXAMINE,
     .negatable = false, .restricted = true, .started_by_key = true, .complete = complete_tab,
     .finish = finish_save, .filtered_prompt = "Save shown lines to file: "},
    {.state = ACTION_SHELL, .prompt = "!", .history = HISTORY_SHELL, .negatable = false,
     .restricted = true, .started_by_key = true, .complete = nullptr, .finish = finish_shell},
    {.state = ACTION_TOGGLE_OPTION, .prompt = "-", .history = HISTORY_NONE, .negatable = false,
     .restricted = false, .started_by_key = true, .complete = nullptr, .finish = finish_option},
    {.state = ACTION_FIRST_CMD, .prompt = "+", .history = HISTORY_NONE, .negatable = false,
     .restricted = false, .started_by_key = true, .complete = nullptr,
     .finish = finish_first_command},
    {.state = ACTION_FILTER, .prompt = "&", .history = HISTORY_SEARCH, .negatable = true,
     .restricted = false, .started_by_key = true, .complete = nullptr, .finish = finish_filter},
    {.state = ACTION_FORW_SEARCH, .prompt = "/", .history = HISTORY_SEARCH, .negatable = true,
     .restricted = false, .started_by_key = false, .complete = nullptr, .finish = finish_search},
    {.state = ACTION_BACK_SEARCH, .prompt = "?", .history = HISTORY_SEARCH, .negatable = true,
     .restricted = false, .started_by_key = false, .complete = nullptr, .finish = finish_search},
    // "*" alone removes every pattern, "*!" the last one added.
    {.state = ACTION_HIGHLIGHT, .prompt = "*", .history = HISTORY_HIGHLIGHT, .negatable = false,
     .restricted = false, .started_by_key = true, .complete = nullptr,
     .finish = finish_highlight},
    // After "-" and "_", a "-" reads a long option name.
    {.state = STATE_LONG_OPTION, .prompt = "--", .history = HISTORY_NONE, .negatable = false,
     .restricted = false, .started_by_key = false, .complete = complete_option_name,
     .finish = finish_long_option},
    {.state = STATE_SHOW_LONG_OPTION, .prompt = "_--", .history = HISTORY_NONE,
     .negatable = false, .restricted = false, .started_by_key = false,
     .complete = complete_option_name, .finish = finish_long_option},
};

// The row of the typed command whose text state is; nullptr for the
// states that read no text.
const typed_command *typed_command_of(int state)
{
    for (const typed_command &t : TYPED_COMMANDS)
        if (t.state == state)
            return &t;
    return nullptr;
}

// Begin the text of the typed command in state; the key after the prompt
// (and after a leading '!'), to be dispatched.
int start_typed(int state)
{
    const typed_command &t = *typed_command_of(state);
    const char *prompt = t.filtered_prompt && filter_text() ? t.filtered_prompt : t.prompt;
    start_edit_entry(prompt, t.state, t.history, t.negatable ? "!" : "");
    int next = next_key();
    if (t.negatable && next == '!') {
        edit_set_modifiers("!");
        next = next_key();
    }
    return next;
}

void execute_text()
{
    memcpy(command_text, edit_text(), static_cast<size_t>(edit_length()) + 1);
    term_lower_left();
    out_flush();
    if (const typed_command *t = typed_command_of(command_state))
        t->finish(command_state);
}

// A key typed into a number.
int number_key(int key)
{
    if (key == erase_key) {
        if (text_length == 0)
            return NO_KEY;
        erase_last();
    } else if (key == kill_key) {
        while (text_length > 0)
            erase_last();
    } else if (text_length >= COMMAND_TEXT_SIZE - 1 || command_column >= screen_cols - 3) {
        term_bell();
    } else {
        command_text[text_length++] = static_cast<char>(key);
        echo_typed();
    }
    return next_key();
}

// The next key of an escape sequence, or EDIT_TIMEOUT when none comes in
// time; keys still pending come at once.
int next_key_soon()
{
    if (pending_command_text && *pending_command_text)
        return next_key();
    int ready = wait_for_input(keyboard_fd, EDIT_ESCAPE_MS);
    return ready == 1 ? next_key() : ready == 0 ? EDIT_TIMEOUT : -2;
}

// A key typed into the text of a command: the line editor's, Tab in a
// file name aside.
int text_key(int key)
{
    complete_dismiss();
    const typed_command *typed = typed_command_of(command_state);
    if (key == '\t' && typed && typed->complete) {
        typed->complete(after_tab);
        after_tab = true;
        return next_key();
    }
    after_tab = false;
    int status = edit_key(key);
    while (status == EDIT_SEQUENCE) {
        key = next_key_soon();
        if (key == -2)
            return NO_KEY;
        status = edit_key(key);
    }
    bool searching = command_state == ACTION_FORW_SEARCH || command_state == ACTION_BACK_SEARCH;
    if (searching)
        search_match_wanted = strchr(edit_modifiers(), '!') == nullptr;
    if (status == EDIT_CANCEL)
        return NO_KEY;
    if (status == EDIT_ENTER) {
        execute_text();
        return NO_KEY;
    }
    if (status == EDIT_CHANGED && searching)
        preview_update(edit_text(), count_or_one(), search_match_wanted);
    return next_key();
}

// Read the letter a command waits for; -1 when erase, kill or a signal
// abandons it.
int read_letter(const char *prompt, int state)
{
    start_command_entry(prompt, state);
    int key = next_key();
    if (key == '\033') {
        // ESC alone cancels, as in typed texts; a keypad key's sequence is
        // taken whole, with one bell, so that none of it runs as commands.
        key = next_key_soon();
        if (key >= 0) {
            for (int n = 0; (key == '[' || key == 'O' || (key >= 0x20 && key < 0x40)) && n < 64;
                 n++)
                key = next_key_soon();
            term_bell();
        }
        return -1;
    }
    if (key == erase_key || key == kill_key || key == -2)
        return -1;
    return key;
}

int screen_window()
{
    return opt_z > 0 ? opt_z : view_text_rows();
}

// The moves by lines and screens: which way, what a move without a count
// takes, and whether only the last screenful of a long move is painted.
enum move_default { BY_LINE, BY_WINDOW, BY_SCROLL };
struct scroll_move {
    int action;
    bool forward;
    move_default amount;
    int only_last;
};
constexpr scroll_move SCROLL_MOVES[] = {
    {ACTION_FORW_LINE, true, BY_LINE, 0},
    {ACTION_FORW_SCREEN, true, BY_WINDOW, 1},
    {ACTION_FORW_SCROLL, true, BY_SCROLL, 0},
    {ACTION_BACK_LINE, false, BY_LINE, 0},
    {ACTION_BACK_SCREEN, false, BY_WINDOW, 1},
    {ACTION_BACK_SCROLL, false, BY_SCROLL, 0},
};

// Whether the next key, read from the terminal already, is a move by
// lines or screens (a key that is all of its command).
bool move_queued()
{
    int key = key_queued();
    if (key < 0 || pending_command_text || command_state != 0)
        return false;
    key_decode_reset();
    int action = key_decode(key);
    key_decode_reset();
    for (const scroll_move &m : SCROLL_MOVES)
        if (m.action == action)
            return true;
    return false;
}

void do_scroll_move(const scroll_move &m, int n)
{
    if (m.amount == BY_SCROLL && n > 0)
        scroll = n;
    if (n <= 0)
        n = m.amount == BY_LINE ? 1 : m.amount == BY_WINDOW ? screen_window() : scroll;
    bool owed = paint_dropped;
    paint_dropped = false;
    // With -e, a forward move once the end was shown goes on to the next file.
    if (m.forward && opt_e && eof_count) {
        prepare();
        view_next_file(1);
        return;
    }
    prepare();
    // Paging by held-down or typed-ahead keys: a screen that the next move
    // replaces at once need not be sent. Only a clean paint is taken back
    // (none of it written, nothing broken or rung, the screen as the viewer
    // believes it before), and the screen stays stale, so that whatever
    // comes next paints it whole: the next move's paint may rely on rows
    // this one did not send.
    long long mark = out_mark();
    bool clean = !screen_stale || owed;
    // A stale screen of our own making: whether this paint breaks shows.
    if (owed)
        screen_stale = 0;
    int ends = eof_count;
    // The screen owed is painted whole before anyone sees it: this move
    // need only find where its rows begin.
    screen_unseen = owed;
    if (m.forward)
        scroll_forward(n, m.only_last);
    else
        scroll_backward(n, m.only_last);
    screen_unseen = 0;
    if (clean && !screen_stale && !pending_signals && eof_count == ends && move_queued() &&
        out_discard(mark))
        paint_dropped = true;
    if (owed || paint_dropped)
        screen_stale = 1;
}

int do_action(int action, int key)
{
    int n = command_count();
    for (const scroll_move &m : SCROLL_MOVES) {
        if (m.action == action) {
            do_scroll_move(m, n);
            return NO_KEY;
        }
    }
    for (const typed_command &t : TYPED_COMMANDS) {
        if (t.state == action && t.started_by_key) {
            if (t.restricted && secure_refuse())
                return NO_KEY;
            return start_typed(action);
        }
    }
    switch (action) {
    case ACTION_REPEAT_SEARCH: {
        bool forward = last_search_action == ACTION_FORW_SEARCH;
        std::string prompt = search_match_wanted ? "" : "!";
        prompt += forward ? "/" : "?";
        start_command_entry(prompt.c_str(), last_search_action);
        prepare();
        search_text(forward, nullptr, count_or_one(), search_match_wanted);
        break;
    }
    case ACTION_FORW_SEARCH:
    case ACTION_BACK_SEARCH: {
        last_search_action = action;
        search_match_wanted = 1;
        preview_begin(action == ACTION_FORW_SEARCH);
        int next = start_typed(action);
        if (edit_modifiers()[0])
            search_match_wanted = 0;
        return next;
    }
    case ACTION_DISPLAY_OPTION: {
        text_length = 0;
        int letter = read_letter("_", ACTION_DISPLAY_OPTION);
        if (letter == '-')
            return start_typed(STATE_SHOW_LONG_OPTION);
        if (letter != -1) {
            char one[2] = {static_cast<char>(letter), '\0'};
            option_change(one, 0);
        }
        break;
    }
    case ACTION_HELP:
        // A start command holding the help key, as MIVO="+H" gives every
        // viewer, would otherwise start help viewers inside help viewers
        // until no process is left. Typed keys still open help anywhere.
        if (pending_command_text && in_help_viewer())
            break;
        term_lower_left();
        term_clear_eol();
        out_string("help");
        term_lower_left();
        out_flush();
        show_help();
        break;
    case ACTION_NUMBER:
        // Only a digit can begin a number: a user key bound to this action
        // would otherwise come back here for ever.
        if (!is_digit(key)) {
            term_bell();
            break;
        }
        start_text_entry(":", ACTION_NUMBER);
        return key;
    case ACTION_FLUSH_REPAINT:
        if (!input_is_pipe) {
            buf_attach(0, 0);
            linenum_reset();
        }
        prepare();
        repaint_screen();
        break;
    case ACTION_GOTO_END:
        prepare();
        if (n > 0)
            goto_line_number(command_number);
        else
            goto_end();
        break;
    case ACTION_GOTO_LINE:
        prepare();
        goto_line_number(n > 0 ? command_number : 1);
        break;
    case ACTION_GOTO_MARK: {
        int letter = read_letter("goto mark: ", ACTION_GOTO_MARK);
        if (letter != -1)
            mark_goto(letter);
        break;
    }
    case ACTION_SET_MARK: {
        int letter = read_letter("mark: ", ACTION_SET_MARK);
        if (letter != -1)
            mark_set(letter);
        break;
    }
    case ACTION_NEXT_FILE:
        view_next_file(n > 0 ? n : 1);
        break;
    case ACTION_PREV_FILE:
        view_prev_file(n > 0 ? n : 1);
        break;
    case ACTION_PERCENT:
        prepare();
        goto_percent(n < 0 ? 0 : n > 100 ? 100 : n);
        break;
    case ACTION_NEED_MORE:
        if (command_state != ACTION_NEED_MORE)
            start_command_entry("& ", ACTION_NEED_MORE);
        // Sent raw, an escape would start a terminal sequence; and a long
        // sequence stops short of the last column, so the bottom line never
        // wraps and scrolls the screen.
        if (char typed = static_cast<char>(key); command_column + 4 < screen_cols) {
            out_text(&typed, 1);
            command_column += text_columns(&typed, 1);
        }
        return next_key();
    case ACTION_QUIT:
        finish_and_exit();
    case ACTION_REPAINT:
        prepare();
        repaint_screen();
        break;
    case ACTION_STATUS: {
        prepare();
        const char *status = status_text();
        show_error(status ? status : "");
        break;
    }
    case ACTION_VERSION:
        prepare();
        show_error(VERSION_STRING + 4);
        break;
    case ACTION_VISUAL: {
        if (secure_refuse())
            break;
        if (!input_named) {
            show_error("Cannot edit standard input");
            break;
        }
        prepare();
        // Sized to fit: an editor command and a long file name must not be cut.
        // The editor command is the user's to write; the file name is data.
        std::string command = editor_command;
        command += " ";
        // A name that begins with '-' or '+' would reach the editor as an
        // option or as a command to run.
        if (current_file_name[0] == '-' || current_file_name[0] == '+')
            command += shell_quote((std::string("./") + current_file_name).c_str());
        else
            command += shell_quote(current_file_name);
        run_shell_command(command.c_str());
        buf_attach(0, 0);
        linenum_reset();
        break;
    }
    case ACTION_FOLLOW:
        prepare();
        follow_input();
        break;
    case ACTION_RIGHT_SCROLL:
    case ACTION_LEFT_SCROLL: {
        // Only chopped lines go on sideways: without -S these are keys
        // with nothing to do, and never left of the first column. A
        // table's rows are chopped, and move a column (or N) at a time.
        int columns = n > 0 ? n : screen_cols / 2;
        int way = action == ACTION_RIGHT_SCROLL ? 1 : -1;
        bool moved = columns_active() ? columns_scroll(way * (n > 0 ? n : 1))
                                      : opt_S && chop_scroll(way * columns);
        if (!moved) {
            term_bell();
            break;
        }
        prepare();
        repaint_screen();
        break;
    }
    case ACTION_MOUSE:
        mouse_report();
        break;
    case ACTION_NEXT_SECTION:
    case ACTION_PREV_SECTION:
        prepare();
        section_move(action == ACTION_NEXT_SECTION, count_or_one());
        break;
    default:
        // Unbound keys, and actions this viewer does not offer.
        term_bell();
        break;
    }
    return NO_KEY;
}

// Handle one key in the current state; the next key to handle, or NO_KEY
// when the command is over.
int dispatch(int key)
{
    if (pending_signals) {
        // A window resized while a command is typed keeps the text: the
        // keys that follow still belong to it, not to new commands.
        if (pending_signals != PENDING_WINCH || !edits_text(command_state))
            return NO_KEY;
        signals_process();
        if (screen_stale)
            repaint_screen();
        edit_redraw();
        if (key == -2)
            return next_key();
    }
    switch (command_state) {
    case 0:
    case ACTION_NEED_MORE:
        return do_action(key_decode(key), key);
    case ACTION_TOGGLE_OPTION:
        if (edit_length() == 0 && key == '-')
            return start_typed(STATE_LONG_OPTION);
        // ESC begins a keypad key or cancels, as in any typed text.
        if (edit_length() == 0 && key != erase_key && key != kill_key && key != '\033' &&
            option_is_toggle(key)) {
            char one[2] = {static_cast<char>(key), '\0'};
            option_change(one, 1);
            return NO_KEY;
        }
        return text_key(key);
    case ACTION_NUMBER: {
        if (is_digit(key) || key == erase_key || key == kill_key)
            return number_key(key);
        command_text[text_length] = '\0';
        const char *digits = command_text;
        command_number = text_length > 0 ? option_read_number(&digits, INT64_MAX) : 0;
        text_length = 0;
        command_state = 0;
        return do_action(key_decode(key), key);
    }
    default:
        return text_key(key);
    }
}

void show_prompt()
{
    // Cleared first: expanding the prompt may count lines for a while.
    term_lower_left();
    term_clear_eol();
    const char *prompt = prompt_text();
    if (prompt)
        show_bottom_line(prompt);
    else
        out_char(':');
}

// The key that begins a command. While a command that is the input runs,
// its end is told on the prompt as it happens, not at the next key.
int first_key()
{
    if (pending_command_text)
        return next_key();
    int key;
    while ((key = key_read_or(exec_end_fd())) == KEY_OTHER_READY)
        show_prompt();
    return key;
}

} // namespace

void command_loop()
{
    last_search_action = 0;
    syntax_set_move_hook(move_queued);
    // --watch begins once the first screen (and any start command) is shown.
    bool watch_at_start = watch_ms > 0;
    for (;;) {
        command_state = 0;
        command_number = 0;
        // After an interrupt (of a paint waiting for a pipe that sends
        // nothing, say) the screen is painted from what has arrived: waiting
        // again would keep every key, q too, from being read.
        bool interrupted = (pending_signals & (PENDING_INTERRUPT | PENDING_KEY)) != 0;
        if (pending_signals)
            signals_process();
        // A count of lines that was stopped would only start again.
        if (interrupted && linenum_interrupted()) {
            opt_n = 0;
            // A column of numbers (-N) goes with them.
            if (opt_N)
                screen_stale = 1;
            show_error("Line numbers turned off");
        }
        if (screen_rows != scroll_rows || screen_cols != scroll_cols) {
            scroll = (screen_rows + 1) / 2;
            scroll_rows = screen_rows;
            scroll_cols = screen_cols;
        }
        text_length = 0;
        // A search abandoned while it was being typed: back to its start.
        preview_finish();
        if (!pending_command_text || !*pending_command_text) {
            if (interrupted) {
                buf_pipe_nonblocking(1);
                filter_hurry(1);
            }
            if (screen_pos(ROW_TOP) == NO_POSITION)
                goto_line_number(1);
            // A move typed already paints the screen (and the prompt) at
            // once. Stale after that too when a wait lost the cursor on the way.
            bool moving_on = paint_dropped && !pending_signals && move_queued();
            if (!moving_on)
                paint_dropped = false;
            if ((screen_stale || syntax_owed()) && !pending_signals && !moving_on)
                repaint_screen();
            if (interrupted) {
                buf_pipe_nonblocking(0);
                filter_hurry(0);
                // What ended the paint was only the data not there yet.
                if (input_is_pipe && eof_position != NO_POSITION) {
                    buf_forget_end();
                    eof_count = 0;
                }
            }
            if (opt_e == 2 && eof_count && file_tried + 1 >= file_count)
                finish_and_exit();
            // Told once the screen shows the text before the damage.
            buf_report_damage();
            if (!moving_on)
                show_prompt();
            if (watch_at_start) {
                watch_at_start = false;
                watch_start();
                continue;
            }
        }
        key_decode_reset();
        for (int key = first_key(); key != NO_KEY;)
            key = dispatch(key);
    }
}
