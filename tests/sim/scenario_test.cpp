// The scenario format: the timeline frame by frame, set-up lines, key names
// and the refused lines.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "sim/scenario.h"

namespace {

TEST(Scenario, TimelineRunsByFrameWithScheduledReleasesFirst) {
  sim::scenario s;
  std::string error;
  ASSERT_TRUE(sim::parse_scenario_text("@11 down W   # again the frame the press below lets it up\n"
                                       "@10 press W\n+6 hold CTRL+4 3\n@5 mouse 1 -2 3\n+0 camera 7\n",
                                       "t.scn", s, &error)) << error;
  static const char *kinds[] = {"down", "up", "mouse", "camera", "mode", "cars", "marks", "view1"};
  std::vector<std::string> got;
  for (const sim::action &a : s.timeline)
    got.push_back(std::to_string(a.frame) + " " + kinds[a.kind] + " " + std::to_string(a.a) +
                  (a.kind == sim::action::mouse ? " " + std::to_string(a.b) + " x" + std::to_string(a.frames) : ""));
  // A mouse movement over several frames stays one action, however many.
  EXPECT_EQ(got, (std::vector<std::string>{"5 mouse 1 -2 x3", "5 camera 7", "10 down 87", "11 up 87", "11 down 87",
                                           "16 down 17", "16 down 52", "19 up 17", "19 up 52"}));
  EXPECT_EQ(s.timeline[1].line, 5);  // +0 counts from the line before it, @5

  ASSERT_TRUE(sim::parse_scenario_text("TRACK Harbour_2\r\nframes 90\r\ncars 16\nmarks 0\nmode menu\ncamera 8\n"
                                       "view1 7\nsetting   RewindTicks = 1024 \nsetting KeyW=0x57\n",
                                       "dir/t.scn", s, &error)) << error;
  EXPECT_EQ(std::tuple(s.track, s.name, s.frames, s.cars, s.marks, s.mode, s.camera, s.view1),
            std::tuple(std::string("Harbour_2"), std::string("t"), 90u, 16u, 0u, sim::mode_menu, 8u, 7));
  using kv = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(s.settings, (kv{{"RewindTicks", "1024"}, {"KeyW", "0x57"}}));
}

TEST(Scenario, KeyNamesAreWindowsVirtualKeys) {
  const std::pair<const char *, int> keys[] = {
      {"w", 0x57},  {"9", 0x39},   {"SPACE", 0x20}, {"comma", 0xbc}, {"Period", 0xbe}, {"ctrl", 0x11},
      {"F1", 0x70}, {"f12", 0x7b}, {"0xBC", 0xbc},  {"vk188", 0xbc}, {"ESC", 0x1b},    {"left", 0x25}};
  for (auto &[name, vk] : keys) EXPECT_EQ(sim::key_code(name), vk) << name;
  for (const char *bad : {"", "WW", "F13", "F0", "0x", "0x100", "vk0", "vk256", "SPACEBAR"})
    EXPECT_EQ(sim::key_code(bad), 0) << bad;
  for (int vk : {0x57, 0x34, 0x20, 0xbc, 0x11, 0x9f}) EXPECT_EQ(sim::key_code(sim::key_name(vk)), vk) << vk;
}

TEST(Scenario, RefusedLinesNameTheLineAndTheReason) {
  const std::tuple<const char *, int, const char *> cases[] = {
      {"setting =5\n", 1, "'' is not a setting name"},
      {"setting Key=\n", 1, "setting Key has no value"},
      {"setting Key\n", 1, "expected: setting KEY=VALUE"},
      {"\n@5 mouse 1\n", 2, "expected: @N mouse DX DY [FRAMES]"},
      {"@10 hold W\n", 1, "expected: @N hold KEYS FRAMES"},
      {"@5 view1 9\n", 1, "camera type 9 is out of range (0 to 8)"},
      {"cars 3\n@5 cars 17\n", 2, "number of cars 17 is out of range (0 to 16)"},
      {"@5 camera seven\n", 1, "replay camera 'seven' is not a whole number"},
      {"@-1 press W\n", 1, "'@-1' is not a frame"},
      {"@1x press W\n", 1, "'@1x' is not a frame"},
      {"+3\n", 1, "a frame without anything happening on it"},
      {"track a/b\n", 1, "track name 'a/b'"},
      {"@5 press CTRL+\n", 1, "a key name is missing in 'CTRL+'"},
      {"track alpine\n# comment\n\n@5 press FOO\n", 4, "unknown key 'FOO'"},
      {"@5 mode pause\n", 1, "unknown game mode 'pause'"},
      {"@5 frames 10\n", 1, "'frames' belongs to the set-up"},
      {"press W\n", 1, "'press' needs a frame in front of it"},
      {"@5 jump\n", 1, "unknown command 'jump'"},
      {"frames 10\n@2 press W\n+8 press W\n", 3, "frame 10 is past the end of the run (frames 10 are 0 to 9)"},
      {"frames 100\n@90 mouse 1 1 11\n", 2, "frame 100 is past the end of the run"},
      {"@1 press A+B+C+D+E+F+G+H+I\n", 1, "'A+B+C+D+E+F+G+H+I' joins more than 8 keys"},
      {"frames 10000001\n", 1, "number of frames 10000001 is out of range (1 to 10000000)"},
  };
  for (auto &[text, line, why] : cases) {
    sim::scenario s;
    s.track = "untouched";
    std::string error;
    EXPECT_FALSE(sim::parse_scenario_text(text, "t.scn", s, &error)) << text;
    EXPECT_EQ(error.rfind("t.scn:" + std::to_string(line) + ": " + why, 0), 0u) << error;
    EXPECT_EQ(s.track, "untouched") << "a refused scenario leaves the caller's alone";
  }
}

}  // namespace
