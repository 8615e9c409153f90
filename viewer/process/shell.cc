#include "viewer/process/shell.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
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
    int out[2];
    if (pipe(out) < 0)
        return pattern;
    pid_t child = fork();
    if (child < 0) {
        close(out[0]);
        close(out[1]);
        return pattern;
    }
    if (child == 0) {
        // A group of its own: the interrupt and stop keys are the viewer's
        // to act on, and a child stopped behind the viewer's back would
        // never finish its output.
        setpgid(0, 0);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    setpgid(child, child);
    close(out[1]);
    const char *result = glob_result;
    int n = 0;
    char chunk[256];
    // Only the first line counts, but the rest is read too, so that the
    // child is not left blocked on a full pipe.
    for (bool line_done = false;;) {
        int k = read_interruptible(out[0], chunk, sizeof chunk);
        if (k == -2) {
            if (pending_signals & PENDING_INTERRUPT) {
                kill(-child, SIGKILL);
                result = pattern;
                break;
            }
            // A stop suspends the viewer here; the child runs on meanwhile.
            signals_process();
            continue;
        }
        if (k <= 0)
            break;
        for (int i = 0; i < k && !line_done; i++) {
            if (chunk[i] == '\n' || n == GLOB_RESULT_SIZE - 1)
                line_done = true;
            else
                glob_result[n++] = chunk[i];
        }
    }
    glob_result[n] = '\0';
    close(out[0]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
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
