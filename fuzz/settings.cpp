// The plug-in's settings and preset readers on any file, through the host's
// profile functions: the input is both zephal.ini and the track's
// freecam.ini. Every setting of the table must come out as the model reads
// the file, clamped and converted as its row says, and every preset float
// as the pattern the model finds (or the field's own value when the key is
// missing or empty).
#include <algorithm>

#include "fuzz/check.h"
#include "fuzz/ini_model.h"
#include "presets/preset_file.h"
#include "tests/kit/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text((const char *)data, size);
  // The model reads ANSI files; UTF-16LE files are the INI driver's.
  if (size >= 2 && data[0] == 0xff && data[1] == 0xfe) return 0;
  const kit::temp_dir &dir = fuzz::folder();
  kit::write_text(dir / "zephal.ini", text);
  kit::write_text(dir / "freecam.ini", text);
  kit::load_settings(dir.path);

  for (const zp_setting &s : zp_settings) {
    const i32 want = std::clamp((i32)model::to_int(model::lookup(text, "Zephal", s.key), s.def), s.min, s.max);
    FUZZ_CHECK(kit::setting_value(s) == kit::converted(s, want), "%s holds %g, the model reads %d", s.key,
               kit::setting_value(s), want);
  }

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
