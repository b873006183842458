// The scenario format: what a timeline means frame by frame, the key names,
// the set-up lines and the refusals.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "sim/scenario.h"

namespace {

using sim::action;

sim::scenario parse(const std::string &text) {
  sim::scenario s;
  std::string error;
  EXPECT_TRUE(sim::parse_scenario_text(text, "t.scn", s, &error)) << error;
  return s;
}

// One timeline entry as "frame kind a b".
std::string show(const action &a) {
  static const char *kinds[] = {"down", "up", "mouse", "camera", "mode", "cars", "marks", "view1"};
  return std::to_string(a.frame) + " " + kinds[a.kind] + " " + std::to_string(a.a) +
         (a.kind == action::mouse ? " " + std::to_string(a.b) : "");
}

TEST(Scenario, TimelineRunsByFrameWithScheduledReleasesFirst) {
  sim::scenario s = parse(
      "@11 down W          # pressed again the frame the press below lets it up\n"
      "@10 press W\n"
      "+6  hold CTRL+4 3\n"
      "@5  mouse 1 -2 3\n"
      "+0  camera 7\n");
  std::vector<std::string> got;
  for (const action &a : s.timeline) got.push_back(show(a));
  const std::vector<std::string> want = {
      "5 mouse 1 -2", "5 camera 7", "6 mouse 1 -2", "7 mouse 1 -2",
      "10 down 87",   "11 up 87",   "11 down 87",   "16 down 17",
      "16 down 52",   "19 up 17",   "19 up 52",
  };
  EXPECT_EQ(got, want);
  EXPECT_EQ(s.timeline[1].line, 5);  // +0 counts from the line before it, @5
}

TEST(Scenario, SetUpLinesAndTheirDefaults) {
  sim::scenario d = parse("# nothing but a comment\n\n");
  EXPECT_EQ(d.track, "alpine");
  EXPECT_EQ(d.frames, 600u);
  EXPECT_EQ(d.cars, 8u);
  EXPECT_EQ(d.marks, 2u);
  EXPECT_EQ(d.mode, sim::mode_replay);
  EXPECT_EQ(d.camera, 0u);
  EXPECT_EQ(d.view1, sim::view1_off);
  EXPECT_TRUE(d.settings.empty() && d.timeline.empty());

  sim::scenario s = parse(
      "TRACK Harbour_2\r\n"
      "frames 90\r\n"
      "cars 16\n"
      "marks 0\n"
      "mode menu\n"
      "camera 8\n"
      "view1 7\n"
      "setting   RewindTicks = 1024 \n"
      "setting KeyW=0x57\n");
  EXPECT_EQ(s.track, "Harbour_2");
  EXPECT_EQ(s.frames, 90u);
  EXPECT_EQ(s.cars, 16u);
  EXPECT_EQ(s.marks, 0u);
  EXPECT_EQ(s.mode, sim::mode_menu);
  EXPECT_EQ(s.camera, 8u);
  EXPECT_EQ(s.view1, 7);
  using kv = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(s.settings, (kv{{"RewindTicks", "1024"}, {"KeyW", "0x57"}}));
  EXPECT_EQ(s.name, "t");
}

TEST(Scenario, KeyNamesAreWindowsVirtualKeys) {
  const std::pair<const char *, int> keys[] = {
      {"w", 0x57},     {"W", 0x57},     {"SPACE", 0x20}, {"comma", 0xbc}, {"Period", 0xbe},
      {"ctrl", 0x11},  {"SHIFT", 0x10}, {"0", 0x30},     {"9", 0x39},     {"F1", 0x70},
      {"f12", 0x7b},   {"0xBC", 0xbc},  {"vk188", 0xbc}, {"ESC", 0x1b},   {"left", 0x25},
  };
  for (auto &[name, vk] : keys) EXPECT_EQ(sim::key_code(name), vk) << name;
  for (const char *bad : {"", "WW", "F13", "F0", "0x", "0x100", "vk0", "vk256", "SPACEBAR"})
    EXPECT_EQ(sim::key_code(bad), 0) << bad;
  for (int vk : {0x57, 0x34, 0x20, 0xbc, 0x11, 0x9f})
    EXPECT_EQ(sim::key_code(sim::key_name(vk)), vk) << vk;
}

TEST(Scenario, RefusedLinesNameTheLineAndTheReason) {
  const std::tuple<const char *, int, const char *> cases[] = {
      {"setting =5\n", 1, "'' is not a setting name"},
      {"setting Key=\n", 1, "setting Key has no value"},
      {"setting Key\n", 1, "expected: setting KEY=VALUE"},
      {"\n@5 mouse 1\n", 2, "expected: @N mouse DX DY [FRAMES]"},
      {"@5 view1 9\n", 1, "camera type 9 is out of range (0 to 8)"},
      {"@5 camera seven\n", 1, "replay camera 'seven' is not a whole number"},
      {"@-1 press W\n", 1, "'@-1' is not a frame"},
      {"+3\n", 1, "a frame without anything happening on it"},
      {"track a/b\n", 1, "track name 'a/b'"},
      {"frames 0\n", 1, "number of frames 0 is out of range"},
      {"@5 hold W 0\n", 1, "hold length 0 is out of range"},
      {"@5 press CTRL+\n", 1, "a key name is missing in 'CTRL+'"},
      {"@5 mode pause\n", 1, "unknown game mode 'pause'"},
      {"@5 frames 10\n", 1, "'frames' belongs to the set-up"},
      {"frames 10\n@2 press W\n+8 press W\n", 3, "frame 10 is past the end of the run (frames 10 are 0 to 9)"},
  };
  for (auto &[text, line, why] : cases) {
    sim::scenario s;
    s.track = "untouched";
    std::string error;
    EXPECT_FALSE(sim::parse_scenario_text(text, "t.scn", s, &error)) << text;
    EXPECT_EQ(error.rfind("t.scn:" + std::to_string(line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(why), std::string::npos) << error;
    EXPECT_EQ(s.track, "untouched") << "a refused scenario leaves the caller's alone";
  }
}

}  // namespace
