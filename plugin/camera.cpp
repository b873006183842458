// The camera handler. The game updates the camera object of each view through
// its routine 0x43f2c0, called at 0x4415b9 and 0x44143c with the object in
// EAX; the hook stub calls z9_zp_freecam_tick first and skips the routine
// when it returns 1, the free camera having driven the object itself.
//
// It sits above the free camera and the presets, so that the free camera
// need not know presets: a recall asked for while the free camera was off is
// finished here, once the camera is taken over and before any input is read.
#include "freecam/controller.h"
#include "patches/hooks.h"
#include "presets/presets.h"

extern "C" i32 z9_zp_freecam_tick(u32 cam) {
  freecam_record *rec = zp_freecam_take(cam);
  if (!rec) return 0;
  zp_pending_preset_step(cam);
  zp_freecam_fly(rec, cam);
  return 1;
}
