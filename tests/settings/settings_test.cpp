// zp_load_settings with a real "zephal.ini" beside a stand-in game executable.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <filesystem>
#include <fstream>

#include "host/win32.h"
#include "plugin/settings.h"

namespace {

namespace fs = std::filesystem;
using std::string;

struct settings : testing::Test {
  string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/zephal-settings-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
    zp_reset_settings();
  }
  void TearDown() override {
    fs::remove_all(dir);
    zp_reset_settings();
  }
  // Writes the file (unless text is null) into folder and loads from there.
  void load(const char *text, const string &folder) {
    if (text) std::ofstream(folder + "/zephal.ini") << text;
    host::set_module_path(host::windows_path(folder) + "\\game.exe");
    zp_load_settings();
  }
  void load(const char *text) { load(text, dir); }
};

// Every global against its expected value: the key codes and counts as
// integers, the speeds and scales as the floats given.
void expect_all(const std::vector<i32> &ints, const std::vector<f32> &floats) {
  const i32 *ig[] = {&cfg_enabled, &cfg_replay_only, &k_w, &k_s, &k_a, &k_d, &k_q, &k_e, &k_c,
                     &k_v, &k_z, &k_x, &k_r, &k_f, &k_l, &k_space, &k_b, &k_prev, &k_next,
                     &k_boost, &cfg_rewind, &cfg_rewind_ticks, &cfg_rewind_step, &cfg_rewind_shift,
                     &cfg_rewind_ctrl, &cfg_rewind_repeat, &cfg_rewind_delay, &cfg_rewind_effects};
  const f32 *fg[] = {&cfg_move, &cfg_boost, &cfg_boost_ctrl, &cfg_roll, &cfg_mouse_yaw,
                     &cfg_mouse_pitch, &cfg_tele_dist, &cfg_tele_height};
  ASSERT_EQ(ints.size(), std::size(ig));
  ASSERT_EQ(floats.size(), std::size(fg));
  for (size_t i = 0; i < ints.size(); ++i) EXPECT_EQ(*ig[i], ints[i]) << "integer setting " << i;
  for (size_t i = 0; i < floats.size(); ++i) EXPECT_EQ(*fg[i], floats[i]) << "float setting " << i;
}

const std::vector<i32> default_ints = {1,  1,  87, 83, 65,  68,  81, 69, 67,  86,  90, 88, 82, 70,
                                       76, 32, 66, 188, 190, 16, 1,  768, 1,  64, 640, 100, 1000, 1};
std::vector<f32> floats_with_roll(f32 roll) {
  return {8.0f, 3.0f, 12.0f, roll, (f32)(15 / 10000.0), (f32)(12 / 10000.0), 6.0f, 2.0f};
}

TEST_F(settings, NoFileGivesTheFileDefaults) {
  load(nullptr);
  expect_all(default_ints, floats_with_roll(1.0471976f));
  EXPECT_EQ(string(zp_dir), host::windows_path(dir) + "\\");
}

TEST_F(settings, ValuesAreConvertedAndUnclampedOnesKeptAsTheyCome) {
  load("; tuned\r\n[zephal]\r\nFreeCam=0\r\nkeyw=-5\r\nKeyNext = 200\r\nMoveSpeed=0\r\n"
       "Boost=25\r\nBoostCtrl=155\r\nRollSpeed=90\r\nMouseYaw=-7\r\nMousePitch=123\r\n"
       "TeleportDistance=-3\r\nTeleportHeight=11\r\nRewindEffects=0\r\n[Other]\r\nKeyS=1\r\n");
  std::vector<i32> ints = default_ints;
  ints[0] = 0, ints[2] = -5, ints[18] = 200, ints[27] = 0;
  expect_all(ints, {0.0f, (f32)(25 / 10.0), (f32)(155 / 10.0), (f32)(90 * (f64)0.017453292f),
                    (f32)(-7 / 10000.0), (f32)(123 / 10000.0), -3.0f, 11.0f});
}

TEST_F(settings, ClampsAtAndAcrossTheirBounds) {
  struct row { const char *line; const void *global; bool is_float; f64 want; } rows[] = {
      {"RewindTicks=100", &cfg_rewind_ticks, false, 128}, {"RewindTicks=127", &cfg_rewind_ticks, false, 128},
      {"RewindTicks=128", &cfg_rewind_ticks, false, 128}, {"RewindTicks=4096", &cfg_rewind_ticks, false, 4096},
      {"RewindTicks=4097", &cfg_rewind_ticks, false, 4096}, {"RewindTicks=5000", &cfg_rewind_ticks, false, 4096},
      {"RewindStep=0", &cfg_rewind_step, false, 1},  {"RewindStep=-3", &cfg_rewind_step, false, 1},
      {"RewindShift=0", &cfg_rewind_shift, false, 1}, {"RewindShift=-64", &cfg_rewind_shift, false, 1},
      {"RewindCtrl=0", &cfg_rewind_ctrl, false, 1},  {"RewindCtrl=-1", &cfg_rewind_ctrl, false, 1},
      {"RewindCtrl=2", &cfg_rewind_ctrl, false, 2},
      {"RewindRepeatMs=5", &cfg_rewind_repeat, false, 20}, {"RewindRepeatMs=19", &cfg_rewind_repeat, false, 20},
      {"RewindRepeatMs=20", &cfg_rewind_repeat, false, 20}, {"RewindRepeatMs=21", &cfg_rewind_repeat, false, 21},
      {"RewindRepeatDelayMs=-1", &cfg_rewind_delay, false, 0}, {"RewindRepeatDelayMs=0", &cfg_rewind_delay, false, 0},
      {"Boost=5", &cfg_boost, true, 1.0}, {"Boost=10", &cfg_boost, true, 1.0},
      {"Boost=15", &cfg_boost, true, (f32)(15 / 10.0)}, {"BoostCtrl=10", &cfg_boost_ctrl, true, 1.0},
      {"BoostCtrl=-20", &cfg_boost_ctrl, true, 1.0}, {"BoostCtrl=11", &cfg_boost_ctrl, true, (f32)(11 / 10.0)},
  };
  for (const row &r : rows) {
    zp_reset_settings();
    load(("[Zephal]\r\n" + string(r.line) + "\r\n").c_str());
    if (r.is_float)
      EXPECT_EQ(*(const f32 *)r.global, (f32)r.want) << r.line;
    else
      EXPECT_EQ(*(const i32 *)r.global, (i32)r.want) << r.line;
  }
}

TEST_F(settings, PathsThatCannotBeFormedLeaveTheBuiltInValues) {
  const char *tuned = "[Zephal]\r\nFreeCam=0\r\nRollSpeed=90\r\n";
  // The Windows folder part is "Z:" and the Linux folder: 248 characters
  // leave "\zephal.ini" and its NUL exactly 260 bytes, 249 one too many.
  for (size_t folder_len : {248u, 249u}) {
    zp_reset_settings();
    string folder = dir + "/" + string(folder_len - 2 - dir.size() - 1, 'd');
    fs::create_directory(folder);
    load(tuned, folder);
    EXPECT_EQ(string(zp_dir), host::windows_path(folder) + "\\");
    EXPECT_EQ(cfg_enabled, folder_len == 248 ? 0 : 1);
    EXPECT_EQ(cfg_roll, folder_len == 248 ? (f32)(90 * (f64)0.017453292f) : 1.047f);
  }
  // The executable's own path cut at 260 characters, or without a folder.
  std::ofstream(dir + "/zephal.ini") << tuned;
  const string w = host::windows_path(dir);
  for (string exe : {w + "\\" + string(259 - w.size() - 1, 'e'), w + "\\" + string(260 - w.size() - 1, 'e'),
                     string("game.exe")}) {
    zp_reset_settings();
    host::set_module_path(exe);
    zp_load_settings();
    const bool fits = exe.size() < 260 && exe.find('\\') != string::npos;
    EXPECT_EQ(string(zp_dir), fits ? w + "\\" : "") << exe.size();
    EXPECT_EQ(cfg_enabled, fits ? 0 : 1);
    EXPECT_EQ(cfg_roll, fits ? (f32)(90 * (f64)0.017453292f) : 1.047f);
  }
}

}  // namespace
