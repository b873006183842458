// The replay-interface handler. The game calls its routine 0x511240 from
// three places of the replay interface; the arm stub calls
// z9_zp_ui_suppressed first and skips the routine when it returns 1. While a
// free camera flies, the interface is held back; the same check first
// releases every free camera the game no longer shows.
#include "freecam/controller.h"
#include "freecam/unshown.h"
#include "patches/hooks.h"

extern "C" i32 z9_zp_ui_suppressed() {
  zp_freecam_release_unshown();
  return (zp[0].active || zp[1].active) ? 1 : 0;
}
