// The snapshot ring: one slot of selected game memory per replay tick, filed
// under the game's tick counter, so that a later rewind can write any slot
// still in the ring back into the game and put the replay at that tick.
#pragma once

#include "base/game_memory.h"
#include "platform/types.h"

// Ring state, shared by capture, rewind and seek and the replay keys; all on
// the game's thread.
extern u8 *zp_ring;             // base of the ring block; null while there is no ring
extern u32 zp_ring_count;       // slots in the ring; 0 while there is no ring
extern u32 zp_slot_size;        // bytes per slot
extern u32 zp_car_count;        // cars the ring was built for, 1..16
extern u32 zp_fx_on;            // 1: slots carry the effects part
extern u32 zp_mark_sections;    // mark-section entries per slot, 0..4096
extern u32 zp_seek_target;      // tick at which a forward seek pauses; 0 = none

// Game words of the replay besides those in base/game_memory.h (linked addresses).
constexpr u32 ga_tick_alt = 0x853b34;     // a tick-valued word kept in the slot header
constexpr u32 ga_half_tick = 0x5bf268;    // takes a tick shifted right by one
constexpr u32 ga_mark_index = 0x655b9c;   // index of the last mark section; ~0 = none
constexpr u32 ga_mark_array = 0x867504;   // pointer to the mark-section records
constexpr u32 mark_record_size = 13844;
constexpr u32 mark_entry_offset = 12;     // the two words a slot keeps of each record
constexpr u32 mark_entry_size = 8;
constexpr u32 mark_sections_max = 4096;
constexpr u32 ring_cars_max = 16;
constexpr u32 ring_slots_min = 128;
constexpr u32 ring_slots_max = 4096;  // the settings allow no more

// Slot header, little-endian words ahead of the raw game bytes.
constexpr u32 slot_off_tick = 0;
constexpr u32 slot_off_tick_alt = 4;
constexpr u32 slot_off_cars = 8;
constexpr u32 slot_header_size = 16;  // word 12 is reserved, 0

// The slot layout after the header: the one contract between capture and
// restore, which both walk in this order. Everything is a raw byte copy,
// packed without padding.
enum zp_part_kind : u32 {
  zp_part_region,  // game bytes [addr, addr + len)
  zp_part_cars,    // for each car of the ring: the first len bytes of its car object
  zp_part_marks,   // for each mark section of the ring: len bytes at byte addr of its record
};

struct zp_part {
  zp_part_kind kind;
  u32 addr;
  u32 len;
  u32 fx;  // 1: only in rings built with effects
};

// The stretch 0x829078..0x8295eb is cut into three so that 0x8290a0..0x8290b3
// and 0x8290b8..0x8290cb stay out of every slot: they hold the game mode,
// the pause flag, the control word and the replay camera words, which must
// survive a rewind (the rewind sets pause and camera request itself). The
// tick counter and 0x853b34 lie in 0x853b18..0x853b7f and so are kept twice,
// in the header and in the region.
inline constexpr zp_part zp_layout[] = {
    {zp_part_region, 0x7c3c04, 6308, 0},
    {zp_part_cars, 0, 2772, 0},
    {zp_part_region, 0x829078, 40, 0},
    {zp_part_region, 0x8290b4, 4, 0},
    {zp_part_region, 0x8290cc, 1312, 0},
    {zp_part_region, 0x853b18, 104, 0},
    {zp_part_region, 0x5bf268, 12, 0},
    {zp_part_region, 0x8b1bac, 36, 0},
    {zp_part_region, 0x5c3a68, 24, 0},
    // The effects part: particle and skid-mark state, by far the bulk.
    {zp_part_region, 0x87f76c, 109536, 1},
    {zp_part_region, 0x5cd0bc, 6144, 1},
    {zp_part_region, 0x64f3c8, 1536, 1},
    {zp_part_marks, mark_entry_offset, mark_entry_size, 1},
};
constexpr u32 zp_layout_parts = sizeof(zp_layout) / sizeof(zp_layout[0]);

// Bytes of one part in a ring of `cars` cars and `marks` mark sections.
constexpr u32 zp_part_bytes(const zp_part &p, u32 cars, u32 marks) {
  return p.kind == zp_part_cars ? p.len * cars : p.kind == zp_part_marks ? p.len * marks : p.len;
}

constexpr u32 zp_slot_bytes(u32 cars, u32 fx, u32 marks) {
  u32 n = slot_header_size;
  for (const zp_part &p : zp_layout)
    if (fx || !p.fx) n += zp_part_bytes(p, cars, marks);
  return n;
}

// Slot offset of layout part i.
constexpr u32 zp_part_offset(u32 i, u32 cars, u32 marks) {
  u32 n = slot_header_size;
  for (u32 k = 0; k < i; ++k) n += zp_part_bytes(zp_layout[k], cars, marks);
  return n;
}

static_assert(zp_slot_bytes(0, 0, 0) == 7856, "header, region 0x7c3c04 and the seven regions");
static_assert(zp_slot_bytes(0, 1, 0) == 125072, "plus the three effects regions");
static_assert(zp_slot_bytes(8, 1, 1) == 147256, "8 cars, effects, one mark section");
static_assert(zp_slot_bytes(16, 1, 4096) == 2772 * 16 + 125072 + 8 * 4096);
static_assert(zp_part_offset(1, 1, 0) == 6324, "car blocks follow region 0x7c3c04");
static_assert(zp_part_offset(9, 1, 0) == 6324 + 2772 + 1532, "effects follow the seven regions");
// Slots are whole words, so the header of any slot can be read as words.
static_assert(zp_slot_bytes(1, 0, 0) % 4 == 0 && zp_slot_bytes(1, 1, 1) % 4 == 0);

// Copies len bytes from cursor into game memory at game address addr;
// returns cursor + len. (A capture writes through zp_slot_writer,
// rewind/stream.h.)
u8 *zp_load(u8 *cursor, u32 addr, u32 len);

// Which way a walk over the slot layout copies. The two differ only where
// the game has no object for a part: a capture keeps zeros in its place, so
// that everything after it stays at its offset; a restore has nowhere to
// write it and leaves it out.
enum zp_direction : u32 {
  zp_to_slot,  // capture: game memory into the slot
  zp_to_game,  // restore: the slot into game memory
};

// Copies the parts of zp_layout between the game and slot (from its byte 16
// on), in layout order, with n car blocks. Car objects and mark records are
// located through the game's pointers as they stand at the call. A capture
// streams the slot past the cache when `stream` is 1 (rewind/stream.h); the
// bytes are the same either way.
void zp_walk_slot(u8 *slot, u32 n, zp_direction dir, u32 stream = 0);

// The slot a tick is filed in (the ring must exist).
u8 *zp_slot(u32 tick);
inline u32 zp_slot_word(const u8 *slot, u32 off) {
  return *(const u32_g *)(slot + off);
}

// 1 when the ring holds a snapshot of this tick taken with the ring's car
// count, else 0.
int zp_snapshot_exists(u32 tick);

// The tick and car-count header words of every slot, kept a second time in
// the module's own data: capture writes both copies and a rebuild clears
// this one, as the new ring's headers are zeros. Finding the oldest slot then
// reads 32 KB here instead of one header per slot, each slot 147 KB from the
// next (a cache miss and a TLB miss apiece, for up to 4096 slots).
struct zp_slot_words {
  u32 tick;
  u32 cars;  // 0: the slot was not written since the ring was built
};
extern zp_slot_words zp_ring_index[ring_slots_max];

// 1 with *tick the oldest tick the ring holds with its own car count, or 0
// when it holds none: what a scan of every slot header finds, from the index.
int zp_oldest_snapshot(u32 *tick);

// What a freshly loaded module holds: no ring (a ring that exists is
// released), every ring word 0 and no seek pending. For hosts and tests that
// start the subsystem over within one process.
void zp_ring_reset();

// Files the game's state of the current tick in its slot, for the car count
// the game has now: a race of 1 to 16 cars, else nothing is filed and the
// ring stays as it is. A ring of another car count or mark-section count is
// first built anew (every snapshot lost); when no memory is to be had, nothing
// is filed and the next call tries again.
void zp_capture_snapshot();
