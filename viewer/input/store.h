// The memory of a growing pipe: slots of STORE_SLOT_SIZE bytes laid back
// to back in large reserved stretches of address space, committed as they
// are needed and backed by huge pages where the system has them, so that
// keeping a long pipe costs the kernel a fault per huge page and costs no
// record per block. Blocks go into slots in runs; a slot once made is kept
// for later inputs, which fill the slots again from the first.
#pragma once
#include <cstdint>

constexpr int STORE_SLOT_SIZE = 1024;

// Slots made so far, over all inputs.
extern int64_t store_slots;

// Forget every block held and every NUL noted: a new input.
void store_clear();
// The bytes of block b, or nullptr when no slot holds it.
char *store_find(int64_t block);
// How many blocks from block on are held back to back in memory; 0 when
// block is not held.
int64_t store_run(int64_t block);
// How many blocks up to and including block are held back to back.
int64_t store_run_back(int64_t block);
// The lowest block held, or -1.
int64_t store_oldest();
// A slot for block, which follows every block held: one made before and
// free, or with grow a new one; nullptr when there is none.
char *store_add(int64_t block, bool grow);
// How many slots, up to most, lie right after the newest block's slot and
// can take the blocks after it at once (made when they are read: grow as
// for store_add). Their memory is ready to be written.
int64_t store_room(int64_t most, bool grow);
// The count blocks after the newest have been read into that room.
void store_extend(int64_t count);
// Forget the oldest block and give its slot to block, which follows every
// block held; nullptr when memory for the bookkeeping is exhausted.
char *store_recycle(int64_t block);

// Which bytes of a block of the pipe were NUL before they were shown as
// '@': a bit per byte, set for a NUL. Blocks are noted in increasing order.
// With make, the bits of block are made (all clear) if there are none yet,
// and nullptr means memory is exhausted; without, nullptr means no NUL.
unsigned char *store_nul_bits(int64_t block, bool make);
// Forget the NULs of the blocks up to and including block.
void store_forget_nuls(int64_t block);
