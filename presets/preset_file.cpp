#include "presets/preset_file.h"

#include "base/game_memory.h"
#include "platform/crt.h"
#include "platform/win32.h"

constinit char zp_track_ini_path[zp_path_max] = {};

int zp_track_ini(void) {
  u32 track = rd32(ga_track_number);
  const char *dir = (const char *)(uintptr_t)rd32(ga_track_dir);
  // The game keeps no bound for its table; the number is trusted as it stands.
  const char *name = (const char *)(uintptr_t)rd32(ga_track_names + 4 * track);
  // Before a track is loaded the game holds null or empty strings here.
  if (!dir || !name || !dir[0] || !name[0]) return 0;
  // The game's strings already carry their own separators ("tracks\" and
  // "alpine"), and zp_dir ends in one: nothing is inserted between them. A
  // path too long for MAX_PATH is cut and used so, as the game would.
  zp_snprintf(zp_track_ini_path, zp_path_max, "%s%s%s\\freecam.ini", zp_dir, dir, name);
  return 1;
}

void zp_rd_float(const char *section, const char *key, f32 *value) {
  char text[32];
  GetPrivateProfileStringA(section, key, "", text, sizeof text, zp_track_ini_path);
  // An empty value counts as missing: the field keeps what it had.
  if (!text[0]) return;
  // strtoul in base 16 takes a "0x" prefix and leading blanks, stops at the
  // first non-digit ("1.5" is the pattern 1) and saturates at all ones, a NaN.
  u32 bits = (u32)strtoul(text, nullptr, 16);
  memcpy(value, &bits, sizeof bits);
}

void zp_wr_float(const char *section, const char *key, const f32 *value) {
  u32 bits;
  memcpy(&bits, value, sizeof bits);
  char text[16];
  zp_snprintf(text, sizeof text, "%08lX", (unsigned long)bits);
  WritePrivateProfileStringA(section, key, text, zp_track_ini_path);
}

void zp_wr_int(const char *section, const char *key, i32 value) {
  char text[16];
  zp_snprintf(text, sizeof text, "%d", (int)value);
  WritePrivateProfileStringA(section, key, text, zp_track_ini_path);
}
