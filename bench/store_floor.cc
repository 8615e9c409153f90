// store_floor: the least a viewer that keeps all of a pipe must pay. It
// reads standard input into fresh anonymous memory, 64 KiB per read, and
// does nothing else; most of its time is the kernel handing out zeroed
// pages. bench/linenum times `cat F | store_floor` beside the viewer's pipe
// case. Prints the byte count; exit status 1 on a read error.
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

int main()
{
    // Address space only: pages are given as the reads touch them.
    const size_t reserve = size_t(64) << 30;
    auto *store = static_cast<char *>(mmap(nullptr, reserve, PROT_READ | PROT_WRITE,
                                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    if (store == MAP_FAILED)
        return 2;
    size_t have = 0;
    ssize_t n = 0;
    while (have + 65536 <= reserve && (n = read(0, store + have, 65536)) > 0)
        have += static_cast<size_t>(n);
    printf("%zu\n", have);
    return n < 0;
}
