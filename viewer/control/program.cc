#include "viewer/control/program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/strings.h"

#include "viewer/control/history.h"
#include "viewer/display/screen.h"
#include "viewer/input/buffer.h"
#include "viewer/input/exec.h"
#include "viewer/input/linenum.h"
#include "viewer/input/log.h"
#include "viewer/navigation/filter.h"
#include "viewer/navigation/jump.h"
#include "viewer/options/option.h"
#include "viewer/process/child.h"
#include "viewer/process/shell.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

char **file_list;
int file_count;
int file_index;
int file_tried;
char *current_file_name;
char *previous_file_name;
int output_is_terminal;
int file_just_opened;
char *editor_command;
char *first_command;
int running_every_file_command;
int watch_ms;

namespace {

// --exec: the command's words, and its one entry in the file list (the
// words joined by blanks, for the prompt).
char **command_words;
char *command_entry[1];

// The keys still to run of an every-file command replaced while it ran.
char *first_command_rest;

bool points_into(const char *p, const char *s)
{
    if (!p || !s)
        return false;
    auto at = reinterpret_cast<uintptr_t>(p), start = reinterpret_cast<uintptr_t>(s);
    return at >= start && at <= start + strlen(s);
}

file_pos previous_position = NO_POSITION;
int stdin_viewed;
// The terminal has been set up, so leaving must put it back.
int terminal_in_use;
// The preprocessor whose output is the current input, or 0.
pid_t input_child;

// The preprocessor's command for this input, or nullptr: a named file
// always, standard input only when the text starts with '-' (which is
// not part of the command).
const char *preprocess_command(bool is_stdin)
{
    const char *text = getenv("QUOREL_PREPROCESS");
    if (!text || !*text || opt_no_preprocess || secure_mode() || in_help_viewer())
        return nullptr;
    if (*text == '-')
        text++;
    else if (is_stdin)
        return nullptr;
    return *text ? text : nullptr;
}

// Run the preprocessor on name (in_fd: its standard input, -1 for none)
// and wait until it has written something or ended. The read end of its
// output, with *child set; -1 when the file is to be shown as it is: the
// command could not start, or ended with no output and a failure status,
// or the wait was interrupted.
int preprocess(const char *command, const char *name, int in_fd, pid_t *child)
{
    // An argument that begins with '-' would reach most commands as an
    // option: "./" keeps it a file name.
    char *arg = nullptr;
    if (name[0] == '-' && name[1] != '\0') {
        arg = static_cast<char *>(malloc(strlen(name) + 3));
        if (!arg)
            out_of_memory();
        strcpy(arg, "./");
        strcat(arg, name);
    }
    // Its errors would land on the screen, which they cannot be kept off.
    int fd = child_start(command, "quorel-preprocess", arg ? arg : name, in_fd,
                         !output_is_terminal, child);
    free(arg);
    if (fd < 0)
        return -1;
    int ready = wait_for_input(fd, -1);
    int queued = 0;
    if (ready == 1 && ioctl(fd, FIONREAD, &queued) == 0 && queued > 0)
        return fd;
    int status = 0;
    if (ready == 1 && child_wait(*child, &status) == 1 && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0)
        return fd;
    close(fd);
    child_end(*child);
    *child = 0;
    return -1;
}

// Open a named input: a regular file as it is, and a named pipe or device
// without waiting for a writer (the reads wait, breakably). The descriptor,
// or -1 with the problem in message.
int open_input(const char *name, bool stream, char *message, int size)
{
    // A terminal named as a file must not become the controlling one.
    int fd = open(name, O_RDONLY | (stream ? O_NONBLOCK | O_NOCTTY : 0));
    if (fd < 0) {
        error_text(name, message, size);
        return -1;
    }
    if (stream)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The input being left is closed, and a preprocessor behind it ended.
void close_input()
{
    if (input_fd >= 0 && input_fd == exec_fd)
        exec_stop();
    else if (input_fd > 0)
        close(input_fd);
    input_fd = -1;
    child_end(input_child);
    input_child = 0;
}

// Start the command as the input: its merged streams' descriptor, or -1
// with a message shown.
int start_command()
{
    int err = exec_start(command_words);
    if (err == 0)
        return exec_fd;
    char message[200];
    snprintf(message, sizeof message, "%.120s: %s", command_words[0],
             err == ENOENT ? "command not found" : strerror(err));
    show_error(message);
    return -1;
}

} // namespace

bool input_is_command()
{
    return input_fd >= 0 && input_fd == exec_fd;
}

void program_set_files(char **names, int count)
{
    file_list = names;
    file_count = count;
    file_index = 0;
    const char *editor = getenv("EDITOR");
    editor_command = const_cast<char *>(editor && *editor ? editor : "/usr/bin/vi");
    output_is_terminal = isatty(1);
    command_words = nullptr;
    if (!opt_exec)
        return;
    // The command is data: its words go to execvp as they are.
    if (secure_mode()) {
        show_error("--exec is not available in secure mode");
        exit(1);
    }
    if (count == 0) {
        show_error("--exec needs a command");
        exit(1);
    }
    command_words = names;
    size_t length = 0;
    for (int i = 0; i < count; i++)
        length += strlen(names[i]) + 1;
    char *entry = static_cast<char *>(calloc(length, 1));
    if (!entry)
        out_of_memory();
    for (int i = 0; i < count; i++) {
        if (i > 0)
            strcat(entry, " ");
        strcat(entry, names[i]);
    }
    free(command_entry[0]);
    command_entry[0] = entry;
    file_list = command_entry;
    file_count = 1;
}

void copy_files()
{
    out_set_copying(1);
    int failed = 0;
    if (file_count == 0) {
        failed = view_file("-");
        if (!failed)
            copy_to_output();
    }
    for (file_index = 0; file_index < file_count; file_index++) {
        if (view_file(nullptr) == 0)
            copy_to_output();
        else
            failed = 1;
    }
    out_flush();
    // A command's output and errors were copied as they came; its status
    // is the copy's, as a shell pipeline's last command's would be.
    if (command_words && !failed) {
        int status = exec_wait_status();
        exec_stop();
        exit(status < 0 ? 2 : status);
    }
    exit(failed);
}

int view_first_file()
{
    if (file_count == 0)
        return view_file("-");
    for (file_index = 0; file_index < file_count; file_index++) {
        file_tried = file_index;
        if (view_file(nullptr) == 0)
            return 0;
    }
    return 1;
}

int view_file(const char *name)
{
    file_pos restore = NO_POSITION;
    if (!name || !*name) {
        if (file_index >= file_count) {
            show_error("No current file");
            return 1;
        }
        name = file_list[file_index];
    } else if (strcmp(name, "#") == 0) {
        if (!previous_file_name || !*previous_file_name) {
            show_error("no previous file");
            return 1;
        }
        name = previous_file_name;
        restore = previous_position;
    }

    char *copy = copy_string(name);
    bool is_command = command_words && strcmp(name, command_entry[0]) == 0;
    bool is_stdin = !is_command && strcmp(name, "-") == 0;
    bool stream = true;
    int fd;
    if (is_command) {
        // One command runs at a time: the one shown gives way, and when
        // the new run cannot start, nothing is shown rather than a closed
        // descriptor read.
        bool replacing = input_is_command();
        if (replacing)
            close_input();
        fd = start_command();
        if (fd < 0 && replacing)
            fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            free(copy);
            return 1;
        }
    } else if (is_stdin) {
        if (stdin_viewed) {
            show_error("Can view standard input only once");
            free(copy);
            return 1;
        }
        fd = 0;
    } else {
        char message[100];
        const char *problem = check_input_file(name, message, sizeof message, &stream);
        if (!problem) {
            fd = open_input(name, stream, message, sizeof message);
            if (fd < 0)
                problem = message;
        }
        if (problem) {
            show_error(problem);
            free(copy);
            return 1;
        }
    }
    if (isatty(fd)) {
        show_error("Can't take input from a terminal");
        if (fd != 0)
            close(fd);
        free(copy);
        return 1;
    }
    // A named pipe or device is read once, as it comes: only files and
    // standard input (when asked for) go through the preprocessor.
    pid_t child = 0;
    if (const char *command =
            is_command || !(is_stdin || !stream) ? nullptr : preprocess_command(is_stdin)) {
        int out = preprocess(command, name, is_stdin ? 0 : -1, &child);
        if (out >= 0) {
            if (!is_stdin)
                close(fd);
            fd = out;
            stream = true;
        }
    }
    if (is_stdin && log_file_name && output_is_terminal)
        log_start();
    // The log is a copy of standard input alone: complete it before the
    // pipe's data are forgotten, and log nothing of what comes next.
    if (!is_stdin)
        log_finish();
    close_input();
    input_child = child;

    file_just_opened = 1;
    free(previous_file_name);
    previous_file_name = current_file_name;
    current_file_name = copy;
    previous_position = screen_pos(ROW_TOP);
    if (is_stdin)
        stdin_viewed = 1;
    // A filter copies compressed data as they are; only the screen shows
    // what they hold.
    // A command's positions are its bytes': its errors are noted by them.
    buf_open(fd, current_file_name, !is_stdin && !is_command, stream,
             output_is_terminal && !is_command);
    buf_attach(opt_b, 0);
    marks_clear();
    filter_input_changed(current_file_name);
    // A file that the every-file command opens itself does not run it
    // again: "++:e#" would otherwise open files for ever.
    if (first_command && !running_every_file_command) {
        key_queue(first_command);
        running_every_file_command = 1;
    }
    if (!output_is_terminal)
        return 0;

    if (!screen_started) {
        screen_started = 1;
        // Let the user read what went to standard error before the screen
        // covers it, and see which file comes next.
        if (error_count > 0)
            show_error(current_file_name);
    }
    screen_pos_clear();
    if (restore != NO_POSITION)
        goto_position(restore);
    linenum_reset();
    return 0;
}

namespace {

// The input opened anew under the same name: nothing learnt about the old
// one holds.
void attach_afresh()
{
    buf_attach(opt_b, 0);
    marks_clear();
    filter_input_changed(current_file_name);
    screen_pos_clear();
    linenum_reset();
}

} // namespace

int reopen_file()
{
    char message[100];
    bool stream = false;
    if (!current_file_name || !input_named || input_child ||
        check_input_file(current_file_name, message, sizeof message, &stream) || stream)
        return 1;
    int fd = open_input(current_file_name, false, message, sizeof message);
    if (fd < 0)
        return 1;
    close_input();
    buf_open(fd, current_file_name, 1, 0, output_is_terminal);
    attach_afresh();
    return 0;
}

int refresh_input()
{
    if (!input_is_command())
        return reopen_file();
    close_input();
    int fd = start_command();
    // Nothing to show rather than a closed descriptor to read.
    if (fd < 0)
        fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    buf_open(fd, current_file_name, 0, 1, 0);
    attach_afresh();
    return 0;
}

// The shown index moves only once the file is open, so that the prompt
// names the file on the screen; the count goes on from the entry tried. A
// count of any size only steps past the end.
void view_next_file(int n)
{
    if (n < file_count - file_tried) {
        file_tried += n;
        if (view_file(file_list[file_tried]) == 0)
            file_index = file_tried;
    } else if (opt_e) {
        finish_and_exit();
    } else {
        show_error("No (N-th) next file");
    }
}

void view_prev_file(int n)
{
    if (n > file_tried) {
        show_error("No (N-th) previous file");
        return;
    }
    file_tried -= n;
    if (view_file(file_list[file_tried]) == 0)
        file_index = file_tried;
}

void program_take_terminal()
{
    // The description is loaded before the modes change: the library may
    // fail there (it can even exit), and nothing is to be undone then.
    term_setup();
    signals_guard_terminal();
    // The handlers come before raw mode: an interrupt in between would
    // otherwise end the viewer with the terminal left raw.
    signals_setup(1);
    term_set_mode(1);
    terminal_in_use = 1;
    keyboard_setup();
}

namespace {

// Give the terminal its modes back and exit; lost output is reported once
// the terminal is the user's again.
[[noreturn]] void leave(int status)
{
    out_flush();
    if (terminal_in_use)
        term_set_mode(0);
    // The screen is no longer in use: what is said goes to standard error.
    screen_started = 0;
    history_report_failure();
    if (out_report_failure() && status == 0)
        status = 1;
    if (log_failed && status == 0)
        status = 1;
    // The terminal is the user's again before a command that will not end
    // is given its second.
    exec_stop();
    exit(status);
}

} // namespace

void finish_and_exit(int status)
{
    log_finish();
    history_save();
    if (terminal_in_use)
        term_leave_screen();
    leave(status);
}

void finish_plain()
{
    log_finish();
    leave(0);
}

void out_of_memory()
{
    // The way out may itself run short of memory: then leave at once.
    static int leaving;
    if (leaving++) {
        term_restore_emergency();
        _exit(2);
    }
    show_error("cannot allocate memory");
    finish_and_exit(2);
}

bool in_every_file_command(const char *p)
{
    return points_into(p, first_command) || points_into(p, first_command_rest);
}

void set_first_command(const char *text)
{
    char *old = first_command;
    first_command = text ? copy_string(text) : nullptr;
    if (points_into(pending_command_text, old)) {
        // The keys being run are the rest of the old command: keep them.
        char *rest = copy_string(pending_command_text);
        free(first_command_rest);
        first_command_rest = rest;
        pending_command_text = rest;
    }
    free(old);
}

char *copy_string(const char *s)
{
    size_t n = strlen(s) + 1;
    auto *p = static_cast<char *>(calloc(n, 1));
    if (!p)
        out_of_memory();
    memcpy(p, s, n);
    return p;
}

const char *check_input_file(const char *name, char *buffer, int size, bool *stream)
{
    struct stat st;
    if (stat(name, &st) < 0)
        return error_text(name, buffer, size);
    *stream = S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode);
    if (S_ISREG(st.st_mode) || *stream)
        return nullptr;
    const char *what = S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file";
    int cut = S_ISDIR(st.st_mode) ? size - 17 : size - 24;
    copy_bounded(buffer, name, cut);
    strcat(buffer, what);
    return buffer;
}

char *error_text(const char *name, char *buffer, int size)
{
    int err = errno;
    char number[32];
    const char *text = strerror(err);
    if (!text) {
        snprintf(number, sizeof number, "Error %d", err);
        text = number;
    }
    int room = size - static_cast<int>(strlen(text)) - 3;
    buffer[0] = '\0';
    if (room > 0)
        copy_bounded(buffer, name, room);
    snprintf(buffer + strlen(buffer), size - strlen(buffer), ": %s", text);
    return buffer;
}

void copy_to_output()
{
    if (input_is_pipe && (pipe_offset != 0 || eof_position != NO_POSITION)) {
        // Part of the pipe is in the buffers already, which show NUL bytes
        // as '@': each block goes out as it was read, and the rest of the
        // pipe through the buffers after it.
        char raw[BLOCK_SIZE];
        const char *data;
        int n;
        while ((n = buf_run(&data)) > 0) {
            file_pos at = buf_tell();
            if (buf_block_raw(at / BLOCK_SIZE, raw) < 0)
                break;
            out_bytes(raw + at % BLOCK_SIZE, static_cast<size_t>(n));
            buf_skip(n);
        }
        out_flush();
        return;
    }
    // The bytes of the file or the pipe go out as they stand, in large
    // pieces and untouched: NUL bytes too, and compressed data as they are.
    static char chunk[1 << 17];
    if (input_is_command()) {
        int64_t at = 0;
        int n;
        while ((n = exec_read(at, chunk, sizeof chunk, true)) > 0) {
            out_bytes(chunk, static_cast<size_t>(n));
            at += n;
        }
        out_flush();
        if (n == -2)
            finish_and_exit(2);
        return;
    }
    if (!input_is_pipe)
        lseek(input_fd, buf_tell(), SEEK_SET);
    // A named pipe with no writer yet reads as ended: wait for one first.
    if (input_stream && wait_for_input(input_fd, -1) == -2)
        finish_and_exit(2);
    for (;;) {
        ssize_t n = read(input_fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            show_error("read error");
            finish_and_exit(2);
        }
        if (n == 0)
            break;
        out_bytes(chunk, static_cast<size_t>(n));
    }
    out_flush();
}
