// zp_load_settings with a real "zephal.ini" beside a stand-in game executable,
// checked row by row against the settings table.
#include "tests/kit/settings.h"
#include "tests/support.h"

namespace {

using std::string;

using kit::converted;
f64 value(const zp_setting &r) { return kit::setting_value(r); }

struct settings : test::plugin {
  test::temp_dir dir;
  // Writes dir's file unless text is null, and loads as a game at exe (default: in dir) would.
  void load(const char *text, const string &exe = "") {
    if (text) test::write_text(dir / "zephal.ini", text);
    kit::load_settings(dir.path, exe);
  }
};

TEST_F(settings, EveryKeyIsReadFromItsSectionAndConverted) {
  load(nullptr);  // every key's default, so cfg_roll 1.0471976 and not the built-in 1.047
  for (const zp_setting &r : zp_settings) EXPECT_EQ(value(r), converted(r, r.def)) << r.key;
  EXPECT_EQ(cfg_roll, 1.0471976f);
  EXPECT_EQ(string(zp_dir), host::windows_path(dir.path) + "\\");
  // A value of its own for every key, inside its range; names without regard to case.
  string text = "; tuned\r\n[Other]\r\nKeyS=1\r\n[zephal]\r\n";
  auto sample = [](const zp_setting &r) { return r.min == zp_no_min ? -(i32)(&r - zp_settings) - 3 : r.min + 1; };
  for (const zp_setting &r : zp_settings) text += string(r.key) + "=" + std::to_string(sample(r)) + "\r\n";
  load(text.c_str());
  for (const zp_setting &r : zp_settings) EXPECT_EQ(value(r), converted(r, sample(r))) << r.key;
}

TEST_F(settings, ClampsAtAndAcrossTheirBounds) {
  int clamped = 0;
  for (const zp_setting &r : zp_settings) {
    for (i64 v : {(i64)r.min - 1, (i64)r.min, (i64)r.max, (i64)r.max + 1}) {
      if (v < INT32_MIN || v > INT32_MAX || (v == r.min && r.min == zp_no_min)) continue;
      load(test::format("[Zephal]\r\n%s=%d\r\n", r.key, (i32)v).c_str());
      EXPECT_EQ(value(r), converted(r, v < r.min ? r.min : v > r.max ? r.max : (i32)v)) << r.key << "=" << v;
      clamped += v < r.min || v > r.max;
    }
  }
  EXPECT_EQ(clamped, 9);  // RewindTicks both ways, five lower bounds of rewind, two of the boosts
  // The bounds players are told of, written out here rather than taken from
  // the table. The boosts clamp the converted value at 1.0: 5 tenths give 1.0.
  load("[Zephal]\r\nBoost=5\r\nBoostCtrl=11\r\n");
  EXPECT_EQ(std::pair(cfg_boost, cfg_boost_ctrl), std::pair(1.0f, 1.1f));
  const struct { const char *line; const i32 *global; i32 want; } bounds[] = {
      {"RewindTicks=127", &cfg_rewind_ticks, 128}, {"RewindTicks=5000", &cfg_rewind_ticks, 4096},
      {"RewindRepeatMs=19", &cfg_rewind_repeat, 20}, {"RewindStep=0", &cfg_rewind_step, 1},
      {"RewindRepeatDelayMs=-1", &cfg_rewind_delay, 0}};
  for (auto &b : bounds) {
    load(test::format("[Zephal]\r\n%s\r\n", b.line).c_str());
    EXPECT_EQ(*b.global, b.want) << b.line;
  }
}

TEST_F(settings, PathsThatCannotBeFormedLeaveTheBuiltInValues) {
  // "Z:" and the Linux folder: 248 characters leave "\zephal.ini" and its NUL
  // exactly 260 bytes, 249 one too many; an executable's path of 260 is cut.
  const string w = host::windows_path(dir.path), deep = dir.path + "/" + string(248 - 3 - dir.path.size(), 'd');
  const string w248 = host::windows_path(deep), w249 = w248 + "d";
  for (string folder : {deep, deep + "d", dir.path}) {
    std::filesystem::create_directory(folder);
    test::write_text(folder + "/zephal.ini", "[Zephal]\r\nFreeCam=0\r\nRollSpeed=90\r\n");
  }
  const struct { string exe, dir; bool read; } cases[] = {
      {w248 + "\\a.exe", w248 + "\\", true}, {w249 + "\\a.exe", w249 + "\\", false}, {"a.exe", "", false},
      {w + "\\" + string(258 - w.size(), 'e'), w + "\\", true}, {w + "\\" + string(259 - w.size(), 'e'), "", false}};
  for (auto &c : cases) {
    load(nullptr, c.exe);
    EXPECT_EQ(std::tuple(string(zp_dir), cfg_enabled, cfg_roll),
              std::tuple(c.dir, c.read ? 0 : 1, c.read ? (f32)(90 * (f64)0.017453292f) : 1.047f)) << c.exe;
    // The built-in values: the converted defaults but for the rounded roll speed.
    for (const zp_setting &r : zp_settings)
      if (!c.read) EXPECT_EQ(value(r), strcmp(r.key, "RollSpeed") ? converted(r, r.def) : 1.047f) << r.key;
  }
}

}  // namespace
