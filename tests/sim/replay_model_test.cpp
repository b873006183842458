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

struct ReplayModel : ::testing::Test {
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

TEST_F(ReplayModel, CarsDriveOnFromARestoredCarObjectExactlyAsTheFirstTime) {
  frames(50);
  ASSERT_EQ(word(at::ga_car_count), 4u);
  // What a snapshot keeps: the first 2772 bytes of each car object, and the tick.
  std::vector<std::vector<u8>> kept;
  for (u32 i = 0; i < 4; ++i) kept.emplace_back((u8 *)(uintptr_t)g.car(i), (u8 *)(uintptr_t)g.car(i) + 2772);
  const u32 tick = word(at::ga_tick);
  const std::vector<u32> start = positions();
  frames(30);
  const std::vector<u32> first = positions();
  for (u32 i = 0; i < 4; ++i) memcpy((void *)(uintptr_t)g.car(i), kept[i].data(), 2772);
  word(at::ga_tick) = tick;
  frames(30);
  EXPECT_EQ(positions(), first);
  for (u32 i = 0; i < 4; ++i) {
    double d2 = 0;
    for (u32 k = 3 * i; k < 3 * i + 3; ++k)
      d2 += std::pow(std::bit_cast<f32>(first[k]) - std::bit_cast<f32>(start[k]), 2);
    EXPECT_GT(d2, 15 * 15) << "car " << i << " barely moved";
  }
}

TEST_F(ReplayModel, ReplayTicksOnlyWhilePlayingAndTheInterfaceRunsThreeTimesAFrame) {
  const u32 ui = host::entry_of(host::routine::arm).calls;
  frames(10);
  EXPECT_EQ(std::tuple(word(at::ga_tick), word(at::ga_tick_alt), word(at::ga_half_tick)), std::tuple(10u, 20u, 10u));
  EXPECT_EQ(host::entry_of(host::routine::arm).calls - ui, 30u);
  word(at::ga_pause) = 1;
  frames(5);
  EXPECT_EQ(word(at::ga_tick), 10u) << "paused";
  word(at::ga_pause) = 0;
  g.set_mode(sim::mode_menu);
  frames(5);
  EXPECT_EQ(word(at::ga_tick), 10u) << "in the menu";
  EXPECT_EQ(host::entry_of(host::routine::arm).calls - ui, 45u) << "called while paused, not in the menu";
  EXPECT_EQ(g.ticks, 10u);
}

TEST_F(ReplayModel, CameraRequestsAndTheChangeToCameraZero) {
  const u32 cam = g.camera(0);
  g.request_camera(5);
  frames(1);
  EXPECT_EQ(std::tuple(word(at::ga_cam_current), word(cam), word(at::ga_cam_request_flag)), std::tuple(5u, 5u, 0u)) << "taken";
  g.request_camera(9);  // no such camera
  frames(1);
  EXPECT_EQ(std::tuple(word(at::ga_cam_current), word(at::ga_cam_request_flag)), std::tuple(5u, 0u));

  // The handshake the free camera's L key starts from camera 8.
  g.request_camera(7);
  frames(1);
  word(at::ga_cam0_timer) = 0;
  byte(at::ga_cam0_request) = 1;
  byte(at::ga_cam0_state) = 0;
  frames(sim::cam0_fade_frames - 1);
  EXPECT_EQ(std::tuple(word(at::ga_cam_current), byte(at::ga_cam0_state)), std::tuple(7u, (u8)0)) << "still fading";
  frames(1);
  EXPECT_EQ(std::tuple(word(at::ga_cam_current), word(cam), byte(at::ga_cam0_state)), std::tuple(0u, 0u, (u8)0xff));
  g.request_camera(7);
  frames(20);
  EXPECT_EQ(word(at::ga_cam_current), 7u) << "a finished change is not made again";
  EXPECT_EQ(g.cam0_changes, 1u);
}

}  // namespace
