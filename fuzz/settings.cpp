// The plug-in's settings and preset readers on any file, through the host's
// profile functions: the input is both zephal.ini and the track's
// freecam.ini. Every setting must come out as the model reads the file,
// clamped as the plug-in clamps it, and every preset float as the pattern
// the model finds (or the field's own value when the key is missing or empty).
#include <cstring>

#include "fuzz/check.h"
#include "fuzz/ini_model.h"
#include "presets/preset_file.h"
#include "host/win32.h"

namespace {

struct int_setting {
  const char *key;
  int32_t def, low, high;
  const int32_t *global;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text((const char *)data, size);
  // The model reads ANSI files; UTF-16LE files are the INI driver's.
  if (size >= 2 && data[0] == 0xff && data[1] == 0xfe) return 0;
  const kit::temp_dir &dir = fuzz::folder();
  kit::write_text(dir / "zephal.ini", text);
  kit::write_text(dir / "freecam.ini", text);
  host::set_module_path(host::windows_path(dir.path) + "\\game.exe");
  zp_reset_settings();
  zp_load_settings();

  const int32_t none = INT32_MIN, most = INT32_MAX;
  const int_setting ints[] = {
      {"FreeCam", 1, none, most, &cfg_enabled},   {"ReplayOnly", 1, none, most, &cfg_replay_only},
      {"KeyW", 87, none, most, &k_w},             {"KeySpace", 32, none, most, &k_space},
      {"KeyPrev", 188, none, most, &k_prev},      {"KeyNext", 190, none, most, &k_next},
      {"BoostKey", 16, none, most, &k_boost},     {"Rewind", 1, none, most, &cfg_rewind},
      {"RewindTicks", 768, 128, 4096, &cfg_rewind_ticks}, {"RewindStep", 1, 1, most, &cfg_rewind_step},
      {"RewindShift", 64, 1, most, &cfg_rewind_shift},    {"RewindCtrl", 640, 1, most, &cfg_rewind_ctrl},
      {"RewindRepeatMs", 100, 20, most, &cfg_rewind_repeat},
      {"RewindRepeatDelayMs", 1000, 0, most, &cfg_rewind_delay},
      {"RewindEffects", 1, none, most, &cfg_rewind_effects},
  };
  for (const int_setting &s : ints) {
    int32_t want = (int32_t)model::to_int(model::lookup(text, "Zephal", s.key), s.def);
    want = want < s.low ? s.low : want > s.high ? s.high : want;
    FUZZ_CHECK(*s.global == want, "%s = %d, the model reads %d", s.key, *s.global, want);
  }
  const float move = (float)(int32_t)model::to_int(model::lookup(text, "Zephal", "MoveSpeed"), 8);
  float boost = (float)((double)(int32_t)model::to_int(model::lookup(text, "Zephal", "Boost"), 30) / 10.0);
  boost = boost < 1.0f ? 1.0f : boost;
  FUZZ_CHECK(memcmp(&cfg_move, &move, 4) == 0 && memcmp(&cfg_boost, &boost, 4) == 0, "MoveSpeed %g, Boost %g",
             (double)cfg_move, (double)cfg_boost);

  // One preset section of the same file, chosen by the file's length.
  snprintf(zp_track_ini_path, sizeof zp_track_ini_path, "%s", host::windows_path(dir / "freecam.ini").c_str());
  const std::string section = "Pos" + std::to_string(size % 10);
  for (const char *key : {"used", "x", "y", "z", "m0", "r4", "m8", "o0", "o2", "car"}) {
    uint32_t field = 0x7fc01234, want = field;  // a quiet NaN: the pattern must come through untouched
    const std::string read = model::as_read(model::lookup(text, section, key), 32);
    if (!read.empty()) want = (uint32_t)strtoul(read.c_str(), nullptr, 16);
    zp_rd_float(section.c_str(), key, (f32 *)&field);
    FUZZ_CHECK(field == want, "[%s] %s gives %08X, the model %08X", section.c_str(), key, field, want);
  }
  return 0;
}
