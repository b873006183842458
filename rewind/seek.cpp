// Rewind and seek. Both run inside the frame handler, on the game's thread,
// while the capture handler (same thread) keeps filing ticks.
#include "rewind/seek.h"

#include "base/game_memory.h"
#include "base/log.h"
#include "rewind/ring.h"

namespace {

// zp_rewind for any distance: the oldest-slot fallback of a seek may reach
// further back than an i32 counts. The message prints the delta as given.
void rewind_by(i64 delta) {
  if (!zp_ring || !zp_ring_count) return;
  // Ticks are u32 and a delta is signed: the sum is formed in 64 bits, so a
  // tick past 2^31 is not taken for a negative one.
  i64 target = (i64)rd32(ga_tick) + delta;
  if (target < 0) return;
  // A target past 2^32 - 1 is no tick the game can have filed.
  if (target > 0xffffffffLL || !zp_snapshot_exists((u32)target)) {
    zp_log("zephal: rewind %d: no snapshot at tick %u", (int)delta, (u32)target);
    return;
  }
  u8 *slot = zp_slot((u32)target);
  // Paused before anything moves; a forward seek still running is abandoned.
  set_replay_paused(1);
  zp_seek_target = 0;
  zp_walk_slot(slot, zp_slot_word(slot, slot_off_cars), zp_to_game);
  u32 tick = zp_slot_word(slot, slot_off_tick);
  u32 alt = zp_slot_word(slot, slot_off_tick_alt);
  wr32(ga_tick, tick);
  wr32(ga_tick_alt, alt);
  wr32(ga_half_tick, alt >> 1);
  // The game set its camera up for the state it left; asking for the same
  // replay camera again makes it recompute it over the restored cars.
  u32 cam = rd32(ga_cam_current);
  if (cam >= 1 && cam <= 8) request_replay_camera(cam);
  zp_log("zephal: rewound to tick %u (%+d)", tick, (int)delta);
}

}  // namespace

void zp_rewind(i32 delta) { rewind_by(delta); }

void zp_seek(i32 delta) {
  if (!zp_ring || !zp_ring_count) return;
  u32 now = rd32(ga_tick);
  i64 target = (i64)now + delta;
  if (target < 0) target = 0;
  // A tick cannot pass 2^32 - 1: a forward target beyond it waits there.
  if (target > 0xffffffffLL) target = 0xffffffffLL;
  if (zp_snapshot_exists((u32)target)) {
    rewind_by(target - now);  // the distance actually moved, after the clamp
    return;
  }
  if (delta >= 0) {
    // Not filed yet: run the replay and let the capture handler pause it at
    // the first tick at or past the target.
    wr32(ga_half_tick, (u32)target >> 1);
    zp_seek_target = (u32)target;
    set_replay_paused(0);
    return;
  }
  // Too far back for the ring: go back as far as it reaches, to the oldest
  // snapshot taken with this ring's cars.
  u32 oldest = 0;
  bool found = zp_oldest_snapshot(&oldest);
  if (found && oldest < now)
    rewind_by((i64)oldest - now);
  else
    zp_log("zephal: seek %d: no snapshot", delta);
}

void zp_seek_arrive() {
  if (zp_seek_target && rd32(ga_tick) >= zp_seek_target) {
    set_replay_paused(1);
    zp_seek_target = 0;
  }
}
