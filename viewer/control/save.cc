#include "viewer/control/save.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "viewer/control/program.h"
#include "viewer/input/buffer.h"
#include "viewer/navigation/filter.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

namespace {

constexpr int CHUNK = 128 * 1024;
constexpr int MESSAGE_SIZE = 256;

// Bytes gathered for the next write: a pipe's blocks and a filter's lines
// come a little at a time.
char staged[CHUNK];
size_t staged_length;
char read_chunk[CHUNK];
int out_fd = -1;
int write_failure;              // errno of the first failed write
int read_failure;               // errno of a failed read of the input

bool flush_staged()
{
    const char *data = staged;
    size_t n = staged_length;
    staged_length = 0;
    while (n > 0) {
        ssize_t k = write(out_fd, data, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            write_failure = k < 0 ? errno : EIO;
            return false;
        }
        data += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool put(const char *data, size_t n)
{
    while (n > 0) {
        size_t room = CHUNK - staged_length;
        size_t take = n < room ? n : room;
        memcpy(staged + staged_length, data, take);
        staged_length += take;
        data += take;
        n -= take;
        if (staged_length == CHUNK && !flush_staged())
            return false;
    }
    return true;
}

// The input's own bytes from `from` up to `to` (NO_POSITION: to the end of
// a file) go to the new file: NUL bytes as NUL, not as they are shown. A
// pipe's blocks no longer held are passed over. False when a write or a
// read failed or an interrupt came.
bool copy_range(file_pos from, file_pos to)
{
    if (!input_is_pipe) {
        while (to == NO_POSITION || from < to) {
            if (pending_signals)
                return false;
            size_t want = CHUNK;
            if (to != NO_POSITION && to - from < static_cast<file_pos>(want))
                want = static_cast<size_t>(to - from);
            ssize_t n = pread(input_fd, read_chunk, want, from);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                read_failure = errno;
                return false;
            }
            if (n == 0)
                break;
            if (!put(read_chunk, static_cast<size_t>(n)))
                return false;
            from += n;
        }
        return true;
    }
    char raw[BLOCK_SIZE];
    while (from < to) {
        if (pending_signals)
            return false;
        int64_t block = from / BLOCK_SIZE;
        int n = buf_block_raw(block, raw);
        file_pos block_start = block * BLOCK_SIZE;
        file_pos end = to - block_start < n ? to - block_start : n;
        file_pos at = from - block_start;
        if (end > at && !put(raw + at, static_cast<size_t>(end - at)))
            return false;
        from = block_start + BLOCK_SIZE;
    }
    return true;
}

// The lines the filter shows, from start on.
bool copy_shown(file_pos start)
{
    for (file_pos pos = start;;) {
        if (pending_signals)
            return false;
        file_pos line = filter_next_shown(pos);
        if (line == NO_POSITION)
            return pending_signals == 0;
        file_pos end = buf_line_end(line);
        if (end <= line)
            return pending_signals == 0;
        if (!copy_range(line, end))
            return false;
        pos = end;
    }
}

// Read into the buffers what a stream has sent so far, without waiting for
// more, and a compressed file to its end: what is saved is then all that
// can be. True unless an interrupt stopped it.
bool take_what_arrived()
{
    if (!input_is_pipe || eof_position != NO_POSITION)
        return true;
    file_pos cursor = buf_tell();
    int was = buf_pipe_nonblocking(input_stream ? 1 : 0);
    bool stopped = buf_seek(pipe_offset) == 0 && buf_read_to_end() != 0;
    buf_pipe_nonblocking(was);
    // The end met was only that of what had arrived.
    if (input_stream)
        buf_forget_end();
    buf_seek(cursor);
    return !stopped;
}

// The first position held: 0, or for a pipe that let go of its start the
// oldest data it keeps.
file_pos first_held()
{
    if (!input_is_pipe)
        return 0;
    file_pos cursor = buf_tell();
    file_pos first = buf_seek_begin() == 0 ? buf_tell() : pipe_offset;
    buf_seek(cursor);
    return first;
}

bool copy_input()
{
    if (!take_what_arrived())
        return false;
    file_pos start = first_held();
    if (filter_text()) {
        // Judging a stream's lines must not wait for lines still to come.
        bool ended = eof_position != NO_POSITION;
        int was = buf_pipe_nonblocking(input_stream ? 1 : 0);
        bool done = copy_shown(start);
        buf_pipe_nonblocking(was);
        if (input_stream && !ended)
            buf_forget_end();
        return done;
    }
    return copy_range(start, input_is_pipe ? pipe_offset : NO_POSITION);
}

// The mode a new file gets: that of the file it replaces, or what the
// user's mask lets a new file have.
mode_t mode_for(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void report(const char *name, int err)
{
    char message[MESSAGE_SIZE];
    errno = err;
    show_error(error_text(name, message, sizeof message));
}

// The name, cut as in the error messages, then ": " and what happened.
void say(const char *name, const char *what)
{
    char message[MESSAGE_SIZE];
    errno = EINTR;
    error_text(name, message, sizeof message - strlen(what));
    char *colon = strrchr(message, ':');
    snprintf(colon, sizeof message - static_cast<size_t>(colon - message), ": %s", what);
    show_error(message);
}

} // namespace

bool save_target(const char *typed, char *path, size_t size)
{
    while (*typed == ' ')
        typed++;
    size_t n = strlen(typed);
    while (n > 0 && typed[n - 1] == ' ')
        n--;
    if (n == 0)
        return false;
    const char *home = getenv("HOME");
    int written;
    if (typed[0] == '~' && (n == 1 || typed[1] == '/') && home && *home)
        written = snprintf(path, size, "%s%.*s", home, static_cast<int>(n - 1), typed + 1);
    else
        written = snprintf(path, size, "%.*s", static_cast<int>(n), typed);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        report(typed, ENAMETOOLONG);
        return false;
    }
    struct stat st;
    if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        report(path, EISDIR);
        return false;
    }
    return true;
}

bool save_exists(const char *path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

bool save_input(const char *path)
{
    // A link stays a link: the file it leads to is the one replaced.
    char resolved[PATH_MAX];
    struct stat st;
    const char *target = path;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode) && realpath(path, resolved))
        target = resolved;
    char temp[PATH_MAX];
    if (snprintf(temp, sizeof temp, "%s.XXXXXX", target) >= static_cast<int>(sizeof temp)) {
        report(path, ENAMETOOLONG);
        return false;
    }
    mode_t mode = mode_for(target);
    out_fd = mkostemp(temp, O_CLOEXEC);
    if (out_fd < 0) {
        report(path, errno);
        return false;
    }
    show_notice("Saving");
    staged_length = 0;
    write_failure = read_failure = 0;
    bool copied = copy_input() && flush_staged();
    bool done = copied && fchmod(out_fd, mode) == 0 && fsync(out_fd) == 0;
    if (copied && !done)
        write_failure = errno;
    if (close(out_fd) != 0 && done) {
        write_failure = errno;
        done = false;
    }
    out_fd = -1;
    if (done && rename(temp, target) != 0) {
        write_failure = errno;
        done = false;
    }
    if (done) {
        say(path, "saved");
        return true;
    }
    unlink(temp);
    if (write_failure != 0) {
        report(path, write_failure);
    } else if (read_failure != 0) {
        report(current_file_name, read_failure);
    } else {
        // The interrupt is answered here: the message says what it did.
        signals_process();
        say(path, "not saved (interrupted)");
    }
    return false;
}
