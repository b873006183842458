// zephal-sim as a user runs it, a separate process through the runner: its
// log, summary, trace, car paths and the preset files it leaves behind.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>

#include "ini/ini_file.h"
#include "tests/sim/sim_process.h"

namespace {

using pose = std::array<float, 3>;

using simtest::csv;
using simtest::has;

struct result {
  int status = -1;
  std::string out, err, log;
  csv trace, cars;
  long at(size_t frame, const char *column) const { return (long)trace.num(frame, column); }
  pose camera(size_t f) const { return {trace.flt(f, "x_m"), trace.flt(f, "y_m"), trace.flt(f, "z_m")}; }
  long free(size_t f) const { return trace.cell(f, "free_cam") == "on"; }
  // Car positions by (tick, car) over frames [from, to).
  std::map<std::pair<long, long>, pose> car_paths(long from, long to) const {
    std::map<std::pair<long, long>, pose> m;
    for (size_t i = 0; i < cars.size(); ++i)
      if (long f = (long)cars.num(i, "frame"); f >= from && f < to)
        m[{(long)cars.num(i, "tick"), (long)cars.num(i, "car")}] = {cars.flt(i, "x_m"), cars.flt(i, "y_m"), cars.flt(i, "z_m")};
    return m;
  }
};

struct Sim : ::testing::Test {
  test::temp_dir tmp;
  const std::string game_dir = tmp / "game";

  // Plays NAME.scn with its own output folder in the fixture's game directory.
  result play(const std::string &name, const std::string &text, const std::vector<std::string> &more = {}) {
    const std::string file = tmp / (name + ".scn"), out = tmp / ("out-" + name), base = out + "/" + name;
    test::write_text(file, text);
    const kit::ran ran = simtest::sim(simtest::quiet(file, game_dir, out, more));
    result r;
    r.status = ran.status, r.out = ran.out, r.err = ran.err;
    r.log = test::read_text(base + ".log");
    r.trace = csv(test::read_text(base + ".trace.csv"));
    r.cars = csv(test::read_text(base + ".cars.csv"));
    return r;
  }
};

#define ASSERT_RAN(r) ASSERT_EQ((r).status, 0) << (r).err << (r).out

TEST_F(Sim, RewindPutsTheCarsBackAndTheyDriveOnFromThereAndSeekForwardRunsOn) {
  result r = play("rewind",
                  "cars 5\nframes 500\n"
                  "@200 press SHIFT+COMMA   # 64 ticks back, paused\n"
                  "+30  press SPACE         # play on\n"
                  "@400 press SPACE\n"
                  "+10  press SHIFT+PERIOD  # no snapshot ahead: the replay runs to the tick\n");
  ASSERT_RAN(r);
  const long before = r.at(199, "tick"), target = before - 64;
  EXPECT_TRUE(has(r.log, test::format("zephal: rewound to tick %ld (-64)\n", target))) << r.log;
  EXPECT_EQ(r.log.find("rewound"), r.log.rfind("rewound")) << r.log;
  for (size_t f = 200; f < 230; ++f)
    EXPECT_EQ(std::pair(r.at(f, "tick"), r.at(f, "paused")), std::pair(target, 1L)) << "frame " << f;
  // Every car where it was at that tick the first time, and tick by tick on
  // from there exactly as the first time.
  auto first = r.car_paths(0, 200), again = r.car_paths(200, 400);
  int same = 0;
  for (auto &[key, p] : again)
    if (key.first <= before) {
      EXPECT_EQ(p, first[key]) << "tick " << key.first << " car " << key.second;
      ++same;
    }
  EXPECT_EQ(same, 65 * 5);
  for (long c = 0; c < 5; ++c)
    EXPECT_NE(first[std::pair(before, c)], first[std::pair(target, c)]) << "car " << c << " never moved";

  const long paused_at = r.at(400, "tick");
  EXPECT_EQ(paused_at, target + 170);
  EXPECT_EQ(std::pair(r.at(409, "paused"), r.at(410, "paused")), std::pair(1L, 0L));
  long highest = 0;
  for (size_t f = 0; f < r.trace.size(); ++f) highest = std::max(highest, r.at(f, "tick"));
  EXPECT_EQ(highest, paused_at + 64);
  EXPECT_EQ(std::pair(r.at(499, "tick"), r.at(499, "paused")), std::pair(paused_at + 64, 1L));
}

TEST_F(Sim, PresetSavedInOneRunIsRecalledInTheNext) {
  result saved = play("save", "frames 100\n@20 camera 7\n+10 hold W 30\n+0 mouse 8 -3 30\n+40 press CTRL+4\n");
  ASSERT_RAN(saved);
  std::string windows = "Z:" + game_dir;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  EXPECT_TRUE(has(saved.log, "zephal: preset 4 saved (" + windows + "\\tracks\\alpine\\freecam.ini)\n"))
      << saved.log;
  // The pose the free camera had put into the camera object by the frame before the save.
  const std::string ini = test::read_text(game_dir + "/tracks/alpine/freecam.ini");
  std::string_view value[4];
  for (int k = 0; k < 4; ++k) ASSERT_TRUE(ini::find_value(ini, "Pos4", std::array{"x", "y", "z", "used"}[k], value[k])) << ini;
  EXPECT_EQ(value[3], "1") << ini;
  pose file;
  for (int k = 0; k < 3; ++k) file[k] = std::bit_cast<float>((u32)strtoul(std::string(value[k]).c_str(), nullptr, 16));
  EXPECT_EQ(file, saved.camera(69));
  EXPECT_NE(file, saved.camera(19)) << "the camera never flew";

  result recalled = play("recall", "frames 60\n@10 press 5   # never saved\n@30 press 4\n");
  ASSERT_RAN(recalled);
  EXPECT_TRUE(has(recalled.log, "zephal: preset 5 empty\n")) << recalled.log;
  // Off at the key press: the game is asked for the free camera, which takes
  // the preset at its first update.
  EXPECT_EQ(std::pair(recalled.at(11, "cam_type"), recalled.at(30, "cam_type")), std::pair(0L, 0L));
  EXPECT_EQ(std::pair(recalled.at(31, "cam_type"), recalled.free(31)), std::pair(7L, 1L));
  EXPECT_EQ(recalled.camera(31), file);
  EXPECT_TRUE(has(recalled.out, "recalled 1 (4); 1 of the recalls first brought the free camera on")) << recalled.out;
}

TEST_F(Sim, FreeCameraSkipsTheGamesCameraRoutineAndReplayInterface) {
  result r = play("skip", "frames 120\n@30 camera 7\n@90 camera 0\n");
  ASSERT_RAN(r);
  for (size_t f = 0; f < 120; ++f) EXPECT_EQ(r.free(f), f >= 30 && f < 90 ? 1 : 0) << "frame " << f;
  // The chase camera moves with its car; the free camera, left alone, does not.
  EXPECT_NE(r.camera(28), r.camera(29));
  for (size_t f = 31; f < 90; ++f) EXPECT_EQ(r.camera(f), r.camera(30)) << "frame " << f;
  EXPECT_TRUE(has(r.out, "left to the free camera on 60 of 120 camera updates; the game's own camera ran 60")) << r.out;
  // Three interface calls a frame; the free camera takes over at the camera
  // update, after the interface calls of frame 30 ran.
  EXPECT_TRUE(has(r.out, "held back on 177 of its 360 calls")) << r.out;
}

TEST_F(Sim, ReplayOnlyLetsTheFreeCameraGoWhenTheGameLeavesReplay) {
  const std::string text =
      "cars 4\nframes 160\n@20 camera 7\n@40 press Z   # bind the next car\n@80 mode menu\n@120 mode replay\n";
  result r = play("menu", text), kept = play("kept", text + "setting ReplayOnly=0\n");
  ASSERT_RAN(r);
  ASSERT_RAN(kept);
  EXPECT_EQ(std::pair(r.free(79), r.at(79, "target_car")), std::pair(1L, 1L));
  for (size_t f = 80; f < 120; ++f)
    EXPECT_EQ(std::pair(r.free(f), r.at(f, "cam_type")), std::pair(0L, 7L)) << "frame " << f;
  EXPECT_EQ(r.at(80, "target_car"), 0) << "the camera's own target car comes back";
  EXPECT_EQ(r.free(120), 1);
  EXPECT_TRUE(has(r.out, "came on twice, gave the view back once")) << r.out;
  for (size_t f = 21; f < 160; ++f) EXPECT_EQ(kept.free(f), 1) << "frame " << f;
  EXPECT_EQ(kept.at(100, "target_car"), 1);
}

TEST_F(Sim, TheDllPlaysTheSameReplayAsTheSharedObject) {
  if (!std::filesystem::exists(ZEPHAL_Z9P_PATH)) GTEST_SKIP() << ZEPHAL_Z9P_PATH << " was not built";
  const std::string text =
      "cars 6\nframes 300\n@20 camera 7\n+5 hold SHIFT+W 40\n+0 mouse 5 2 40\n+0 hold Q 20\n+45 press V\n"
      "+5 press C\n+10 press Z\n+10 press B\n+10 hold D 30\n+40 press CTRL+COMMA\n+20 press SPACE\n";
  result so = play("so", text, {"--clean"});
  result dll = play("dll", text, {"--clean", "--module", ZEPHAL_Z9P_PATH});
  ASSERT_RAN(so);
  ASSERT_RAN(dll);
  EXPECT_TRUE(has(dll.log, "zephal.z9p at 0x")) << dll.log;
  EXPECT_TRUE(has(dll.log, "within rel32 reach")) << dll.log;
  EXPECT_TRUE(has(so.log, "zephal: rewound to tick")) << so.log;
  ASSERT_EQ(so.trace.size(), 300u);
  EXPECT_EQ(so.trace.rows, dll.trace.rows);
  EXPECT_EQ(so.cars.rows, dll.cars.rows);
}

}  // namespace
