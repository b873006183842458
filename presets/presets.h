// Camera presets: ten free-camera poses per track in the track's
// "freecam.ini", saved with Ctrl and a digit, recalled with the digit alone.
// Only zp[0], the record of every view but view 1, takes part.
#pragma once

#include "platform/types.h"

// Preset recall waiting for the free camera to become active; -1 = none.
extern i32 g_pending_preset;

// Digit keys 0 to 9 (main row) as they were at the previous digit-key pass.
extern u32 g_prev_num[10];

// Digit-key pass of the frame handler, its last key step in replay playback;
// ctrl is the Ctrl state the frame handler sampled at the start of its pass.
void zp_digit_pass(bool ctrl);

// Pending-preset step of the free-camera tick: runs after activation, before
// any input is read, for the camera object cam.
void zp_pending_preset_step(u32 cam);

// Stores zp[0] as preset n of the loaded track.
void zp_preset_save(int n);

// Recalls preset n into zp[0] and its camera; with the free camera off, asks
// the game for replay camera 7 and leaves the recall pending.
void zp_preset_apply(int n);
