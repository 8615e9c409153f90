#include "viewer/input/store.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

int64_t store_slots;

namespace {

constexpr int SLOT_SHIFT = 10;
static_assert(STORE_SLOT_SIZE == 1 << SLOT_SHIFT);
constexpr int HUGE_PAGE_SHIFT = 21;
constexpr size_t HUGE_PAGE = size_t{1} << HUGE_PAGE_SHIFT;
// Memory is made writable a huge page at a time: that is what the system
// then charges against its commit limit, and what a fault fills at once.
constexpr int64_t COMMIT_SLOTS = int64_t{1} << (HUGE_PAGE_SHIFT - SLOT_SHIFT);
// The first region asks for 64 GiB of address space, then less until the
// system agrees; every later region has the size the first one got.
constexpr int LARGEST_REGION_SHIFT = 36;

int region_shift;               // log2 of a region's size in slots; 0: no region yet
char **regions;
size_t region_count;
int64_t committed;              // slots [0, committed) are writable

// Blocks held in slots that follow one another in memory.
struct extent {
    int64_t block;              // the first block
    int64_t slot;               // the slot holding it
    int64_t count;
};
// In block order, oldest first; those in use are [extent_head, extent_end).
extent *extents;
size_t extent_head, extent_end, extent_cap;
int64_t next_slot;              // the first slot the current input has not used

struct nul_entry {
    int64_t block;
    unsigned char bits[STORE_SLOT_SIZE / 8];
};
nul_entry *nuls;                // in block order; [nul_head, nul_end) in use
size_t nul_head, nul_end, nul_cap;

// Room for one more item at the end of a queue that is emptied from the
// front: the items move down, or the array doubles.
template <typename T> bool queue_room(T *&items, size_t &head, size_t &end, size_t &cap)
{
    if (end < cap)
        return true;
    if (head > 0) {
        memmove(items, items + head, (end - head) * sizeof(T));
        end -= head;
        head = 0;
        return true;
    }
    size_t more = cap ? cap * 2 : 16;
    auto *grown = static_cast<T *>(realloc(items, more * sizeof(T)));
    if (!grown)
        return false;
    items = grown;
    cap = more;
    return true;
}

char *address(int64_t slot)
{
    int64_t in_region = slot & ((int64_t{1} << region_shift) - 1);
    return regions[slot >> region_shift] + (in_region << SLOT_SHIFT);
}

bool starts_region(int64_t slot)
{
    return (slot & ((int64_t{1} << region_shift) - 1)) == 0;
}

bool add_region()
{
    auto **grown = static_cast<char **>(realloc(regions, (region_count + 1) * sizeof *regions));
    if (!grown)
        return false;
    regions = grown;
    int largest = region_shift ? region_shift + SLOT_SHIFT : LARGEST_REGION_SHIFT;
    int smallest = region_shift ? largest : HUGE_PAGE_SHIFT;
    for (int shift = largest; shift >= smallest; shift--) {
        size_t size = size_t{1} << shift;
        // Address space only, with room to start on a huge page: nothing is
        // charged until a part is made writable.
        void *p = mmap(nullptr, size + HUGE_PAGE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            continue;
        auto *start = static_cast<char *>(p);
        auto *base = reinterpret_cast<char *>(
            (reinterpret_cast<uintptr_t>(start) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
        if (base > start)
            munmap(start, static_cast<size_t>(base - start));
        if (start + HUGE_PAGE > base)
            munmap(base + size, static_cast<size_t>(start + HUGE_PAGE - base));
        // A short pipe stays in small pages; beyond the first huge page a
        // fault fills a whole one, and the kernel's work per byte is least.
        size_t small = region_count == 0 ? HUGE_PAGE : 0;
        if (size > small)
            madvise(base + small, size - small, MADV_HUGEPAGE);
        regions[region_count++] = base;
        region_shift = shift - SLOT_SHIFT;
        return true;
    }
    return false;
}

// Make the slots up to and including slot writable, as far as the system
// allows; whether it allowed all.
bool commit(int64_t slot)
{
    while (committed <= slot) {
        bool in_regions = region_count > 0 &&
                          committed >> region_shift < static_cast<int64_t>(region_count);
        if (!in_regions && !add_region())
            return false;
        if (mprotect(address(committed), HUGE_PAGE, PROT_READ | PROT_WRITE) != 0)
            return false;
        committed += COMMIT_SLOTS;
    }
    return true;
}

// Note block as held in slot, after every block held.
bool append(int64_t block, int64_t slot)
{
    if (extent_end > extent_head) {
        extent &last = extents[extent_end - 1];
        if (last.block + last.count == block && last.slot + last.count == slot &&
            !starts_region(slot)) {
            last.count++;
            return true;
        }
    }
    if (!queue_room(extents, extent_head, extent_end, extent_cap))
        return false;
    extents[extent_end++] = {block, slot, 1};
    return true;
}

const extent *holding(int64_t block)
{
    if (extent_head == extent_end)
        return nullptr;
    const extent *e = &extents[extent_end - 1];
    if (block < e->block) {
        // The last extent that starts at or before block.
        size_t lo = extent_head, hi = extent_end - 1;
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2;
            if (extents[mid].block <= block)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == extent_head)
            return nullptr;
        e = &extents[lo - 1];
    }
    return block < e->block + e->count ? e : nullptr;
}

} // namespace

void store_clear()
{
    extent_head = extent_end = 0;
    nul_head = nul_end = 0;
    next_slot = 0;
}

char *store_find(int64_t block)
{
    const extent *e = holding(block);
    return e ? address(e->slot + (block - e->block)) : nullptr;
}

int64_t store_run(int64_t block)
{
    const extent *e = holding(block);
    return e ? e->block + e->count - block : 0;
}

int64_t store_run_back(int64_t block)
{
    const extent *e = holding(block);
    return e ? block - e->block + 1 : 0;
}

int64_t store_oldest()
{
    return extent_head < extent_end ? extents[extent_head].block : -1;
}

char *store_add(int64_t block, bool grow)
{
    int64_t slot = next_slot;
    if (slot >= store_slots && !(grow && commit(slot)))
        return nullptr;
    if (!append(block, slot))
        return nullptr;
    next_slot++;
    if (next_slot > store_slots)
        store_slots = next_slot;
    return address(slot);
}

int64_t store_room(int64_t most, bool grow)
{
    if (extent_head == extent_end)
        return 0;
    const extent &last = extents[extent_end - 1];
    // Only while the input fills fresh slots do free ones follow the newest.
    int64_t first = last.slot + last.count;
    if (first != next_slot || starts_region(first))
        return 0;
    int64_t region_end = ((first >> region_shift) + 1) << region_shift;
    int64_t n = most < region_end - first ? most : region_end - first;
    if (!grow && n > store_slots - first)
        n = store_slots - first;
    if (n > 0 && !commit(first + n - 1) && n > committed - first)
        n = committed - first;
    return n > 0 ? n : 0;
}

void store_extend(int64_t count)
{
    extents[extent_end - 1].count += count;
    next_slot += count;
    if (next_slot > store_slots)
        store_slots = next_slot;
}

char *store_recycle(int64_t block)
{
    if (!queue_room(extents, extent_head, extent_end, extent_cap))
        return nullptr;
    extent &oldest = extents[extent_head];
    int64_t slot = oldest.slot;
    oldest.block++;
    oldest.slot++;
    if (--oldest.count == 0)
        extent_head++;
    append(block, slot);
    return address(slot);
}

unsigned char *store_nul_bits(int64_t block, bool make)
{
    if (nul_end > nul_head && nuls[nul_end - 1].block == block)
        return nuls[nul_end - 1].bits;
    if (make) {
        if (!queue_room(nuls, nul_head, nul_end, nul_cap))
            return nullptr;
        nul_entry &e = nuls[nul_end++];
        e.block = block;
        memset(e.bits, 0, sizeof e.bits);
        return e.bits;
    }
    size_t lo = nul_head, hi = nul_end;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (nuls[mid].block < block)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < nul_end && nuls[lo].block == block ? nuls[lo].bits : nullptr;
}

void store_forget_nuls(int64_t block)
{
    while (nul_head < nul_end && nuls[nul_head].block <= block)
        nul_head++;
}
