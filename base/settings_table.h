// The plug-in's settings, one row each, in the order the entry reads them
// from section "Zephal" of "zephal.ini". Everything about a setting lives in
// its row: the key, the global it sets, how the file's integer becomes the
// value, the default for an absent key, the range outside which a value is
// clamped, the value built into the module for when the file cannot be read,
// and a line that tells players what it does.
//
// The plug-in expands the rows into its constinit globals and its reader;
// the players' tools and the tests include this header without linking the
// plug-in and see the same rows through zp_settings. Nothing here needs
// start-up code or the C runtime.
#pragma once

#include "platform/types.h"

// How the file's integer becomes the setting's value. The floats are formed
// in double precision and rounded once, as the reader has always done.
enum zp_conv : u8 {
  zp_as_is,      // the integer itself (flags, key codes, counts, milliseconds)
  zp_to_float,   // the integer as a float
  zp_div10,      // tenths
  zp_div10000,   // ten-thousandths
  zp_degrees,    // degrees, stored as radians
};

// What a setting stands for, for the tools: a virtual-key code, an on/off
// switch (0 off, anything else on) or a number.
enum zp_kind : u8 { zp_key, zp_switch, zp_number };

constexpr i32 zp_no_min = -2147483647 - 1, zp_no_max = 2147483647;

// The file stores degrees; the plug-in has always multiplied them by this
// single-precision constant, in double precision.
constexpr f32 zp_radians_per_degree = 0.017453292f;

constexpr f32 zp_convert(zp_conv how, i32 v) {
  switch (how) {
    case zp_to_float: return (f32)v;
    case zp_div10: return (f32)((f64)v / 10.0);
    case zp_div10000: return (f32)((f64)v / 10000.0);
    case zp_degrees: return (f32)((f64)v * (f64)zp_radians_per_degree);
    case zp_as_is: break;
  }
  return (f32)v;
}

// Clamps are written in the file's units: "Boost" at least 10 is the same
// as the converted 1.0 at least 1.0, since v / 10.0 < 1.0 exactly when v < 10.
constexpr i32 zp_clamp(i32 v, i32 lo, i32 hi) { return v < lo ? lo : v > hi ? hi : v; }

// The value built into the module: the converted default, or, where the
// module has always carried a rounded figure, that figure. "RollSpeed" is the
// one such row: 1.047 built in, while the file's 60 degrees give 1.0471976.
struct zp_same_t {};
constexpr zp_same_t zp_same{};
constexpr i32 zp_builtin_i32(zp_conv, i32 def, zp_same_t) { return def; }
constexpr f32 zp_builtin_f32(zp_conv how, i32 def, zp_same_t) { return zp_convert(how, def); }
constexpr f32 zp_builtin_f32(zp_conv, i32, f32 built_in) { return built_in; }

// X(key, global, type, conversion, kind, default, min, max, built-in, help)
// The help line is the comment of the shipped zephal.ini; keep it to one line.
#define ZP_SETTINGS(X)                                                                                      \
  X(FreeCam, cfg_enabled, i32, as_is, switch, 1, zp_no_min, zp_no_max, zp_same,                             \
    "1: the free camera takes over the game's camera type 7; 0: the plug-in leaves it alone")               \
  X(ReplayOnly, cfg_replay_only, i32, as_is, switch, 1, zp_no_min, zp_no_max, zp_same,                      \
    "1: the free camera works only while a replay plays and lets go when the replay ends; 0: also outside replays")      \
  X(KeyW, k_w, i32, as_is, key, 87, zp_no_min, zp_no_max, zp_same, "move forward (held)")                   \
  X(KeyS, k_s, i32, as_is, key, 83, zp_no_min, zp_no_max, zp_same, "move back (held)")                      \
  X(KeyA, k_a, i32, as_is, key, 65, zp_no_min, zp_no_max, zp_same, "move left (held)")                      \
  X(KeyD, k_d, i32, as_is, key, 68, zp_no_min, zp_no_max, zp_same, "move right (held)")                     \
  X(KeyQ, k_q, i32, as_is, key, 81, zp_no_min, zp_no_max, zp_same, "roll one way (held)")                   \
  X(KeyE, k_e, i32, as_is, key, 69, zp_no_min, zp_no_max, zp_same, "roll the other way (held)")             \
  X(KeyC, k_c, i32, as_is, key, 67, zp_no_min, zp_no_max, zp_same,                                          \
    "turn with the bound car on/off (rotation bind)")                                                       \
  X(KeyV, k_v, i32, as_is, key, 86, zp_no_min, zp_no_max, zp_same,                                          \
    "follow the bound car on/off (position bind)")                                                          \
  X(KeyZ, k_z, i32, as_is, key, 90, zp_no_min, zp_no_max, zp_same, "bind the next car")                     \
  X(KeyX, k_x, i32, as_is, key, 88, zp_no_min, zp_no_max, zp_same, "bind the previous car")                 \
  X(KeyR, k_r, i32, as_is, key, 82, zp_no_min, zp_no_max, zp_same, "move up (held)")                        \
  X(KeyF, k_f, i32, as_is, key, 70, zp_no_min, zp_no_max, zp_same, "move down (held)")                      \
  X(KeyL, k_l, i32, as_is, key, 76, zp_no_min, zp_no_max, zp_same,                                          \
    "switch the game's replay camera to the next one (1 to 8, then 0)")                                     \
  X(KeySpace, k_space, i32, as_is, key, 32, zp_no_min, zp_no_max, zp_same, "pause or resume the replay")    \
  X(KeyB, k_b, i32, as_is, key, 66, zp_no_min, zp_no_max, zp_same,                                          \
    "teleport the camera behind the bound car")                                                             \
  X(KeyPrev, k_prev, i32, as_is, key, 188, zp_no_min, zp_no_max, zp_same,                                   \
    "step the replay back (Shift: bigger step, Ctrl: biggest; repeats while held)")                         \
  X(KeyNext, k_next, i32, as_is, key, 190, zp_no_min, zp_no_max, zp_same,                                   \
    "step the replay forward (Shift: bigger step, Ctrl: biggest; repeats while held)")                      \
  X(BoostKey, k_boost, i32, as_is, key, 16, zp_no_min, zp_no_max, zp_same,                                  \
    "hold to move Boost times faster (Ctrl instead: BoostCtrl times)")                                      \
  X(MoveSpeed, cfg_move, f32, to_float, number, 8, zp_no_min, zp_no_max, zp_same,                           \
    "movement speed, game units per 64 frames (about a second)")                                            \
  X(Boost, cfg_boost, f32, div10, number, 30, 10, zp_no_max, zp_same,                                       \
    "speed factor while BoostKey is held, in tenths (30 = 3x; at least 10)")                                \
  X(BoostCtrl, cfg_boost_ctrl, f32, div10, number, 120, 10, zp_no_max, zp_same,                             \
    "speed factor while Ctrl is held, in tenths (120 = 12x; at least 10)")                                  \
  X(RollSpeed, cfg_roll, f32, degrees, number, 60, zp_no_min, zp_no_max, 1.047f,                            \
    "roll speed, degrees per 64 frames (about a second)")                                                   \
  X(MouseYaw, cfg_mouse_yaw, f32, div10000, number, 15, zp_no_min, zp_no_max, zp_same,                      \
    "mouse look left/right, ten-thousandths of a radian per mouse step (negative: reversed)")               \
  X(MousePitch, cfg_mouse_pitch, f32, div10000, number, 12, zp_no_min, zp_no_max, zp_same,                  \
    "mouse look up/down, ten-thousandths of a radian per mouse step (negative: reversed)")                  \
  X(TeleportDistance, cfg_tele_dist, f32, to_float, number, 6, zp_no_min, zp_no_max, zp_same,               \
    "teleport: how far behind the car, game units")                                                         \
  X(TeleportHeight, cfg_tele_height, f32, to_float, number, 2, zp_no_min, zp_no_max, zp_same,               \
    "teleport: how far above the car, game units")                                                          \
  X(Rewind, cfg_rewind, i32, as_is, switch, 1, zp_no_min, zp_no_max, zp_same,                               \
    "1: keep snapshots of the replay so that it can be stepped back; 0: no rewind, no memory used")         \
  X(RewindTicks, cfg_rewind_ticks, i32, as_is, number, 768, 128, 4096, zp_same,                             \
    "how many replay ticks can be stepped back (128 to 4096; about 147 KB each with 8 cars)")               \
  X(RewindStep, cfg_rewind_step, i32, as_is, number, 1, 1, zp_no_max, zp_same,                              \
    "ticks per step of KeyPrev/KeyNext (at least 1)")                                                       \
  X(RewindShift, cfg_rewind_shift, i32, as_is, number, 64, 1, zp_no_max, zp_same,                           \
    "ticks per step with Shift held (at least 1)")                                                          \
  X(RewindCtrl, cfg_rewind_ctrl, i32, as_is, number, 640, 1, zp_no_max, zp_same,                            \
    "ticks per step with Ctrl held (at least 1)")                                                           \
  X(RewindRepeatMs, cfg_rewind_repeat, i32, as_is, number, 100, 20, zp_no_max, zp_same,                     \
    "milliseconds between repeated steps while the key is held (at least 20)")                              \
  X(RewindRepeatDelayMs, cfg_rewind_delay, i32, as_is, number, 1000, 0, zp_no_max, zp_same,                 \
    "milliseconds a key must be held before it starts to repeat (at least 0)")                              \
  X(RewindEffects, cfg_rewind_effects, i32, as_is, switch, 1, zp_no_min, zp_no_max, zp_same,                \
    "1: snapshots include the effects (exact rewind, about 147 KB a tick); 0: without (about 30 KB)")

// One row as the tools and tests see it.
struct zp_setting {
  const char *key;
  zp_conv conv;
  zp_kind kind;
  i32 def, min, max;
  const char *help;
};

#define ZP_SETTING_ROW(key, global, type, conv, kind, def, min, max, builtin, help) \
  {#key, zp_##conv, zp_##kind, def, min, max, help},
inline constexpr zp_setting zp_settings[] = {ZP_SETTINGS(ZP_SETTING_ROW)};
#undef ZP_SETTING_ROW
constexpr u32 zp_setting_count = sizeof(zp_settings) / sizeof(zp_settings[0]);
static_assert(zp_setting_count == 36);
