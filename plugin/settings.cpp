#include "plugin/settings.h"

#include "platform/crt.h"
#include "platform/win32.h"

constinit char zp_dir[zp_path_max] = {};

// Built-in values: what the handlers see when the file cannot be read. They
// equal the converted file defaults, except cfg_roll, which has always been
// the rounded 1.047 here while the file's 60 degrees convert to 1.0471976.
constinit i32 cfg_enabled = 1, cfg_replay_only = 1;
constinit i32 k_w = 87, k_s = 83, k_a = 65, k_d = 68, k_q = 81, k_e = 69, k_c = 67, k_v = 86;
constinit i32 k_z = 90, k_x = 88, k_r = 82, k_f = 70, k_l = 76, k_space = 32, k_b = 66;
constinit i32 k_prev = 188, k_next = 190, k_boost = 16;
constinit f32 cfg_move = 8.0f, cfg_boost = 3.0f, cfg_boost_ctrl = 12.0f, cfg_roll = 1.047f;
constinit f32 cfg_mouse_yaw = 0.0015f, cfg_mouse_pitch = 0.0012f;
constinit f32 cfg_tele_dist = 6.0f, cfg_tele_height = 2.0f;
constinit i32 cfg_rewind = 1, cfg_rewind_ticks = 768, cfg_rewind_step = 1, cfg_rewind_shift = 64;
constinit i32 cfg_rewind_ctrl = 640, cfg_rewind_repeat = 100, cfg_rewind_delay = 1000;
constinit i32 cfg_rewind_effects = 1;

namespace {

enum conv : u8 { as_is, to_float, div10, div10000, degrees };

struct setting {
  const char *key;
  i32 def;
  conv how;
  void *global;
};

// In file order; the order is also the order of the reads.
constexpr setting settings[] = {
    {"FreeCam", 1, as_is, &cfg_enabled},
    {"ReplayOnly", 1, as_is, &cfg_replay_only},
    {"KeyW", 87, as_is, &k_w},
    {"KeyS", 83, as_is, &k_s},
    {"KeyA", 65, as_is, &k_a},
    {"KeyD", 68, as_is, &k_d},
    {"KeyQ", 81, as_is, &k_q},
    {"KeyE", 69, as_is, &k_e},
    {"KeyC", 67, as_is, &k_c},
    {"KeyV", 86, as_is, &k_v},
    {"KeyZ", 90, as_is, &k_z},
    {"KeyX", 88, as_is, &k_x},
    {"KeyR", 82, as_is, &k_r},
    {"KeyF", 70, as_is, &k_f},
    {"KeyL", 76, as_is, &k_l},
    {"KeySpace", 32, as_is, &k_space},
    {"KeyB", 66, as_is, &k_b},
    {"KeyPrev", 188, as_is, &k_prev},
    {"KeyNext", 190, as_is, &k_next},
    {"BoostKey", 16, as_is, &k_boost},
    {"MoveSpeed", 8, to_float, &cfg_move},
    {"Boost", 30, div10, &cfg_boost},
    {"BoostCtrl", 120, div10, &cfg_boost_ctrl},
    {"RollSpeed", 60, degrees, &cfg_roll},
    {"MouseYaw", 15, div10000, &cfg_mouse_yaw},
    {"MousePitch", 12, div10000, &cfg_mouse_pitch},
    {"TeleportDistance", 6, to_float, &cfg_tele_dist},
    {"TeleportHeight", 2, to_float, &cfg_tele_height},
    {"Rewind", 1, as_is, &cfg_rewind},
    {"RewindTicks", 768, as_is, &cfg_rewind_ticks},
    {"RewindStep", 1, as_is, &cfg_rewind_step},
    {"RewindShift", 64, as_is, &cfg_rewind_shift},
    {"RewindCtrl", 640, as_is, &cfg_rewind_ctrl},
    {"RewindRepeatMs", 100, as_is, &cfg_rewind_repeat},
    {"RewindRepeatDelayMs", 1000, as_is, &cfg_rewind_delay},
    {"RewindEffects", 1, as_is, &cfg_rewind_effects},
};
static_assert(sizeof(settings) / sizeof(settings[0]) == 36);

constexpr f32 radians_per_degree = 0.017453292f;

void store(const setting &s, i32 v) {
  // Each float is formed in double precision and rounded once.
  switch (s.how) {
    case as_is: *(i32 *)s.global = v; break;
    case to_float: *(f32 *)s.global = (f32)v; break;
    case div10: *(f32 *)s.global = (f32)((f64)v / 10.0); break;
    case div10000: *(f32 *)s.global = (f32)((f64)v / 10000.0); break;
    case degrees: *(f32 *)s.global = (f32)((f64)v * (f64)radians_per_degree); break;
  }
}

i32 at_least(i32 v, i32 lo) { return v < lo ? lo : v; }
f32 at_least(f32 v, f32 lo) { return v < lo ? lo : v; }

}  // namespace

i32 ini_int(const char *path, const char *key, i32 def) {
  return (i32)GetPrivateProfileIntA("Zephal", key, def, path);
}

void zp_load_settings() {
  char path[zp_path_max];
  DWORD n = GetModuleFileNameA(nullptr, path, zp_path_max);
  if (n == 0 || n >= zp_path_max) return;  // no path, or one cut at the buffer's end
  path[n] = 0;
  char *slash = strrchr(path, '\\');
  if (!slash) return;

  u32 dir_len = (u32)(slash - path) + 1;
  memcpy(zp_dir, path, dir_len);
  zp_dir[dir_len] = 0;

  static const char file_name[] = "\\zephal.ini";
  if (dir_len - 1 + sizeof(file_name) > zp_path_max) return;  // settings path would not fit
  strcpy(slash, file_name);

  for (const setting &s : settings) store(s, ini_int(path, s.key, s.def));

  if (cfg_rewind_ticks < 128) cfg_rewind_ticks = 128;
  if (cfg_rewind_ticks > 4096) cfg_rewind_ticks = 4096;
  cfg_rewind_step = at_least(cfg_rewind_step, 1);
  cfg_rewind_shift = at_least(cfg_rewind_shift, 1);
  cfg_rewind_ctrl = at_least(cfg_rewind_ctrl, 1);
  cfg_rewind_repeat = at_least(cfg_rewind_repeat, 20);
  cfg_rewind_delay = at_least(cfg_rewind_delay, 0);
  cfg_boost = at_least(cfg_boost, 1.0f);
  cfg_boost_ctrl = at_least(cfg_boost_ctrl, 1.0f);
}

void zp_reset_settings() {
  zp_dir[0] = 0;
  for (const setting &s : settings) store(s, s.def);
  cfg_roll = 1.047f;
}
