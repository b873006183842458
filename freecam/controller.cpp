#include "freecam/controller.h"

#include "base/game_memory.h"
#include "base/log.h"
#include "base/settings.h"
#include "freecam/bind.h"
#include "freecam/game_words.h"
#include "freecam/motion.h"
#include "platform/win32.h"

constinit freecam_record zp[2] = {};

freecam_record *zp_record_for(u32 cam) { return &zp[obj_rd32(cam, cam_off_view) == 1 ? 1 : 0]; }

void zp_release(freecam_record *rec) {
  if (rec->active && rec->cam) {
    obj_wr32(rec->cam, cam_off_cc, rec->saved_cc);
    obj_wr32(rec->cam, cam_off_d0, rec->saved_d0);
    obj_wr32(rec->cam, cam_off_e4, rec->saved_e4);
    cam_set_target(rec->cam, rec->saved_target);
  }
  rec->active = 0;
}

void zp_write_pose(const freecam_record &rec, u32 cam) {
  f32 *pos = obj_f32(cam, cam_off_pos);
  pos[0] = rec.x;
  pos[1] = rec.y;
  pos[2] = rec.z;
  f32 *m = obj_f32(cam, cam_off_orient);
  for (u32 k = 0; k < 9; ++k) m[k] = rec.m[k];
}

namespace {

void activate(freecam_record *rec, u32 cam) {
  rec->active = 1;
  rec->cam = cam;
  const f32 *pos = obj_f32(cam, cam_off_pos);
  rec->x = pos[0];
  rec->y = pos[1];
  rec->z = pos[2];
  const f32 *m = obj_f32(cam, cam_off_orient);
  for (u32 k = 0; k < 9; ++k) rec->m[k] = m[k];

  // The game's own camera logic works from these words; held at 0 it leaves
  // the camera alone while we fly it, and gets them back on release.
  rec->saved_cc = obj_rd32(cam, cam_off_cc);
  rec->saved_d0 = obj_rd32(cam, cam_off_d0);
  rec->saved_e4 = obj_rd32(cam, cam_off_e4);
  rec->saved_target = obj_rd32(cam, cam_off_target);
  obj_wr32(cam, cam_off_cc, 0);
  obj_wr32(cam, cam_off_d0, 0);
  obj_wr32(cam, cam_off_e4, 0);

  // The first movement measured, in this same call, is zero.
  rec->mouse_x = rd32(ga_mouse_x);
  rec->mouse_y = rd32(ga_mouse_y);

  rec->bind_pos = 0;
  rec->bind_rot = 0;
  rec->car_obj = 0;
  rec->car = 0;
  // Start bound to the car the game camera was following. A target of 0
  // stops the scan at the first empty slot, and car 0 is taken then.
  i32 n = game_car_count();
  for (i32 i = 0; i < n && i < (i32)car_table_entries; ++i) {
    if (car_entry((u32)i) == rec->saved_target) {
      rec->car = i;
      rec->car_obj = car_entry((u32)i);
      break;
    }
  }
  if (!rec->car_obj && n != 0) rec->car_obj = car_entry(0);

  // A key still held from before the take-over is not a press.
  rec->prev_z = key_down(k_z);
  rec->prev_x = key_down(k_x);
  rec->prev_c = key_down(k_c);
  rec->prev_v = key_down(k_v);
  rec->prev_l = key_down(k_l);
  rec->prev_b = key_down(k_b);
}

// A bind can only be switched on while a car is bound; switching on takes
// the current pose as the tie, so the camera does not move.
void toggle_bind(freecam_record *rec, u32 *flag, void (*capture)(freecam_record *)) {
  if (rec->car_obj) {
    *flag = !*flag;
    if (*flag) capture(rec);
  } else {
    *flag = 0;
  }
}

void next_replay_camera(freecam_record *rec) {
  u32 n = (rd32(ga_cam_current) + 1) % 9;
  if (n == 0) {
    // Camera 0 is not reached through the request pair; the game is handed
    // it through these words, and cam0_wait watches for the hand-over's end.
    wr32(ga_cam0_timer, 0);
    wr8(ga_cam0_request, 1);
    rec->cam0_wait = 1;
    wr8(ga_cam0_state, 0);
  } else {
    request_replay_camera(n);
  }
  zp_log("zephal: replay camera -> %u", n);
}

void commands(freecam_record *rec, u32 cam) {
  if (key_edge(k_v, &rec->prev_v)) {
    toggle_bind(rec, &rec->bind_pos, bind_capture_off);
    zp_log("zephal: position bind %s", rec->bind_pos ? "on" : "off");
  }
  if (key_edge(k_c, &rec->prev_c)) {
    toggle_bind(rec, &rec->bind_rot, bind_capture_rel);
    zp_log("zephal: rotation bind %s", rec->bind_rot ? "on" : "off");
  }
  if (key_edge(k_z, &rec->prev_z)) bind_cycle(rec, cam, +1);
  if (key_edge(k_x, &rec->prev_x)) bind_cycle(rec, cam, -1);
  if (key_edge(k_l, &rec->prev_l)) next_replay_camera(rec);
  if (rec->cam0_wait && (rd8(ga_cam0_request) == 0 || rd8(ga_cam0_state) == 0xff)) {
    wr8(ga_cam0_request, 0);
    rec->cam0_wait = 0;
  }
  if (key_edge(k_b, &rec->prev_b) && rec->car_obj) {
    teleport(rec);
    zp_log("zephal: camera teleported to car %d", rec->car);
  }
}

}  // namespace

freecam_record *zp_freecam_take(u32 cam) {
  if (!cfg_enabled) return nullptr;
  if (!cam || obj_rd32(cam, cam_off_type) != cam_type_free) return nullptr;
  freecam_record *rec = zp_record_for(cam);
  // Outside replay playback the game's own free camera is left to itself.
  if (cfg_replay_only && game_mode() != mode_replay) {
    if (rec->active && rec->cam == cam) zp_release(rec);
    return nullptr;
  }
  // A record active for another camera object is simply taken over.
  if (!(rec->active && rec->cam == cam)) activate(rec, cam);
  return rec;
}

void zp_freecam_fly(freecam_record *rec, u32 cam) {
  motion_input in;
  motion_read(rec, &in);
  commands(rec, cam);
  motion_integrate(rec, in);

  zp_write_pose(*rec, cam);
  wr32(ga_cam_driven, 0);
}
