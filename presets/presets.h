// Camera presets: ten free-camera poses per track in the track's
// "freecam.ini", saved with Ctrl and a digit, recalled with the digit alone.
#pragma once

#include "platform/types.h"

// Preset recall waiting for the free camera to become active; -1 = none.
extern i32 g_pending_preset;

// Digit-key pass of the frame handler, its last key step in replay playback;
// ctrl is the Ctrl state the frame handler sampled at the start of its pass.
void zp_digit_pass(bool ctrl);

// Pending-preset step of the free-camera tick: runs after activation, before
// any input is read, for the camera object cam.
void zp_pending_preset_step(u32 cam);

void zp_preset_apply(int n);
