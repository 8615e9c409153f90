#include "viewer/control/start.h"

#include <cstdlib>
#include <new>
#include <unistd.h>

#include "viewer/control/command.h"
#include "viewer/control/decode.h"
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

} // namespace

int quorel_main(int argc, char **argv)
{
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

