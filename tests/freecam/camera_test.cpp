// The free camera driven the way the game drives it: camera and car objects
// in the stand-in game's heap, the host's keyboard, the game's mouse words.
#include <dlfcn.h>

#include <array>
#include <cmath>
#include <random>

#include "freecam/controller.h"
#include "freecam/orient.h"
#include "host/loader.h"
#include "host/pe_module.h"
#include "patches/hooks.h"
#include "tests/support.h"

namespace {

using host::word;
using Log = std::vector<std::string>;
using M3 = std::array<f64, 9>;
M3 mul(const M3 &a, const M3 &b) {  // a b, element n / 3 summing over k for n = 9i + 3j + k
  M3 o{};
  for (int n = 0; n < 27; ++n) o[n / 3] += a[n / 9 * 3 + n % 3] * b[n % 3 * 3 + n / 3 % 3];
  return o;
}
M3 tr(const M3 &a) { return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]}; }
// A frame turned by a about the world's up axis, then by b about its own right axis.
M3 frame(f64 a, f64 b) {
  return {cos(a), 0, -sin(a), sin(b) * sin(a), cos(b), sin(b) * cos(a), cos(b) * sin(a), -sin(b), cos(b) * cos(a)};
}
std::string bind_line(int n, u32 car) { return test::format("zephal: bind car %d (%08X)", n, car); }

constexpr u32 cam_pos = 0x14, cam_m = 0x2c, car_pos = 0x08, car_m = 0x34;
void put(u32 at, const M3 &m, int n = 9) { for (int k = 0; k < n; ++k) host::fword(at + 4 * k) = (f32)m[k]; }
M3 get(u32 at, int n = 9) {
  M3 m{};
  for (int k = 0; k < n; ++k) m[k] = host::fword(at + 4 * k);
  return m;
}
void expect_near(const M3 &got, const M3 &want, f64 tol) {
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(got[k], want[k], tol) << k;
}

struct FreeCam : test::plugin {
  u32 cam = 0;
  void SetUp() override { test::plugin::SetUp(), cam = host::make_camera(7, 0); }
  i32 tick() { return z9_zp_freecam_tick(cam); }
  void hold(int vk) { host::set_key(vk, true), tick(), host::set_key(vk, false); }  // down for one call
  void press(int vk) { hold(vk), tick(); }
  void target(u32 c) { word(cam + 4) = word(cam + 8) = c; }
};

TEST_F(FreeCam, ActivationTakesOverTheCameraAndReleaseGivesItBack) {
  const u32 c0 = host::make_car(0, 0, 0, 0), c1 = host::make_car(1, 5, 0, 0);
  word(0x661a60) = 2;
  put(cam + cam_pos, {12.3, -4.5, 678.9}, 3);
  put(cam + cam_m, frame(0.3, 0.1));
  word(cam + 0xcc) = 11, word(cam + 0xd0) = 22, word(cam + 0xe4) = 33, word(0x829060) = 9;
  target(c1);
  word(0x689510) = 123;  // pointer off-centre: the first call still measures nothing
  const M3 pos = get(cam + cam_pos, 3), m = get(cam + cam_m);
  host::set_key('V', true);  // held from before the take-over: not a press
  for (int i = 0; i < 5; ++i) EXPECT_EQ(tick(), 1);
  EXPECT_EQ(get(cam + cam_pos, 3), pos);  // no input: bit for bit where it was
  EXPECT_EQ(get(cam + cam_m), m);
  EXPECT_EQ(word(cam + 0xcc) | word(cam + 0xd0) | word(cam + 0xe4) | word(0x829060), 0u);
  EXPECT_EQ((std::array{zp[0].active, zp[0].cam, zp[0].car_obj, (u32)zp[0].car}), (std::array{1u, cam, c1, 1u}));
  EXPECT_TRUE(test::log.empty());
  press('Z');  // the game's target moves on to car 0; leaving playback restores it all
  word(0x8290a0) = 1;
  EXPECT_EQ(tick() + tick(), 0);
  EXPECT_EQ((std::array{word(cam + 0xcc), word(cam + 0xd0), word(cam + 0xe4), word(cam + 4), word(cam + 8)}),
            (std::array{11u, 22u, 33u, c1, c1}));
  EXPECT_EQ((std::array{zp[0].active, zp[0].car_obj}), (std::array{0u, c0}));  // the bind stays in the record
  cfg_replay_only = 0;
  EXPECT_EQ(tick(), 1);

  u32 v1 = host::make_camera(7, 1), v2 = host::make_camera(7, 2);
  word(v1 + 4) = 0x12345;  // a target not in the table falls back to slot 0
  z9_zp_freecam_tick(v1);
  EXPECT_EQ((std::array{zp[1].cam, zp[1].car_obj}), (std::array{v1, c0}));
  z9_zp_freecam_tick(v2);
  EXPECT_EQ(zp[0].cam, v2);  // view 2 is record 0's, taken over from cam
  EXPECT_EQ(z9_zp_freecam_tick(host::make_camera(3, 0)), 0);
  cfg_enabled = 0;
  EXPECT_EQ((std::array{(u32)tick(), zp[0].cam}), (std::array{0u, v2}));
}

TEST_F(FreeCam, CommandsCarCycleAndTeleport) {
  tick();  // no car: binds stay off, teleport and cycling do nothing
  press('V'), press('C'), press('B'), press('Z');
  // A preset may leave a bind set with no car: cycling an empty table skips
  // the captures but still reports, and the bind key switches it off.
  word(0x661a60) = 2, zp[0].bind_pos = 1;
  press('X'), press('V');
  u32 c[4];
  for (u32 i = 0; i < 4; ++i) c[i] = host::make_car(i, (f32)i, 0, 0);
  put(c[0] + car_m, frame(0.5, 0.2)), put(c[3] + car_m, {0, 0, -1, 0, 1, 0, 1, 0, 0});  // c[3] faces +x
  word(0x661a60) = 4, target(c[3]), zp[0].active = 0, tick();
  press('Z');
  EXPECT_EQ((std::array{word(cam + 4), word(cam + 8)}), (std::array{c[0], c[0]}));
  press('X');
  // Both binds pass to the next car, a turned one, without moving the camera.
  put(cam + cam_m, frame(-0.3, 0.1)), zp[0].active = 0, tick();
  press('V'), press('C');
  const M3 pos = get(cam + cam_pos, 3), m = get(cam + cam_m);
  word(0x661a88 + 4) = word(0x661a88 + 8) = 0;
  press('Z');
  expect_near(get(cam + cam_pos, 3), pos, 2e-6);
  expect_near(get(cam + cam_m), m, 5e-7);
  press('Z');
  for (u32 n : {0u, 65u}) word(0x661a60) = n, press('Z');  // no count in range: nothing
  // Teleport behind and above car 3, bound (through the offset) and not; the turn stays.
  const M3 turned = get(cam + cam_m);
  for (int round = 0; round < 2; ++round) {
    hold('W'), press('B');
    EXPECT_EQ(get(cam + cam_pos, 3), (M3{-3, 2, 0}));
    EXPECT_EQ(get(cam + cam_m), turned);
    press('V');
  }
  const char *on = "zephal: position bind on", *off = "zephal: position bind off";
  const char *tp = "zephal: camera teleported to car 3";
  EXPECT_EQ(test::log, (Log{off, "zephal: rotation bind off", bind_line(0, 0), off, bind_line(0, c[0]),
                            bind_line(3, c[3]), on, "zephal: rotation bind on", bind_line(0, c[0]),
                            bind_line(3, c[3]), tp, off, tp, on}));
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
  EXPECT_EQ(test::log, (Log{"zephal: replay camera -> 4", "zephal: replay camera -> 0"}));
  host::byte(0x81ac5c) = 0xff;  // the game is done with the hand-over
  tick();
  EXPECT_EQ(host::byte(0x5c3aec) + zp[0].cam0_wait, 0u);
}

TEST_F(FreeCam, BoundCameraFollowsAMovingTurningCar) {
  const u32 c = host::make_car(0, 10, 1, 5);
  word(0x661a60) = 1;
  const M3 c0 = frame(0.4, 0.2), m0 = frame(-0.3, 0.1), car0 = {10, 1, 5};
  M3 p0 = {12, 3, 1};
  put(c + car_m, c0), put(cam + cam_pos, p0, 3), put(cam + cam_m, m0);
  target(c);
  tick();
  press('V');
  expect_near(get(cam + cam_pos, 3), p0, 4e-6);  // switching on does not move it
  hold('W');  // bound, it still flies along its own forward axis
  for (int k = 0; k < 3; ++k) p0[k] += 0.125 * m0[6 + k];
  expect_near(get(cam + cam_pos, 3), p0, 4e-6);
  press('C');
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
  hold('W');
  for (int k = 0; k < 3; ++k) want[k] += 0.125 * m1[6 + k];
  expect_near(get(cam + cam_pos, 3), want, 1e-5);
}

TEST_F(FreeCam, MouseLookAndKeys) {
  word(0x689500) = 100, word(0x689504) = 50, word(0x689508) = 900, word(0x68950c) = 650;
  tick();
  EXPECT_EQ((std::array{word(0x689510), word(0x689514)}), (std::array{500u, 350u}));  // re-centred
  word(0x689510) = 500 + 1025;  // a jump: ignored
  tick();
  EXPECT_EQ(get(cam + cam_m), (M3{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(word(0x689510), 500u);
  word(0x689510) = 500 - 1024;  // the bound itself still turns
  tick();
  const f64 a = -1024 * (f64)0.0015f, p = 50 * (f64)0.0012f;
  const M3 m = get(cam + cam_m);
  expect_near(m, {cos(a), 0, -sin(a), 0, 1, 0, sin(a), 0, cos(a)}, 1e-6);
  word(0x689514) = 350 + 50;
  tick();
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(get(cam + cam_m)[6 + k], cos(p) * m[6 + k] - sin(p) * m[3 + k], 1e-6);

  put(cam + cam_m, {1, 0, 0, 0, 1, 0, 0, 0, 1}), zp[0].active = 0;
  const std::pair<int, f32> steps[] = {{'W', 0.125f}, {0x10, 0.5f}, {0x11, 2.0f}};
  for (auto [key, z] : steps) {  // W, then Shift, then Ctrl winning over Shift
    host::set_key(key, true);
    tick();
    EXPECT_EQ(host::fword(cam + cam_pos + 8), z);
  }
  for (int k : {'S', 'A', 'D', 'R', 'F'}) host::set_key(k, true);  // opposite keys cancel
  tick();
  EXPECT_EQ(get(cam + cam_pos, 3), (M3{0, 0, 2.0}));
  host::release_all_keys();
  host::set_key('Q', true);
  tick();
  host::set_key(0x11, true);  // roll ignores boosts
  tick();
  const f64 q = 2 * 0.015625 * (f64)1.047f;
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
  const u32 v1 = host::make_camera(7, 1);
  z9_zp_freecam_tick(v1);
  word(0x661954) = v1, word(0x661958) = host::make_camera(7, 0);  // the first word decides when it is set
  EXPECT_EQ((std::array{(u32)z9_zp_ui_suppressed(), zp[0].active, word(cam + 0xcc)}), (std::array{1u, 0u, 11u}));
  word(v1) = 3;  // still current, but no longer the free camera
  EXPECT_EQ((std::array{(u32)z9_zp_ui_suppressed(), zp[1].active}), (std::array{0u, 0u}));
}

// The plug-in's own sine and cosine, near multiples of pi/2 too, where nearly all bits
// cancel (exactness at 0 shows in the bit-identical pose of a call without input).
TEST(SinCos, WithinTwoUlpsOfTheLibrary) {
  std::vector<f64> xs = {M_PI_4, std::nextafter(M_PI_4, 1.0), 1e-9, 0x1p-27};
  for (int k = -2600; k <= 2600; ++k) xs.push_back(k * M_PI_2), xs.push_back(std::nextafter(k * M_PI_2, 1e9));
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<f64> wide(-4000.0, 4000.0), narrow(-2.0, 2.0);
  for (int i = 0; i < 20000; ++i) xs.push_back(wide(rng)), xs.push_back(narrow(rng));
  auto ulp = [](f64 v) { return std::nextafter(std::fabs(v), 2.0) - std::fabs(v); };
  for (f64 x : xs) {
    f64 s, c;
    zp_sincos(x, &s, &c);
    EXPECT_NEAR(s, std::sin(x), 2 * ulp(std::sin(x))) << std::hexfloat << x;
    EXPECT_NEAR(c, std::cos(x), 2 * ulp(std::cos(x))) << std::hexfloat << x;
  }
}

using apply_fn = u32 (*)(const z9_ctx *);

// The product (zephal.z9p, through the host's PE loader) and the ELF build
// (zephal.so) must fly the same input through the game's patched camera call
// to the same bits, or one flight would drift from the other. 300 calls: the
// mouse swinging, keys with both boosts, from call 100 on both binds to a car
// driving a curve.
std::vector<u32> fly(apply_fn apply) {
  EXPECT_TRUE(host::game_reset());
  host::loader_reset(), host::release_all_keys();
  const z9_ctx ctx = host::loader_context();
  EXPECT_EQ(apply(&ctx), 1u);
  word(0x8290a0) = 2, word(0x689508) = 1024, word(0x68950c) = 768, word(0x661a60) = 1;
  const u32 car = host::make_car(0, 3, 0, 4), cam = host::make_camera(7, 0);
  word(cam + 4) = word(cam + 8) = car;
  std::vector<u32> poses;  // bit patterns
  for (int t = 0; t < 300; ++t) {
    const int held[][2] = {{'W', t % 7 < 4}, {'D', t % 11 < 3}, {'R', t % 13 < 2}, {'Q', t % 17 < 5},
                           {0x10, t % 19 < 9}, {0x11, t % 23 < 4}, {'V', t == 100}, {'C', t == 101}};
    for (auto &k : held) host::set_key(k[0], k[1]);
    word(0x689510) = 512 + (t * 37) % 61 - 30, word(0x689514) = 384 + (t * 53) % 41 - 20;
    const f64 a = t * 0.02;
    const f32 basis[9] = {(f32)cos(a), 0, (f32)-sin(a), 0, 1, 0, (f32)sin(a), 0, (f32)cos(a)};
    for (int k = 0; k < 9; ++k) host::fword(car + 0x34 + 4 * k) = basis[k];
    host::fword(car + 0x08) = (f32)(3 + 40 * sin(a)), host::fword(car + 0x10) = (f32)(4 + 40 * cos(a));
    host::camera_case7(cam);
    for (u32 off = 0x14; off < 0x50; off += 4) poses.push_back(word(cam + off));
  }
  return poses;
}

TEST(Builds, ProductAndSharedObjectFlyTheSamePathBitForBit) {
  void *so = dlopen(ZEPHAL_SO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  host::pe_module dll;
  std::string error;
  ASSERT_TRUE(host::pe_load(ZEPHAL_Z9P_PATH, dll, error)) << error;
  const std::vector<u32> elf = fly((apply_fn)dlsym(so, "Z9_Apply")), pe = fly((apply_fn)dll.symbol("Z9_Apply"));
  EXPECT_EQ(elf, pe);
  EXPECT_TRUE(elf[elf.size() - 15] != 0 && elf[elf.size() - 1] != 0x3f800000);  // it really moved and turned
}

}  // namespace
