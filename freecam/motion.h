// The free camera's motion: mouse look, keyboard movement with speed boosts,
// roll, and the car binds. Nothing measures real time: every call of the
// camera handler is one fixed step of 1/64, so a replay flown twice with the
// same input gives the same path.
#pragma once

#include "freecam/record.h"

constexpr f64 zp_fixed_step = 0.015625;

// One call's input: read before the commands, applied after them.
struct motion_input {
  f32 yaw, pitch, roll;     // radians
  f32 right, up, forward;   // world units along the camera's own axes
};

// Takes the game mouse's movement since the last call and re-centres it,
// then works out this call's turn and movement from the held keys.
void motion_read(freecam_record *rec, motion_input *in);
// Rotates, translates, then lets the binds place the camera on its car.
void motion_integrate(freecam_record *rec, const motion_input &in);
