// store_floor: the least a viewer that keeps all of a pipe must pay. It
// reads standard input into fresh anonymous memory and does nothing else;
// most of its time is the kernel handing out zeroed pages. The fastest way
// found on Linux is the default: transparent huge pages asked for (a fault
// fills 2 MiB at once), the pipe grown to 1 MiB (the writer runs further
// ahead, so there are fewer switches) and 1 MiB per read. The options are
// there to try others: bench/pipe times `cat F | store_floor` beside the
// viewer's pipe case. Prints the byte count; exit status 1 on a read error.
//
//     store_floor [-r read-bytes] [-p pipe-bytes] [-s]        the floor
//     store_floor -t bytes                                    touch and free
//
// -p 0 leaves the pipe as it is; -s keeps small pages. -t touches that much
// fresh memory and frees it, then exits: run untimed before each timed run,
// it leaves the kernel's free memory in the same state for either side, so
// that what ran before does not decide how fast memory is handed out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr size_t huge_page = size_t(2) << 20;

char *reserve(size_t size, bool huge)
{
    void *p = mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    // Start on a huge page boundary, so that the first fault can fill one.
    auto at = (reinterpret_cast<uintptr_t>(p) + huge_page - 1) & ~(huge_page - 1);
    auto *base = reinterpret_cast<char *>(at);
    if (huge)
        madvise(base, size, MADV_HUGEPAGE);
    return base;
}

int touch_and_free(size_t bytes)
{
    char *p = reserve(bytes, true);
    if (!p)
        return 2;
    for (size_t i = 0; i < bytes; i += 4096)
        p[i] = 1;
    munmap(p, bytes);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    size_t chunk = size_t(1) << 20;
    int pipe_size = 1 << 20;
    bool huge = true;
    int opt;
    while ((opt = getopt(argc, argv, "r:p:st:")) != -1) {
        switch (opt) {
        case 'r': chunk = strtoull(optarg, nullptr, 0); break;
        case 'p': pipe_size = static_cast<int>(strtol(optarg, nullptr, 0)); break;
        case 's': huge = false; break;
        case 't': return touch_and_free(strtoull(optarg, nullptr, 0));
        default:
            fprintf(stderr, "usage: store_floor [-r read-bytes] [-p pipe-bytes] [-s] | -t bytes\n");
            return 2;
        }
    }
    if (chunk == 0)
        return 2;
    if (pipe_size > 0)
        fcntl(0, F_SETPIPE_SZ, pipe_size);
    // Address space only: pages are given as the reads touch them.
    const size_t room = size_t(64) << 30;
    char *store = reserve(room, huge);
    if (!store)
        return 2;
    size_t have = 0;
    ssize_t n = 0;
    while (have + chunk <= room && (n = read(0, store + have, chunk)) > 0)
        have += static_cast<size_t>(n);
    printf("%zu\n", have);
    return n < 0;
}
