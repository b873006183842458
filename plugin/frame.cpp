// The frame handler. The game calls its routine 0x51a360 from 0x511328 once
// per frame pass, also while the replay stands paused; the hook stub runs
// that routine and then z9_zp_frame, which turns key events into replay
// actions. Keys are polled here: the game gives us no key messages.
//
// One pass samples the clock and both modifiers first, then runs the replay
// keys and the presets' digit keys, in that order.
#include "base/game_memory.h"
#include "patches/hooks.h"
#include "platform/win32.h"
#include "presets/presets.h"
#include "rewind/keys.h"
#include "rewind/ring.h"

extern "C" void z9_zp_frame() {
  if (game_mode() != mode_replay) {
    zp_seek_target = 0;  // the key state keeps its values until the replay returns
    return;
  }
  u32 t = GetTickCount();
  bool shift = key_down(VK_SHIFT);
  bool ctrl = key_down(VK_CONTROL);
  zp_replay_keys(t, shift, ctrl);
  zp_digit_pass(ctrl);
}
