#include "freecam/motion.h"

#include "base/game_memory.h"
#include "base/settings.h"
#include "freecam/game_words.h"
#include "freecam/orient.h"
#include "platform/win32.h"

namespace {

// A pointer jump larger than this is the game warping its cursor (a focus
// change, a resolution switch), not a hand on the mouse.
constexpr i32 mouse_jump = 1024;

// +step while `plus` is held, then -step while `minus` is: opposite keys held
// together cancel to exactly 0.
f32 key_axis(int plus, int minus, f32 step) {
  f32 v = 0.0f;
  if (key_down(plus)) v = (f32)((f64)v + step);
  if (key_down(minus)) v = (f32)((f64)v - step);
  return v;
}

}  // namespace

void motion_read(freecam_record *rec, motion_input *in) {
  i32 dx = (i32)(rd32(ga_mouse_x) - rec->mouse_x);
  i32 dy = (i32)(rd32(ga_mouse_y) - rec->mouse_y);
  if (dx < -mouse_jump || dx > mouse_jump || dy < -mouse_jump || dy > mouse_jump) dx = dy = 0;
  // Back to the middle of the game's mouse rectangle, so the next call
  // measures only what moved since this one and the pointer never sticks
  // at an edge.
  u32 cx = (rd32(ga_mouse_left) + rd32(ga_mouse_right)) >> 1;
  u32 cy = (rd32(ga_mouse_top) + rd32(ga_mouse_bottom)) >> 1;
  wr32(ga_mouse_x, cx);
  wr32(ga_mouse_y, cy);
  rec->mouse_x = cx;
  rec->mouse_y = cy;
  // Mouse look is an angle per count, not per second: not scaled by the step.
  in->yaw = (f32)((f64)dx * cfg_mouse_yaw);
  in->pitch = (f32)((f64)dy * cfg_mouse_pitch);

  f32 speed = cfg_move;
  if (key_down(VK_CONTROL))
    speed = (f32)((f64)speed * cfg_boost_ctrl);
  else if (key_down(k_boost))
    speed = (f32)((f64)speed * cfg_boost);
  f32 step = (f32)((f64)speed * zp_fixed_step);
  in->forward = key_axis(k_w, k_s, step);
  in->right = key_axis(k_d, k_a, step);
  in->up = key_axis(k_r, k_f, step);
  in->roll = key_axis(k_q, k_e, (f32)(zp_fixed_step * cfg_roll));  // boosts leave roll alone
}

void motion_integrate(freecam_record *rec, const motion_input &in) {
  // R multiplies from the left, so each turn is about the camera's own
  // current axes. With the rotation bind the turn goes into the orientation
  // relative to the car, which the car's basis then carries along.
  f32 rot[9];
  mat_rotation(in.yaw, in.pitch, in.roll, rot);
  f32 *turned = rec->bind_rot ? rec->r : rec->m;
  mat_mul(rot, turned, turned);

  const u32 car = rec->car_obj;
  f32 c[9], cpos[3];
  if (car) {
    car_basis(car, c);
    car_position(car, cpos);
  }
  const f64 s = in.right, u = in.up, f = in.forward;
  if (rec->bind_pos && car) {
    // Bound by position the camera moves its offset, along its own axes as
    // seen from the car.
    f32 fr[9];
    if (rec->bind_rot)
      for (u32 k = 0; k < 9; ++k) fr[k] = rec->r[k];
    else
      orient_to_car(rec->m, c, fr);
    for (u32 k = 0; k < 3; ++k)
      rec->o[k] = (f32)(((s * fr[k] + u * fr[3 + k]) + f * fr[6 + k]) + rec->o[k]);
  } else {
    f32 p[3];
    rec_pos(*rec, p);
    const f32 *m = rec->m;
    for (u32 k = 0; k < 3; ++k) p[k] = (f32)(((s * m[k] + u * m[3 + k]) + f * m[6 + k]) + p[k]);
    rec_set_pos(*rec, p);
  }

  if (rec->bind_rot && car) orient_to_world(rec->r, c, rec->m);
  if (rec->bind_pos && car) {
    f32 p[3];
    car_to_world(c, cpos, rec->o, p);
    rec_set_pos(*rec, p);
  }
}
