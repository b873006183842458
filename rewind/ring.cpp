// The snapshot ring and its capture: a copy of the replay's state filed
// under the tick counter, once for each tick the replay advances (the capture
// handler, plugin/capture.cpp, calls it).
#include "rewind/ring.h"

#include "base/log.h"
#include "base/settings.h"
#include "platform/crt.h"
#include "platform/win32.h"
#include "rewind/stream.h"

constinit u8 *zp_ring = nullptr;
constinit u32 zp_ring_count = 0;
constinit u32 zp_slot_size = 0;
constinit u32 zp_car_count = 0;
constinit u32 zp_fx_on = 0;
constinit u32 zp_mark_sections = 0;
constinit u32 zp_seek_target = 0;
constinit zp_slot_words zp_ring_index[ring_slots_max] = {};

u8 *zp_load(u8 *cursor, u32 addr, u32 len) {
  memcpy(game_ptr(addr), cursor, len);
  return cursor + len;
}

void zp_walk_slot(u8 *slot, u32 n, zp_direction dir, u32 stream) {
  u8 *cur = slot + slot_header_size;  // a restore's cursor; a capture's is out.at
  zp_slot_writer out;
  if (dir == zp_to_slot) out.begin(cur, stream);
  // One block whose place in the game comes from a game pointer; obj is
  // null when the game has no object there.
  auto block = [&](u8 *obj, u32 len) {
    if (dir == zp_to_slot) {
      out.put(obj, len);  // null: zeros
    } else {
      if (obj) memcpy(obj, cur, len);
      cur += len;
    }
  };
  for (const zp_part &p : zp_layout) {
    if (p.fx && !zp_fx_on) break;  // the effects part is last
    switch (p.kind) {
      case zp_part_region:
        if (dir == zp_to_slot)
          out.put(game_ptr(p.addr), p.len);
        else
          cur = zp_load(cur, p.addr, p.len);
        break;
      case zp_part_cars:
        // The car table as it stands now decides which object each block
        // belongs to; an empty entry is a car without an object.
        for (u32 i = 0; i < n; ++i) {
          u32 car = car_entry(i);
          block(car ? obj_ptr(car, 0) : nullptr, p.len);
        }
        break;
      case zp_part_marks: {
        u32 array = rd32(ga_mark_array);
        if (!array && dir == zp_to_game) break;  // the cursor need not move on: nothing follows
        for (u32 i = 0; i < zp_mark_sections; ++i)
          block(array ? obj_ptr(array + i * mark_record_size, p.addr) : nullptr, p.len);
        break;
      }
    }
  }
  if (dir == zp_to_slot) out.end();
}

u8 *zp_slot(u32 tick) { return zp_ring + (tick % zp_ring_count) * zp_slot_size; }

int zp_snapshot_exists(u32 tick) {
  if (!zp_ring || !zp_ring_count) return 0;
  // A slot never written is zeros: its car count 0 is never the ring's, so
  // tick 0 is not mistaken for a snapshot. All slots of one ring share one
  // layout (a rebuild starts empty), so the mark count needs no test.
  const u8 *slot = zp_slot(tick);
  return zp_slot_word(slot, slot_off_tick) == tick &&
         zp_slot_word(slot, slot_off_cars) == zp_car_count;
}

int zp_oldest_snapshot(u32 *tick) {
  // Without branches, so that the entries stream through: a slot of another
  // car count (or none) weighs in as tick 0xFFFFFFFF, which cannot undercut
  // any real one, and `found` says whether one matched at all.
  const u32 n = zp_car_count;
  u32 oldest = ~0u, found = 0;
  auto consider = [n, &oldest, &found](u32 t, u32 cars) {
    u32 match = cars == n;
    u32 key = t | (match - 1);
    oldest = key < oldest ? key : oldest;
    found |= match;
  };
  const u32 indexed = zp_ring_count < ring_slots_max ? zp_ring_count : ring_slots_max;
  u32 k = 0;
  for (; k + 4 <= indexed; k += 4) {  // four a turn, the odd rest below
    const zp_slot_words *w = zp_ring_index + k;
    consider(w[0].tick, w[0].cars);
    consider(w[1].tick, w[1].cars);
    consider(w[2].tick, w[2].cars);
    consider(w[3].tick, w[3].cars);
  }
  for (; k < indexed; ++k) consider(zp_ring_index[k].tick, zp_ring_index[k].cars);
  // Only a ring larger than the settings allow has slots past the index.
  for (; k < zp_ring_count; ++k) {
    const u8 *slot = zp_ring + k * zp_slot_size;
    consider(zp_slot_word(slot, slot_off_tick), zp_slot_word(slot, slot_off_cars));
  }
  *tick = found ? oldest : 0;
  return (int)found;
}

void zp_ring_reset() {
  if (zp_ring) VirtualFree(zp_ring, 0, MEM_RELEASE);
  memset(zp_ring_index, 0, sizeof zp_ring_index);
  zp_ring = nullptr;
  zp_ring_count = zp_slot_size = zp_car_count = zp_fx_on = zp_mark_sections = 0;
  zp_seek_target = 0;
}

namespace {

// The game's mark-section count as a ring would hold it. The count is the
// last index + 1 in 32-bit arithmetic, so an index of ~0 means none; a count
// beyond 4096 is not believed and kept as 0 entries. Comparing this clamped
// value, not the raw count, keeps such a game from rebuilding the ring (and
// allocating a new block) at every tick.
u32 game_mark_sections() {
  u32 m = rd32(ga_mark_index) + 1;
  return m > mark_sections_max ? 0 : m;
}

// Sizes and obtains a new, empty ring for n cars. Every snapshot of the old
// ring is lost: its slots have another layout.
void rebuild(u32 n) {
  zp_fx_on = cfg_rewind_effects != 0 ? 1 : 0;
  zp_mark_sections = zp_fx_on ? game_mark_sections() : 0;
  if (zp_ring) {
    VirtualFree(zp_ring, 0, MEM_RELEASE);
    zp_ring = nullptr;
  }
  memset(zp_ring_index, 0, sizeof zp_ring_index);
  zp_car_count = n;
  zp_slot_size = zp_slot_bytes(n, zp_fx_on, zp_mark_sections);
  zp_ring_count = cfg_rewind_ticks < (i32)ring_slots_min ? ring_slots_min : (u32)cfg_rewind_ticks;
  // Committed pages arrive zero-filled: a slot never written reads as empty
  // without a clearing pass over up to a few hundred megabytes.
  zp_ring = (u8 *)VirtualAlloc(nullptr, (SIZE_T)zp_ring_count * zp_slot_size,
                               MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!zp_ring) {
    zp_ring_count = 0;  // retried at the next capture, which finds no ring
    return;
  }
  zp_log("zephal: snapshot ring %d x %u bytes", (int)zp_ring_count, zp_slot_size);
}

}  // namespace

void zp_capture_snapshot() {
  u32 n = rd32(ga_car_count);
  if (n < 1 || n > ring_cars_max) return;  // not a race we can file; keep the ring
  if (!zp_ring || zp_car_count != n || (zp_fx_on && game_mark_sections() != zp_mark_sections)) {
    rebuild(n);
    if (!zp_ring) return;
  }
  u32 t = rd32(ga_tick);
  u8 *slot = zp_slot(t);
  u32_g *head = (u32_g *)slot;
  head[0] = t;
  head[1] = rd32(ga_tick_alt);
  head[2] = n;
  head[3] = 0;
  // A slot written before is streamed. On the first lap the slot's pages
  // are new: the system zero-fills each at its first touch, which brings it
  // into the cache, and ordinary stores are then the faster.
  u32 k = t % zp_ring_count;
  u32 stream = k < ring_slots_max && zp_ring_index[k].cars != 0;
  if (k < ring_slots_max) zp_ring_index[k] = {t, n};
  zp_walk_slot(slot, n, zp_to_slot, stream);
}
