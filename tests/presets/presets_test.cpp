// Camera presets against real files on disk: the track folder lies in a
// temporary directory, reached through the game's strings and a Windows zp_dir.
#include "patches/hooks.h"
#include "presets/preset_file.h"
#include "tests/support.h"

namespace {

using host::word;
using kv = std::vector<std::pair<std::string, std::string>>;
using strs = std::vector<std::string>;

using test::bits, test::set_bits;

// The float keys as a save orders them, patterns with -0.0, infinities and NaN payloads.
const kv floats = {
    {"x", "80000000"},  {"y", "7F800000"},  {"z", "FF800000"},  {"m0", "7FC12345"}, {"r0", "00000000"},
    {"m1", "7F800001"}, {"r1", "40490FDB"}, {"m2", "FFA00001"}, {"r2", "007FFFFF"}, {"m3", "3F800000"},
    {"r3", "41200000"}, {"m4", "00000001"}, {"r4", "C1200000"}, {"m5", "C2C80000"}, {"r5", "3DCCCCCD"},
    {"m6", "3F000000"}, {"r6", "7F7FFFFF"}, {"m7", "12345678"}, {"r7", "80000001"}, {"m8", "BF800000"},
    {"r8", "42F60000"}, {"o0", "3E800000"}, {"o1", "C0400000"}, {"o2", "44FA0000"}};
f32 &field(freecam_record &r, const std::string &k) {
  if (k.size() == 1) return k == "x" ? r.x : k == "y" ? r.y : r.z;
  return (k[0] == 'm' ? r.m : k[0] == 'r' ? r.r : r.o)[k[1] - '0'];
}
u32 hex(const std::string &v) { return (u32)std::stoul(v, nullptr, 16); }

void track(const char *first, const char *second, u32 number = 3) {
  word(at::ga_track_dir) = first ? test::game_string(first) : 0;
  word(at::ga_track_number) = number;
  word(at::ga_track_names + 4 * number) = second ? test::game_string(second) : 0;
}

struct Presets : test::on_track {
  // The free camera flying with every float of the table, bound to car 3 by position.
  void fly() {
    for (auto &[k, v] : floats) set_bits(field(zp[0], k), hex(v));
    zp[0].bind_pos = 1;
    zp[0].bind_rot = 0;
    zp[0].car = 3;
    zp[0].active = 1;
    zp[0].cam = cam;
  }
  std::string game_dir() { return host::windows_path(dir.path); }
  std::string path() { return zp_track_ini() ? std::string(zp_track_ini_path) : "(none)"; }
  // A digit pressed for one frame-handler pass and released on the next.
  void press(int digit, bool ctrl = false) {
    host::set_key(at::ctrl, ctrl);
    host::set_key(at::digit(digit), true);
    z9_zp_frame();
    host::release_all_keys();
    z9_zp_frame();
  }
  std::array<u32, 2> targets() { return {word(cam + at::cam_off_target), word(cam + at::cam_off_target2)}; }
};

using PresetPath = Presets;

// Missing or empty track strings give no path and keep the last one.
TEST_F(PresetPath, IsTheGameFolderThenTheTrackStringsAsTheyStandCutAtMaxPath) {
  const std::string a300(300, 'a'), g = game_dir() + "\\", none = "(none)";
  const struct { const char *dir, *name; u32 number; std::string want; } cases[] = {
      {"tracks\\", "alpine", 3, g + "tracks\\alpine\\freecam.ini"},
      {"tracks\\", "coast", 5, g + "tracks\\coast\\freecam.ini"},  // another track number, another table entry
      {a300.c_str(), "b", 3, (g + a300).substr(0, 259)},
      {nullptr, "b", 3, none}, {"", "b", 3, none}, {"a", nullptr, 3, none}, {"a", "", 3, none}};
  for (auto &c : cases) {
    const std::string before = zp_track_ini_path;
    track(c.dir, c.name, c.number);
    EXPECT_EQ(path(), c.want) << (c.dir ? c.dir : "null") << " " << (c.name ? c.name : "null");
    if (c.want == none) EXPECT_EQ(zp_track_ini_path, before);
  }
  zp_dir[0] = 0;  // without a game folder it is relative
  track("t\\", "x");
  EXPECT_EQ(path(), "t\\x\\freecam.ini");
}

struct PresetSave : Presets {
  const std::string mine = "; my presets\n[Other]\nkeep=me\n[Pos7]\nused=1\n";
  std::string pos4 = "[Pos4]\r\nused=1\r\n";  // new lines end in CRLF, as the profile functions write them
  void SetUp() override {
    Presets::SetUp();
    test::write_text(ini, mine);
    for (auto &[k, v] : floats) pos4 += k + "=" + v + "\r\n";
    pos4 += "bind_pos=1\r\nbind_rot=0\r\ncar=3\r\n";
    fly();
  }
};

// The digit alone brings the saved preset back bit for bit and shows it at
// once; saving again replaces the values in place.
TEST_F(PresetSave, CtrlDigitAddsTheListedKeysInOrderTheDigitRecallsThem) {
  press(4, true);
  EXPECT_EQ(test::read_text(ini), mine + pos4);
  EXPECT_EQ(test::log, strs{"zephal: preset 4 saved (" + game_dir() + "\\tracks\\alpine\\freecam.ini)"});
  for (auto &[k, v] : floats) set_bits(field(zp[0], k), 0x55555555);
  zp[0].bind_pos = zp[0].bind_rot = zp[0].car_obj = 0x55;
  zp[0].car = 0x55;
  press(4);
  for (auto &[k, v] : floats) EXPECT_EQ(bits(field(zp[0], k)), hex(v)) << k;
  EXPECT_EQ(std::tuple(zp[0].bind_pos, zp[0].bind_rot, zp[0].car, zp[0].car_obj), std::tuple(1u, 0u, 3, cars[3]));
  EXPECT_EQ(targets(), (std::array{cars[3], cars[3]}));
  EXPECT_EQ(memcmp((void *)(uintptr_t)(cam + at::cam_off_pos), &zp[0].x, 12), 0);
  EXPECT_EQ(memcmp((void *)(uintptr_t)(cam + at::cam_off_orient), zp[0].m, 36), 0);
  set_bits(zp[0].x, 0x3F800000);
  zp[0].bind_rot = 1;
  press(4, true);
  pos4.replace(pos4.find("x=80000000"), 10, "x=3F800000");
  pos4.replace(pos4.find("bind_rot=0"), 10, "bind_rot=1");
  EXPECT_EQ(test::read_text(ini), mine + pos4);
}

// A recall without a track reads and says nothing.
TEST_F(PresetSave, NeedsATrackFirstThenAFlyingCamera) {
  zp[0].active = 0;
  zp_preset_save(2);
  track("tracks\\", nullptr);
  zp_preset_save(2);
  fly();
  zp_preset_save(2);
  const freecam_record before = zp[0];
  zp_preset_apply(2);
  EXPECT_EQ(memcmp(&before, &zp[0], sizeof before), 0);
  EXPECT_EQ(test::log, (strs{"zephal: preset: free camera not active", "zephal: preset: no track path",
                             "zephal: preset: no track path"}));
  EXPECT_EQ(test::read_text(ini), mine);
}

using PresetRecall = Presets;

TEST_F(PresetRecall, HandEditedValuesReadAsHexLikeStrtoulAndMissingOnesKeepTheField) {
  fly();
  test::write_text(ini, "[Pos6]\nused=1\nx=\ny=0x3F800000\nz=1.5\nm0=bf800000\nm1=zz\nm2=123456789\nm3= 7\n");
  zp_preset_apply(6);
  // x (empty) and m4 (missing) keep their values
  for (auto [k, v] : kv{{"x", "80000000"}, {"y", "3F800000"}, {"z", "1"}, {"m0", "BF800000"}, {"m1", "0"},
                        {"m2", "FFFFFFFF"}, {"m3", "7"}, {"m4", "00000001"}})
    EXPECT_EQ(bits(field(zp[0], k)), hex(v)) << k;
  EXPECT_EQ(zp[0].bind_pos, 0u) << "a missing integer reads as 0";
  EXPECT_EQ(test::log, strs{});
}

TEST_F(PresetRecall, ACarOutsideTheReplaysCarsNamesItsLastCar) {
  fly();
  word(at::ga_car_table + 8) = 0;             // entry 2 empty
  word(at::ga_car_table + 4 * 64) = cars[1];  // whatever the game keeps past its table
  // car as written, car count, car recalled, entry bound then (-1: the car object stays)
  const struct { const char *car; u32 count; i32 want, entry; } cases[] = {
      {"-3", 5, 4, 4}, {"7", 5, 4, 4}, {"5", 5, 4, 4}, {"4", 5, 4, 4}, {"7", 0, 0, 0},
      {"2", 5, 2, -1}, {"", 5, 0, 0},  {"64", 70, 64, -1}};
  for (auto c : cases) {
    zp[0].car_obj = word(cam + at::cam_off_target) = word(cam + at::cam_off_target2) = 0x1234;
    word(at::ga_car_count) = c.count;
    test::write_text(ini, std::string("[Pos6]\nused=1\ncar=") + c.car + "\n");
    zp_preset_apply(6);
    const u32 car = c.entry < 0 ? 0x1234 : cars[c.entry];
    EXPECT_EQ(std::tuple(zp[0].car, zp[0].car_obj), std::tuple(c.want, car)) << "car " << c.car << " of " << c.count;
    EXPECT_EQ(targets(), (std::array{car, car}));
  }
}

TEST_F(PresetRecall, AnEmptyPresetChangesNothing) {
  fly();
  for (const char *text : {"", "[Pos3]\nx=3F800000\n", "[Pos3]\nused=0\nx=3F800000\n"})  // no file, no "used", 0
    for (u32 on : {0u, 1u}) {
      if (*text) test::write_text(ini, text);
      zp[0].active = on;
      test::log.clear();
      const freecam_record before = zp[0];
      zp_preset_apply(3);
      EXPECT_EQ(memcmp(&before, &zp[0], sizeof before), 0);
      EXPECT_EQ(test::log, strs{"zephal: preset 3 empty"});
      EXPECT_EQ(std::pair(word(at::ga_cam_request_flag), g_pending_preset), std::pair(0u, -1));
    }
}

// With the camera off, a recall asks for the free camera; its first tick in
// a view other than 1 completes the recall, reading the file then.
TEST_F(PresetRecall, WithTheCameraOffItWaitsForTheFreeCamerasFirstTick) {
  test::write_text(ini, "[Pos4]\nused=1\nx=3F800000\n[Pos5]\nused=1\nx=40000000\n");
  press(4);
  press(5);  // the second recall replaces the first
  EXPECT_EQ((std::array{word(at::ga_cam_request), word(at::ga_cam_request_flag)}), (std::array{7u, 1u}));
  EXPECT_EQ(test::log, strs{});
  test::write_text(ini, "[Pos5]\nused=1\nx=40400000\nz=00000000\nm8=3F800000\n");  // at z 0, facing +z
  const u32 view1 = host::make_camera(at::cam_type_free, 1), view2 = host::make_camera(at::cam_type_free, 2);
  word(at::ga_cam_request_flag) = 0;
  z9_zp_freecam_tick(view1);
  EXPECT_EQ(bits(zp[0].x), 0u) << "not for view 1";
  EXPECT_EQ(word(at::ga_cam_request_flag), 0u) << "nor asked for again";
  host::set_key('W', true);  // the recall's tick flies on from the recalled pose
  z9_zp_freecam_tick(view2);
  host::release_all_keys();
  EXPECT_EQ(word(view2 + at::cam_off_pos), 0x40400000u);
  EXPECT_NE(word(view2 + at::cam_off_pos + 8), 0u) << "moved forward from the recalled pose";
  set_bits(zp[0].x, 0);
  z9_zp_freecam_tick(view2);
  EXPECT_EQ(word(view2 + at::cam_off_pos), 0u) << "recalled once";
}

using DigitKeys = Presets;

TEST_F(DigitKeys, EachDigitPressActsOnceInAscendingOrder) {
  host::set_key(at::digit(2), true);
  for (int i = 0; i < 5; ++i) z9_zp_frame();
  host::release_all_keys();
  z9_zp_frame();
  for (int vk : {at::digit(5), at::digit(1), 0x62}) host::set_key(vk, true);  // 0x62: keypad 2
  z9_zp_frame();
  host::release_all_keys();
  z9_zp_frame();
  host::set_key(at::shift, true);  // Shift is no modifier here
  press(2);
  press(2, true);
  host::set_key(at::digit(7), true);
  word(at::ga_mode) = 0;
  z9_zp_frame();
  EXPECT_EQ(g_prev_num[7], 0u);  // outside replay playback the digits are not even looked at
  EXPECT_EQ(test::log, (strs{"zephal: preset 2 empty", "zephal: preset 1 empty", "zephal: preset 5 empty",
                             "zephal: preset 2 empty", "zephal: preset: free camera not active"}));
}

}  // namespace
