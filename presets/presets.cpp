#include "presets/presets.h"

#include "base/game_memory.h"
#include "base/log.h"
#include "freecam/controller.h"
#include "freecam/record.h"
#include "platform/crt.h"
#include "platform/win32.h"
#include "presets/preset_file.h"

constinit i32 g_pending_preset = -1;
constinit u32 g_prev_num[10] = {};

namespace {

constexpr int vk_digit0 = 0x30;  // main-row digits; the numeric pad is left to the game

i32 rd_int(const char *section, const char *key) {
  return (i32)GetPrivateProfileIntA(section, key, 0, zp_track_ini_path);
}

// The float keys of a preset in file order, each with its field of the
// record: x, y, z, then m and r interleaved element by element (the order the
// files have always had), then o. Save and recall walk the same list.
template <class F>
void for_each_float_key(freecam_record &rec, F visit) {
  visit("x", &rec.x);
  visit("y", &rec.y);
  visit("z", &rec.z);
  char key[8];
  for (int k = 0; k < 9; ++k) {
    zp_snprintf(key, sizeof key, "m%d", k);
    visit(key, &rec.m[k]);
    zp_snprintf(key, sizeof key, "r%d", k);
    visit(key, &rec.r[k]);
  }
  for (int k = 0; k < 3; ++k) {
    zp_snprintf(key, sizeof key, "o%d", k);
    visit(key, &rec.o[k]);
  }
}

}  // namespace

void zp_preset_save(int n) {
  // The track path comes first: without a track there is nowhere to save,
  // whatever the camera is doing.
  if (!zp_track_ini()) {
    zp_log("zephal: preset: no track path");
    return;
  }
  freecam_record &rec = zp[0];
  if (!rec.active) {
    zp_log("zephal: preset: free camera not active");
    return;
  }
  char section[16];
  zp_snprintf(section, sizeof section, "Pos%d", n);
  zp_wr_int(section, "used", 1);
  for_each_float_key(rec, [&](const char *key, f32 *field) { zp_wr_float(section, key, field); });
  zp_wr_int(section, "bind_pos", (i32)rec.bind_pos);
  zp_wr_int(section, "bind_rot", (i32)rec.bind_rot);
  zp_wr_int(section, "car", rec.car);
  // Profile writes report nothing usable; the line is logged in any case.
  zp_log("zephal: preset %d saved (%s)", n, zp_track_ini_path);
}

void zp_preset_apply(int n) {
  if (!zp_track_ini()) return;  // no track loaded: a recall has nothing to say
  char section[16];
  zp_snprintf(section, sizeof section, "Pos%d", n);
  if (!rd_int(section, "used")) {
    zp_log("zephal: preset %d empty", n);
    return;
  }
  freecam_record &rec = zp[0];
  if (!rec.active) {
    // The record only has a camera to drive once the game shows camera 7;
    // the free-camera tick finishes the recall then, reading the file anew.
    g_pending_preset = n;
    request_replay_camera(cam_type_free);
    return;
  }
  // Each float falls back to the field's current value, so a hand-edited
  // preset may leave out what it does not want to change.
  for_each_float_key(rec, [&](const char *key, f32 *field) { zp_rd_float(section, key, field); });
  rec.bind_pos = (u32)rd_int(section, "bind_pos");
  rec.bind_rot = (u32)rd_int(section, "bind_rot");
  rec.car = rd_int(section, "car");
  // A preset saved in a replay with more cars, or edited by hand, names the
  // last car of this one instead; a replay without cars counts as one.
  i32 count = game_car_count();
  if (count == 0) count = 1;
  if (rec.car < 0 || rec.car >= count) rec.car = count - 1;
  // The count is the game's; a nonsensical one (negative, or past the 64
  // slots) is treated as naming an empty slot rather than reading off the table.
  u32 car = rec.car >= 0 && (u32)rec.car < car_table_entries ? car_entry((u32)rec.car) : 0;
  // o and r are the preset's own: the binds follow the new car with the
  // offset and rotation saved against the old one. An empty slot keeps the
  // car the camera already had.
  if (car) {
    rec.car_obj = car;
    if (rec.cam) cam_set_target(rec.cam, car);
  }
  // Shown at once, before the next tick drives the camera from the record.
  if (rec.cam) zp_write_pose(rec, rec.cam);
}

void zp_digit_pass(bool ctrl) {
  for (int n = 0; n < 10; ++n) {
    if (!key_edge(vk_digit0 + n, &g_prev_num[n])) continue;
    // Shift plays no part: Shift with a digit recalls.
    if (ctrl)
      zp_preset_save(n);
    else
      zp_preset_apply(n);
  }
}

void zp_pending_preset_step(u32 cam) {
  // View 1 has a record of its own that presets never touch: the recall
  // waits for a camera of the other view.
  if (g_pending_preset < 0 || obj_rd32(cam, cam_off_view) == 1) return;
  int n = g_pending_preset;
  g_pending_preset = -1;
  zp_preset_apply(n);
}
