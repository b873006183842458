// The replay keys, polled by the frame handler on every pass: the pause key,
// and the back and forward keys with auto-repeat.
#include "rewind/keys.h"

#include "base/game_memory.h"
#include "base/settings.h"
#include "platform/win32.h"
#include "rewind/ring.h"
#include "rewind/seek.h"

constinit u32 g_prev_space = 0;
constinit u32 g_prev_lt = 0, g_last_lt = 0, g_lt_repeat = 0;
constinit u32 g_prev_gt = 0, g_last_gt = 0, g_gt_repeat = 0;

void zp_keys_reset() {
  g_prev_space = 0;
  g_prev_lt = g_last_lt = g_lt_repeat = 0;
  g_prev_gt = g_last_gt = g_gt_repeat = 0;
}

namespace {

// One seek key: a seek at the press, another after the initial delay, then
// one per repeat interval while held. Each wait runs from the pass on which
// the previous seek fired, so a spacing is the wait rounded up to the next
// pass. The clock wraps every 49.7 days; the difference modulo 2^32 does not
// care.
void seek_key(bool down, bool pressed, u32 &last, u32 &repeat, u32 t, i32 delta) {
  if (!down) {
    repeat = 0;
    return;
  }
  if (pressed) {
    zp_seek(delta);
    last = t;
    repeat = 0;
    return;
  }
  u32 wait = (u32)(repeat ? cfg_rewind_repeat : cfg_rewind_delay);
  if (t - last >= wait) {
    zp_seek(delta);
    last = t;
    repeat = 1;
  }
}

}  // namespace

void zp_replay_keys(u32 t, bool shift, bool ctrl) {
  // Worked out on every pass, so a modifier pressed or released while a key
  // is held changes the following repeats.
  i32 step = ctrl ? cfg_rewind_ctrl : shift ? cfg_rewind_shift : cfg_rewind_step;

  if (key_edge(k_space, &g_prev_space)) set_replay_paused((rd32(ga_pause) & 1) == 0 ? 1 : 0);

  // Both keys are sampled before either acts; back goes first when both fire.
  bool back = key_down(k_prev);
  bool fwd = key_down(k_next);
  seek_key(back, key_pressed(back, &g_prev_lt), g_last_lt, g_lt_repeat, t, -step);
  seek_key(fwd, key_pressed(fwd, &g_prev_gt), g_last_gt, g_gt_repeat, t, step);
}
