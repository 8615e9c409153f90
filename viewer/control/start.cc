#include "viewer/control/start.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#include "common/version.h"

#include "viewer/control/command.h"
#include "viewer/control/decode.h"
#include "viewer/control/history.h"
#include "viewer/control/program.h"
#include "viewer/control/prompt.h"
#include "viewer/display/screen.h"
#include "viewer/input/log.h"
#include "viewer/navigation/tags.h"
#include "viewer/options/option.h"
#include "viewer/process/shell.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

int tag_requested;
int start_command_given;

namespace {

// The terminal's initialisation comes once the first input is open: on a
// terminal whose "ti" enters an alternate screen, everything written to
// standard error before (capability warnings, a bad key file, files that
// could not be opened) would otherwise vanish behind it before the user
// had read it at the wait for RETURN.
void enter_screen()
{
    term_init_screen();
    out_flush();
}

[[noreturn]] void interactive_mode()
{
    program_take_terminal();
    keys_load_user();
    history_load();
    signals_set_ending_hook(history_save_at_hangup);
    screen_defer_blank_rows = !tag_requested && !start_command_given;

    if (tag_requested) {
        if (file_count > 0) {
            show_error("No filenames allowed with -t option");
            finish_and_exit(1);
        }
        if (!tag_file_name || view_file(tag_file_name) != 0)
            finish_and_exit(1);
        enter_screen();
        if (tag_locate() != 0)
            finish_and_exit(1);
        command_loop();
    }
    if (view_first_file() != 0)
        finish_and_exit(1);
    // Output that fits is left on the terminal as any command's would be.
    if (opt_F && file_count <= 1 && screen_print_if_fits())
        finish_plain();
    enter_screen();
    command_loop();
}

constexpr char USAGE[] = R"(usage: quorel [options] [file ...]
Shows text files, or standard input, one screenful at a time.

Options (also taken from MIVO; -+x sets x back to its default):
  -e -E       quit at the end of the last file / as soon as it is shown
  -F          quit at once when the input fits on one screen
  -i -I       ignore case in searches / search only when RETURN is typed
  -m -M       medium / long prompt
  -n          no line numbers;  -N  line numbers in a column
  -r -R       colour sequences in caret form / as colour (the default)
  -s          squeeze runs of blank lines into one
  -S          chop long lines; the right and left arrows scroll sideways
  -u -U       backspaces overstrike / show as ^H
  -X          leave what was shown on the terminal (no alternate screen)
  -Y          scroll with the mouse wheel
  -xN -zN     tab stops every N columns / N lines a screen
  -Pprompt -ttag -lfile +command ++command
  --help --version

Keys (a number typed first is a count):
  SPACE f / b            forward / backward one screen
  RETURN j e / k y       forward / backward one line
  d / u                  forward / backward half a screen
  RIGHT / LEFT           with -S: sideways half a screen
  g / G                  to the first / last line, or line N
  p                      to N percent of the file
  /pattern ?pattern n    search forward, backward; repeat
  &pattern  &!pattern    show only the lines that match / do not; & alone: all
  m x / ' x              set mark x / go to mark x
  :n :p :e file          next, previous, another file
  -x _x                  change / show option x
  = V h                  status, version, help
  q                      quit
)";

// --help and --version among the leading options: they answer and end the
// program before any option or file is looked at.
void answer_long_options(int argc, char **argv)
{
    for (int i = 1; i < argc && (argv[i][0] == '-' || argv[i][0] == '+') && argv[i][1]; i++) {
        if (strcmp(argv[i], "--help") == 0) {
            fputs(USAGE, stdout);
            exit(fflush(stdout) == 0 ? 0 : 1);
        }
        if (strcmp(argv[i], "--version") == 0) {
            fputs("quorel version " MIVO_VERSION "\n", stdout);
            exit(fflush(stdout) == 0 ? 0 : 1);
        }
    }
}

} // namespace

int quorel_main(int argc, char **argv)
{
    answer_long_options(argc, argv);
    std::set_new_handler(out_of_memory);
    message_set_hooks(finish_and_exit, repaint_screen);
    prompt_setup();
    option_defaults();
    option_parse_string(getenv("MIVO"), apply_text_option);
    int i = 1;
    for (; i < argc; i++) {
        const char *a = argv[i];
        if ((a[0] != '-' && a[0] != '+') || a[1] == '\0')
            break;
        option_parse_string(argv[i], apply_text_option);
    }
    program_set_files(argv + i, argc - i);
    if (output_is_terminal)
        interactive_mode();
    copy_files();
}

void option_defaults()
{
    for (const option_entry *o = option_table; o->letter; o++)
        *o->setting = o->default_value;
    first_command = nullptr;
    key_queue(nullptr);
}

void apply_text_option(const char *option, char *text)
{
    switch (option[0]) {
    case '+':
        start_command_given = 1;
        key_queue(text);
        if (option[1] == '+') {
            free(first_command);
            first_command = copy_string(text);
        }
        return;
    case 'P': {
        int which = prompt_select(&text);
        prompt_replace(which, text);
        return;
    }
    }
    // A restricted viewer writes no log and reads no tags file.
    if (secure_refuse())
        return;
    if (option[0] == 't') {
        tag_requested = 1;
        tag_lookup(text);
    } else {
        log_file_name = text;
        if (option[0] == 'L')
            log_overwrite = 1;
    }
}

