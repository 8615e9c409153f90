#include "viewer/input/buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "viewer/control/program.h"
#include "viewer/input/log.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

file_pos eof_position = NO_POSITION;
file_pos pipe_offset;

namespace {

struct file_buffer {
    file_buffer *next;          // towards the least recently filled/used
    file_buffer *prev;
    int64_t block;              // block held, or -1 when empty
    int32_t valid_bytes;        // 0..BLOCK_SIZE, the end marker included
    char data[BLOCK_SIZE];      // NUL bytes of the input stored as '@'
    unsigned char *nul_map;     // pipe mode: a bit per byte that was NUL, or none
};

// Sentinel of the ring: next is the front, prev the tail.
file_buffer buffer_ring = {&buffer_ring, &buffer_ring, -1, 0, {}, nullptr};
int buf_count;
int64_t cur_block;
int32_t cur_offset;

// Block number to record, so that finding a block costs the same however
// many records a long pipe has made. Open addressing with linear probing.
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

void index_clear()
{
    for (size_t i = 0; i < index_capacity; i++)
        index_slots[i].block = -1;
    index_used = 0;
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

// Records made one at a time while a pipe grows come from slabs, so each
// costs its own size and nothing more.
constexpr int SLAB_RECORDS = 64;
file_buffer *slab;
int slab_left;

file_buffer *allocate_one()
{
    if (slab_left == 0) {
        slab = static_cast<file_buffer *>(calloc(SLAB_RECORDS, sizeof(file_buffer)));
        if (!slab)
            return nullptr;
        slab_left = SLAB_RECORDS;
    }
    slab_left--;
    return slab++;
}

// Input is read ahead: one system call fills this much, and blocks are
// then copied out of it, instead of a seek and a 1 KB read for every block.
// A read returns what is there, so a slow pipe is not waited on for more.
// In pipe mode pipe_offset counts the bytes handed to blocks, so the bytes
// held here are not yet read as far as the rest of the viewer (and the log)
// is concerned.
constexpr int READ_AHEAD_SIZE = 64 * 1024;
char *read_ahead;
file_pos ahead_start;
int ahead_length;

// While set, a pipe is read only when something has arrived; an empty pipe
// reads as the end of the input, which buf_forget_end takes back.
int pipe_nonblocking;

// Up to count bytes of the input at pos, through the read-ahead; the read's
// result: bytes copied, 0 at the end, -1 on error, -2 when interrupted.
int read_input(file_pos pos, char *into, int count)
{
    if (pos < ahead_start || pos >= ahead_start + ahead_length) {
        if (input_is_pipe && pipe_nonblocking) {
            int ready = wait_for_input(input_fd, 0);
            if (ready != 1)
                return ready;
        }
        ahead_length = 0;
        if (!read_ahead)
            read_ahead = static_cast<char *>(malloc(READ_AHEAD_SIZE));
        if (!input_is_pipe)
            lseek(input_fd, pos, SEEK_SET);
        if (!read_ahead)
            return read_interruptible(input_fd, into, count);
        int n = read_interruptible(input_fd, read_ahead, READ_AHEAD_SIZE);
        if (n <= 0)
            return n;
        ahead_start = pos;
        ahead_length = n;
    }
    int available = static_cast<int>(ahead_start + ahead_length - pos);
    int n = count < available ? count : available;
    memcpy(into, read_ahead + (pos - ahead_start), static_cast<size_t>(n));
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

// Record which of the n bytes at offset from are NUL, before they become
// '@': the log is written from the buffers too and must get them as read.
void note_nuls(file_buffer *b, int from, int n)
{
    const char *at = b->data + from;
    if (!b->nul_map && !memchr(at, 0, static_cast<size_t>(n)))
        return;
    if (!b->nul_map) {
        b->nul_map = static_cast<unsigned char *>(calloc(BLOCK_SIZE / 8, 1));
        if (!b->nul_map)
            out_of_memory();
    }
    for (int i = from; i < from + n; i++) {
        unsigned char bit = static_cast<unsigned char>(1u << (i & 7));
        b->nul_map[i >> 3] = at[i - from] == 0 ? b->nul_map[i >> 3] | bit
                                                : b->nul_map[i >> 3] & ~bit;
    }
}

// Read into b until the cursor's byte is there; END_OF_INPUT when a signal
// broke the read. The record's block and count are set before every read,
// so a jump out of it leaves nothing half done.
int read_into(file_buffer *b)
{
    for (;;) {
        file_pos pos = b->block * BLOCK_SIZE + b->valid_bytes;
        if (input_is_pipe && pos != pipe_offset) {
            show_error("pipe error");
            finish_and_exit(2);
        }
        char *at = b->data + b->valid_bytes;
        int want = BLOCK_SIZE - b->valid_bytes;
        int n = read_input(pos, at, want);
        if (n == -2)
            return END_OF_INPUT;
        if (n < 0) {
            show_error("read error");
            finish_and_exit(2);
        }
        if (input_is_pipe)
            pipe_offset += n;
        if (n > 0) {
            if (input_is_pipe) {
                log_write(at, n);
                note_nuls(b, b->valid_bytes, n);
            }
            for (char *p = at; (p = static_cast<char *>(memchr(p, 0, at + n - p))); p++)
                *p = '@';
            b->valid_bytes += n;
        } else {
            eof_position = pos;
            // Each empty read adds one end marker; fill up to the cursor at once
            // instead of reading again for every byte beyond the end.
            int32_t upto = b->block == cur_block && cur_offset >= b->valid_bytes
                               ? cur_offset + 1 : b->valid_bytes + 1;
            memset(b->data + b->valid_bytes, 0, upto - b->valid_bytes);
            b->valid_bytes = upto;
        }
        move_to_front(b);
        if (cur_offset < b->valid_bytes)
            return byte_of(b);
    }
}

} // namespace

int buf_fill()
{
    file_buffer *b = index_find(cur_block);
    if (b) {
        last_found = b;
        if (cur_offset < b->valid_bytes) {
            if (!input_is_pipe)
                move_to_front(b);
            return byte_of(b);
        }
        return read_into(b);
    }
    b = buffer_ring.prev;
    if (opt_B && input_is_pipe && b->block != -1 && index_reserve(buf_count + 1)) {
        file_buffer *added = allocate_one();
        if (added) {
            buf_count++;
            opt_b = buf_count;
            added->block = -1;
            ring_link_tail(added);
            b = added;
        }
    }
    if (b->block != -1)
        index_remove(b->block);
    b->block = cur_block;
    b->valid_bytes = 0;
    index_insert(b);
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
        if (!records || !index_reserve(static_cast<size_t>(wanted))) {
            free(records);
            char message[64];
            snprintf(message, sizeof message, "cannot allocate %d buffers", more);
            show_error(message);
            if (buf_count == 0)
                finish_and_exit(2);
            return;
        }
        for (int i = 0; i < more; i++) {
            records[i].block = -1;
            ring_link_tail(&records[i]);
        }
        buf_count = wanted;
        opt_b = wanted;
    }
    if (!keep) {
        for (file_buffer *b = buffer_ring.next; b != &buffer_ring; b = b->next) {
            b->block = -1;
            b->valid_bytes = 0;
        }
        index_clear();
        ahead_length = 0;
        pipe_offset = 0;
        eof_position = NO_POSITION;
        cur_block = 0;
        cur_offset = 0;
    }
}

void buf_pipe_nonblocking(int on)
{
    pipe_nonblocking = on;
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
        while (b->valid_bytes > 0 && b->data[b->valid_bytes - 1] == 0)
            b->valid_bytes--;
        if (input_is_pipe)
            break;
    }
    eof_position = NO_POSITION;
}

int buf_seek(file_pos pos)
{
    if (pos < 0)
        return 1;
    if (input_is_pipe && pos != pipe_offset && !index_find(pos / BLOCK_SIZE))
        return 1;
    cur_block = pos / BLOCK_SIZE;
    cur_offset = static_cast<int32_t>(pos % BLOCK_SIZE);
    return 0;
}

int buf_seek_end()
{
    if (!input_is_pipe) {
        off_t size = lseek(input_fd, 0, SEEK_END);
        if (size < 0)
            return 1;
        return buf_seek(size);
    }
    // Read everything still to come, so it is buffered (and logged).
    return buf_read_to_end();
}

int buf_read_to_end()
{
    const char *data;
    for (bool first = true;; first = false) {
        if (!first && pending_signals)
            return 1;
        int n = buf_run(&data);
        if (n == 0)
            return pending_signals ? 1 : 0;  // a broken read is not the end
        buf_skip(n);
    }
}

int buf_seek_begin()
{
    if (!input_is_pipe || pipe_offset == 0 || index_find(0)) {
        cur_block = 0;
        cur_offset = 0;
        return 0;
    }
    int64_t lowest = -1;
    for (file_buffer *b = buffer_ring.next; b != &buffer_ring; b = b->next)
        if (b->block >= 0 && (lowest < 0 || b->block < lowest))
            lowest = b->block;
    if (lowest < 0)
        return 1;
    cur_block = lowest;
    cur_offset = 0;
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
        if (input_is_pipe && !index_find(cur_block - 1))
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
        b = last_found->block == cur_block ? last_found : index_find(cur_block);
    int n = b->valid_bytes - cur_offset;
    while (n > 0 && b->data[cur_offset + n - 1] == 0)
        n--;
    *data = b->data + cur_offset;
    return n;
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
    const file_buffer *r = index_find(b);
    if (!r)
        return -1;
    int n = r->valid_bytes;
    while (n > 0 && r->data[n - 1] == 0)
        n--;
    memcpy(out, r->data, static_cast<size_t>(n));
    if (r->nul_map)
        for (int i = 0; i < n; i++)
            if (r->nul_map[i >> 3] & (1u << (i & 7)))
                out[i] = 0;
    return n;
}

const char *buf_block(int64_t b, int *valid)
{
    const file_buffer *r = index_find(b);
    if (!r)
        return nullptr;
    *valid = r->valid_bytes;
    return r->data;
}
