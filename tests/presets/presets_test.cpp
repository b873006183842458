// Presets against real files on disk: the track folder lives in a temporary
// directory reached through the game's own strings and a Windows-style zp_dir.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "freecam/record.h"
#include "host/game.h"
#include "host/win32.h"
#include "patches/hooks.h"
#include "plugin/game.h"
#include "plugin/settings.h"
#include "presets/preset_file.h"
#include "presets/presets.h"

using host::word;
using kv = std::vector<std::pair<std::string, std::string>>;
using strs = std::vector<std::string>;

namespace {

strs lines;
void collect(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  lines.push_back(text);
}

// Floats only ever as bit patterns: a copy through the x87 stack would quiet
// the signalling NaNs this test relies on.
u32 bits(const f32 &f) { u32 b; memcpy(&b, &f, 4); return b; }
void set_bits(f32 &f, u32 b) { memcpy(&f, &b, 4); }

// Keys of one section in file order; tolerant of CRLF.
kv section(const std::string &text, const std::string &name) {
  std::istringstream in(text);
  std::string l;
  kv out;
  bool on = false;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    size_t eq = l.find('=');
    if (l.starts_with('[')) on = l == "[" + name + "]";
    else if (on && eq != std::string::npos) out.emplace_back(l.substr(0, eq), l.substr(eq + 1));
  }
  return out;
}

u32 str(const char *s) {
  u32 p = host::game_alloc(strlen(s) + 1);
  memcpy((void *)(uintptr_t)p, s, strlen(s) + 1);
  return p;
}
void track(const char *first, const char *second, u32 number = 3) {
  word(0x5bd2e4) = first ? str(first) : 0;
  word(0x7c4ce4) = number;
  word(0x5ba21c + 4 * number) = second ? str(second) : 0;
}

// 24 distinct patterns, among them -0.0, both infinities, a quiet NaN with a
// payload and signalling NaNs; p[0..2] x y z, p[3..11] m, p[12..20] r, p[21..23] o.
constexpr u32 p[24] = {0x80000000, 0x7F800000, 0xFF800000, 0x7FC12345, 0x7F800001, 0xFFA00001,
                       0x3F800000, 0x00000001, 0xC2C80000, 0x3F000000, 0x12345678, 0xBF800000,
                       0x00000000, 0x40490FDB, 0x007FFFFF, 0x41200000, 0xC1200000, 0x3DCCCCCD,
                       0x7F7FFFFF, 0x80000001, 0x42F60000, 0x3E800000, 0xC0400000, 0x44FA0000};
void fill(freecam_record &r) {
  set_bits(r.x, p[0]), set_bits(r.y, p[1]), set_bits(r.z, p[2]);
  for (int k = 0; k < 9; ++k) set_bits(r.m[k], p[3 + k]), set_bits(r.r[k], p[12 + k]);
  for (int k = 0; k < 3; ++k) set_bits(r.o[k], p[21 + k]);
  r.bind_pos = 1, r.bind_rot = 0, r.car = 3;
}

struct Presets : ::testing::Test {
  std::string dir, ini;
  u32 cam = 0, cars[5] = {};

  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    game = 0x400000, logger = collect, lines.clear();
    zp[0] = zp[1] = freecam_record{};
    g_pending_preset = -1;
    memset(g_prev_num, 0, sizeof g_prev_num);
    zp_reset_settings();
    host::release_all_keys();
    char tmpl[] = "/tmp/zp-presets-XXXXXX";
    dir = mkdtemp(tmpl);
    std::filesystem::create_directories(dir + "/Tracks/Alpine");  // the game's case differs
    ini = dir + "/Tracks/Alpine/freecam.ini";
    host::set_module_path(host::windows_path(dir) + "\\game.exe");
    zp_load_settings();
    track("tracks\\", "alpine");
    for (u32 i = 0; i < 5; ++i) cars[i] = host::make_car(i, 0, 0, 0);
    word(0x661a60) = 5;
    cam = host::make_camera(7, 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void put(const std::string &text) { std::ofstream(ini) << text; }
  std::string file() {
    std::ifstream f(ini);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  void fly() { zp[0].active = 1, zp[0].cam = cam; }
  // One frame-handler pass in replay playback with the keys as they are set.
  void pass() { word(0x8290a0) = 2, z9_zp_frame(); }
  void press(int vk) { host::set_key(vk, true), pass(), host::set_key(vk, false), pass(); }
};

}  // namespace

TEST_F(Presets, TrackPathIsComposedFromTheGameStringsEachTime) {
  ASSERT_EQ(zp_track_ini(), 1);
  EXPECT_EQ(zp_track_ini_path, host::windows_path(dir) + "\\tracks\\alpine\\freecam.ini");
  track("tracks\\", "coast", 5);  // another track number, another table entry
  ASSERT_EQ(zp_track_ini(), 1);
  EXPECT_TRUE(std::string(zp_track_ini_path).ends_with("\\tracks\\coast\\freecam.ini"));
  track(std::string(300, 'a').c_str(), "b");
  ASSERT_EQ(zp_track_ini(), 1);
  EXPECT_EQ(strlen(zp_track_ini_path), 259u);
  std::string before = zp_track_ini_path;
  for (auto [a, b] : {std::pair<const char *, const char *>{nullptr, "b"}, {"", "b"}, {"a", nullptr}, {"a", ""}}) {
    track(a, b);
    EXPECT_EQ(zp_track_ini(), 0);
    EXPECT_EQ(before, zp_track_ini_path);
  }
  zp_dir[0] = 0, track("t\\", "x");  // no game directory: relative to the current one
  ASSERT_EQ(zp_track_ini(), 1);
  EXPECT_STREQ(zp_track_ini_path, "t\\x\\freecam.ini");
}

TEST_F(Presets, FloatValuesAreReadAsStrtoulInBase16) {
  put("[S]\nplain=3F800000\nprefixed=0x3F800000\ncut=1.5\nempty=\nlower=bf800000\nword=zz\nhuge=123456789\n");
  ASSERT_EQ(zp_track_ini(), 1);
  std::pair<const char *, u32> cases[] = {{"plain", 0x3F800000}, {"prefixed", 0x3F800000}, {"cut", 1},
                                          {"empty", 0x7F800001}, {"missing", 0x7F800001}, {"lower", 0xBF800000},
                                          {"word", 0}, {"huge", 0xFFFFFFFF}};
  for (auto [key, want] : cases) {
    f32 v;
    set_bits(v, 0x7F800001);  // the fallback, a signalling NaN, stays untouched
    zp_rd_float("S", key, &v);
    EXPECT_EQ(bits(v), want) << key;
  }
}

TEST_F(Presets, CtrlDigitSavesTheListedKeysInOrderAndTheDigitRecallsThemBitForBit) {
  put("; my presets\n[Other]\nkeep=me\n[Pos7]\nused=1\n");
  fly(), fill(zp[0]);
  const freecam_record saved = zp[0];
  host::set_key(0x11, true), press(0x34), host::set_key(0x11, false);
  kv want = {{"used", "1"}};
  for (std::string k : {"x", "y", "z", "m0", "r0", "m1", "r1", "m2", "r2", "m3", "r3", "m4", "r4", "m5",
                        "r5", "m6", "r6", "m7", "r7", "m8", "r8", "o0", "o1", "o2"}) {
    int i = k.size() > 1 ? k[1] - '0' : k[0] - 'x';
    char hex[9];
    snprintf(hex, sizeof hex, "%08X", p[k[0] == 'm' ? 3 + i : k[0] == 'r' ? 12 + i : k[0] == 'o' ? 21 + i : i]);
    want.emplace_back(k, hex);
  }
  want.insert(want.end(), {{"bind_pos", "1"}, {"bind_rot", "0"}, {"car", "3"}});
  std::string text = file();
  EXPECT_EQ(section(text, "Pos4"), want);
  EXPECT_EQ(section(text, "Other"), (kv{{"keep", "me"}}));
  EXPECT_EQ(section(text, "Pos7"), (kv{{"used", "1"}}));
  EXPECT_TRUE(text.starts_with("; my presets"));
  EXPECT_EQ(lines, strs{"zephal: preset 4 saved (" + host::windows_path(dir) + "\\tracks\\alpine\\freecam.ini)"});

  memset(&zp[0].x, 0x55, offsetof(freecam_record, mouse_x) - offsetof(freecam_record, x));
  memset(&zp[0].bind_pos, 0x55, offsetof(freecam_record, prev_z) - offsetof(freecam_record, bind_pos));
  press(0x34);
  EXPECT_EQ(memcmp(&zp[0].x, &saved.x, 4 * 12), 0);
  EXPECT_EQ(memcmp(&zp[0].o, &saved.o, 4 * 12), 0);
  EXPECT_EQ(zp[0].bind_pos, 1u); EXPECT_EQ(zp[0].bind_rot, 0u);
  EXPECT_EQ(zp[0].car, 3); EXPECT_EQ(zp[0].car_obj, cars[3]);
  EXPECT_EQ(word(cam + 4), cars[3]); EXPECT_EQ(word(cam + 8), cars[3]);
  EXPECT_EQ(memcmp((void *)(uintptr_t)(cam + 0x14), p, 12), 0);  // the camera shows it at once
  EXPECT_EQ(memcmp((void *)(uintptr_t)(cam + 0x2c), p + 3, 36), 0);

  set_bits(zp[0].x, 0x3F800000);  // a second save replaces the values in place
  host::set_key(0x11, true), press(0x34);
  ASSERT_EQ(section(file(), "Pos4").size(), 28u);
  EXPECT_EQ(section(file(), "Pos4")[1].second, "3F800000");
}

TEST_F(Presets, HandEditedPresetsKeepMissingFieldsAndClampTheCar) {
  fly();
  word(0x661a88 + 8) = 0;  // slot 2 empty
  // car as written, car count, car expected, slot expected (-1: the car object stays)
  struct { const char *car; i32 count, want, slot; } cases[] = {
      {"-3", 5, 4, 4}, {"7", 5, 4, 4}, {"7", 0, 0, 0}, {"2", 5, 2, -1}, {"", 5, 0, 0}};
  for (auto c : cases) {
    fill(zp[0]);
    zp[0].car_obj = word(cam + 4) = word(cam + 8) = 0x1234;
    word(0x661a60) = c.count;
    put(std::string("[Pos6]\nused=1\nx=\ny=0x3F800000\nz=1.5\ncar=") + c.car + "\n");
    zp_preset_apply(6);
    u32 car = c.slot < 0 ? 0x1234 : cars[c.slot];
    EXPECT_EQ(zp[0].car, c.want) << c.car;
    EXPECT_EQ(zp[0].car_obj, car); EXPECT_EQ(word(cam + 4), car); EXPECT_EQ(word(cam + 8), car);
    EXPECT_EQ(bits(zp[0].x), p[0]); EXPECT_EQ(bits(zp[0].m[4]), p[7]);  // empty and missing keep
    EXPECT_EQ(bits(zp[0].y), 0x3F800000u); EXPECT_EQ(bits(zp[0].z), 1u);
    EXPECT_EQ(zp[0].bind_pos, 0u);  // a missing integer reads as 0
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(Presets, EmptyPresetsAndMissingTrackPathChangeNothing) {
  fill(zp[0]);
  for (const char *text : {"", "[Pos3]\nx=3F800000\n", "[Pos3]\nused=0\nx=3F800000\n"}) {
    for (u32 on : {0u, 1u}) {
      if (*text) put(text);
      zp[0].active = on, zp[0].cam = cam, lines.clear();
      const freecam_record before = zp[0];
      zp_preset_apply(3);
      EXPECT_EQ(memcmp(&before, &zp[0], sizeof before), 0);
      EXPECT_EQ(lines, strs{"zephal: preset 3 empty"});
      EXPECT_EQ(word(0x8290c0), 0u); EXPECT_EQ(g_pending_preset, -1);
    }
  }
  std::filesystem::remove(ini);
  zp[0].active = 0, lines.clear();
  zp_preset_save(2);
  track("tracks\\", nullptr);
  zp_preset_save(2), fly(), zp_preset_save(2), zp_preset_apply(2);  // the track is asked first
  EXPECT_EQ(lines, (strs{"zephal: preset: free camera not active", "zephal: preset: no track path",
                         "zephal: preset: no track path"}));
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(Presets, RecallWithTheCameraOffWaitsForTheFirstViewZeroTick) {
  put("[Pos4]\nused=1\nx=3F800000\n[Pos5]\nused=1\nx=40000000\n");
  press(0x34), press(0x35);  // the second recall replaces the first
  EXPECT_EQ(g_pending_preset, 5);
  EXPECT_EQ(word(0x8290c4), 7u); EXPECT_EQ(word(0x8290c0), 1u);
  EXPECT_TRUE(lines.empty()); EXPECT_EQ(bits(zp[0].x), 0u);
  put("[Pos5]\nused=1\nx=40400000\n");  // read when the recall completes, not before
  u32 view1 = host::make_camera(7, 1);
  word(0x8290c0) = 0;
  EXPECT_EQ(z9_zp_freecam_tick(view1), 1);
  EXPECT_EQ(g_pending_preset, 5); EXPECT_EQ(bits(zp[0].x), 0u);
  EXPECT_EQ(word(0x8290c0), 0u);  // not even looked at: no second camera request
  u32 view2 = host::make_camera(7, 2);  // any view but 1 is view 0
  EXPECT_EQ(z9_zp_freecam_tick(view2), 1);
  EXPECT_EQ(g_pending_preset, -1);
  EXPECT_EQ(bits(zp[0].x), 0x40400000u); EXPECT_EQ(word(view2 + 0x14), 0x40400000u);
}

TEST_F(Presets, EachDigitPressActsOnceInAscendingOrder) {
  host::set_key(0x32, true);
  for (int i = 0; i < 5; ++i) pass();
  host::set_key(0x32, false), pass();
  host::set_key(0x35, true), host::set_key(0x31, true), host::set_key(0x62, true), pass();  // 0x62: keypad 2
  host::release_all_keys(), pass();
  host::set_key(0x10, true), press(0x32);  // Shift is no modifier here
  host::set_key(0x11, true), press(0x32);
  host::release_all_keys(), host::set_key(0x37, true), word(0x8290a0) = 0, z9_zp_frame();
  EXPECT_EQ(g_prev_num[7], 0u);  // outside replay playback the digits are not even looked at
  EXPECT_EQ(lines, (strs{"zephal: preset 2 empty", "zephal: preset 1 empty", "zephal: preset 5 empty",
                         "zephal: preset 2 empty", "zephal: preset: free camera not active"}));
}
