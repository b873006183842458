// The replay keys: the pause key, and the back and forward keys with
// auto-repeat.
#pragma once

#include "platform/types.h"

// Key state kept from pass to pass (previous-pass flags, the time of the
// last seek each key fired, and whether its auto-repeat has begun).
extern u32 g_prev_space;
extern u32 g_prev_lt, g_last_lt, g_lt_repeat;
extern u32 g_prev_gt, g_last_gt, g_gt_repeat;

// Puts the key state back to a freshly loaded module's: every word 0.
void zp_keys_reset();

// One frame pass of the replay keys: t is the pass's clock, shift and ctrl
// the modifiers as sampled at its start (they pick the seek distance).
void zp_replay_keys(u32 t, bool shift, bool ctrl);
