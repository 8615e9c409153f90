#include "viewer/terminal/output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int screen_stale;
int screen_started;

namespace {

char output_buffer[OUTPUT_BUFFER_SIZE];
char *output_pointer = output_buffer;
int copying;
long long bytes_written;        // all flushed so far, for the marks
int first_failure;              // errno of the first failed terminal write, or 0

// Write everything, riding out short writes and interruptions; false when
// the descriptor refuses the bytes.
bool write_all(const char *p, size_t n)
{
    while (n > 0) {
        ssize_t k = write(1, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            if (k == 0)
                errno = EIO;
            return false;
        }
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

void write_failed()
{
    if (copying) {
        // Nobody reads the screen flag in copying mode: losing output there
        // must not look like success.
        char msg[160];
        snprintf(msg, sizeof msg, "write error: %s\n", strerror(errno));
        ssize_t ignored = write(2, msg, strlen(msg));
        (void)ignored;
        _exit(2);
    }
    if (first_failure == 0)
        first_failure = errno ? errno : EIO;
    screen_stale = 1;
}

} // namespace

int out_char(int ch)
{
    if (output_pointer >= output_buffer + OUTPUT_BUFFER_SIZE)
        out_flush();
    *output_pointer++ = static_cast<char>(ch);
    return ch;
}

void out_string(const char *s)
{
    while (*s)
        out_char(*s++);
}

void out_flush()
{
    size_t n = static_cast<size_t>(output_pointer - output_buffer);
    if (n == 0)
        return;
    output_pointer = output_buffer;
    bytes_written += static_cast<long long>(n);
    if (!write_all(output_buffer, n))
        write_failed();
}

long long out_mark()
{
    return bytes_written + (output_pointer - output_buffer);
}

int out_discard(long long mark)
{
    if (mark < bytes_written || mark > out_mark())
        return 0;
    output_pointer = output_buffer + (mark - bytes_written);
    return 1;
}

void out_bytes(const char *data, size_t n)
{
    out_flush();
    if (!write_all(data, n))
        write_failed();
}

void out_set_copying(int on)
{
    copying = on;
}

int out_report_failure()
{
    if (first_failure == 0)
        return 0;
    char msg[160];
    snprintf(msg, sizeof msg, "write error: %s\n", strerror(first_failure));
    ssize_t ignored = write(2, msg, strlen(msg));
    (void)ignored;
    return 1;
}
