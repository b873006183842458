// zp_load_settings with a real "zephal.ini" beside a stand-in game executable.
#include "tests/support.h"

namespace {

using std::string;

// Each key: its global, how the file's integer becomes its value (0: as is; 1: a float; 10,
// 10000: divided by; -1: degrees to radians), its value when absent, a value a test gives it.
struct key { const char *name; void *global; f64 how; i32 absent, sample; };
const key keys[] = {
    {"FreeCam", &cfg_enabled, 0, 1, 0}, {"ReplayOnly", &cfg_replay_only, 0, 1, 2}, {"KeyW", &k_w, 0, 87, -5},
    {"KeyS", &k_s, 0, 83, 3}, {"KeyA", &k_a, 0, 65, 4}, {"KeyD", &k_d, 0, 68, 5}, {"KeyQ", &k_q, 0, 81, 6},
    {"KeyE", &k_e, 0, 69, 7}, {"KeyC", &k_c, 0, 67, 8}, {"KeyV", &k_v, 0, 86, 9}, {"KeyZ", &k_z, 0, 90, 10},
    {"KeyX", &k_x, 0, 88, 11}, {"KeyR", &k_r, 0, 82, 12}, {"KeyF", &k_f, 0, 70, 13}, {"KeyL", &k_l, 0, 76, 14},
    {"KeySpace", &k_space, 0, 32, 15}, {"KeyB", &k_b, 0, 66, 16}, {"KeyPrev", &k_prev, 0, 188, 17},
    {"KeyNext", &k_next, 0, 190, 200}, {"BoostKey", &k_boost, 0, 16, 19}, {"MoveSpeed", &cfg_move, 1, 8, 0},
    {"Boost", &cfg_boost, 10, 30, 25}, {"BoostCtrl", &cfg_boost_ctrl, 10, 120, 155},
    {"RollSpeed", &cfg_roll, -1, 60, 90}, {"MouseYaw", &cfg_mouse_yaw, 1e4, 15, -7},
    {"MousePitch", &cfg_mouse_pitch, 1e4, 12, 123}, {"TeleportDistance", &cfg_tele_dist, 1, 6, -3},
    {"TeleportHeight", &cfg_tele_height, 1, 2, 11}, {"Rewind", &cfg_rewind, 0, 1, 0},
    {"RewindTicks", &cfg_rewind_ticks, 0, 768, 129}, {"RewindStep", &cfg_rewind_step, 0, 1, 2},
    {"RewindShift", &cfg_rewind_shift, 0, 64, 65}, {"RewindCtrl", &cfg_rewind_ctrl, 0, 640, 641},
    {"RewindRepeatMs", &cfg_rewind_repeat, 0, 100, 21}, {"RewindRepeatDelayMs", &cfg_rewind_delay, 0, 1000, 0},
    {"RewindEffects", &cfg_rewind_effects, 0, 1, 0},
};
f64 converted(const key &k, i32 v) {
  return k.how == 0 ? v : k.how < 0 ? (f32)(v * (f64)0.017453292f) : (f32)(v / k.how);
}
f64 value(const key &k) { return k.how == 0 ? *(const i32 *)k.global : *(const f32 *)k.global; }

struct settings : test::plugin {
  test::temp_dir dir;
  // Writes dir's file unless text is null, and loads as a game at exe (default: in dir) would.
  void load(const char *text, const string &exe = "") {
    if (text) test::write_text(dir / "zephal.ini", text);
    zp_reset_settings();
    host::set_module_path(exe.empty() ? host::windows_path(dir.path) + "\\game.exe" : exe);
    zp_load_settings();
  }
};

TEST_F(settings, EveryKeyIsReadFromItsSectionAndConverted) {
  load(nullptr);  // every key's default, so cfg_roll 1.0471976 and not 1.047
  for (const key &k : keys) EXPECT_EQ(value(k), converted(k, k.absent)) << k.name;
  EXPECT_EQ(string(zp_dir), host::windows_path(dir.path) + "\\");
  string text = "; tuned\r\n[Other]\r\nKeyS=1\r\n[zephal]\r\n";
  for (const key &k : keys) text += string(k.name) + "=" + std::to_string(k.sample) + "\r\n";
  load(text.c_str());
  for (const key &k : keys) EXPECT_EQ(value(k), converted(k, k.sample)) << k.name;
}

TEST_F(settings, ClampsAtAndAcrossTheirBounds) {
  struct row { const char *name; i32 v; f32 want; } rows[] = {
      {"RewindTicks", 127, 128}, {"RewindTicks", 128, 128}, {"RewindTicks", 4096, 4096}, {"RewindTicks", 4097, 4096},
      {"RewindStep", 0, 1}, {"RewindStep", -3, 1}, {"RewindShift", 0, 1}, {"RewindShift", -64, 1},
      {"RewindCtrl", 0, 1}, {"RewindCtrl", -1, 1}, {"RewindRepeatMs", 19, 20}, {"RewindRepeatMs", 20, 20},
      {"RewindRepeatDelayMs", -1, 0}, {"RewindRepeatDelayMs", 0, 0}, {"Boost", 5, 1.0f}, {"Boost", 10, 1.0f},
      {"Boost", 15, 1.5f}, {"BoostCtrl", 10, 1.0f}, {"BoostCtrl", -20, 1.0f}, {"BoostCtrl", 11, 1.1f}};
  for (const row &r : rows) {
    load(test::format("[Zephal]\r\n%s=%d\r\n", r.name, r.v).c_str());
    for (const key &k : keys)
      if (!strcmp(k.name, r.name)) EXPECT_EQ(value(k), r.want) << r.name << "=" << r.v;
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
  }
}

}  // namespace
