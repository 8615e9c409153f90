#include "viewer/process/shell.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// The help file of the source tree, for a program run where it was built.
#ifndef QUOREL_SOURCE_HELP_FILE
#define QUOREL_SOURCE_HELP_FILE QUOREL_HELP_FILE
#endif
// Where the program is installed, to tell an installed run from a build.
#ifndef QUOREL_INSTALLED_PROGRAM
#define QUOREL_INSTALLED_PROGRAM "/usr/local/bin/quorel"
#endif

namespace {

constexpr int GLOB_RESULT_SIZE = 128;
// Set in the environment of the viewer that shows the help.
constexpr const char *HELP_VIEWER_VARIABLE = "QUOREL_HELP_VIEWER";
char glob_result[GLOB_RESULT_SIZE];

// Read once at start and taken out of the environment, so that a shell or
// a viewer the help viewer starts is not taken for a help viewer too.
const bool started_as_help_viewer = [] {
    bool set = getenv(HELP_VIEWER_VARIABLE) != nullptr;
    unsetenv(HELP_VIEWER_VARIABLE);
    return set;
}();

const char *user_shell()
{
    const char *shell = getenv("SHELL");
    return shell && *shell ? shell : nullptr;
}

// The running executable, so that help comes from this very program and
// not from whatever "quorel" the search path finds first; the name it was
// started by where the system does not tell.
const char *viewer_program()
{
    static char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        // A rebuilt program shows as "... (deleted)": no longer runnable.
        if (access(self, X_OK) == 0)
            return self;
    }
    return program_invocation_name;
}

// The help that belongs to this program: the installed file for the
// installed program, the build tree's for a build; each falls back to the
// other, and a missing file is reported by the second viewer.
const char *help_file()
{
    bool installed = strcmp(viewer_program(), QUOREL_INSTALLED_PROGRAM) == 0;
    const char *first = installed ? QUOREL_HELP_FILE : QUOREL_SOURCE_HELP_FILE;
    const char *second = installed ? QUOREL_SOURCE_HELP_FILE : QUOREL_HELP_FILE;
    if (access(first, R_OK) == 0)
        return first;
    if (access(second, R_OK) == 0)
        return second;
    return QUOREL_HELP_FILE;
}

void hold_stop(int)
{
}

// Run a program and wait for it. Through a plain fork, not system():
// system() spawns a child that the viewer waits on until it has started the
// program, and a stop reaching the child first left the viewer waiting for
// ever. A child that is another viewer acts on a stop in its own time,
// after it has given the terminal back; then the viewer stops only once
// the child has, so that the shell never sees the job stopped while the
// child still holds the terminal in its modes. Any other child stops with
// the viewer, as the whole job does.
void run_and_wait(const char *path, char *const argv[], bool child_is_viewer)
{
    struct sigaction hold = {}, old_stop;
    hold.sa_handler = hold_stop;
    sigemptyset(&hold.sa_mask);
    sigaction(SIGTSTP, child_is_viewer ? &hold : nullptr, &old_stop);
    pid_t child = fork();
    if (child == 0) {
        for (int sig : {SIGINT, SIGQUIT, SIGTSTP, SIGWINCH})
            signal(sig, SIG_DFL);
        if (child_is_viewer)
            setenv(HELP_VIEWER_VARIABLE, "1", 1);
        execvp(path, argv);
        _exit(127);
    }
    while (child > 0) {
        int status;
        if (waitpid(child, &status, child_is_viewer ? WUNTRACED : 0) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (!WIFSTOPPED(status))
            break;
        // Stopped as the whole job is: stop too, and go on together.
        kill(getpid(), SIGSTOP);
        kill(child, SIGCONT);
    }
    sigaction(SIGTSTP, &old_stop, nullptr);
}

// Run a program with the terminal handed over to it and taken back
// afterwards; with keep_output the screen mode stays left for the next
// message.
void run_with_terminal(const char *path, char *const argv[], bool child_is_viewer,
                       bool keep_output)
{
    term_deinit_screen();
    out_flush();
    term_set_mode(0);
    signals_setup(0);

    // The child reads the terminal, even when the viewer reads a pipe.
    int spare = dup(0);
    close(0);
    if (open("/dev/tty", O_RDONLY) < 0)
        dup2(spare, 0);

    run_and_wait(path, argv, child_is_viewer);

    close(0);
    dup2(spare, 0);
    close(spare);
    signals_setup(1);
    term_set_mode(1);
    // The window may have changed size while the child had it: no signal
    // told the viewer then.
    term_setup();
    if (keep_output)
        message_below_output();
    else
        term_init_screen();
    screen_stale = 1;
}

} // namespace

void run_shell_command(const char *command, bool keep_output)
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

    // The user's shell gets the command exactly as written, quoting and
    // all: quoted once more here, nothing in it is expanded on the way.
    // Built to the size it needs, so a long file name put in for '%' is
    // neither cut nor overruns anything.
    std::string line;
    if (const char *shell = user_shell()) {
        line = shell_quote(shell);
        if (*command) {
            line += " -c ";
            line += shell_quote(command);
        }
    } else {
        line = *command ? command : "sh";
    }
    char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), line.data(), nullptr};
    run_with_terminal("/bin/sh", argv, false, keep_output);
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

std::string shell_quote(const char *text)
{
    std::string quoted = "'";
    for (const char *c = text; *c; c++) {
        if (*c == '\'')
            quoted += "'\\''";
        else
            quoted += *c;
    }
    quoted += "'";
    return quoted;
}

bool secure_mode()
{
    const char *value = getenv("QUOREL_SECURE");
    return value && strcmp(value, "1") == 0;
}

bool in_help_viewer()
{
    return started_as_help_viewer;
}

bool secure_refuse()
{
    if (!secure_mode())
        return false;
    show_error("Command not available");
    return true;
}

void show_help()
{
    // Run directly, with no shell between: nothing to quote, and no shell
    // for an interrupt meant for the help viewer to end behind its back.
    char *argv[] = {const_cast<char *>(viewer_program()), const_cast<char *>("-m"),
                    const_cast<char *>("-PmHELP -- ?eEND -- Press g to see it again:Press "
                                       "RETURN for more., or q when done "),
                    const_cast<char *>(help_file()), nullptr};
    run_with_terminal(argv[0], argv, true, false);
    show_error("End of help");
}
