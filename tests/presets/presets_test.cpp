// Camera presets against real files on disk: the track folder lies in a
// temporary directory, reached through the game's strings and a Windows zp_dir.
#include "patches/hooks.h"
#include "presets/preset_file.h"
#include "tests/support.h"

namespace {

using host::word;
using kv = std::vector<std::pair<std::string, std::string>>;
using strs = std::vector<std::string>;

// Floats only as bit patterns: the x87 stack would quiet the signalling NaNs used here.
u32 bits(const f32 &f) { u32 b; memcpy(&b, &f, 4); return b; }
void set_bits(f32 &f, u32 b) { memcpy(&f, &b, 4); }

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
void fill(freecam_record &r) {
  for (auto &[k, v] : floats) set_bits(field(r, k), hex(v));
  r.bind_pos = 1, r.bind_rot = 0, r.car = 3;
}

void track(const char *first, const char *second, u32 number = 3) {
  word(0x5bd2e4) = first ? test::game_string(first) : 0;
  word(0x7c4ce4) = number;
  word(0x5ba21c + 4 * number) = second ? test::game_string(second) : 0;
}

struct Presets : test::plugin {
  test::temp_dir dir;
  std::string ini = dir / "Tracks/Alpine/freecam.ini";  // the game's case differs
  u32 cam = 0, cars[5] = {};

  void SetUp() override {
    test::plugin::SetUp();
    std::filesystem::create_directories(dir / "Tracks/Alpine");
    host::set_module_path(host::windows_path(dir.path) + "\\game.exe");
    zp_load_settings();
    track("tracks\\", "alpine");
    for (u32 i = 0; i < 5; ++i) cars[i] = host::make_car(i, 0, 0, 0);
    word(0x661a60) = 5;
    cam = host::make_camera(7, 0);
  }
  void fly() { zp[0].active = 1, zp[0].cam = cam; }
  std::string composed() { return host::windows_path(dir.path) + "\\tracks\\alpine\\freecam.ini"; }
  // A digit pressed for one frame-handler pass and released on the next.
  void press(int vk) { host::set_key(vk, true), z9_zp_frame(), host::set_key(vk, false), z9_zp_frame(); }
};

TEST_F(Presets, TrackPathIsComposedFromTheGameStringsEachTime) {
  auto path = [] { return zp_track_ini() ? std::string(zp_track_ini_path) : "(none)"; };
  EXPECT_EQ(path(), composed());
  track("tracks\\", "coast", 5);  // another track number, another table entry
  EXPECT_EQ(path(), host::windows_path(dir.path) + "\\tracks\\coast\\freecam.ini");
  track(std::string(300, 'a').c_str(), "b");
  EXPECT_EQ(path(), (host::windows_path(dir.path) + "\\" + std::string(300, 'a')).substr(0, 259));
  for (auto [a, b] : {std::pair<const char *, const char *>{nullptr, "b"}, {"", "b"}, {"a", nullptr}, {"a", ""}}) {
    track(a, b);
    EXPECT_EQ(path(), "(none)");
    EXPECT_EQ(strlen(zp_track_ini_path), 259u) << "the path before stays";
  }
  zp_dir[0] = 0, track("t\\", "x");  // no game directory: relative to the current one
  EXPECT_EQ(path(), "t\\x\\freecam.ini");
}

TEST_F(Presets, CtrlDigitSavesTheListedKeysInOrderAndTheDigitRecallsThemBitForBit) {
  const std::string mine = "; my presets\n[Other]\nkeep=me\n[Pos7]\nused=1\n";
  test::write_text(ini, mine);
  fly(), fill(zp[0]);
  host::set_key(0x11, true), press(0x34), host::set_key(0x11, false);
  std::string pos4 = "[Pos4]\r\nused=1\r\n";  // new lines end in CRLF, as the profile functions write them
  for (auto &[k, v] : floats) pos4 += k + "=" + v + "\r\n";
  pos4 += "bind_pos=1\r\nbind_rot=0\r\ncar=3\r\n";
  EXPECT_EQ(test::read_text(ini), mine + pos4);
  EXPECT_EQ(test::log, strs{"zephal: preset 4 saved (" + composed() + ")"});

  for (auto &[k, v] : floats) set_bits(field(zp[0], k), 0x55555555);
  zp[0].bind_pos = zp[0].bind_rot = zp[0].car_obj = 0x55, zp[0].car = 0x55;
  press(0x34);
  for (auto &[k, v] : floats) EXPECT_EQ(bits(field(zp[0], k)), hex(v)) << k;
  EXPECT_EQ(std::tuple(zp[0].bind_pos, zp[0].bind_rot, zp[0].car, zp[0].car_obj), std::tuple(1u, 0u, 3, cars[3]));
  EXPECT_EQ(std::pair(word(cam + 4), word(cam + 8)), std::pair(cars[3], cars[3]));
  EXPECT_EQ(memcmp((void *)(uintptr_t)(cam + 0x14), &zp[0].x, 12), 0);  // the camera shows it at once
  EXPECT_EQ(memcmp((void *)(uintptr_t)(cam + 0x2c), zp[0].m, 36), 0);

  set_bits(zp[0].x, 0x3F800000);  // a second save replaces the values in place
  host::set_key(0x11, true), press(0x34);
  EXPECT_EQ(test::read_text(ini), mine + pos4.replace(pos4.find("x=80000000"), 10, "x=3F800000"));
}

TEST_F(Presets, HandEditedPresetsKeepMissingFieldsReadHexLikeStrtoulAndClampTheCar) {
  fly();
  word(0x661a88 + 8) = 0;  // slot 2 empty
  // car as written, car count, car expected, slot expected (-1: the car object stays)
  struct { const char *car; i32 count, want, slot; } cases[] = {
      {"-3", 5, 4, 4}, {"7", 5, 4, 4}, {"7", 0, 0, 0}, {"2", 5, 2, -1}, {"", 5, 0, 0}};
  for (auto c : cases) {
    fill(zp[0]);
    zp[0].car_obj = word(cam + 4) = word(cam + 8) = 0x1234;
    word(0x661a60) = c.count;
    test::write_text(ini, std::string("[Pos6]\nused=1\nx=\ny=0x3F800000\nz=1.5\nm0=bf800000\nm1=zz\n"
                                      "m2=123456789\nm3= 7\ncar=") + c.car + "\n");
    zp_preset_apply(6);
    u32 car = c.slot < 0 ? 0x1234 : cars[c.slot];
    EXPECT_EQ(std::tuple(zp[0].car, zp[0].car_obj, word(cam + 4), word(cam + 8)), std::tuple(c.want, car, car, car));
    // x (empty) and m4 (missing) keep their values; the rest read as strtoul in base 16
    for (auto [k, v] : kv{{"x", "80000000"}, {"y", "3F800000"}, {"z", "1"}, {"m0", "BF800000"}, {"m1", "0"},
                          {"m2", "FFFFFFFF"}, {"m3", "7"}, {"m4", "00000001"}})
      EXPECT_EQ(bits(field(zp[0], k)), hex(v)) << k;
    EXPECT_EQ(zp[0].bind_pos, 0u) << "a missing integer reads as 0";
  }
  EXPECT_TRUE(test::log.empty());
}

TEST_F(Presets, EmptyPresetsAndMissingTrackPathChangeNothing) {
  fill(zp[0]);
  for (const char *text : {"", "[Pos3]\nx=3F800000\n", "[Pos3]\nused=0\nx=3F800000\n"})  // no file, no "used", 0
    for (u32 on : {0u, 1u}) {
      if (*text) test::write_text(ini, text);
      zp[0].active = on, zp[0].cam = cam, test::log.clear();
      const freecam_record before = zp[0];
      zp_preset_apply(3);
      EXPECT_EQ(memcmp(&before, &zp[0], sizeof before), 0);
      EXPECT_EQ(test::log, strs{"zephal: preset 3 empty"});
      EXPECT_EQ(std::pair(word(0x8290c0), g_pending_preset), std::pair(0u, -1));
    }
  std::filesystem::remove(ini), zp[0].active = 0, test::log.clear();
  zp_preset_save(2), track("tracks\\", nullptr);
  zp_preset_save(2), fly(), zp_preset_save(2), zp_preset_apply(2);  // the track is asked first
  EXPECT_EQ(test::log, (strs{"zephal: preset: free camera not active", "zephal: preset: no track path",
                             "zephal: preset: no track path"}));
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(Presets, RecallWithTheCameraOffWaitsForTheFirstViewZeroTick) {
  test::write_text(ini, "[Pos4]\nused=1\nx=3F800000\n[Pos5]\nused=1\nx=40000000\n");
  press(0x34), press(0x35);  // the second recall replaces the first, camera 7 is asked for
  EXPECT_EQ(std::tuple(g_pending_preset, word(0x8290c4), word(0x8290c0), bits(zp[0].x)), std::tuple(5, 7u, 1u, 0u));
  EXPECT_TRUE(test::log.empty());
  test::write_text(ini, "[Pos5]\nused=1\nx=40400000\n");  // read when the recall completes, not before
  u32 view1 = host::make_camera(7, 1), view2 = host::make_camera(7, 2);  // any view but 1 is view 0
  word(0x8290c0) = 0;
  EXPECT_EQ(z9_zp_freecam_tick(view1), 1);
  EXPECT_EQ(std::tuple(g_pending_preset, bits(zp[0].x), word(0x8290c0)), std::tuple(5, 0u, 0u)) << "not for view 1";
  EXPECT_EQ(z9_zp_freecam_tick(view2), 1);
  EXPECT_EQ(std::tuple(g_pending_preset, bits(zp[0].x), word(view2 + 0x14)), std::tuple(-1, 0x40400000u, 0x40400000u));
}

TEST_F(Presets, EachDigitPressActsOnceInAscendingOrder) {
  host::set_key(0x32, true);
  for (int i = 0; i < 5; ++i) z9_zp_frame();
  host::set_key(0x32, false), z9_zp_frame();
  host::set_key(0x35, true), host::set_key(0x31, true), host::set_key(0x62, true), z9_zp_frame();  // 0x62: keypad 2
  host::release_all_keys(), z9_zp_frame();
  host::set_key(0x10, true), press(0x32);  // Shift is no modifier here
  host::set_key(0x11, true), press(0x32);
  host::release_all_keys(), host::set_key(0x37, true), word(0x8290a0) = 0, z9_zp_frame();
  EXPECT_EQ(g_prev_num[7], 0u);  // outside replay playback the digits are not even looked at
  EXPECT_EQ(test::log, (strs{"zephal: preset 2 empty", "zephal: preset 1 empty", "zephal: preset 5 empty",
                             "zephal: preset 2 empty", "zephal: preset: free camera not active"}));
}

}  // namespace
