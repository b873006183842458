// The simulated game without the plug-in, as far as scenarios rely on it: a
// car object put back drives on exactly as before (what a rewind restores),
// the replay's tick words and pause, and the camera requests.
#include <bit>
#include <cmath>

#include "sim/replay_model.h"
#include "tests/support.h"

namespace {

using host::byte;
using host::word;

struct Game : ::testing::Test {
  sim::game g;
  test::temp_dir tmp;
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    sim::scenario s;
    s.cars = 4;
    g.start(s, tmp.path);
  }
  void frames(int n) { while (n-- > 0) g.frame(); }
  // Every car's position words, bit for bit.
  std::vector<u32> positions() {
    std::vector<u32> p;
    for (u32 i = 0; i < 4; ++i)
      for (u32 k = 0; k < 3; ++k) p.push_back(word(g.car(i) + 0x08 + 4 * k));
    return p;
  }
};

TEST_F(Game, CarsDriveOnFromARestoredCarObjectExactlyAsTheFirstTime) {
  frames(50);
  ASSERT_EQ(word(0x661a60), 4u);
  // What a snapshot keeps: the first 2772 bytes of each car object, and the tick.
  std::vector<std::vector<u8>> kept;
  for (u32 i = 0; i < 4; ++i) kept.emplace_back((u8 *)(uintptr_t)g.car(i), (u8 *)(uintptr_t)g.car(i) + 2772);
  const u32 tick = word(0x853b5c);
  const std::vector<u32> start = positions();
  frames(30);
  const std::vector<u32> first = positions();
  for (u32 i = 0; i < 4; ++i) memcpy((void *)(uintptr_t)g.car(i), kept[i].data(), 2772);
  word(0x853b5c) = tick;
  frames(30);
  EXPECT_EQ(positions(), first);
  for (u32 i = 0; i < 4; ++i) {
    double d2 = 0;
    for (u32 k = 3 * i; k < 3 * i + 3; ++k)
      d2 += std::pow(std::bit_cast<f32>(first[k]) - std::bit_cast<f32>(start[k]), 2);
    EXPECT_GT(d2, 15 * 15) << "car " << i << " barely moved";
  }
}

TEST_F(Game, ReplayTicksOnlyWhilePlayingAndTheInterfaceRunsThreeTimesAFrame) {
  const u32 ui = host::entry_of(host::routine::replay_ui).calls;
  frames(10);
  EXPECT_EQ(std::tuple(word(0x853b5c), word(0x853b34), word(0x5bf268)), std::tuple(10u, 20u, 10u));
  EXPECT_EQ(host::entry_of(host::routine::replay_ui).calls - ui, 30u);
  word(0x8290ac) = 1;
  frames(5);
  EXPECT_EQ(word(0x853b5c), 10u) << "paused";
  word(0x8290ac) = 0;
  g.set_mode(sim::mode_menu);
  frames(5);
  EXPECT_EQ(word(0x853b5c), 10u) << "in the menu";
  EXPECT_EQ(host::entry_of(host::routine::replay_ui).calls - ui, 45u) << "called while paused, not in the menu";
  EXPECT_EQ(g.ticks, 10u);
}

TEST_F(Game, CameraRequestsAndTheChangeToCameraZero) {
  const u32 cam = g.camera(0);
  g.request_camera(5);
  frames(1);
  EXPECT_EQ(std::tuple(word(0x8290b8), word(cam), word(0x8290c0)), std::tuple(5u, 5u, 0u)) << "taken";
  g.request_camera(9);  // no such camera
  frames(1);
  EXPECT_EQ(std::tuple(word(0x8290b8), word(0x8290c0)), std::tuple(5u, 0u));

  // The handshake the free camera's L key starts from camera 8.
  g.request_camera(7);
  frames(1);
  word(0x8290c8) = 0;
  byte(0x5c3aec) = 1;
  byte(0x81ac5c) = 0;
  frames(sim::cam0_fade_frames - 1);
  EXPECT_EQ(std::tuple(word(0x8290b8), byte(0x81ac5c)), std::tuple(7u, (u8)0)) << "still fading";
  frames(1);
  EXPECT_EQ(std::tuple(word(0x8290b8), word(cam), byte(0x81ac5c)), std::tuple(0u, 0u, (u8)0xff));
  g.request_camera(7);
  frames(20);
  EXPECT_EQ(word(0x8290b8), 7u) << "a finished change is not made again";
  EXPECT_EQ(g.cam0_changes, 1u);
}

}  // namespace
