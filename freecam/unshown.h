// The game can stop showing a free camera without asking it: another camera
// chosen, or the camera object retyped. The camera tick is never called for
// such a camera, so the release happens on the replay interface's check
// (plugin/arm.cpp), three times a frame. It is inline there so that the
// check compiles to the one routine it has always been: the module's code
// ahead of the hook stubs, and with it the call offsets written into the
// game, stays as it was (see cmake/plugin.cmake).
#pragma once

#include "base/game_memory.h"
#include "freecam/controller.h"
#include "freecam/game_words.h"

// Releases each active record whose camera object the game no longer shows
// in its view: the view's current camera (override word, else base word) is
// another object or none, or the object is no longer of type 7.
inline void zp_freecam_release_unshown() {
  for (u32 v = 0; v < 2; ++v) {
    freecam_record *rec = &zp[v];
    if (!rec->active) continue;
    u32 c = rd32(ga_view_cam_override + 4 * v);
    if (!c) c = rd32(ga_view_cam_base + 4 * v);
    if (!c || c != rec->cam || obj_rd32(c, cam_off_type) != cam_type_free) zp_release(rec);
  }
}
