// The free camera driven the way the game drives it: camera and car objects
// in the stand-in game's heap, the host's keyboard, the game's mouse words.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdarg>
#include <string>
#include <vector>

#include "freecam/controller.h"
#include "host/game.h"
#include "host/win32.h"
#include "patches/hooks.h"
#include "plugin/game.h"
#include "plugin/settings.h"

namespace {

using host::word;
using Log = std::vector<std::string>;
Log logs;
void collect(const char *format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  logs.push_back(buf);
}
std::string bind_line(int n, u32 car) {
  char b[64];
  snprintf(b, sizeof b, "zephal: bind car %d (%08X)", n, car);
  return b;
}

using M3 = std::array<f64, 9>;
M3 mul(const M3 &a, const M3 &b) {
  M3 o{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) o[3 * i + j] += a[3 * i + k] * b[3 * k + j];
  return o;
}
M3 tr(const M3 &a) { return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]}; }
// An orthonormal frame turned by a about the world's up axis, then by b about its own right axis.
M3 frame(f64 a, f64 b) {
  return mul({1, 0, 0, 0, cos(b), sin(b), 0, -sin(b), cos(b)},
             {cos(a), 0, -sin(a), 0, 1, 0, sin(a), 0, cos(a)});
}

constexpr u32 cam_pos = 0x14, cam_m = 0x2c, car_pos = 0x08, car_m = 0x34;
void put(u32 at, const M3 &m, int n = 9) {
  for (int k = 0; k < n; ++k) host::fword(at + 4 * k) = (f32)m[k];
}
M3 get(u32 at, int n = 9) {
  M3 m{};
  for (int k = 0; k < n; ++k) m[k] = host::fword(at + 4 * k);
  return m;
}
void expect_near(const M3 &got, const M3 &want, f64 tol) {
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(got[k], want[k], tol) << "element " << k;
}

struct FreeCam : ::testing::Test {
  u32 cam = 0;
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    game = 0x400000;
    logger = collect;
    logs.clear();
    zp_reset_settings();
    zp[0] = zp[1] = freecam_record{};
    host::release_all_keys();
    word(0x8290a0) = 2;  // replay playback
    cam = host::make_camera(7, 0);
  }
  i32 tick() { return z9_zp_freecam_tick(cam); }
  void press(int vk) {  // down for one call, up for the next
    host::set_key(vk, true);
    tick();
    host::set_key(vk, false);
    tick();
  }
  u32 car(u32 slot, f32 x) {
    if (word(0x661a60) <= slot) word(0x661a60) = slot + 1;
    return host::make_car(slot, x, 0, 0);
  }
  void target(u32 c) { word(cam + 4) = word(cam + 8) = c; }
};

TEST_F(FreeCam, ActivationTakesOverTheCamera) {
  u32 c0 = car(0, 0), c1 = car(1, 5);
  put(cam + cam_pos, {12.3, -4.5, 678.9}, 3);
  put(cam + cam_m, frame(0.3, 0.1));
  word(cam + 0xcc) = 11, word(cam + 0xd0) = 22, word(cam + 0xe4) = 33;
  target(c1);
  word(0x689510) = 123;  // pointer off-centre: the first call still measures nothing
  word(0x829060) = 9;
  const M3 pos = get(cam + cam_pos, 3), m = get(cam + cam_m);
  host::set_key('V', true);  // held from before the take-over: not a press
  for (int i = 0; i < 5; ++i) EXPECT_EQ(tick(), 1);
  EXPECT_EQ(get(cam + cam_pos, 3), pos);  // no input: bit for bit where it was
  EXPECT_EQ(get(cam + cam_m), m);
  EXPECT_EQ((std::array{zp[0].active, zp[0].cam, zp[0].saved_cc, zp[0].saved_d0, zp[0].saved_e4}),
            (std::array{1u, cam, 11u, 22u, 33u}));
  EXPECT_EQ(word(cam + 0xcc) | word(cam + 0xd0) | word(cam + 0xe4) | word(0x829060), 0u);
  EXPECT_EQ(zp[0].car_obj, c1);
  EXPECT_EQ(zp[0].car, 1);
  EXPECT_TRUE(logs.empty());

  zp[0].active = 0;  // a target not in the table falls back to slot 0
  target(0x12345);
  tick();
  EXPECT_EQ(zp[0].car_obj, c0);

  u32 v1 = host::make_camera(7, 1), v2 = host::make_camera(7, 2);
  z9_zp_freecam_tick(v1);
  EXPECT_EQ(zp[1].cam, v1);
  z9_zp_freecam_tick(v2);
  EXPECT_EQ(zp[0].cam, v2);  // view 2 is record 0's, taken over from cam
  EXPECT_EQ(z9_zp_freecam_tick(host::make_camera(3, 0)), 0);
  cfg_enabled = 0;
  EXPECT_EQ(tick(), 0);
  EXPECT_EQ(zp[0].cam, v2);
}

TEST_F(FreeCam, ReplayOnlyReleasesOutsidePlayback) {
  u32 c0 = car(0, 0), c1 = car(1, 1);
  target(c0);
  word(cam + 0xd0) = 7;
  tick();
  press('Z');
  EXPECT_EQ(word(cam + 4), c1);
  word(0x8290a0) = 1;
  EXPECT_EQ(tick(), 0);
  EXPECT_EQ(tick(), 0);
  EXPECT_EQ(zp[0].active, 0u);
  EXPECT_EQ((std::array{word(cam + 0xd0), word(cam + 4), word(cam + 8)}), (std::array{7u, c0, c0}));
  EXPECT_EQ(zp[0].car, 1);  // the bind stays in the record
  cfg_replay_only = 0;
  EXPECT_EQ(tick(), 1);
}

TEST_F(FreeCam, CommandsWithoutACar) {
  tick();
  press('V'), press('C'), press('B'), press('Z');
  EXPECT_EQ(logs, (Log{"zephal: position bind off", "zephal: rotation bind off"}));
  // A preset may leave a bind set with no car: cycling an empty table skips
  // the captures but still reports, and the bind key switches it off.
  word(0x661a60) = 2;
  zp[0].bind_pos = 1;
  press('X');
  EXPECT_EQ(logs.back(), "zephal: bind car 0 (00000000)");
  press('V');
  EXPECT_EQ(logs.back(), "zephal: position bind off");
  EXPECT_EQ(zp[0].bind_pos + zp[0].bind_rot, 0u);
}

TEST_F(FreeCam, CarCycleWrapsSkipsEmptySlotsAndKeepsThePose) {
  u32 c[4];
  for (u32 i = 0; i < 4; ++i) c[i] = car(i, (f32)i);
  target(c[3]);
  tick();
  press('Z');
  EXPECT_EQ((std::array{word(cam + 4), word(cam + 8)}), (std::array{c[0], c[0]}));
  press('X');
  EXPECT_EQ(logs, (Log{bind_line(0, c[0]), bind_line(3, c[3])}));
  // Both binds pass to the next car, a turned one, without moving the camera.
  put(c[0] + car_m, frame(0.5, 0.2));
  put(cam + cam_m, frame(-0.3, 0.1));
  zp[0].active = 0;
  tick();
  press('V'), press('C');
  const M3 pos = get(cam + cam_pos, 3), m = get(cam + cam_m);
  word(0x661a88 + 4) = word(0x661a88 + 8) = 0;
  press('Z');
  EXPECT_EQ(logs.back(), bind_line(0, c[0]));
  expect_near(get(cam + cam_pos, 3), pos, 2e-6);
  expect_near(get(cam + cam_m), m, 5e-7);
  press('Z');
  EXPECT_EQ(logs.back(), bind_line(3, c[3]));
  for (u32 n : {0u, 65u}) word(0x661a60) = n, press('Z');
  EXPECT_EQ(logs.size(), 6u);
}

TEST_F(FreeCam, ReplayCameraRequestAndHandOverOfCameraZero) {
  tick();
  word(0x8290b8) = 3;
  press('L');
  EXPECT_EQ((std::array{word(0x8290c4), word(0x8290c0)}), (std::array{4u, 1u}));
  word(0x8290b8) = 8, word(0x8290c8) = 5, host::byte(0x81ac5c) = 0x55;
  press('L');
  EXPECT_EQ((std::array{word(0x8290c4), word(0x8290c8), zp[0].cam0_wait}), (std::array{4u, 0u, 1u}));
  EXPECT_EQ(host::byte(0x5c3aec) * 0x100 + host::byte(0x81ac5c), 0x100);
  EXPECT_EQ(logs, (Log{"zephal: replay camera -> 4", "zephal: replay camera -> 0"}));
  host::byte(0x81ac5c) = 0xff;  // the game is done with the hand-over
  tick();
  EXPECT_EQ(host::byte(0x5c3aec) + zp[0].cam0_wait, 0u);
}

TEST_F(FreeCam, BoundCameraFollowsAMovingTurningCar) {
  u32 c = host::make_car(0, 10, 1, 5);
  word(0x661a60) = 1;
  const M3 c0 = frame(0.4, 0.2), m0 = frame(-0.3, 0.1), car0 = {10, 1, 5};
  M3 p0 = {12, 3, 1};
  put(c + car_m, c0), put(cam + cam_pos, p0, 3), put(cam + cam_m, m0);
  target(c);
  tick();
  press('V');
  expect_near(get(cam + cam_pos, 3), p0, 4e-6);  // switching on does not move it
  host::set_key('W', true);  // bound, it still flies along its own forward axis
  tick();
  host::set_key('W', false);
  for (int k = 0; k < 3; ++k) p0[k] += 0.125 * m0[6 + k];
  expect_near(get(cam + cam_pos, 3), p0, 4e-6);
  press('C');
  EXPECT_EQ(logs, (Log{"zephal: position bind on", "zephal: rotation bind on"}));
  expect_near(get(cam + cam_m), m0, 5e-7);

  const M3 c1 = frame(1.1, -0.3), p1 = {20, -2, -4};
  put(c + car_m, c1), put(c + car_pos, p1, 3);
  tick();
  M3 off{}, want = p1;  // the offset in the car's first frame, carried into its second
  for (int i = 0; i < 9; ++i) off[i / 3] += c0[i] * (p0[i % 3] - car0[i % 3]);
  for (int i = 0; i < 9; ++i) want[i % 3] += c1[i] * off[i / 3];
  expect_near(get(cam + cam_pos, 3), want, 1e-5);
  const M3 m1 = mul(mul(m0, tr(c0)), c1);
  expect_near(get(cam + cam_m), m1, 1e-6);
  host::set_key('W', true);
  tick();
  for (int k = 0; k < 3; ++k) want[k] += 0.125 * m1[6 + k];
  expect_near(get(cam + cam_pos, 3), want, 1e-5);
}

TEST_F(FreeCam, TeleportBehindTheBoundCar) {
  put(car(0, 5) + car_m, {0, 0, -1, 0, 1, 0, 1, 0, 0});  // facing +x
  put(cam + cam_m, frame(0.5, 0.2));
  const M3 m = get(cam + cam_m);
  target(word(0x661a88));
  tick();
  for (bool bound : {false, true}) {
    host::set_key('W', true);
    tick();
    host::set_key('W', false);
    press('B');
    EXPECT_EQ(get(cam + cam_pos, 3), (M3{-1, 2, 0}));
    EXPECT_EQ(get(cam + cam_m), m);
    EXPECT_EQ(zp[0].o[2], bound ? -6.0f : 0.0f);  // bound, only the offset is set
    press('V');
  }
  EXPECT_EQ(logs[0], "zephal: camera teleported to car 0");
}

TEST_F(FreeCam, MouseLookGuardsJumpsAndRecentres) {
  word(0x689500) = 100, word(0x689504) = 50, word(0x689508) = 900, word(0x68950c) = 650;
  tick();
  EXPECT_EQ((std::array{word(0x689510), word(0x689514)}), (std::array{500u, 350u}));
  word(0x689510) = 500 + 1025;
  tick();
  EXPECT_EQ(get(cam + cam_m), (M3{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(word(0x689510), 500u);
  word(0x689510) = 500 - 1024;  // the bound itself still turns
  tick();
  f64 a = -1024 * (f64)0.0015f, p = 50 * (f64)0.0012f;
  const M3 m = get(cam + cam_m);
  expect_near(m, {cos(a), 0, -sin(a), 0, 1, 0, sin(a), 0, cos(a)}, 1e-6);
  word(0x689514) = 350 + 50;
  tick();
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(get(cam + cam_m)[6 + k], cos(p) * m[6 + k] - sin(p) * m[3 + k], 1e-6);
}

TEST_F(FreeCam, SpeedsBoostsAndOppositeKeys) {
  tick();
  const std::pair<int, f32> steps[] = {{'W', 0.125f}, {0x10, 0.5f}, {0x11, 2.0f}};
  for (auto [key, z] : steps) {  // W, then Shift, then Ctrl winning over Shift
    host::set_key(key, true);
    tick();
    EXPECT_EQ(host::fword(cam + cam_pos + 8), z);
  }
  for (int k : {'S', 'A', 'D', 'R', 'F'}) host::set_key(k, true);
  tick();
  EXPECT_EQ(get(cam + cam_pos, 3), (M3{0, 0, 2.0}));
  host::release_all_keys();
  host::set_key('Q', true);
  tick();
  host::set_key(0x11, true);  // roll ignores boosts
  tick();
  f64 q = 2 * 0.015625 * (f64)1.047f;
  expect_near(get(cam + cam_m), {cos(q), sin(q), 0, -sin(q), cos(q), 0, 0, 0, 1}, 1e-6);
}

TEST_F(FreeCam, SuppressionFollowsEachViewsCurrentCamera) {
  EXPECT_EQ(z9_zp_ui_suppressed(), 0);
  word(cam + 0xcc) = 11;
  tick();
  word(0x661958) = cam;
  EXPECT_EQ(z9_zp_ui_suppressed(), 1);
  word(0x661958) = 0, word(0x661950) = cam;
  EXPECT_EQ(z9_zp_ui_suppressed(), 1);
  u32 v1 = host::make_camera(7, 1);
  z9_zp_freecam_tick(v1);
  word(0x661954) = v1;
  word(0x661958) = host::make_camera(7, 0);  // the first word decides when it is set
  EXPECT_EQ(z9_zp_ui_suppressed(), 1);
  EXPECT_EQ(zp[0].active, 0u);
  EXPECT_EQ(word(cam + 0xcc), 11u);
  word(v1) = 3;  // still current, but no longer the free camera
  EXPECT_EQ(z9_zp_ui_suppressed(), 0);
  EXPECT_EQ(zp[1].active, 0u);
}

}  // namespace
