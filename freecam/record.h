// The whole state of the free camera: one record per game view. zp[1] drives
// camera objects whose view index is 1, zp[0] every other one. Presets save
// and restore part of zp[0].
#pragma once

#include <stddef.h>

#include "platform/types.h"

struct freecam_record {
  u32 active;      // 1 while the free camera drives cam
  u32 cam;         // the game camera object being driven
  f32 x, y, z;     // position, world units
  f32 m[9];        // orientation, rows right, up, forward
  u32 mouse_x, mouse_y;                 // game mouse position at the last re-centre
  u32 saved_cc, saved_d0, saved_e4;     // camera words +0xcc, +0xd0, +0xe4 at activation
  u32 saved_target;                     // camera's target car at activation
  u32 bind_pos;    // 1: the position follows the bound car, at offset o
  u32 bind_rot;    // 1: the orientation follows the bound car, as r
  u32 car_obj;     // bound car object, 0 = none
  i32 car;         // its index in the car table
  f32 o[3];        // position offset in the bound car's frame
  f32 r[9];        // orientation relative to the bound car's basis
  u32 prev_z, prev_x, prev_c, prev_v, prev_l, prev_b;  // key_edge state of the command keys
  u32 cam0_wait;   // 1 while the game is being handed replay camera 0
};
static_assert(offsetof(freecam_record, m) == 20 && offsetof(freecam_record, car) == 92);
static_assert(sizeof(freecam_record) == 172);

extern freecam_record zp[2];  // the free camera: zp[1] for view 1, zp[0] for every other view

// The position as a vector, for the car-frame conversions.
inline void rec_pos(const freecam_record &r, f32 *p) {
  p[0] = r.x;
  p[1] = r.y;
  p[2] = r.z;
}
inline void rec_set_pos(freecam_record &r, const f32 *p) {
  r.x = p[0];
  r.y = p[1];
  r.z = p[2];
}

// The record that drives a camera object, by its view index (+0x0c).
freecam_record *zp_record_for(u32 cam);
