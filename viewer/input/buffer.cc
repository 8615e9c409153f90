#include "viewer/input/buffer.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "viewer/input/decompress.h"
#include "viewer/input/exec.h"
#include "viewer/input/scan.h"
#include "viewer/input/store.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

int input_fd = -1;
int input_is_pipe;
int input_named;
int input_stream;
file_pos eof_position = NO_POSITION;
file_pos pipe_offset;
uint64_t input_generation;

namespace {

struct file_buffer {
    file_buffer *next;          // towards the least recently filled/used
    file_buffer *prev;
    int64_t block;              // block held, or -1 when empty
    int32_t valid_bytes;        // 0..BLOCK_SIZE, the end marker included
    char *data;                 // BLOCK_SIZE bytes; NUL bytes of the input stored as '@'
};

// Sentinel of the ring: next is the front, prev the tail.
file_buffer buffer_ring = {&buffer_ring, &buffer_ring, -1, 0, nullptr};
int buf_count;                  // records in the ring and slots of the store
int ring_records;
int64_t cur_block;
int32_t cur_offset;

// File mode: block number to record, so that finding a block costs the
// same however many records there are. Open addressing, linear probing.
struct index_slot {
    int64_t block;              // -1: free
    file_buffer *record;
};
index_slot *index_slots;
size_t index_capacity;          // a power of two, or 0
size_t index_used;

size_t index_home(int64_t block)
{
    uint64_t h = static_cast<uint64_t>(block) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 20) & (index_capacity - 1);
}

file_buffer *index_find(int64_t block)
{
    if (index_capacity == 0)
        return nullptr;
    for (size_t i = index_home(block);; i = (i + 1) & (index_capacity - 1)) {
        if (index_slots[i].block == block)
            return index_slots[i].record;
        if (index_slots[i].block < 0)
            return nullptr;
    }
}

// Sized for every record there is, so an insert never needs to fail.
bool index_reserve(size_t records)
{
    if (records * 2 <= index_capacity)
        return true;
    size_t cap = 64;
    while (cap < records * 2)
        cap *= 2;
    auto *slots = static_cast<index_slot *>(malloc(cap * sizeof(index_slot)));
    if (!slots)
        return false;
    for (size_t i = 0; i < cap; i++)
        slots[i].block = -1;
    index_slot *old = index_slots;
    size_t old_cap = index_capacity;
    index_slots = slots;
    index_capacity = cap;
    for (size_t i = 0; i < old_cap; i++) {
        if (old[i].block < 0)
            continue;
        size_t j = index_home(old[i].block);
        while (index_slots[j].block >= 0)
            j = (j + 1) & (cap - 1);
        index_slots[j] = old[i];
    }
    free(old);
    return true;
}

void index_insert(file_buffer *b)
{
    size_t i = index_home(b->block);
    while (index_slots[i].block >= 0)
        i = (i + 1) & (index_capacity - 1);
    index_slots[i] = {b->block, b};
    index_used++;
}

void index_remove(int64_t block)
{
    size_t mask = index_capacity - 1;
    size_t i = index_home(block);
    while (index_slots[i].block != block) {
        if (index_slots[i].block < 0)
            return;
        i = (i + 1) & mask;
    }
    // Shift later members of the probe run back so lookups need no tombstones.
    size_t hole = i;
    for (size_t j = (i + 1) & mask; index_slots[j].block >= 0; j = (j + 1) & mask) {
        size_t home = index_home(index_slots[j].block);
        bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
        if (movable) {
            index_slots[hole] = index_slots[j];
            hole = j;
        }
    }
    index_slots[hole].block = -1;
    index_used--;
}

// Pipe mode: the blocks held always form one run, from the oldest still
// held to the newest read. The first ones are in records of the ring, found
// through the index as in file mode; once every record is in use the rest
// go into the store, which keeps no record per block: a lookup dresses one
// of two records in the block it finds. store_tip is the store's newest
// block, the only one there that can be partly filled (or hold the end
// marker); store_view is any other, and always full.
int64_t pipe_first;             // lowest block held
int64_t pipe_end;               // one past the highest block held
file_buffer store_tip = {nullptr, nullptr, -1, 0, nullptr};
file_buffer store_view = {nullptr, nullptr, -1, 0, nullptr};

bool in_ring(const file_buffer *b)
{
    return b != &store_tip && b != &store_view;
}

file_buffer *pipe_find(int64_t block)
{
    if (block < pipe_first || block >= pipe_end)
        return nullptr;
    if (block == store_tip.block)
        return &store_tip;
    if (char *data = store_find(block)) {
        store_view.block = block;
        store_view.valid_bytes = BLOCK_SIZE;
        store_view.data = data;
        return &store_view;
    }
    return index_find(block);
}

// The block after the run (or the first block of an empty run) is held.
void pipe_insert(int64_t block)
{
    if (pipe_first == pipe_end)
        pipe_first = block;
    pipe_end = block + 1;
}

// The oldest block held is forgotten.
void pipe_remove_oldest()
{
    store_forget_nuls(pipe_first);
    // Its slot may go to a new block: the view must not show it as this one.
    if (store_view.block == pipe_first)
        store_view.block = -1;
    pipe_first++;
}

file_buffer *find_block(int64_t block)
{
    return input_is_pipe ? pipe_find(block) : index_find(block);
}

void ring_unlink(file_buffer *b)
{
    b->prev->next = b->next;
    b->next->prev = b->prev;
}

void ring_link_front(file_buffer *b)
{
    b->next = buffer_ring.next;
    b->prev = &buffer_ring;
    buffer_ring.next->prev = b;
    buffer_ring.next = b;
}

void ring_link_tail(file_buffer *b)
{
    b->prev = buffer_ring.prev;
    b->next = &buffer_ring;
    buffer_ring.prev->next = b;
    buffer_ring.prev = b;
}

void move_to_front(file_buffer *b)
{
    if (buffer_ring.next == b)
        return;
    ring_unlink(b);
    ring_link_front(b);
}

// The most buffers -b can ask for at once: 1 GiB of input.
constexpr int MAX_BUFFERS_AT_ONCE = 1 << 20;

// What standard input's pipe is asked to hold: the most the system lets
// anyone ask for by default.
constexpr int PIPE_SIZE = 1 << 20;

// Input is read ahead: one system call fills this much, and blocks are
// then copied out of it, instead of a seek and a 1 KB read for every block.
// In file mode the scanners read straight from it too. A read returns what
// is there, so a slow pipe is not waited on for more. In pipe mode
// pipe_offset counts the bytes handed to blocks, so the bytes held here are
// not yet read as far as the rest of the viewer (and the log) is concerned;
// in file mode NUL bytes are turned into '@' as they arrive.
constexpr int WINDOW_SIZE = 128 * 1024;
// The first screen needs little: the first read of a file into the fresh
// window, when it is for the bytes of a line, is kept this short, as each
// page it touches costs a fault.
constexpr int FIRST_WINDOW = 16 * 1024;
// A stretch this short at the edge of the window is read again with the
// window moved, so that scans see long runs.
constexpr int SHORT_SPAN = 4096;
char *window;
file_pos window_start;
int window_length;

// While set, a pipe is read only when something has arrived; an empty pipe
// reads as the end of the input, which buf_forget_end takes back.
int pipe_nonblocking;
void (*pipe_copy)(const char *data, int n);

// Reads go through the decompressor, which finds out, for standard input,
// whether the data are compressed at all, and then gives them.
bool input_decoded;
compress_format decode_format;  // as the file was found, or undecided
const char *input_name;
bool decode_started;
bool damage_found;
bool damage_shown;

// The log's copy of a compressed standard input is the data as read.
void copy_compressed(const char *data, int n)
{
    if (pipe_copy)
        pipe_copy(data, n);
}

// Decompress from the beginning of the input: once for a stream, and a
// named file again whenever its data are forgotten.
void decode_from_start()
{
    if (!input_decoded || (decode_started && input_stream))
        return;
    if (!input_stream)
        lseek(input_fd, 0, SEEK_SET);
    decompress_begin(input_fd, decode_format, input_named ? nullptr : copy_compressed);
    decode_started = true;
    damage_found = damage_shown = false;
}

// The read of the input: read_viewed_input's results; damage is noted for
// buf_report_damage and reads as the end.
int input_read(char *into, int count)
{
    // Only a pipe can keep the viewer waiting for data.
    if (!input_decoded)
        return input_is_pipe ? read_viewed_input(input_fd, into, count)
                             : read_interruptible(input_fd, into, count);
    int n = decompress_read(into, count, !pipe_nonblocking);
    if (n == DECOMPRESS_DAMAGED) {
        damage_found = true;
        return 0;
    }
    return n;
}

// 1 when the input may be read now; otherwise what the read would have
// given: 0 (nothing there yet, taken as the end for now) or -2. The
// decompressor may hold data while the pipe has none: it looks itself.
int input_ready()
{
    if (input_is_pipe && pipe_nonblocking && exec_fd >= 0 && input_fd == exec_fd)
        return exec_ready();
    return input_is_pipe && pipe_nonblocking && !input_decoded ? wait_for_input(input_fd, 0) : 1;
}

// The input from `from` on into the window, at most want bytes; the read's
// result (bytes, 0 at the end, -1 on error, -2 when interrupted), -3
// without a window.
int window_fill(file_pos from, int want = WINDOW_SIZE)
{
    window_length = 0;
    if (!window)
        window = static_cast<char *>(malloc(WINDOW_SIZE));
    if (!window)
        return -3;
    if (!input_is_pipe)
        lseek(input_fd, from, SEEK_SET);
    // A command's two streams are merged as they are read, and where the
    // bytes land is where its errors are noted.
    int n = exec_fd >= 0 && input_fd == exec_fd ? exec_read(from, window, want, !pipe_nonblocking)
                                                : input_read(window, want);
    if (n <= 0)
        return n;
    if (!input_is_pipe)
        scan_replace_nuls(window, static_cast<size_t>(n));
    window_start = from;
    window_length = n;
    return n;
}

bool window_holds(file_pos pos)
{
    return window_length > 0 && pos >= window_start && pos < window_start + window_length;
}

// Exhausted memory ends the viewer the way every failed allocation does,
// through the handler the program registered for new.
[[noreturn]] void no_memory()
{
    if (std::new_handler handler = std::get_new_handler())
        handler();
    message_fatal("cannot allocate memory", 2);
}

[[noreturn]] void input_failed(const char *message)
{
    message_fatal(message, 2);
}

// Up to count bytes of the input at pos, through the window; the read's
// result: bytes copied, 0 at the end, -1 on error, -2 when interrupted.
int read_input(file_pos pos, char *into, int count)
{
    if (!window_holds(pos)) {
        int ready = input_ready();
        if (ready != 1)
            return ready;
        file_pos from = pos;
        // Walking backward through a file: read the stretch that ends
        // where the window begins, so each read serves many blocks.
        if (!input_is_pipe && window_length > 0 && pos < window_start &&
            pos >= window_start - WINDOW_SIZE)
            from = window_start > WINDOW_SIZE ? window_start - WINDOW_SIZE : 0;
        bool first = !window && !input_is_pipe && from == pos;
        int n = window_fill(from, first ? FIRST_WINDOW : WINDOW_SIZE);
        if (n == -3) {
            if (!input_is_pipe)
                lseek(input_fd, pos, SEEK_SET);
            return input_read(into, count);
        }
        if (n > 0 && !window_holds(pos))
            n = window_fill(pos);
        if (n <= 0)
            return n;
    }
    int available = static_cast<int>(window_start + window_length - pos);
    int n = count < available ? count : available;
    memcpy(into, window + (pos - window_start), static_cast<size_t>(n));
    return n;
}

// The record a walk over older blocks last found: pipe mode does not move a
// found record to the front, and a lookup per byte would be wasted.
const file_buffer *last_found = &buffer_ring;

int byte_of(const file_buffer *b)
{
    return static_cast<signed char>(b->data[cur_offset]);
}

// The byte at the cursor: the front record's, or through buf_fill.
inline int byte_at_cursor()
{
    const file_buffer *f = buffer_ring.next;
    if (f->block == cur_block && cur_offset < f->valid_bytes)
        return byte_of(f);
    if (last_found->block == cur_block && cur_offset < last_found->valid_bytes)
        return byte_of(last_found);
    return buf_fill();
}

// The valid bytes of b without the end marker.
int content(const file_buffer *b)
{
    int n = b->valid_bytes;
    while (n > 0 && b->data[n - 1] == 0)
        n--;
    return n;
}

// The n bytes just read to at, from offset `from` of block on (running on
// into the blocks after it), as the reader shows them: NUL bytes become
// '@'. In pipe mode the NULs are noted first, as the log may be written
// from the buffers and must get them as read. Text rarely holds a NUL, so
// one search passes over the rest.
void show_nuls(int64_t block, int from, char *at, int n)
{
    auto *nul = static_cast<char *>(memchr(at, 0, static_cast<size_t>(n)));
    if (!nul)
        return;
    if (!input_is_pipe) {
        scan_replace_nuls(nul, static_cast<size_t>(at + n - nul));
        return;
    }
    for (int i = static_cast<int>(nul - at); i < n;) {
        int end = i + BLOCK_SIZE - (from + i) % BLOCK_SIZE;
        if (end > n)
            end = n;
        if (memchr(at + i, 0, static_cast<size_t>(end - i))) {
            unsigned char *bits = store_nul_bits(block + (from + i) / BLOCK_SIZE, true);
            if (!bits)
                no_memory();
            for (int k = i; k < end; k++) {
                if (at[k] != 0)
                    continue;
                int offset = (from + k) % BLOCK_SIZE;
                bits[offset >> 3] |= static_cast<unsigned char>(1u << (offset & 7));
                at[k] = '@';
            }
        }
        i = end;
    }
}

void count_records()
{
    int64_t n = ring_records + store_slots;
    buf_count = n < INT_MAX ? static_cast<int>(n) : INT_MAX;
    opt_b = buf_count;
}

// A read into the store's newest block may run on into the slots after it;
// the most it may take beyond b, in bytes (0: read into b alone).
constexpr int DIRECT_BLOCKS = 1024;

int direct_room(const file_buffer *b)
{
    if (b != &store_tip || window_holds(pipe_offset))
        return 0;
    return static_cast<int>(store_room(DIRECT_BLOCKS, opt_B != 0)) * BLOCK_SIZE;
}

// Bytes a read put beyond the store's newest block belong to the blocks
// after it, in the slots that follow.
void adopt_following(int rest)
{
    int blocks = (rest + BLOCK_SIZE - 1) / BLOCK_SIZE;
    store_extend(blocks);
    store_tip.block += blocks;
    store_tip.data += int64_t{blocks} * BLOCK_SIZE;
    store_tip.valid_bytes = rest - (blocks - 1) * BLOCK_SIZE;
    pipe_insert(store_tip.block);
    count_records();
}

// Read into b, the cursor's block, until the cursor's byte is there;
// END_OF_INPUT when a signal broke the read (what a read returned is
// always kept).
int read_into(file_buffer *b)
{
    for (;;) {
        file_pos pos = b->block * BLOCK_SIZE + b->valid_bytes;
        if (input_is_pipe && pos != pipe_offset)
            input_failed("pipe error");
        char *at = b->data + b->valid_bytes;
        int want = BLOCK_SIZE - b->valid_bytes;
        int room = direct_room(b);
        int n = room == 0 ? read_input(pos, at, want) : input_ready();
        if (room > 0 && n == 1)
            n = input_read(at, want + room);
        if (n == -2)
            return END_OF_INPUT;
        if (n < 0)
            input_failed("read error");
        if (input_is_pipe)
            pipe_offset += n;
        if (n > 0) {
            int take = n < want ? n : want;
            if (input_is_pipe && pipe_copy && decompress_kind() == COMPRESS_NONE)
                pipe_copy(at, n);
            show_nuls(b->block, b->valid_bytes, at, n);
            b->valid_bytes += take;
            if (in_ring(b))
                move_to_front(b);
            if (n > take) {
                // b is full, and the store's newest block is now a later one.
                const char *data = b->data;
                adopt_following(n - take);
                return static_cast<signed char>(data[cur_offset]);
            }
        } else {
            eof_position = pos;
            // Each empty read adds one end marker; fill up to the cursor at once
            // instead of reading again for every byte beyond the end.
            int32_t upto = b->block == cur_block && cur_offset >= b->valid_bytes
                               ? cur_offset + 1 : b->valid_bytes + 1;
            memset(b->data + b->valid_bytes, 0, upto - b->valid_bytes);
            b->valid_bytes = upto;
            if (in_ring(b))
                move_to_front(b);
        }
        if (cur_offset < b->valid_bytes)
            return byte_of(b);
    }
}

// The record for a block not held: the tail of the ring. In a pipe whose
// records are all in use, a slot of the store instead, one made before or
// (with -B) a new one, or when none can be had, the oldest block's place.
file_buffer *take_record()
{
    file_buffer *b = buffer_ring.prev;
    if (input_is_pipe && b->block != -1) {
        char *slot = store_add(cur_block, opt_B != 0);
        int64_t oldest = store_oldest();
        if (!slot && oldest >= 0 && oldest < b->block) {
            pipe_remove_oldest();
            slot = store_recycle(cur_block);
            if (!slot)
                no_memory();
        }
        if (slot) {
            store_tip = {nullptr, nullptr, cur_block, 0, slot};
            count_records();
            return &store_tip;
        }
    }
    if (b->block != -1) {
        if (input_is_pipe)
            pipe_remove_oldest();
        index_remove(b->block);
    }
    return b;
}

void set_cursor(file_pos pos)
{
    cur_block = pos / BLOCK_SIZE;
    cur_offset = static_cast<int32_t>(pos % BLOCK_SIZE);
}

// File mode: the window's bytes from pos on, moving it as needed.
int64_t file_span(file_pos pos, const char **data)
{
    if (eof_position >= 0 && pos >= eof_position)
        return 0;
    if (!window_holds(pos) ||
        (window_start + window_length - pos < SHORT_SPAN && window_length == WINDOW_SIZE)) {
        int n = window_fill(pos);
        if (n == -3) {
            set_cursor(pos);
            return buf_run(data);
        }
        if (n == -1)
            input_failed("read error");
        if (n <= 0)
            return 0;
    }
    int64_t len = window_start + window_length - pos;
    if (eof_position >= 0 && pos + len > eof_position)
        len = eof_position - pos;
    *data = window + (pos - window_start);
    return len;
}

// Pipe mode: the held blocks from pos on that lie back to back in memory.
int64_t pipe_span(file_pos pos, const char **data)
{
    int64_t block = pos / BLOCK_SIZE;
    int offset = static_cast<int>(pos % BLOCK_SIZE);
    file_buffer *b = pipe_find(block);
    if (!b || offset >= content(b)) {
        if (pos != pipe_offset)
            return 0;
        set_cursor(pos);
        if (byte_at_cursor() == END_OF_INPUT || !(b = pipe_find(block)))
            return 0;
    }
    *data = b->data + offset;
    if (!in_ring(b)) {
        // The store's blocks from here on, of which only the newest may be
        // partly filled.
        int64_t last = block + store_run(block) - 1;
        int tail = last == store_tip.block ? content(&store_tip) : BLOCK_SIZE;
        return (last - block) * BLOCK_SIZE + tail - offset;
    }
    int64_t len = content(b) - offset;
    while (content(b) == BLOCK_SIZE) {
        file_buffer *next = pipe_find(++block);
        if (!next || !in_ring(next) || next->data != b->data + BLOCK_SIZE ||
            next->valid_bytes == 0)
            break;
        b = next;
        len += content(b);
    }
    return len;
}

int64_t file_span_back(file_pos pos, const char **data)
{
    bool held = window_length > 0 && pos > window_start && pos <= window_start + window_length;
    if (!held || (pos - window_start < SHORT_SPAN && window_start > 0)) {
        int n = window_fill(pos > WINDOW_SIZE ? pos - WINDOW_SIZE : 0);
        if (n == -3) {
            // No window: one byte at a time from the buffers.
            static char one;
            set_cursor(pos);
            int c = buf_prev_byte();
            if (c == END_OF_INPUT)
                return 0;
            one = static_cast<char>(c);
            *data = &one;
            return 1;
        }
        if (n == -1)
            input_failed("read error");
        if (n <= 0 || pos > window_start + window_length)
            return 0;
    }
    *data = window;
    return pos - window_start;
}

int64_t pipe_span_back(file_pos pos, const char **data)
{
    int64_t block = (pos - 1) / BLOCK_SIZE;
    file_buffer *b = pipe_find(block);
    int64_t len = pos - block * BLOCK_SIZE;
    if (!b || len > content(b))
        return 0;
    if (!in_ring(b)) {
        int64_t before = store_run_back(block) - 1;
        *data = b->data - before * BLOCK_SIZE;
        return len + before * BLOCK_SIZE;
    }
    while (file_buffer *before = pipe_find(block - 1)) {
        if (!in_ring(before) || before->data + BLOCK_SIZE != b->data ||
            content(before) != BLOCK_SIZE)
            break;
        b = before;
        block--;
        len += BLOCK_SIZE;
    }
    *data = b->data;
    return len;
}

} // namespace

int buf_fill()
{
    file_buffer *b = find_block(cur_block);
    if (b) {
        last_found = b;
        if (cur_offset < b->valid_bytes) {
            if (!input_is_pipe)
                move_to_front(b);
            return byte_of(b);
        }
        return read_into(b);
    }
    if (input_is_pipe && cur_block * BLOCK_SIZE != pipe_offset)
        input_failed("pipe error");
    // No buffer could be made (the way out then still finishes the log).
    if (ring_records == 0)
        return END_OF_INPUT;
    b = take_record();
    if (in_ring(b)) {
        b->block = cur_block;
        b->valid_bytes = 0;
        index_insert(b);
    }
    if (input_is_pipe)
        pipe_insert(cur_block);
    last_found = b;
    return read_into(b);
}

void buf_attach(int wanted, int keep)
{
    // The reader needs at least one buffer to work at all.
    if (wanted < 1)
        wanted = 1;
    opt_b = buf_count;
    if (wanted > buf_count) {
        int more = wanted - buf_count;
        // A request beyond any real need (a saturated -b) is refused like a
        // failed allocation, rather than left to an overcommitting system
        // that would grant it and then kill the viewer while it is used.
        auto *records = more <= MAX_BUFFERS_AT_ONCE
                            ? static_cast<file_buffer *>(calloc(more, sizeof(file_buffer)))
                            : nullptr;
        auto *data = records ? static_cast<char *>(malloc(size_t(more) * BLOCK_SIZE)) : nullptr;
        if (!data || !index_reserve(static_cast<size_t>(ring_records) + more)) {
            free(records);
            free(data);
            char message[64];
            snprintf(message, sizeof message, "cannot allocate %d buffers", more);
            show_error(message);
            if (ring_records == 0)
                message_fatal(nullptr, 2);
            return;
        }
        for (int i = 0; i < more; i++) {
            records[i].block = -1;
            records[i].data = data + size_t(i) * BLOCK_SIZE;
            ring_link_tail(&records[i]);
        }
        ring_records += more;
        count_records();
    }
    if (!keep) {
        input_generation++;
        decode_from_start();
        for (file_buffer *b = buffer_ring.next; b != &buffer_ring; b = b->next) {
            b->block = -1;
            b->valid_bytes = 0;
        }
        for (size_t i = 0; i < index_capacity; i++)
            index_slots[i].block = -1;
        index_used = 0;
        pipe_first = pipe_end = 0;
        store_clear();
        store_tip.block = store_view.block = -1;
        last_found = &buffer_ring;
        window_length = 0;
        pipe_offset = 0;
        eof_position = NO_POSITION;
        cur_block = 0;
        cur_offset = 0;
    }
}

const char *buf_name()
{
    return input_name;
}

void buf_open(int fd, const char *name, int named, int stream, int decode)
{
    decompress_end();
    input_fd = fd;
    input_named = named;
    input_stream = stream || !named;
    input_name = named ? name : "standard input";
    decode_format = !decode           ? COMPRESS_NONE
                    : !input_stream ? decompress_probe(fd)
                                    : COMPRESS_UNDECIDED;
    input_decoded = decode_format != COMPRESS_NONE;
    input_is_pipe = input_stream || input_decoded;
    decode_started = damage_found = damage_shown = false;
    // A larger pipe lets each read take more and the writer run further
    // ahead, so a long pipe costs fewer reads and fewer switches between
    // the two; refused or not a pipe, it stays as it is.
    if (input_stream)
        fcntl(fd, F_SETPIPE_SZ, PIPE_SIZE);
}

bool buf_damaged()
{
    return damage_found;
}

void buf_report_damage()
{
    if (!damage_found || damage_shown)
        return;
    damage_shown = true;
    char message[160];
    snprintf(message, sizeof message, "%.120s: compressed data is damaged", input_name);
    show_error(message);
}

void buf_set_pipe_copy(void (*copy)(const char *data, int n))
{
    pipe_copy = copy;
}

int buf_pipe_nonblocking(int on)
{
    int was = pipe_nonblocking;
    pipe_nonblocking = on;
    return was;
}

void buf_forget_end()
{
    if (eof_position == NO_POSITION)
        return;
    // Only end markers are 0 bytes, and they lie at or beyond the end: in
    // the block that holds it, or in file mode also in blocks after it.
    int64_t end_block = eof_position / BLOCK_SIZE;
    for (file_buffer *b = buffer_ring.next; b != &buffer_ring; b = b->next) {
        if (b->block < end_block)
            continue;
        b->valid_bytes = content(b);
        if (input_is_pipe)
            break;
    }
    if (input_is_pipe && store_tip.block >= end_block)
        store_tip.valid_bytes = content(&store_tip);
    eof_position = NO_POSITION;
}

int buf_seek(file_pos pos)
{
    if (pos < 0)
        return 1;
    if (input_is_pipe && pos != pipe_offset && !pipe_find(pos / BLOCK_SIZE))
        return 1;
    set_cursor(pos);
    return 0;
}

int buf_seek_end()
{
    if (!input_is_pipe) {
        off_t size = lseek(input_fd, 0, SEEK_END);
        if (size < 0)
            return 1;
        // The file grew since its end was met: what was read of its last
        // block is not all of it any more.
        if (eof_position != NO_POSITION && size > eof_position)
            buf_forget_end();
        return buf_seek(size);
    }
    // Read everything still to come, so it is buffered (and logged).
    return buf_read_to_end();
}

int buf_read_to_end()
{
    file_pos pos = buf_tell();
    for (bool first = true;; first = false) {
        if (!first && pending_signals) {
            set_cursor(pos);
            return 1;
        }
        const char *data;
        int64_t n = buf_span(pos, &data);
        if (n == 0)
            break;
        pos += n;
    }
    set_cursor(pos);
    return pending_signals ? 1 : 0;  // a broken read is not the end
}

int buf_seek_begin()
{
    if (!input_is_pipe || pipe_offset == 0 || pipe_find(0)) {
        set_cursor(0);
        return 0;
    }
    if (pipe_first == pipe_end)
        return 1;
    set_cursor(pipe_first * BLOCK_SIZE);
    return 0;
}

file_pos buf_length()
{
    if (input_is_pipe)
        return eof_position;
    off_t size = lseek(input_fd, 0, SEEK_END);
    return size < 0 ? NO_POSITION : size;
}

file_pos buf_tell()
{
    return cur_block * BLOCK_SIZE + cur_offset;
}

int buf_next_byte()
{
    int c = byte_at_cursor();
    if (c == END_OF_INPUT)
        return END_OF_INPUT;
    if (++cur_offset == BLOCK_SIZE) {
        cur_offset = 0;
        cur_block++;
    }
    return c;
}

int buf_prev_byte()
{
    if (cur_offset == 0) {
        if (cur_block <= 0)
            return END_OF_INPUT;
        if (input_is_pipe && !pipe_find(cur_block - 1))
            return END_OF_INPUT;
        cur_block--;
        cur_offset = BLOCK_SIZE;
    }
    cur_offset--;
    return byte_at_cursor();
}

int buf_run(const char **data)
{
    if (byte_at_cursor() == END_OF_INPUT)
        return 0;
    const file_buffer *b = buffer_ring.next;
    if (b->block != cur_block)
        b = last_found->block == cur_block ? last_found : find_block(cur_block);
    *data = b->data + cur_offset;
    return content(b) - cur_offset;
}

void buf_skip(int n)
{
    cur_offset += n;
    if (cur_offset >= BLOCK_SIZE) {
        cur_block += cur_offset / BLOCK_SIZE;
        cur_offset %= BLOCK_SIZE;
    }
}

int buf_block_raw(int64_t b, char *out)
{
    const file_buffer *r = find_block(b);
    if (!r)
        return -1;
    int n = content(r);
    memcpy(out, r->data, static_cast<size_t>(n));
    if (const unsigned char *bits = input_is_pipe ? store_nul_bits(b, false) : nullptr)
        for (int i = 0; i < n; i++)
            if (bits[i >> 3] & (1u << (i & 7)))
                out[i] = 0;
    return n;
}

const char *buf_block(int64_t b, int *valid)
{
    const file_buffer *r = find_block(b);
    if (!r)
        return nullptr;
    *valid = r->valid_bytes;
    return r->data;
}

int64_t buf_span(file_pos pos, const char **data)
{
    if (pos < 0)
        return 0;
    return input_is_pipe ? pipe_span(pos, data) : file_span(pos, data);
}

int64_t buf_span_back(file_pos pos, const char **data)
{
    if (pos <= 0)
        return 0;
    return input_is_pipe ? pipe_span_back(pos, data) : file_span_back(pos, data);
}

bool buf_held_before(file_pos pos)
{
    return pos > 0 && (!input_is_pipe || pipe_find((pos - 1) / BLOCK_SIZE));
}

bool buf_newline_before(file_pos pos)
{
    return pos > 0 && buf_seek(pos - 1) == 0 && buf_next_byte() == '\n';
}

file_pos buf_line_end(file_pos pos)
{
    for (;;) {
        const char *data;
        int64_t n = buf_span(pos, &data);
        if (n == 0)
            return pos;
        auto *nl = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(n)));
        if (nl)
            return pos + (nl - data) + 1;
        pos += n;
    }
}

file_pos buf_line_start(file_pos pos)
{
    for (;;) {
        if (pending_signals)
            return NO_POSITION;
        const char *data;
        int64_t n = buf_span_back(pos, &data);
        if (n == 0)
            return pending_signals ? NO_POSITION : pos;
        auto *newline = static_cast<const char *>(memrchr(data, '\n', static_cast<size_t>(n)));
        if (newline)
            return pos - n + (newline - data) + 1;
        pos -= n;
    }
}
