#include "base/settings.h"

#include "base/settings_table.h"
#include "platform/crt.h"
#include "platform/win32.h"

constinit char zp_dir[zp_path_max] = {};

// The globals hold their built-in values from the moment the module is
// mapped: what the handlers see when the file cannot be read.
#define ZP_DEFINE(key, global, type, conv, kind, def, min, max, builtin, help) \
  constinit type global = zp_builtin_##type(zp_##conv, def, builtin);
ZP_SETTINGS(ZP_DEFINE)
#undef ZP_DEFINE

namespace {

struct setting {
  const char *key;
  i32 def, min, max;
  zp_conv how;
  void *global;  // an i32 for zp_as_is, else an f32
};

// In file order; the order is also the order of the reads.
#define ZP_READ(key, global, type, conv, kind, def, min, max, builtin, help) \
  {#key, def, min, max, zp_##conv, &global},
constexpr setting settings[] = {ZP_SETTINGS(ZP_READ)};
#undef ZP_READ

// A row's conversion and the type of its global go together.
template <class T> constexpr bool is_f32 = false;
template <> constexpr bool is_f32<f32> = true;
#define ZP_CHECK(key, global, type, conv, kind, def, min, max, builtin, help) \
  static_assert((zp_##conv == zp_as_is) != is_f32<type>, #key ": integers as is, floats converted");
ZP_SETTINGS(ZP_CHECK)
#undef ZP_CHECK

void store(const setting &s, i32 v) {
  if (s.how == zp_as_is)
    *(i32 *)s.global = v;
  else
    *(f32 *)s.global = zp_convert(s.how, v);
}

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

  // A clamp touches only its own value and no read depends on another, so
  // clamping each value as it is stored comes to the same as clamping after
  // the last read.
  for (const setting &s : settings) store(s, zp_clamp(ini_int(path, s.key, s.def), s.min, s.max));
}

void zp_reset_settings() {
  zp_dir[0] = 0;
#define ZP_RESET(key, global, type, conv, kind, def, min, max, builtin, help) \
  global = zp_builtin_##type(zp_##conv, def, builtin);
  ZP_SETTINGS(ZP_RESET)
#undef ZP_RESET
}
