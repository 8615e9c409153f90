#include "viewer/input/decompress.h"

#include <bzlib.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <lzma.h>
#include <new>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include "common/clock.h"
#include "viewer/process/signals.h"

namespace {

// How long a pipe that has sent part of a magic is waited on for the rest.
constexpr int64_t MAGIC_GRACE_MS = 250;
// Compressed bytes read at once.
constexpr int RAW_SIZE = 128 * 1024;

// Where one pass of a decoder reads and writes; it advances both.
struct stream_io {
    const unsigned char *in;
    size_t in_left;
    unsigned char *out;
    size_t out_left;
};

enum step_result {
    STEP_GOING,
    STEP_MEMBER_END,    // a whole member (stream, frame) is decoded and given out
    STEP_BAD,
};

// zlib's, libbz2's and liblzma's streams name their fields alike.
template <typename Stream>
void stream_give(Stream &z, const stream_io &s)
{
    z.next_in = reinterpret_cast<decltype(z.next_in)>(const_cast<unsigned char *>(s.in));
    z.avail_in = static_cast<decltype(z.avail_in)>(s.in_left);
    z.next_out = reinterpret_cast<decltype(z.next_out)>(s.out);
    z.avail_out = static_cast<decltype(z.avail_out)>(s.out_left);
}

template <typename Stream>
void stream_take(const Stream &z, stream_io &s)
{
    s.in = reinterpret_cast<const unsigned char *>(z.next_in);
    s.in_left = z.avail_in;
    s.out = reinterpret_cast<unsigned char *>(z.next_out);
    s.out_left = z.avail_out;
}

// Decoders report exhausted memory like any allocation that failed.
[[noreturn]] void memory_exhausted()
{
    if (std::new_handler handler = std::get_new_handler())
        handler();
    throw std::bad_alloc();
}

// What a library's result means, given its codes for exhausted memory, the
// end of a member, and two for going on.
step_result judged(int r, int no_memory, int member_end, int going, int also_going)
{
    if (r == no_memory)
        memory_exhausted();
    if (r == member_end)
        return STEP_MEMBER_END;
    return r == going || r == also_going ? STEP_GOING : STEP_BAD;
}

z_stream gz;
bz_stream bz;
lzma_stream xz = LZMA_STREAM_INIT;
ZSTD_DStream *zs;

bool gz_start()
{
    memset(&gz, 0, sizeof gz);
    return inflateInit2(&gz, 15 + 16) == Z_OK;  // 16: a gzip wrapper, not zlib's
}

step_result gz_step(stream_io &s, bool)
{
    stream_give(gz, s);
    int r = inflate(&gz, Z_NO_FLUSH);
    stream_take(gz, s);
    return judged(r, Z_MEM_ERROR, Z_STREAM_END, Z_OK, Z_BUF_ERROR);
}

bool gz_restart()
{
    return inflateReset(&gz) == Z_OK;
}

void gz_stop()
{
    inflateEnd(&gz);
}

bool bz_start()
{
    memset(&bz, 0, sizeof bz);
    return BZ2_bzDecompressInit(&bz, 0, 0) == BZ_OK;
}

step_result bz_step(stream_io &s, bool)
{
    stream_give(bz, s);
    int r = BZ2_bzDecompress(&bz);
    stream_take(bz, s);
    return judged(r, BZ_MEM_ERROR, BZ_STREAM_END, BZ_OK, BZ_OK);
}

void bz_stop()
{
    BZ2_bzDecompressEnd(&bz);
}

// Streams made by parallel compressors follow each other; libbz2 decodes
// one, so a new one starts a new decoder.
bool bz_restart()
{
    bz_stop();
    return bz_start();
}

bool xz_start()
{
    xz = LZMA_STREAM_INIT;
    return lzma_stream_decoder(&xz, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
}

// With LZMA_CONCATENATED the decoder itself goes on across streams, and
// tells the end only once told that no input follows.
step_result xz_step(stream_io &s, bool finish)
{
    stream_give(xz, s);
    lzma_ret r = lzma_code(&xz, finish ? LZMA_FINISH : LZMA_RUN);
    stream_take(xz, s);
    return judged(r, LZMA_MEM_ERROR, LZMA_STREAM_END, LZMA_OK, LZMA_BUF_ERROR);
}

void xz_stop()
{
    lzma_end(&xz);
}

bool zs_start()
{
    zs = ZSTD_createDStream();
    return zs && !ZSTD_isError(ZSTD_initDStream(zs));
}

step_result zs_step(stream_io &s, bool)
{
    ZSTD_inBuffer in = {s.in, s.in_left, 0};
    ZSTD_outBuffer out = {s.out, s.out_left, 0};
    size_t r = ZSTD_decompressStream(zs, &out, &in);
    s.in += in.pos;
    s.in_left -= in.pos;
    s.out += out.pos;
    s.out_left -= out.pos;
    if (ZSTD_isError(r)) {
        if (ZSTD_getErrorCode(r) == ZSTD_error_memory_allocation)
            memory_exhausted();
        return STEP_BAD;
    }
    // 0: the frame is complete and flushed; the next call starts a new one.
    return r == 0 ? STEP_MEMBER_END : STEP_GOING;
}

void zs_stop()
{
    ZSTD_freeDStream(zs);
    zs = nullptr;
}

struct codec {
    compress_format format;
    unsigned char magic[MAGIC_MAX];
    int fixed;                          // bytes of magic that must match exactly
    unsigned char last_low, last_high;  // the range of the byte after them
    bool (*start)();                    // false when memory ran out
    step_result (*step)(stream_io &s, bool finish);
    bool (*restart)();                  // for a member that follows another; null:
                                        // the decoder goes on by itself
    void (*stop)();
};

constexpr codec CODECS[] = {
    {COMPRESS_GZIP, {0x1f, 0x8b}, 2, 8, 8, gz_start, gz_step, gz_restart, gz_stop},
    {COMPRESS_BZIP2, {'B', 'Z', 'h'}, 3, '1', '9', bz_start, bz_step, bz_restart, bz_stop},
    {COMPRESS_XZ, {0xfd, '7', 'z', 'X', 'Z'}, 5, 0, 0, xz_start, xz_step, nullptr, xz_stop},
    {COMPRESS_ZSTD, {0x28, 0xb5, 0x2f}, 3, 0xfd, 0xfd, zs_start, zs_step, nullptr, zs_stop},
};

// The input.
int input;
void (*copy_raw)(const char *, int);
compress_format kind = COMPRESS_NONE;
const codec *decoder;

// Plain or undecided: the first bytes, read to decide, not yet given out.
char head[MAGIC_MAX];
int head_length;
int head_given;
int64_t grace_ends_ms = -1;     // -1: not waiting for the rest of a magic

// Compressed: raw bytes read and not yet decoded.
unsigned char *raw;
size_t raw_start;
size_t raw_left;
bool raw_ended;                 // fd has reached its end
bool member_ended;              // the decoder stands between members
bool output_pending;            // the decoder may have output without input
bool damage_pending;            // give DECOMPRESS_DAMAGED next
bool finished;

void decide(compress_format format)
{
    kind = format;
    for (const codec &c : CODECS)
        if (c.format == format)
            decoder = &c;
    if (format == COMPRESS_NONE)
        return;
    raw = static_cast<unsigned char *>(malloc(RAW_SIZE));
    if (!raw || !decoder->start())
        memory_exhausted();
    // The bytes read to decide are the start of the compressed data.
    memcpy(raw, head, static_cast<size_t>(head_length));
    raw_start = 0;
    raw_left = static_cast<size_t>(head_length);
    if (copy_raw && head_length > 0)
        copy_raw(head, head_length);
    head_length = head_given = 0;
}

// Read the first bytes until they decide the format: 1 when decided, else
// what the read gave (-1, -2, or 0 for "nothing yet" when not waiting).
int read_head(bool wait)
{
    for (;;) {
        compress_format format = decompress_format(head, head_length);
        if (format != COMPRESS_UNDECIDED) {
            decide(format);
            return 1;
        }
        int ready;
        if (head_length == 0) {
            ready = wait ? 1 : wait_for_input(input, 0);
        } else {
            if (grace_ends_ms < 0)
                grace_ends_ms = clock_ms() + MAGIC_GRACE_MS;
            int64_t left = grace_ends_ms - clock_ms();
            ready = left <= 0 ? 0 : wait_for_input(input, wait ? static_cast<int>(left) : 0);
            // Time is up: no compressor sends its magic that slowly.
            if (ready == 0 && (wait || left <= 0)) {
                decide(COMPRESS_NONE);
                return 1;
            }
        }
        if (ready != 1)
            return ready;
        int n = read_viewed_input(input, head + head_length, MAGIC_MAX - head_length);
        if (n < 0)
            return n;
        if (n == 0) {
            // The whole input is shorter than a magic.
            decide(COMPRESS_NONE);
            return 1;
        }
        head_length += n;
    }
}

int read_plain(char *into, int count, bool wait)
{
    if (head_given < head_length) {
        int n = head_length - head_given < count ? head_length - head_given : count;
        memcpy(into, head + head_given, static_cast<size_t>(n));
        head_given += n;
        return n;
    }
    if (!wait) {
        int ready = wait_for_input(input, 0);
        if (ready != 1)
            return ready;
    }
    return read_viewed_input(input, into, count);
}

// What to return on damage: the good bytes first, when there are some.
int damaged(int produced)
{
    if (produced > 0) {
        damage_pending = true;
        return produced;
    }
    finished = true;
    return DECOMPRESS_DAMAGED;
}

int read_compressed(char *into, int count, bool wait)
{
    if (damage_pending) {
        damage_pending = false;
        finished = true;
        return DECOMPRESS_DAMAGED;
    }
    if (finished)
        return 0;
    stream_io s = {raw + raw_start, raw_left, reinterpret_cast<unsigned char *>(into),
                   static_cast<size_t>(count)};
    for (;;) {
        int produced = count - static_cast<int>(s.out_left);
        // Zero bytes after a member are padding (tape and tar blocks), as
        // the format tools take them; no member begins with one.
        while (member_ended && s.in_left > 0 && *s.in == 0) {
            s.in++;
            s.in_left--;
            raw_start++;
            raw_left--;
        }
        if (member_ended && s.in_left > 0) {
            if (decoder->restart && !decoder->restart())
                memory_exhausted();
            member_ended = false;
        }
        if (s.in_left > 0 || output_pending || (raw_ended && !member_ended)) {
            size_t in_before = s.in_left;
            size_t out_before = s.out_left;
            step_result r = decoder->step(s, raw_ended);
            raw_start = static_cast<size_t>(s.in - raw);
            raw_left = s.in_left;
            produced = count - static_cast<int>(s.out_left);
            output_pending = s.out_left == 0;
            if (r == STEP_BAD)
                return damaged(produced);
            if (r == STEP_MEMBER_END) {
                member_ended = true;
                output_pending = false;
            }
            if (s.out_left == 0)
                return count;
            if (r == STEP_MEMBER_END || s.in_left != in_before || s.out_left != out_before)
                continue;
            // No progress: the decoder needs input, and there is none left
            // (or it refuses a full buffer of it).
            if (raw_ended || raw_left == RAW_SIZE)
                return damaged(produced);
        }
        if (raw_ended) {
            finished = true;
            return produced;
        }
        if (produced > 0)
            return produced;
        if (!wait) {
            int ready = wait_for_input(input, 0);
            if (ready != 1)
                return ready;
        }
        memmove(raw, raw + raw_start, raw_left);
        raw_start = 0;
        int n = read_viewed_input(input, raw + raw_left, RAW_SIZE - static_cast<int>(raw_left));
        if (n < 0)
            return n;
        if (n == 0) {
            raw_ended = true;
        } else {
            if (copy_raw)
                copy_raw(reinterpret_cast<char *>(raw + raw_left), n);
            raw_left += static_cast<size_t>(n);
        }
        s.in = raw;
        s.in_left = raw_left;
    }
}

} // namespace

compress_format decompress_format(const char *data, int n)
{
    auto *bytes = reinterpret_cast<const unsigned char *>(data);
    bool prefix = false;
    for (const codec &c : CODECS) {
        int i = 0;
        while (i < n && i < c.fixed && bytes[i] == c.magic[i])
            i++;
        if (i < n && i < c.fixed)
            continue;
        if (i == n) {
            prefix = true;
            continue;
        }
        if (bytes[i] >= c.last_low && bytes[i] <= c.last_high)
            return c.format;
    }
    return prefix ? COMPRESS_UNDECIDED : COMPRESS_NONE;
}

compress_format decompress_probe(int fd)
{
    char first[MAGIC_MAX];
    ssize_t n = pread(fd, first, sizeof first, 0);
    if (n <= 0)
        return COMPRESS_NONE;
    compress_format format = decompress_format(first, static_cast<int>(n));
    return format == COMPRESS_UNDECIDED ? COMPRESS_NONE : format;
}

void decompress_begin(int fd, compress_format format, void (*raw_copy)(const char *, int))
{
    decompress_end();
    input = fd;
    copy_raw = raw_copy;
    kind = COMPRESS_UNDECIDED;
    if (format != COMPRESS_UNDECIDED)
        decide(format);
}

int decompress_read(char *into, int count, bool wait)
{
    if (count <= 0)
        return 0;
    if (kind == COMPRESS_UNDECIDED) {
        int r = read_head(wait);
        if (r != 1)
            return r;
    }
    return kind == COMPRESS_NONE ? read_plain(into, count, wait)
                                 : read_compressed(into, count, wait);
}

compress_format decompress_kind()
{
    return kind;
}

void decompress_end()
{
    if (kind != COMPRESS_NONE && kind != COMPRESS_UNDECIDED)
        decoder->stop();
    free(raw);
    raw = nullptr;
    raw_start = raw_left = 0;
    raw_ended = member_ended = output_pending = damage_pending = finished = false;
    head_length = head_given = 0;
    grace_ends_ms = -1;
    kind = COMPRESS_NONE;
    decoder = nullptr;
}
