// The simulated game without the plug-in, as far as scenarios rely on it:
// the replay's tick words and pause, and the camera requests. (That a car
// object put back drives on exactly as before, sim_run's rewind shows.)
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
};

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
