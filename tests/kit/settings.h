// The plug-in's settings read from a file and read back row by row, and what
// a file's integer should become, worked out from each conversion's meaning
// rather than by the plug-in's own function.
#pragma once

#include <string>

#include "base/settings.h"
#include "base/settings_table.h"
#include "host/win32.h"

namespace kit {

// Reads dir's zephal.ini, from the built-in values on, as a game at exe
// (default: game.exe in dir) would.
inline void load_settings(const std::string &dir, const std::string &exe = "") {
  zp_reset_settings();
  host::set_module_path(exe.empty() ? host::windows_path(dir) + "\\game.exe" : exe);
  zp_load_settings();
}

// A row's global as a number: its integer, or its float.
#define KIT_SETTING_ROW(key, global, ...) static_cast<const void *>(&global),
inline const void *const setting_globals[] = {ZP_SETTINGS(KIT_SETTING_ROW)};
#undef KIT_SETTING_ROW
inline f64 setting_value(const zp_setting &r) {
  const void *g = setting_globals[&r - zp_settings];
  return r.conv == zp_as_is ? (f64)*(const i32 *)g : (f64)*(const f32 *)g;
}

inline f64 converted(const zp_setting &r, i32 v) {
  switch (r.conv) {
    case zp_as_is: return v;
    case zp_to_float: return (f32)v;
    case zp_div10: return (f32)(v / 10.0);
    case zp_div10000: return (f32)(v / 10000.0);
    case zp_degrees: return (f32)(v * (f64)0.017453292f);
  }
  return 0;
}

}  // namespace kit
