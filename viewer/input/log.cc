#include "viewer/input/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "viewer/input/buffer.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/process/signals.h"

char *log_file_name;
int log_overwrite;
int log_fd = -1;
int log_failed;

namespace {

int log_finishing;

// A log that lost data is no copy: stop logging and say so, once.
void write_failed(int err)
{
    close(log_fd);
    log_fd = -1;
    log_failed = 1;
    char message[160];
    snprintf(message, sizeof message, "log file write error: %s", strerror(err));
    show_error(message);
}

void cannot_write()
{
    // Sized to the name: a long name must not be cut mid-way or overrun.
    std::string message = "Cannot write to \"";
    message += log_file_name;
    message += "\"";
    show_error(message.c_str());
}

// Ask what to do with an existing log file; one of O, A, D.
int ask_about_existing()
{
    char warning[128];
    snprintf(warning, sizeof warning, "WARNING: log file exists: %.72s", log_file_name);
    show_error(warning);
    for (;;) {
        out_string("\n  Overwrite, Append, or Don't log? ");
        int answer = key_read();
        out_string("\n");
        out_flush();
        // A signal is dealt with now; the question is then asked again.
        if (answer == -2)
            signals_process();
        switch (answer) {
        case 'O': case 'o': return 'O';
        case 'A': case 'a': return 'A';
        case 'D': case 'd': return 'D';
        case 'q': message_fatal(nullptr, 0);
        }
    }
}

} // namespace

void log_start()
{
    log_finish();
    buf_set_pipe_copy(log_write);
    int probe = open(log_file_name, O_RDONLY);
    if (probe >= 0)
        close(probe);
    int answer = probe >= 0 && !log_overwrite ? ask_about_existing() : 'O';
    if (answer == 'O') {
        log_fd = creat(log_file_name, 0644);
    } else if (answer == 'A') {
        log_fd = open(log_file_name, O_WRONLY);
        if (log_fd >= 0 && lseek(log_fd, 0, SEEK_END) < 0) {
            close(log_fd);
            log_fd = -1;
        }
    } else {
        log_fd = -1;
        return;
    }
    if (log_fd < 0)
        cannot_write();
}

void log_write(const char *data, int n)
{
    while (log_fd >= 0 && n > 0) {
        ssize_t k = write(log_fd, data, static_cast<size_t>(n));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            write_failed(k < 0 ? errno : EIO);
            return;
        }
        data += k;
        n -= static_cast<int>(k);
    }
}

void log_copy_buffered()
{
    char raw[BLOCK_SIZE];
    for (int64_t b = 0; log_fd >= 0 && b <= (pipe_offset + BLOCK_SIZE - 1) / BLOCK_SIZE; b++) {
        int n = buf_block_raw(b, raw);
        if (n > 0)
            log_write(raw, n);
    }
}

void log_finish()
{
    if (log_fd < 0)
        return;
    if (!log_finishing && eof_position == NO_POSITION) {
        log_finishing = 1;
        show_notice("finishing logfile");
        buf_read_to_end();
    }
    if (log_fd >= 0)
        close(log_fd);
    log_fd = -1;
}
