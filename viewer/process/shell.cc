#include "viewer/process/shell.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

#ifndef QUOREL_HELP_FILE
#define QUOREL_HELP_FILE "/usr/local/share/misc/quorel.help"
#endif

namespace {

constexpr int GLOB_RESULT_SIZE = 128;
char glob_result[GLOB_RESULT_SIZE];

const char *user_shell()
{
    const char *shell = getenv("SHELL");
    return shell && *shell ? shell : nullptr;
}

} // namespace

void run_shell_command(const char *command)
{
    if (*command == '-') {
        command++;
    } else {
        term_lower_left();
        term_clear_eol();
        out_string("!");
        out_text(command);
        out_string("\n");
    }
    term_deinit_screen();
    out_flush();
    term_set_mode(0);
    signals_setup(0);

    // The child reads the terminal, even when the viewer reads a pipe.
    int spare = dup(0);
    close(0);
    if (open("/dev/tty", O_RDONLY) < 0)
        dup2(spare, 0);

    // Built to the size it needs: a long file name put in for '%' must
    // neither be cut nor overrun anything.
    std::string line;
    if (const char *shell = user_shell()) {
        line = shell;
        if (*command) {
            line += " -c \"";
            line += command;
            line += "\"";
        }
    } else {
        line = *command ? command : "sh";
    }
    int ignored = system(line.c_str());
    (void)ignored;

    close(0);
    dup2(spare, 0);
    close(spare);
    signals_setup(1);
    term_set_mode(1);
    term_init_screen();
    screen_stale = 1;
}

const char *glob(const char *pattern)
{
    if (*pattern == '#')
        return pattern;
    std::string command;
    if (const char *shell = user_shell()) {
        command = shell;
        command += " -c \"echo ";
        command += pattern;
        command += "\"";
    } else {
        command = "echo \"";
        command += pattern;
        command += "\"";
    }
    FILE *f = popen(command.c_str(), "r");
    if (!f)
        return pattern;
    int n = 0;
    for (int c; n < GLOB_RESULT_SIZE - 1 && (c = getc(f)) != EOF && c != '\n';)
        glob_result[n++] = static_cast<char>(c);
    glob_result[n] = '\0';
    // Drain the rest, or a child with more to say would block pclose.
    while (getc(f) != EOF) {
    }
    pclose(f);
    return glob_result;
}

void show_help()
{
    std::string command =
        "-quorel -m '-PmHELP -- ?eEND -- Press g to see it again:Press RETURN for more., "
        "or q when done ' ";
    command += QUOREL_HELP_FILE;
    run_shell_command(command.c_str());
    show_error("End of help");
}
