#include "viewer/control/start.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <bzlib.h>
#include <lzma.h>
#include <pcre2.h>
#include <zlib.h>
#include <zstd.h>

#include "common/version.h"

#include "viewer/control/command.h"
#include "viewer/control/decode.h"
#include "viewer/control/history.h"
#include "viewer/control/optchange.h"
#include "viewer/control/program.h"
#include "viewer/control/prompt.h"
#include "viewer/display/screen.h"
#include "viewer/input/exec.h"
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

// A hang-up or termination ends the viewer inside the handler: the
// command of --exec is told to end too, which is all a handler may do.
void at_hangup()
{
    exec_signal_end();
    history_save_at_hangup();
}

[[noreturn]] void interactive_mode()
{
    program_take_terminal();
    keys_load_user();
    history_load();
    signals_set_ending_hook(at_hangup);
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

constexpr char USAGE_HEAD[] = R"(usage: quorel [options] [file ...]
Shows text files, or standard input, one screenful at a time.

Options, also taken from MIVO. A long name may be cut to any beginning
that no other shares; its value follows as --name=VALUE or as the next
argument; a choice is given by name or as 0, 1, 2. --no-NAME turns a flag
off, -+x sets letter x back to its default, and -- ends the options.
)";
constexpr char USAGE_TAIL[] = R"(
While viewing, h lists the keys, and - - (or _ -) takes a long name.
)";

[[noreturn]] void answered()
{
    exit(fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1);
}

// "10.42 2022-12-11" or "1.0.8, 13-Jul-2019": the version alone.
std::string version_word(const char *text)
{
    return std::string(text, strcspn(text, " ,"));
}

[[noreturn]] void print_version()
{
    char pcre[64] = "";
    pcre2_config(PCRE2_CONFIG_VERSION, pcre);
    printf("quorel " MIVO_VERSION "\n"
           "built with PCRE2 %s, zlib %s, bzip2 %s, xz %s, zstd %s\n",
           version_word(pcre).c_str(), version_word(zlibVersion()).c_str(),
           version_word(BZ2_bzlibVersion()).c_str(), version_word(lzma_version_string()).c_str(),
           version_word(ZSTD_versionString()).c_str());
    answered();
}

// The actions among the leading options answer and end the program before
// any other option or file is looked at.
void answer_actions(int argc, char **argv)
{
    for (int i = 1; i < argc && (argv[i][0] == '-' || argv[i][0] == '+') && argv[i][1]; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--") == 0)
            return;
        if (a[0] != '-' || a[1] != '-')
            continue;
        size_t length = strcspn(a + 2, "= \t$");
        option_long_match m = option_lookup_long(a + 2, length);
        if (m.entry && (m.entry->kind & OPT_ACTION) && !a[2 + length])
            apply_text_option(m.entry->handler_name, nullptr);
    }
}

// "2", "0.5", "1.25": milliseconds, at least 100; -1 for anything else.
// Read by hand: the locale's decimal point may not be '.'.
int watch_interval(const char *text)
{
    int64_t ms = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9'; p++)
        if ((ms = ms * 10 + (*p - '0') * 1000) > int64_t{24} * 3600 * 1000)
            return -1;
    bool digits = p != text;
    if (*p == '.') {
        int scale = 100;
        for (p++; *p >= '0' && *p <= '9'; p++, scale /= 10) {
            ms += (*p - '0') * scale;
            digits = true;
        }
    }
    return digits && !*p && ms >= 100 ? static_cast<int>(ms) : -1;
}

} // namespace

int quorel_main(int argc, char **argv)
{
    answer_actions(argc, argv);
    std::set_new_handler(out_of_memory);
    message_set_hooks(finish_and_exit, repaint_screen);
    signals_set_message_hooks(message_fatal, show_bottom_line);
    term_set_warning_hook(show_error);
    option_set_error_hook(show_error);
    prompt_setup();
    option_defaults();
    // Every option is checked before any is applied: a tag is looked up
    // and a log named as they are applied, and nothing may be opened or
    // created for a command line that is refused.
    option_check_string(getenv("MIVO"));
    option_parse_arguments(argc, argv, nullptr, false);
    option_parse_string(getenv("MIVO"), apply_text_option);
    int i = option_parse_arguments(argc, argv, apply_text_option, true);
    program_set_files(argv + i, argc - i);
    if (output_is_terminal)
        interactive_mode();
    copy_files();
}

void option_defaults()
{
    for (const option_entry *o = option_table; o->long_name; o++)
        if (o->setting)
            *o->setting = o->default_value;
    first_command = nullptr;
    watch_ms = 0;
    key_queue(nullptr);
}

void apply_text_option(const char *option, char *text)
{
    if (strcmp(option, "help") == 0) {
        fputs(USAGE_HEAD, stdout);
        option_write_help(stdout);
        fputs(USAGE_TAIL, stdout);
        answered();
    }
    if (strcmp(option, "version") == 0)
        print_version();
    if (strcmp(option, "list-options") == 0) {
        option_write_list(stdout);
        answered();
    }
    if (strcmp(option, "watch") == 0) {
        if (!text || (watch_ms = watch_interval(text)) < 0) {
            show_error("--watch takes seconds, at least 0.1");
            exit(2);
        }
        return;
    }
    if (strcmp(option, "highlight") == 0 || strcmp(option, "jump-target") == 0 ||
        strcmp(option, "columns") == 0 || strcmp(option, "section") == 0 ||
        strcmp(option, "syntax") == 0) {
        apply_view_option(option, text);
        return;
    }
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

