// Set-up shared by the unit tests: inputs made from text or pipes, output
// taken from a descriptor, settings and environment put back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

// An unlinked temporary file holding data, open for reading and writing;
// -1 when it cannot be made.
int temp_file(const std::string &data);

// Make fd the current input with `buffers` buffers, in pipe mode or not.
void input_attach(int fd, int pipe_mode, int buffers);

// A temporary file holding data as the current input; its descriptor, or -1.
int input_from_text(const std::string &data, int buffers);

// The read end of a new pipe holding data (it must fit) as the current input
// in pipe mode. Returns the write end, or -1 when `end` closed it, or -2 when
// no pipe could be made.
int input_from_pipe(const std::string &data, bool end, int buffers);

// A pipe as the current input in pipe mode, filled by a child process with
// `length` bytes: chunk over and over (too much for the pipe to hold at
// once). The child's pid, or -1; it exits with status 0 when all was written.
pid_t input_from_child(const std::string &chunk, int64_t length, int buffers);

// Close the current input, if any, and leave none.
void input_close();

// Everything an option string can change back at its start value, and no
// signal pending.
void settings_reset();

// A screen of rows by cols whose attribute changes take no columns.
void screen_reset(int rows, int cols);

// Run f with descriptor fd on target, then put fd back. Standard output is
// flushed first, so that nothing buffered earlier lands on target.
template <typename F>
void redirected(int fd, int target, F f)
{
    fflush(stdout);
    int saved = dup(fd);
    dup2(target, fd);
    f();
    dup2(saved, fd);
    close(saved);
}

// Everything from the start of the file open on fd.
std::string file_text(int fd);

// What f writes to descriptor fd. Failed assertions inside f would be
// written there too, so check the results afterwards.
template <typename F>
std::string captured(int fd, F f)
{
    FILE *scratch = tmpfile();
    if (!scratch)
        return "<no scratch file>";
    redirected(fd, fileno(scratch), f);
    std::string text = file_text(fileno(scratch));
    fclose(scratch);
    return text;
}

// The whole content of the file at path ("" when it cannot be read), and
// the file at path replaced by bytes.
std::string read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::string &bytes);

// A new directory /tmp/<prefix>XXXXXX, or "" when none can be made.
std::string temp_dir(const char *prefix);

// Remove path and everything below it; 0 when all went.
int remove_tree(const std::string &path);

// An environment variable as it was, for env_restore.
struct saved_env {
    std::string name;
    std::string value;
    bool was_set;
};

saved_env env_save(const char *name);
void env_restore(const saved_env &saved);
