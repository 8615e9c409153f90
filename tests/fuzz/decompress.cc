// Compressed input as the viewer reads it: the first byte chooses a named
// file (its format probed first) or a pipe (the first reads decide), the
// rest is the input. Every read must give text, the end, or the damage
// result once, after which the input reads as ended; never an error, and
// never more bytes than asked for.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "tests/fuzz/support.h"
#include "viewer/input/decompress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    [[maybe_unused]] static const std::string &scratch = fuzz_scratch_setup();
    if (size < 1)
        return 0;
    bool from_pipe = data[0] & 1;
    // Reads of a few odd sizes cross the decoders' own buffer boundaries.
    int chunk = 1 + (data[0] >> 1) * 37;
    std::string input(reinterpret_cast<const char *>(data) + 1, size - 1);

    int fd;
    if (from_pipe) {
        int ends[2];
        // What does not fit in the pipe at once is cut: the reads must not wait.
        if (pipe(ends) != 0)
            return 0;
        if (input.size() > 60000)
            input.resize(60000);
        if (write(ends[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
            fuzz_fail("pipe write");
        close(ends[1]);
        fd = ends[0];
        decompress_begin(fd, COMPRESS_UNDECIDED, nullptr);
    } else {
        FILE *f = tmpfile();
        if (!f)
            return 0;
        fwrite(input.data(), 1, input.size(), f);
        fflush(f);
        fd = dup(fileno(f));
        fclose(f);
        lseek(fd, 0, SEEK_SET);
        decompress_begin(fd, decompress_probe(fd), nullptr);
    }

    static char text[64 * 1024];
    size_t total = 0;
    bool damaged = false;
    for (;;) {
        int n = decompress_read(text, chunk);
        if (n > chunk)
            fuzz_fail("more bytes than asked for", std::to_string(n));
        if (n > 0) {
            // A bomb would take too long; enough has been read to judge.
            if ((total += static_cast<size_t>(n)) > (64u << 20))
                break;
            continue;
        }
        if (n == 0)
            break;
        if (n != DECOMPRESS_DAMAGED || damaged)
            fuzz_fail("unexpected read result", std::to_string(n));
        damaged = true;
    }
    decompress_end();
    close(fd);
    return 0;
}
