// Settings read once from "zephal.ini" beside the game's executable (section
// "Zephal"), by the entry before any patch is written; constant afterwards.
#pragma once

#include "platform/types.h"

constexpr u32 zp_path_max = 260;  // MAX_PATH

extern char zp_dir[zp_path_max];  // game directory with its trailing backslash, or ""

extern i32 cfg_enabled, cfg_replay_only;
extern i32 k_w, k_s, k_a, k_d, k_q, k_e, k_c, k_v, k_z, k_x, k_r, k_f, k_l, k_space, k_b;
extern i32 k_prev, k_next, k_boost;
extern f32 cfg_move, cfg_boost, cfg_boost_ctrl, cfg_roll, cfg_mouse_yaw, cfg_mouse_pitch;
extern f32 cfg_tele_dist, cfg_tele_height;
extern i32 cfg_rewind, cfg_rewind_ticks, cfg_rewind_step, cfg_rewind_shift, cfg_rewind_ctrl;
extern i32 cfg_rewind_repeat, cfg_rewind_delay, cfg_rewind_effects;

// The integer under key in section "Zephal" of the file at path, or def when
// the file, the section or the key is absent.
i32 ini_int(const char *path, const char *key, i32 def);

void zp_load_settings();

// Puts every setting back to its built-in value and empties zp_dir: the state
// of a freshly loaded module, for hosts that load settings more than once.
void zp_reset_settings();
