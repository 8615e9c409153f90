// Inputs compressed with gzip, bzip2, xz or zstd: recognised by their first
// bytes and read as the text they hold.
#pragma once

// What the first bytes of an input show it to be.
enum compress_format {
    COMPRESS_NONE,          // plain: read as it is
    COMPRESS_GZIP,
    COMPRESS_BZIP2,
    COMPRESS_XZ,
    COMPRESS_ZSTD,
    COMPRESS_UNDECIDED,     // every byte so far is a proper prefix of a magic
};

// Bytes that decide the format: the longest magic.
constexpr int MAGIC_MAX = 6;

// From decompress_read, besides read_interruptible's -1 (read error) and -2
// (a signal broke the wait): the compressed data are corrupt or end early.
// It comes once, after every byte decoded before the damage, and the input
// then reads as ended.
constexpr int DECOMPRESS_DAMAGED = -3;

// The format of an input whose first n bytes are data. A magic is taken
// with the byte after it where the format fixes that byte (gzip's method
// 8, bzip2's block size '1'-'9'), so fewer plain texts pass for one.
compress_format decompress_format(const char *data, int n);

// A named file examined at offset 0 without moving its offset: a file that
// cannot be read that way (a pipe, a terminal) or is shorter than a magic
// is COMPRESS_NONE.
compress_format decompress_probe(int fd);

// Read fd through decompress_read from now on. format is what
// decompress_probe found, or COMPRESS_UNDECIDED for an input whose bytes
// cannot be read twice (standard input): the first reads then decide, and
// plain bytes read for that are given back as they are. When the input
// proves compressed, raw_copy (if not null) gets every byte read from fd,
// as read. The decoder's memory is taken once, when the format is known.
void decompress_begin(int fd, compress_format format, void (*raw_copy)(const char *, int));

// Up to count bytes of the text: their number (short counts are normal),
// 0 at the end, -1, -2 or DECOMPRESS_DAMAGED as above. Bytes already in
// hand are given without waiting for more. wait == false: when fd would
// have to be waited on, 0 now ("nothing yet"); a later call goes on.
//
// A pipe that starts with a proper prefix of a magic (a writer that sent
// one byte) is waited on for the rest, but not beyond a short grace
// period: plain text that arrives slowly must still show at once, while
// a compressor's magic arrives in one write, or its pieces right after
// each other. The end of the input, or a byte that leaves no magic
// possible, decides at once.
int decompress_read(char *into, int count, bool wait = true);

// The format of the input, COMPRESS_UNDECIDED until its first bytes have
// been read.
compress_format decompress_kind();

// Release the decoder; the input is no longer read here.
void decompress_end();
