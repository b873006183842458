// The capture handler. The game enters its routine 0x51bbe0 as the replay
// advances from tick to tick; the hook stub calls z9_zp_capture there first.
// Out of replay mode it only forgets a pending seek; in a replay it ends a
// forward seek that has arrived, then files the tick when rewind is on.
#include "base/game_memory.h"
#include "base/settings.h"
#include "patches/hooks.h"
#include "rewind/ring.h"
#include "rewind/seek.h"

extern "C" void z9_zp_capture() {
  if (!game) return;
  if (game_mode() != mode_replay) {
    zp_seek_target = 0;  // a seek does not outlive the replay
    return;
  }
  zp_seek_arrive();
  if (!cfg_rewind) return;
  zp_capture_snapshot();
}
