// The free camera driven the way the game drives it: camera and car objects
// in the stand-in game's heap, the host's keyboard, the game's mouse words;
// and its own arithmetic of orientations against the C library's.
#include <array>
#include <cmath>
#include <random>

#include "freecam/controller.h"
#include "freecam/game_words.h"
#include "freecam/orient.h"
#include "patches/hooks.h"
#include "presets/preset_file.h"
#include "tests/support.h"

namespace {

using host::word;
using Log = std::vector<std::string>;
using V3 = std::array<f64, 3>;
using M3 = std::array<f64, 9>;

// Rows right, up, forward, as the game stores an orientation. The turns by the
// documented senses: yaw turns forward towards right, pitch forward towards
// minus up, roll right towards up.
M3 mul(const M3 &a, const M3 &b) {
  M3 o{};
  for (int i = 0; i < 27; ++i) o[i / 3] += a[i / 9 * 3 + i % 3] * b[i % 3 * 3 + i / 3 % 3];
  return o;
}
M3 tr(const M3 &a) { return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]}; }
M3 yaw(f64 a) { return {cos(a), 0, -sin(a), 0, 1, 0, sin(a), 0, cos(a)}; }
M3 pitch(f64 b) { return {1, 0, 0, 0, cos(b), sin(b), 0, -sin(b), cos(b)}; }
M3 roll(f64 c) { return {cos(c), sin(c), 0, -sin(c), cos(c), 0, 0, 0, 1}; }
M3 frame(f64 a, f64 b) { return mul(pitch(b), yaw(a)); }  // a car or camera turned and tilted
const M3 level = yaw(0);
V3 row(const M3 &m, int r) { return {m[3 * r], m[3 * r + 1], m[3 * r + 2]}; }
V3 plus(V3 p, f64 s, const V3 &d) {
  for (int k = 0; k < 3; ++k) p[k] += s * d[k];
  return p;
}
template <size_t N> void expect_near(const std::array<f64, N> &got, const std::array<f64, N> &want, f64 tol) {
  for (size_t k = 0; k < N; ++k) EXPECT_NEAR(got[k], want[k], tol) << "element " << k;
}
std::string bind_line(int n, u32 car) { return test::format("zephal: bind car %d (%08X)", n, car); }

constexpr f64 step = 0.125;  // MoveSpeed 8 for one call of 1/64
const f64 yaw_per_count = (f32)0.0015, pitch_per_count = (f32)0.0012, roll_step = 0.015625 * (f64)1.047f;

template <size_t N> std::array<f64, N> floats(u32 addr) {
  std::array<f64, N> v;
  for (size_t k = 0; k < N; ++k) v[k] = host::fword(addr + 4 * k);
  return v;
}
template <size_t N> void put(u32 addr, const std::array<f64, N> &v) {
  for (size_t k = 0; k < N; ++k) host::fword(addr + 4 * k) = (f32)v[k];
}

struct FreeCam : test::plugin {
  u32 cam = 0;
  void SetUp() override {
    test::plugin::SetUp();
    cam = host::make_camera(at::cam_type_free, 0);
  }
  i32 tick(u32 c = 0) { return z9_zp_freecam_tick(c ? c : cam); }
  void hold(const std::vector<int> &keys) {  // down for one call, then let go
    for (int k : keys) host::set_key(k, true);
    tick();
    host::release_all_keys();
  }
  void press(int vk) {
    hold({vk});
    tick();
  }
  V3 position() { return floats<3>(cam + at::cam_off_pos); }
  M3 orientation() { return floats<9>(cam + at::cam_off_orient); }
  void place(const V3 &p, const M3 &m) {
    put(cam + at::cam_off_pos, p);
    put(cam + at::cam_off_orient, m);
  }
  u32 car(u32 slot, const V3 &p, const M3 &basis = level) {
    u32 c = host::make_car(slot, (f32)p[0], (f32)p[1], (f32)p[2]);
    put(c + at::car_off_basis, basis);
    return c;
  }
  void follow(u32 car) { word(cam + at::cam_off_target) = word(cam + at::cam_off_target2) = car; }
};

using TakeOver = FreeCam;

// The three words the game's camera logic works from, held at 0 while flown
// and given back on leaving the replay together with the target car.
TEST_F(TakeOver, TheGamesCameraWordsAreHeldAtZeroAndGivenBack) {
  word(at::ga_car_count) = 2;
  car(0, {0, 0, 0});
  follow(car(1, {5, 0, 0}));
  test::set_words({{cam + at::cam_off_cc, 11}, {cam + at::cam_off_d0, 22}, {cam + at::cam_off_e4, 33}, {at::ga_cam_driven, 9}});
  const test::values held = {cam + at::cam_off_cc, cam + at::cam_off_d0, cam + at::cam_off_e4, cam + at::cam_off_target};
  const test::values before = test::words(held);
  tick();
  EXPECT_EQ(test::words({cam + at::cam_off_cc, cam + at::cam_off_d0, cam + at::cam_off_e4, at::ga_cam_driven}), test::values(4, 0));
  press('Z');  // the flown camera's target moves on
  word(at::ga_mode) = at::mode_menu;
  EXPECT_EQ(tick(), 0);
  EXPECT_EQ(test::words(held), before);
  EXPECT_EQ(word(cam + at::cam_off_target2), before[3]);
}

TEST_F(TakeOver, WhenTheGameFliesItWithoutUs) {
  // ReplayOnly, game mode, camera type, FreeCam: whether the call flies it
  const struct { i32 replay_only; u32 mode, type; i32 enabled, flown; } cases[] = {
      {1, at::mode_replay, at::cam_type_free, 1, 1}, {0, at::mode_menu, at::cam_type_free, 1, 1},
      {1, at::mode_menu, at::cam_type_free, 1, 0},   {1, at::mode_replay, 3, 1, 0},
      {1, at::mode_replay, at::cam_type_free, 0, 0}};
  for (auto c : cases) {
    cfg_replay_only = c.replay_only;
    cfg_enabled = c.enabled;
    word(at::ga_mode) = c.mode;
    EXPECT_EQ(tick(host::make_camera(c.type, 0)), c.flown) << c.replay_only << c.mode << c.type << c.enabled;
  }
  EXPECT_EQ(z9_zp_freecam_tick(0), 0);
}

TEST_F(TakeOver, KeysHeldFromBeforeAreNoPressesAndAHeldKeyActsOnce) {
  word(at::ga_car_count) = 2;
  follow(car(0, {0, 0, 0}));
  car(1, {9, 0, 0});
  for (int key : {'V', 'C', 'Z', 'X', 'L', 'B'}) {
    zp[0] = {};
    host::set_key(key, true);
    for (int i = 0; i < 3; ++i) tick();
    host::release_all_keys();
    EXPECT_EQ(std::pair(position(), test::log), std::pair(V3{0, 0, 0}, Log{})) << (char)key;
  }
  host::set_key('Z', true);
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_EQ(test::log, Log{bind_line(1, word(at::ga_car_table + 4))});
}

// View 1 has a record of its own, every other view shares view 0's, which
// another camera object of the view takes over, flown from its own pose: with
// no input (the pointer's place at the take-over is no movement either) it
// keeps that pose bit for bit.
TEST_F(TakeOver, ViewOneHasARecordOfItsOwnTheOthersShareViewZerosWithItsLatestCamera) {
  for (auto [view, record] : {std::pair{0u, 0}, {1u, 1}, {2u, 0}, {7u, 0}})
    EXPECT_EQ(zp_record_for(host::make_camera(at::cam_type_free, view)), &zp[record]) << "view " << view;
  tick();
  cam = host::make_camera(at::cam_type_free, 0);
  place({12.3, -4.5, 678.9}, frame(0.3, 0.1));
  test::set_words({{at::ga_mouse_x, 123}, {at::ga_mouse_y, 45}});
  const V3 p = position();
  const M3 m = orientation();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(tick(), 1);
  EXPECT_EQ(std::pair(position(), orientation()), std::pair(p, m));
  EXPECT_EQ(test::log, Log{});
}

using CarBind = FreeCam;

// The take-over binds the car the camera followed, else car 0; Z and X then
// bind the next and previous occupied entry, and a car count out of range (to
// -1) leaves the bind alone. Car k stands at (10k, 0, 0): the teleport (B)
// shows which car is bound.
TEST_F(CarBind, TheFollowedCarThenZAndXBindTheNextAndPreviousOccupiedEntry) {
  // count cars (one more in the slot past the count), slots emptied, car followed (99: none), key, car bound then
  const struct { u32 count; std::vector<u32> empty; u32 from; int key; i32 to; } cases[] = {
      {4, {}, 0, 'Z', 1}, {4, {}, 3, 'Z', 0}, {4, {}, 0, 'X', 3},  {4, {}, 1, 'X', 0},  {4, {1, 2}, 0, 'Z', 3},
      {4, {1, 2}, 3, 'X', 0}, {64, {}, 63, 'Z', 0}, {2, {0, 1}, 0, 'Z', 0}, {0, {}, 0, 'Z', -1}, {65, {}, 0, 'Z', -1},
      {3, {}, 1, 'B', 1}, {3, {}, 99, 'B', 0}, {2, {}, 2, 'B', 0}};
  for (auto &c : cases) {
    SetUp();
    std::vector<u32> cars;
    for (u32 k = 0; k <= c.count && k < 64; ++k) cars.push_back(car(k, {10.0 * k, 0, 0}));
    word(at::ga_car_count) = c.count;
    follow(c.from < cars.size() ? cars[c.from] : 0x12345);
    for (u32 k : c.empty) word(at::ga_car_table + 4 * k) = 0;
    tick();
    press(c.key);
    const u32 bound = word(at::ga_car_table + 4 * (c.to < 0 ? c.from : c.to));
    SCOPED_TRACE(testing::Message() << (char)c.key << " from car " << c.from << " of " << c.count);
    if (c.key == 'B') {
      EXPECT_EQ(position(), (V3{10.0 * c.to, 2, -6}));
      continue;
    }
    EXPECT_EQ(test::log, c.to < 0 ? Log{} : Log{bind_line(c.to, bound)});
    EXPECT_EQ(test::words({cam + at::cam_off_target, cam + at::cam_off_target2}), test::values(2, bound));
  }
}

// Also a bind left on by a preset while no car is bound.
TEST_F(CarBind, WithoutACarBindKeysSwitchTheBindOffAndTheTeleportDoesNothing) {
  tick();
  zp[0].bind_pos = 1;
  for (int key : {'V', 'C', 'B'}) press(key);
  EXPECT_EQ(test::log, (Log{"zephal: position bind off", "zephal: rotation bind off"}));
  EXPECT_EQ(position(), (V3{0, 0, 0}));
}

// With its car facing +x, B puts the camera behind and above it, bound or not.
TEST_F(FreeCam, BPutsTheCameraBehindAndAboveItsCar) {
  word(at::ga_car_count) = 1;
  follow(car(0, {3, 0, 0}, {0, 0, -1, 0, 1, 0, 1, 0, 0}));  // right -z, up y, forward x
  place({0, 0, 0}, frame(0.7, 0.2));
  tick();
  for (bool bound : {false, true}) {
    if (bound) press('V');
    const M3 m = orientation();
    press('B');
    EXPECT_EQ(std::pair(position(), orientation()), std::pair(V3{-3, 2, 0}, m)) << "bound " << bound;
    EXPECT_EQ(test::log.back(), "zephal: camera teleported to car 0");
    place({9, 9, 9}, m);
    zp[0].active = 0;
    tick();
  }
  hold({'B', 'W'});  // moving in the same call goes on from the new place
  expect_near(position(), plus({-3, 2, 0}, step, row(orientation(), 2)), 1e-6);
}

// Bound by position and rotation, it follows a moving, turning car, flies
// along its own axes, still looks around, and stays where it is when the next
// car is bound.
TEST_F(FreeCam, BoundItFollowsAMovingTurningCarFliesAlongItsOwnAxesAndLooksAround) {
  const M3 c0 = frame(0.4, 0.2), m0 = frame(-0.3, 0.1), c1 = frame(1.1, -0.3);
  word(at::ga_car_count) = 2;
  const u32 c = car(0, {10, 1, 5}, c0);
  car(1, {-4, 0, 7}, frame(-1.2, 0.3));
  follow(c);
  place({12, 3, 1}, m0);
  tick();
  press('V');
  expect_near(position(), {12, 3, 1}, 4e-6);  // switching on moves nothing
  auto fly = [&](const M3 &m, f64 tol) {
    for (int key : {'W', 'D'}) {
      const V3 p = position();
      hold({key});
      SCOPED_TRACE((char)key);
      expect_near(position(), plus(p, step, row(m, key == 'W' ? 2 : 0)), tol);
    }
  };
  fly(m0, 4e-6);  // bound by position only, on a turned car
  press('C');
  expect_near(orientation(), m0, 5e-7);
  const V3 p0 = position(), p1 = {20, -2, -4};
  put(c + at::car_off_basis, c1);
  put(c + at::car_off_pos, p1);
  tick();
  V3 off{}, want = p1;  // the offset in the car's first frame, carried into its second
  for (int i = 0; i < 9; ++i) off[i / 3] += c0[i] * (p0[i % 3] - V3{10, 1, 5}[i % 3]);
  for (int i = 0; i < 9; ++i) want[i % 3] += c1[i] * off[i / 3];
  expect_near(position(), want, 1e-5);
  const M3 m1 = mul(mul(m0, tr(c0)), c1);
  expect_near(orientation(), m1, 1e-6);
  fly(m1, 1e-5);
  word(at::ga_mouse_x) = 100;
  tick();
  expect_near(orientation(), mul(yaw(100 * yaw_per_count), m1), 2e-6);
  const V3 p = position();
  const M3 m = orientation();
  press('Z');
  expect_near(position(), p, 2e-6);
  expect_near(orientation(), m, 5e-7);
}

using Motion = FreeCam;

TEST_F(Motion, ThePointerGoesBackToTheMiddleOfTheGamesRectangle) {
  test::set_words({{at::ga_mouse_left, 100}, {at::ga_mouse_top, 50}, {at::ga_mouse_right, 900}, {at::ga_mouse_bottom, 650}});
  tick();
  EXPECT_EQ(test::words({at::ga_mouse_x, at::ga_mouse_y}), (test::values{500, 350}));
}

// The keys move along the camera's own axes, Shift and Ctrl boosting (Ctrl
// winning) and opposite keys cancelling exactly; the mouse turns by up to 1024
// counts and ignores larger moves; yaw, pitch then roll combine in one call,
// and roll keeps its speed under the boosts.
TEST_F(Motion, KeysMoveTheMouseAndRollTurn) {
  const M3 m = frame(0.5, 0.3);
  const V3 p = {1, 2, 3};
  auto turned = [](i32 dx, i32 dy) { return mul(yaw(dx * yaw_per_count), pitch(dy * pitch_per_count)); };
  // keys held, mouse counts, the orientation at the start; the pose then, the position within tol
  struct motion { std::vector<int> keys; i32 dx, dy; M3 from; V3 pos; M3 turn; f64 tol; };
  std::vector<motion> cases = {
      {{'W'}, 0, 0, level, {1, 2, 3.125}, level, 0}, {{at::shift, 'W'}, 0, 0, level, {1, 2, 3.375}, level, 0},
      {{at::ctrl, 'W'}, 0, 0, level, {1, 2, 4.5}, level, 0}, {{at::ctrl, at::shift, 'W'}, 0, 0, level, {1, 2, 4.5}, level, 0},
      {{'Q'}, 0, 0, level, p, roll(roll_step), 0}, {{'E'}, 0, 0, level, p, roll(-roll_step), 0},
      {{at::ctrl, 'Q'}, 0, 0, level, p, roll(roll_step), 0}, {{'W', 'S', 'A', 'D', 'R', 'F', 'Q', 'E'}, 0, 0, level, p, level, 0},
      {{}, 300, -200, level, p, turned(300, -200), 0}, {{'Q'}, 300, 200, level, p, mul(turned(300, 200), roll(roll_step)), 0}};
  for (int i = 0; i < 6; ++i)  // right, up, forward and back on the turned camera
    cases.push_back({{"DARFWS"[i]}, 0, 0, m, plus(p, (i % 2 ? -1 : 1) * step, row(m, i / 2)), m, 1e-6});
  for (i32 d : {1024, -1024, 1025, -1025})
    for (i32 dx : {d, 0}) cases.push_back({{}, dx, d - dx, level, p, abs(d) > 1024 ? level : turned(dx, d - dx), 0});
  for (auto &c : cases) {
    SetUp();
    place(p, c.from);
    if (c.dx || c.dy) {  // the take-over's call puts the pointer back first
      tick();
      test::set_words({{at::ga_mouse_x, (u32)c.dx}, {at::ga_mouse_y, (u32)c.dy}});
    }
    hold(c.keys);
    SCOPED_TRACE(testing::Message() << c.keys.size() << " keys from " << (char)(c.keys.empty() ? '-' : c.keys.back())
                                    << ", mouse " << c.dx << ", " << c.dy);
    expect_near(position(), c.pos, c.tol);
    expect_near(orientation(), c.turn, 1e-6);
  }
}

using ReplayCameraKey = FreeCam;

// After camera 8 the game is handed camera 0: an earlier hand-over is long
// done (state 0xff); this one waits until the game is done again.
TEST_F(ReplayCameraKey, LAsksForTheNextReplayCameraAfterEightCameraZero) {
  tick();
  word(at::ga_cam_current) = 7;
  press('L');
  EXPECT_EQ(test::words({at::ga_cam_request, at::ga_cam_request_flag}), (test::values{8, 1}));
  EXPECT_EQ(test::log.back(), "zephal: replay camera -> 8");
  test::set_words({{at::ga_cam_current, 8}, {at::ga_cam0_timer, 5}, {at::ga_cam_request_flag, 0}});
  host::byte(at::ga_cam0_state) = 0xff;
  press('L');
  EXPECT_EQ(test::words({at::ga_cam0_timer, at::ga_cam_request_flag}), (test::values{0, 0}));
  EXPECT_EQ((std::array{host::byte(at::ga_cam0_request), host::byte(at::ga_cam0_state)}), (std::array<u8, 2>{1, 0}));
  EXPECT_EQ(test::log.back(), "zephal: replay camera -> 0");
  host::byte(at::ga_cam0_state) = 0xff;
  tick();
  EXPECT_EQ(host::byte(at::ga_cam0_request), 0);
}

// --- the replay interface held back ---------------------------------------------------

using ArmHook = FreeCam;

// A view's camera is the word at ga_view_cam_override + 4v, else at ga_view_cam_base + 4v.
TEST_F(ArmHook, HeldBackWhileAViewShowsItsFreeCamera) {
  // view, its two camera words (1: the flown camera, 2: another), the camera's type then; whether it is held back
  const struct { u32 view, top, base, type; i32 held; } cases[] = {
      {0, 0, 1, at::cam_type_free, 1},  {0, 1, 0, at::cam_type_free, 1}, {0, 2, 1, at::cam_type_free, 0},
      {0, 1, 1, 3, 0},                {0, 1, 1, at::cam_type_free, 1}, {1, 1, 0, at::cam_type_free, 1},
      {1, 0, 1, at::cam_type_free, 1}};
  for (auto c : cases) {
    SetUp();
    const u32 flown = host::make_camera(at::cam_type_free, c.view);
    word(flown + at::cam_off_cc) = 11;
    tick(flown);
    word(flown + at::cam_off_type) = c.type;
    const u32 cams[] = {0, flown, host::make_camera(at::cam_type_free, c.view)};
    test::set_words({{at::ga_view_cam_override + 4 * c.view, cams[c.top]}, {at::ga_view_cam_base + 4 * c.view, cams[c.base]}});
    EXPECT_EQ(z9_zp_ui_suppressed(), c.held) << c.view << " " << c.top << " " << c.base << " " << c.type;
    EXPECT_EQ(word(flown + at::cam_off_cc), c.held ? 0u : 11u);
  }
}

// --- the arithmetic of orientations ------------------------------------------------

// The position is transpose(c) o + pos with pos added after the first term;
// on a nearly level car 1000 high with an offset 1000 down, the other order
// of the same sums rounds y to -0x1.ec9128p-17.
TEST(CarFrame, TheCarsPositionIsAddedAfterTheFirstTerm) {
  const f32 c[9] = {1, -0x1.15259ep-11f, 0, 0, 1, 0, 0, 0x1.00e22p-11f, 1}, pos[3] = {0, 1000, 0};
  const f32 o[3] = {0x1.03d1p+1f, -1000, 0x1.1479fap+1f};
  f32 p[3];
  car_to_world(c, pos, o, p);
  EXPECT_EQ(std::vector<f32>(p, p + 3), (std::vector<f32>{0x1.03d1p+1f, -0x1.ec912ap-17f, 0x1.1479fap+1f}));
}

// Near multiples of pi/2 too, where nearly all bits cancel, and at tiny angles.
TEST(SinCos, WithinOneUlpOfTheLibrary) {
  std::vector<f64> xs = {M_PI_4, std::nextafter(M_PI_4, 1.0), 1e-9, -1e-9, 0x1p-27};
  for (int k = -2600; k <= 2600; ++k) {
    xs.push_back(k * M_PI_2);
    xs.push_back(std::nextafter(k * M_PI_2, 1e9));
  }
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<f64> wide(-4000.0, 4000.0), narrow(-2.0, 2.0);
  for (int i = 0; i < 20000; ++i) {
    xs.push_back(wide(rng));
    xs.push_back(narrow(rng));
  }
  auto ulp = [](f64 v) { return std::nextafter(std::fabs(v), 2.0) - std::fabs(v); };
  size_t same_sin = 0, same_cos = 0;
  for (f64 x : xs) {
    f64 s, c;
    zp_sincos(x, &s, &c);
    ASSERT_NEAR(s, std::sin(x), ulp(std::sin(x))) << std::hexfloat << x;
    ASSERT_NEAR(c, std::cos(x), ulp(std::cos(x))) << std::hexfloat << x;
    same_sin += s == std::sin(x);
    same_cos += c == std::cos(x);
  }
  // and round as the library does nearly everywhere (97 %): a slip in the
  // reduction's tail costs a few percent long before it costs an ulp.
  EXPECT_GT(same_sin, xs.size() * 96 / 100);
  EXPECT_GT(same_cos, xs.size() * 96 / 100);
}

}  // namespace
