// Buffered, seekable reading of the current input, a file or a pipe.
#pragma once
#include <cstdint>

// A byte offset into the current input, counted from 0.
using file_pos = int64_t;

constexpr int BLOCK_SIZE = 1024;
// Returned by the byte operations at either end of the input and when a read
// was broken off by a signal. NUL bytes of the input come back as '@', so 0
// is never data; bytes 0x80-0xFF come back negative (signed char widened).
constexpr int END_OF_INPUT = 0;
// No position, or one not yet known.
constexpr file_pos NO_POSITION = -1;

// The current input's descriptor, -1 before any input is open, and whether
// it is read in pipe mode (standard input, a named pipe or device, a
// preprocessor's output, or a compressed file); written by buf_open.
extern int input_fd;
extern int input_is_pipe;
// The input was opened by name, whatever its mode.
extern int input_named;
// The input's bytes can be read only once (standard input, a named pipe or
// device, a preprocessor's output): it is never read again from its start.
extern int input_stream;
// Position at which a read met the end of the input; NO_POSITION until then.
extern file_pos eof_position;
// Pipe mode: bytes read from standard input so far.
extern file_pos pipe_offset;
// Changes whenever the buffered data are forgotten (a new input, a flush):
// what was learnt about positions of the input before may no longer hold.
extern uint64_t input_generation;
// What messages call the current input: its name, or "standard input".
const char *buf_name();

// Have copy called with every run of bytes read from a pipe, as read (NUL
// bytes as NUL), before anything else sees them: the log's copy.
void buf_set_pipe_copy(void (*copy)(const char *data, int n));
// Make fd the current input, to be attached next. Standard input (named
// == 0) and any other stream (its bytes readable once) are read in pipe
// mode, and with decode set, whatever is compressed is read decompressed:
// a stream then in any case, a named file in pipe mode too. name is what
// messages call the input.
void buf_open(int fd, const char *name, int named, int stream, int decode);
// Show "<name>: compressed data is damaged" if reading met damage since
// the input was opened and that has not been shown yet.
void buf_report_damage();
// Whether reading met damaged compressed data since the input was opened.
bool buf_damaged();
// Make sure at least `wanted` buffers exist; keep == 0 forgets all data and
// puts the cursor at 0 (a compressed file is then decompressed anew).
void buf_attach(int wanted, int keep);
// Move the cursor; 0 on success, 1 when the position is no longer held.
int buf_seek(file_pos pos);
// Cursor to the end; 1 when a signal stopped the read to the end of a pipe.
int buf_seek_end();
// Read forward from the cursor to the end of the input, block by block, so
// everything passes through the buffers (and the log); 1 when a signal
// stopped it.
int buf_read_to_end();
// Forget where the input ended, so that data added since is read: a grown
// file, or a pipe read with buf_pipe_nonblocking.
void buf_forget_end();
// on != 0: a pipe is read only as far as data has arrived, and an empty
// pipe reads as the end of the input for now. The setting it had before.
int buf_pipe_nonblocking(int on);
// Cursor to the beginning, or the oldest data held; 1 when nothing is held.
int buf_seek_begin();
// Length of the input, or NO_POSITION when not yet known.
file_pos buf_length();
file_pos buf_tell();
// The byte at the cursor, advancing past it; END_OF_INPUT at the end.
int buf_next_byte();
// Step back one byte and return it; END_OF_INPUT at the beginning.
int buf_prev_byte();
// The byte at the cursor without moving, reading its block as needed.
int buf_fill();

// The valid bytes of the block at the cursor from the cursor on, without the
// end marker, reading the block as needed: sets *data and returns the count
// (0 at the end of the input or when a read was broken off). The bytes are
// those buf_next_byte would return, for scanners that look at whole runs.
int buf_run(const char **data);
// Advance the cursor by n bytes within its block (n no more than buf_run gave).
void buf_skip(int n);

// Pipe mode: the bytes of block b as they were read (NUL bytes as NUL, no
// end marker) copied to out (BLOCK_SIZE bytes); their count, or -1 when no
// buffer holds the block.
int buf_block_raw(int64_t b, char *out);
// The data of block b and its valid byte count (end marker included), or
// nullptr when no buffer holds it.
const char *buf_block(int64_t b, int *valid);

// For scanners of whole files: the longest run of input bytes that lies
// contiguously in memory from pos on, read as needed; sets *data and
// returns the count, 0 at the end of the input, where a pipe no longer
// holds pos, or when a read was broken off. The bytes are those
// buf_next_byte would return. The cursor is left anywhere.
int64_t buf_span(file_pos pos, const char **data);
// Likewise the run that ends just before pos; 0 at the beginning of the
// input or of what a pipe still holds.
int64_t buf_span_back(file_pos pos, const char **data);
// Whether a byte before pos can still be reached.
bool buf_held_before(file_pos pos);
// Whether the byte before pos is a newline, so that a line starts at pos.
bool buf_newline_before(file_pos pos);
// Where the line holding pos ends: after its newline, or where the input
// ends as far as it has come (a pipe is not waited for beyond what
// buf_span reads).
file_pos buf_line_end(file_pos pos);
// Where the line holding the byte before pos starts: just after the last
// newline before pos, or at the beginning of the input (or of what a pipe
// still holds). NO_POSITION when a signal stopped the scan.
file_pos buf_line_start(file_pos pos);
