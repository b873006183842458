// While a free camera flies, the game routine behind three replay-interface
// call sites is held back. The same check notices when the game has stopped
// showing the free camera (another camera chosen, the camera retyped): the
// camera tick is never called for such a camera, so the release happens here.
#include "freecam/controller.h"
#include "freecam/game_words.h"
#include "patches/hooks.h"
#include "plugin/game_view.h"

i32 z9_zp_ui_suppressed() {
  for (u32 v = 0; v < 2; ++v) {
    freecam_record *rec = &zp[v];
    if (!rec->active) continue;
    u32 c = rd32(ga_view_cam_override + 4 * v);
    if (!c) c = rd32(ga_view_cam_base + 4 * v);
    if (!c || c != rec->cam || obj_rd32(c, cam_off_type) != cam_type_free) zp_release(rec);
  }
  return (zp[0].active || zp[1].active) ? 1 : 0;
}
