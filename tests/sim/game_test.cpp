// The simulated game on its own, without the plug-in: the tracks, the cars'
// driving (and that a car object put back makes the car drive on exactly as
// before, which rewinding relies on), the replay words, the camera requests
// and the change to camera 0, and the game's own cameras.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "host/game.h"
#include "sim/game.h"
#include "sim/track.h"
#include "tests/support.h"

namespace {

using host::byte;
using host::fword;
using host::word;
using sim::vec3;

vec3 car_pos(u32 c) { return {fword(c + 0x08), fword(c + 0x0c), fword(c + 0x10)}; }
vec3 row(u32 addr) { return {fword(addr), fword(addr + 4), fword(addr + 8)}; }

// --- tracks --------------------------------------------------------------------

TEST(Track, LoopsAreClosedEvenlySampledAndBankedIntoTheirBends) {
  for (const char *name : {"alpine", "harbour", "desert", "oval", "my-own-track"}) {
    sim::track t = sim::make_track(name);
    const double step = t.length / t.centre.size();
    for (size_t i = 0; i < t.centre.size(); ++i) {
      double gap = sim::length(t.centre[(i + 1) % t.centre.size()] - t.centre[i]);
      EXPECT_NEAR(gap, step, step * 0.02) << name << " at " << i;
    }
    EXPECT_LT(sim::length(t.at(t.length + 10) - t.at(10)), 1e-6) << name;
    int bends = 0;
    for (double d = 0; d < t.length; d += t.length / 64) {
      sim::basis b = t.frame(d);
      // Rows right, up, forward: orthonormal and right-handed as the
      // game's identity basis (x right, y up, z forward) is.
      EXPECT_NEAR(sim::dot(b.right, b.up), 0, 1e-9);
      EXPECT_NEAR(sim::dot(b.up, b.forward), 0, 1e-9);
      EXPECT_NEAR(sim::dot(b.right, sim::cross(b.up, b.forward)), 1, 1e-9);
      EXPECT_GT(b.up.y, 0.9) << "the road never tips over";
      // Banked into the bends: the right axis dips in a right-hand bend
      // and rises in a left-hand one.
      if (double turn = t.turn(d - 10, 20); std::fabs(turn) > 0.2) {
        EXPECT_LT(b.right.y * turn, 0) << name << " at " << d;
        ++bends;
      }
    }
    EXPECT_GT(bends, 0) << name << " is a loop: it turns somewhere";
    EXPECT_EQ(sim::make_track(name).length, t.length) << "a name always gives the same loop";
  }
  EXPECT_NE(sim::make_track("a").length, sim::make_track("b").length);
}

// --- the game ------------------------------------------------------------------

class Game : public ::testing::Test {
 protected:
  sim::game g;
  sim::scenario s;
  test::temp_dir tmp;
  const std::string &dir = tmp.path;

  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    s.cars = 4;
    g.start(s, dir);
  }

  void frames(int n) {
    for (int i = 0; i < n; ++i) g.frame();
  }
};

TEST_F(Game, TheTrackIsFoundThroughTheGamesOwnStrings) {
  const char *prefix = (const char *)(uintptr_t)word(0x5bd2e4);
  const char *name = (const char *)(uintptr_t)word(0x5ba21c + 4 * word(0x7c4ce4));
  EXPECT_STREQ(prefix, "tracks\\");
  EXPECT_STREQ(name, "alpine");
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/tracks/alpine"));
}

TEST_F(Game, CarsDriveOnTheRoadAndDriveOnAlikeFromARestoredCarObject) {
  frames(50);
  const u32 n = word(0x661a60);
  ASSERT_EQ(n, 4u);
  // What a snapshot keeps: the first 2772 bytes of each car and the tick.
  std::vector<std::vector<u8>> kept;
  for (u32 i = 0; i < n; ++i) {
    const u8 *c = (const u8 *)(uintptr_t)g.car(i);
    kept.emplace_back(c, c + 2772);
  }
  const u32 tick = word(0x853b5c);
  std::vector<vec3> start, first, second;
  for (u32 i = 0; i < n; ++i) start.push_back(car_pos(g.car(i)));

  frames(30);
  for (u32 i = 0; i < n; ++i) first.push_back(car_pos(g.car(i)));
  for (u32 i = 0; i < n; ++i) memcpy((void *)(uintptr_t)g.car(i), kept[i].data(), 2772);
  word(0x853b5c) = tick;
  frames(30);
  for (u32 i = 0; i < n; ++i) second.push_back(car_pos(g.car(i)));

  const sim::track &t = g.road();
  for (u32 i = 0; i < n; ++i) {
    EXPECT_EQ(std::memcmp(&first[i], &second[i], sizeof(vec3)), 0) << "car " << i;
    EXPECT_GT(sim::length(first[i] - start[i]), 15) << "car " << i << " barely moved";
    double off = 1e300;
    for (const vec3 &c : t.centre) off = std::min(off, std::hypot(c.x - first[i].x, c.z - first[i].z));
    EXPECT_LT(off, t.width / 2) << "car " << i << " left the road";
  }
}

TEST_F(Game, ReplayTicksOnlyWhilePlayingAndTheInterfaceRunsThreeTimesAFrame) {
  const u32 ui = host::entry_of(host::routine::replay_ui).calls;
  frames(10);
  EXPECT_EQ(word(0x853b5c), 10u);
  EXPECT_EQ(word(0x853b34), 20u);
  EXPECT_EQ(word(0x5bf268), 10u);
  EXPECT_EQ(host::entry_of(host::routine::replay_ui).calls - ui, 30u);
  word(0x8290ac) = 1;
  frames(5);
  EXPECT_EQ(word(0x853b5c), 10u) << "paused";
  word(0x8290ac) = 0;
  g.set_mode(sim::mode_menu);
  frames(5);
  EXPECT_EQ(word(0x853b5c), 10u) << "in the menu";
  EXPECT_EQ(host::entry_of(host::routine::replay_ui).calls - ui, 45u);
  EXPECT_EQ(g.ticks, 10u);
}

TEST_F(Game, CameraRequestsAndTheFadeToCameraZero) {
  const u32 cam = g.camera(0);
  g.request_camera(5);
  frames(1);
  EXPECT_EQ(word(0x8290b8), 5u);
  EXPECT_EQ(word(cam), 5u);
  EXPECT_EQ(word(0x8290c0), 0u) << "the request is taken";
  g.request_camera(9);  // no such camera
  frames(1);
  EXPECT_EQ(word(0x8290b8), 5u);
  EXPECT_EQ(word(0x8290c0), 0u);

  // The handshake the free camera's L key starts from camera 8.
  g.request_camera(7);
  frames(1);
  word(0x8290c8) = 0;
  byte(0x5c3aec) = 1;
  byte(0x81ac5c) = 0;
  frames(sim::cam0_fade_frames - 1);
  EXPECT_EQ(word(0x8290b8), 7u) << "still fading";
  EXPECT_EQ(byte(0x81ac5c), 0u);
  frames(1);
  EXPECT_EQ(word(0x8290b8), 0u);
  EXPECT_EQ(word(cam), 0u);
  EXPECT_EQ(byte(0x81ac5c), 0xffu);
  g.request_camera(7);
  frames(20);
  EXPECT_EQ(word(0x8290b8), 7u) << "a finished change is not made again";
  EXPECT_EQ(g.cam0_changes, 1u);
}

TEST_F(Game, TheGamesCamerasWatchTheirTargetCar) {
  const u32 cam = g.camera(0), target = g.car(2);
  word(cam + 0x04) = word(cam + 0x08) = target;
  frames(3);
  // The chase camera: 7 behind and 2.6 above the car, along the car's axes.
  vec3 p = car_pos(target), up = row(target + 0x40), fwd = row(target + 0x4c);
  vec3 want = p - fwd * 7 + up * 2.6, eye = row(cam + 0x14);
  EXPECT_LT(sim::length(eye - want), 1e-3);
  for (u32 type : {0u, 1u, 3u, 4u, 5u, 6u, 8u}) {
    g.request_camera(type);
    frames(2);
    eye = row(cam + 0x14);
    vec3 look = sim::normalize(car_pos(target) + row(target + 0x40) - eye);
    EXPECT_GT(sim::dot(row(cam + 0x44), look), 0.9999) << "camera " << type;
  }
  // The free camera's type is left alone by the game: nobody flies it here.
  g.request_camera(7);
  frames(1);
  eye = row(cam + 0x14);
  frames(10);
  vec3 still = row(cam + 0x14);
  EXPECT_EQ(still.x, eye.x);
  EXPECT_EQ(still.y, eye.y);
  EXPECT_EQ(still.z, eye.z);
}

TEST_F(Game, CarsJoinAtTheBackAndOneThatLeftComesBackWhereItWas) {
  frames(40);
  const u32 third = g.car(3);
  auto dist = [](u32 c) { return *(const f64 *)(uintptr_t)(c + sim::car_drive_offset); };
  double last = dist(g.car(0));
  for (u32 i = 1; i < 4; ++i) last = std::min(last, dist(g.car(i)));
  g.set_cars(6);
  EXPECT_EQ(word(0x661a60), 6u);
  EXPECT_LT(dist(g.car(4)), last);
  EXPECT_LT(dist(g.car(5)), dist(g.car(4)));
  g.set_cars(3);
  EXPECT_EQ(word(0x661a60), 3u);
  for (u32 i = 3; i < 6; ++i) EXPECT_EQ(g.car(i), 0u) << "slot " << i;
  const double left_at = dist(third);
  frames(10);
  EXPECT_EQ(dist(third), left_at) << "a car out of the replay does not drive";
  g.set_cars(4);
  EXPECT_EQ(g.car(3), third);
}

TEST_F(Game, MarkSectionsAndTheMouse) {
  g.set_marks(3);
  EXPECT_EQ(word(0x655b9c), 2u);
  ASSERT_NE(word(0x867504), 0u);
  frames(400);
  // The leading car has passed the first mark line (a third of the way
  // round): its record notes the tick.
  const u32 rec = word(0x867504) + 13844 * 1;
  EXPECT_GT(word(rec + 12), 0u);
  EXPECT_LE(word(rec + 12), word(0x853b5c));
  g.set_marks(0);
  EXPECT_EQ(word(0x655b9c), 0xffffffffu);
  EXPECT_EQ(word(0x867504), 0u);

  g.move_mouse(-5000, 30);
  EXPECT_EQ(word(0x689510), word(0x689500)) << "the mouse stays in the game's rectangle";
  EXPECT_EQ(word(0x689514), 270u);
}

}  // namespace
