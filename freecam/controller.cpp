// Placeholder until the free-camera subsystem lands: the game keeps every
// camera update and the replay interface.
#include "freecam/record.h"
#include "patches/hooks.h"
#include "plugin/game.h"

constinit freecam_record zp[2] = {};

freecam_record *zp_record_for(u32 cam) { return &zp[obj_rd32(cam, cam_off_view) == 1 ? 1 : 0]; }

i32 z9_zp_freecam_tick(u32) { return 0; }
i32 z9_zp_ui_suppressed() { return 0; }
