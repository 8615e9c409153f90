// Failures injected into the program this library is preloaded into
// (LD_PRELOAD), so that tests can see how it copes with a failing input,
// a full disk, a slow or interrupted terminal and exhausted memory.
//
// Configured by the environment, read once and then removed from it, so
// that the program's own children run without faults:
//
//   FI_READ_FD=fd  FI_READ_FAIL_AT=n   read() of fd fails with EIO once n
//                                      bytes have been read from it
//   FI_READ_FD=fd  FI_READ_SIGNAL=sig  the signal is raised once, right
//                                      after the first read of fd that
//                                      returned data
//   FI_READ_PATH=p                     in place of FI_READ_FD: whichever
//                                      descriptor is open on p
//   FI_WRITE_FD=fd or FI_WRITE_PATH=p  the writes to fault: one descriptor,
//                                      or whichever descriptor is open on p;
//                                      p ending in '*': on any file whose
//                                      name begins with the rest
//   FI_WRITE_MODE=short FI_WRITE_ARG=n each write passes at most n bytes
//   FI_WRITE_MODE=eintr                every other write fails with EINTR
//   FI_WRITE_MODE=enospc|eio FI_WRITE_ARG=n
//                                      writes fail so once n bytes passed
//   FI_RENAME_ERRNO=n                  rename() fails with errno n
//   FI_MALLOC_FAIL_AFTER=n             malloc, calloc and realloc fail from
//                                      call n + 1 on
//   FI_REPORT=path                     at exit, "malloc_calls N" to path
//
// Built without sanitizers; under a sanitized program it sits in front of
// the sanitizer's own functions (run with verify_asan_link_order=0).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using read_fn = ssize_t (*)(int, void *, size_t);
using write_fn = ssize_t (*)(int, const void *, size_t);
using malloc_fn = void *(*)(size_t);
using calloc_fn = void *(*)(size_t, size_t);
using realloc_fn = void *(*)(void *, size_t);
using free_fn = void (*)(void *);

read_fn real_read;
write_fn real_write;
malloc_fn real_malloc;
calloc_fn real_calloc;
realloc_fn real_realloc;
free_fn real_free;

enum write_mode { WRITE_OFF, WRITE_SHORT, WRITE_EINTR, WRITE_ENOSPC, WRITE_EIO };

bool configured;
int read_fd = -1;
long long read_fail_at = -1;
long long read_done;
int read_signal;
char read_path[4096];
int rename_errno;
int write_fd = -1;
char write_path[4096];
write_mode mode = WRITE_OFF;
long long write_arg;
long long write_done;
long long write_calls;
long long malloc_fail_after = -1;
long long malloc_calls;
char report_path[4096];

// dlsym may allocate before the real allocator is known: such requests
// come from here and are never given back.
alignas(16) char bootstrap[8192];
size_t bootstrap_used;

bool from_bootstrap(const void *p)
{
    return p >= bootstrap && p < bootstrap + sizeof bootstrap;
}

void *bootstrap_alloc(size_t n)
{
    n = (n + 15) & ~static_cast<size_t>(15);
    if (bootstrap_used + n > sizeof bootstrap)
        return nullptr;
    void *p = bootstrap + bootstrap_used;
    bootstrap_used += n;
    return p;
}

long long number(const char *name, long long fallback)
{
    const char *v = getenv(name);
    return v && *v ? strtoll(v, nullptr, 10) : fallback;
}

void text(const char *name, char *into, size_t size)
{
    const char *v = getenv(name);
    if (v)
        snprintf(into, size, "%s", v);
}

// The real functions behind ours; the first call of any of them asks.
void configure()
{
    if (configured)
        return;
    configured = true;
    real_read = reinterpret_cast<read_fn>(dlsym(RTLD_NEXT, "read"));
    real_write = reinterpret_cast<write_fn>(dlsym(RTLD_NEXT, "write"));
    real_malloc = reinterpret_cast<malloc_fn>(dlsym(RTLD_NEXT, "malloc"));
    real_calloc = reinterpret_cast<calloc_fn>(dlsym(RTLD_NEXT, "calloc"));
    real_realloc = reinterpret_cast<realloc_fn>(dlsym(RTLD_NEXT, "realloc"));
    real_free = reinterpret_cast<free_fn>(dlsym(RTLD_NEXT, "free"));
}

// The faults asked for. Read by the constructor: earlier calls may come
// before the environment is there to read.
void take_settings()
{
    read_fd = static_cast<int>(number("FI_READ_FD", -1));
    read_fail_at = number("FI_READ_FAIL_AT", -1);
    read_signal = static_cast<int>(number("FI_READ_SIGNAL", 0));
    text("FI_READ_PATH", read_path, sizeof read_path);
    rename_errno = static_cast<int>(number("FI_RENAME_ERRNO", 0));
    write_fd = static_cast<int>(number("FI_WRITE_FD", -1));
    text("FI_WRITE_PATH", write_path, sizeof write_path);
    write_arg = number("FI_WRITE_ARG", 0);
    const char *m = getenv("FI_WRITE_MODE");
    if (m && strcmp(m, "short") == 0)
        mode = WRITE_SHORT;
    else if (m && strcmp(m, "eintr") == 0)
        mode = WRITE_EINTR;
    else if (m && strcmp(m, "enospc") == 0)
        mode = WRITE_ENOSPC;
    else if (m && strcmp(m, "eio") == 0)
        mode = WRITE_EIO;
    malloc_fail_after = number("FI_MALLOC_FAIL_AFTER", -1);
    text("FI_REPORT", report_path, sizeof report_path);
}

__attribute__((constructor)) void take_configuration()
{
    configure();
    take_settings();
    for (const char *name : {"LD_PRELOAD", "FI_READ_FD", "FI_READ_FAIL_AT", "FI_READ_SIGNAL",
                             "FI_READ_PATH", "FI_RENAME_ERRNO", "FI_WRITE_FD",
                             "FI_WRITE_PATH", "FI_WRITE_MODE", "FI_WRITE_ARG",
                             "FI_MALLOC_FAIL_AFTER", "FI_REPORT"})
        unsetenv(name);
}

__attribute__((destructor)) void report()
{
    if (!*report_path)
        return;
    int fd = open(report_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    char line[64];
    int n = snprintf(line, sizeof line, "malloc_calls %lld\n", malloc_calls);
    real_write(fd, line, static_cast<size_t>(n));
    close(fd);
}

// Whether fd is open on the file named by path, or with '*' at its end on
// a file whose name begins with what comes before.
bool open_on(int fd, const char *path)
{
    if (!*path)
        return false;
    size_t n = strlen(path);
    if (path[n - 1] == '*') {
        char link[64], name[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t k = readlink(link, name, sizeof name - 1);
        return k >= static_cast<ssize_t>(n - 1) && memcmp(name, path, n - 1) == 0;
    }
    struct stat a, b;
    return stat(path, &a) == 0 && fstat(fd, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool write_faulted(int fd)
{
    if (mode == WRITE_OFF)
        return false;
    return fd == write_fd || open_on(fd, write_path);
}

bool malloc_fails()
{
    malloc_calls++;
    return malloc_fail_after >= 0 && malloc_calls > malloc_fail_after;
}

} // namespace

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    configure();
    if (fd != read_fd && !open_on(fd, read_path))
        return real_read(fd, buffer, count);
    if (read_fail_at >= 0) {
        if (read_done >= read_fail_at) {
            errno = EIO;
            return -1;
        }
        if (static_cast<long long>(count) > read_fail_at - read_done)
            count = static_cast<size_t>(read_fail_at - read_done);
    }
    ssize_t n = real_read(fd, buffer, count);
    if (n > 0) {
        read_done += n;
        if (read_signal > 0) {
            raise(read_signal);
            read_signal = 0;
        }
    }
    return n;
}

extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    configure();
    if (count == 0 || !write_faulted(fd))
        return real_write(fd, buffer, count);
    switch (mode) {
    case WRITE_SHORT:
        if (static_cast<long long>(count) > write_arg)
            count = static_cast<size_t>(write_arg);
        break;
    case WRITE_EINTR:
        if (write_calls++ % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        break;
    case WRITE_ENOSPC:
    case WRITE_EIO:
        if (write_done >= write_arg) {
            errno = mode == WRITE_ENOSPC ? ENOSPC : EIO;
            return -1;
        }
        if (static_cast<long long>(count) > write_arg - write_done)
            count = static_cast<size_t>(write_arg - write_done);
        break;
    case WRITE_OFF:
        break;
    }
    ssize_t n = real_write(fd, buffer, count);
    if (n > 0)
        write_done += n;
    return n;
}

extern "C" int rename(const char *from, const char *to)
{
    using rename_fn = int (*)(const char *, const char *);
    static auto real_rename = reinterpret_cast<rename_fn>(dlsym(RTLD_NEXT, "rename"));
    if (rename_errno != 0) {
        errno = rename_errno;
        return -1;
    }
    return real_rename(from, to);
}

extern "C" void *malloc(size_t size)
{
    if (!real_malloc) {
        if (configured)
            return bootstrap_alloc(size);
        configure();
    }
    if (malloc_fails()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_malloc(size);
}

extern "C" void *calloc(size_t n, size_t size)
{
    if (!real_calloc) {
        // Zero already: the bootstrap area is never reused.
        if (configured)
            return bootstrap_alloc(n * size);
        configure();
    }
    if (malloc_fails()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_calloc(n, size);
}

extern "C" void *realloc(void *p, size_t size)
{
    configure();
    if (from_bootstrap(p)) {
        void *q = malloc(size);
        size_t held = static_cast<size_t>(bootstrap + sizeof bootstrap - static_cast<char *>(p));
        if (q)
            memcpy(q, p, size < held ? size : held);
        return q;
    }
    if (malloc_fails()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_realloc(p, size);
}

extern "C" void free(void *p)
{
    if (p == nullptr || from_bootstrap(p))
        return;
    configure();
    real_free(p);
}
