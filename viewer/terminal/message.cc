#include "viewer/terminal/message.h"

#include <climits>
#include <csignal>
#include <cstdlib>

#include "viewer/process/signals.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

int error_count;

namespace {

constexpr char RETURN_SUFFIX[] = "  (press RETURN)";
// A key typed to dismiss a message, kept to be taken as the next command.
char dismiss_key[2];

// The next message goes below a child's output, out of the screen mode.
bool below_output;

void (*leave_hook)(int status);
void (*repaint_hook)();

// Text (and suffix, the viewer's own) in standout where the cursor is, as
// far as it fits in width columns.
void show_standout(const char *text, const char *suffix, int width = INT_MAX)
{
    term_standout_on();
    int column = out_message(text, 0, width);
    if (suffix)
        out_message(suffix, column, width);
    term_standout_off();
}

} // namespace

void message_set_hooks(void (*leave)(int status), void (*repaint)())
{
    leave_hook = leave;
    repaint_hook = repaint;
}

void message_fatal(const char *message, int status)
{
    if (message)
        show_error(message);
    if (leave_hook)
        leave_hook(status);
    exit(status);
}

void show_error(const char *message)
{
    error_count++;
    if (!screen_started) {
        // Names and patterns in it are data, on standard error too.
        text_write_message(2, message);
        return;
    }
    // A signal still pending from before (the one that cut short what the
    // message is about) must not take the message away unread: a stop
    // suspends at once, and the message is shown after it over the screen
    // painted again. A signal that comes during the wait dismisses it.
    if (signals_stop_if_pending() && term_screen_entered() && repaint_hook)
        repaint_hook();
    // After a shell command whose output is to stay in sight, the message
    // goes where the cursor is, below the output, and the screen mode comes
    // back once it is answered.
    bool in_place = below_output;
    below_output = false;
    // A message too long for the bottom line wraps, and the screen is
    // painted again once it is answered.
    if (!in_place) {
        term_lower_left();
        term_clear_eol();
    }
    show_standout(message, RETURN_SUFFIX);
    int key = key_wait();
    // A new window size is no answer while a command's output is to stay
    // in sight: it is acted on once the message is answered.
    bool resized = false;
    while (in_place && key == -2 && pending_signals == PENDING_WINCH) {
        pending_signals = 0;
        resized = true;
        key = key_wait();
    }
    if (resized)
        winch(SIGWINCH);
    if (key != '\r' && key != '\n' && key != ' ' && key != -2) {
        dismiss_key[0] = static_cast<char>(key);
        dismiss_key[1] = '\0';
        key_queue(dismiss_key);
    }
    if (in_place) {
        out_char('\n');
        term_init_screen();
        screen_stale = 1;
    } else {
        term_lower_left();
        // A message too long for the bottom line has wrapped and scrolled.
        if (text_message_columns(message) + standout_on_width + standout_off_width +
                static_cast<int>(sizeof RETURN_SUFFIX) + 1 > screen_cols &&
            repaint_hook)
            repaint_hook();
    }
    out_flush();
}

void message_below_output()
{
    below_output = !term_screen_entered();
}

void show_bottom_line(const char *text, const char *suffix)
{
    term_lower_left();
    term_clear_eol();
    // The last column is left alone: a terminal that wraps there would
    // scroll the screen.
    show_standout(text, suffix, screen_cols - 1 - standout_on_width - standout_off_width);
}

void show_notice(const char *message)
{
    show_bottom_line(message, "... (interrupt to abort)");
    out_flush();
}
