// The plug-in and the simulator each keep their own list of the game's words.
// Where the lists meet, a word must have one address and one name, or a
// reader following it from one side to the other loses it. Names compare
// without their side's prefix: ga_ in the plug-in, gw_ (word) and gb_ (byte)
// in the simulator. The lists are read from the headers themselves, so a word
// added to either side is checked without a change here.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "host/game_image.h"
#include "patches/hooks.h"
#include "plugin/game_view.h"

namespace {

const std::vector<std::string> plugin_lists = {"plugin/game_view.h", "freecam/game_words.h", "rewind/ring.h",
                                               "presets/preset_file.h"};
const std::vector<std::string> sim_lists = {"sim/replay_model.h"};

struct game_word {
  std::string name;  // without the prefix
  u32 addr;
  std::string where;  // file:line
};

// Every "<prefix>_<name> = 0x..." declared in the files.
std::vector<game_word> read_words(const std::vector<std::string> &files, const std::string &prefixes) {
  const std::regex decl("\\b(?:" + prefixes + ")_(\\w+)\\s*=\\s*(0x[0-9a-fA-F]+)");
  std::vector<game_word> words;
  for (const std::string &file : files) {
    std::ifstream in(std::string(ZEPHAL_SOURCE_DIR) + "/" + file);
    EXPECT_TRUE(in) << "cannot read " << file << " under " << ZEPHAL_SOURCE_DIR;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
      for (std::sregex_iterator m(line.begin(), line.end(), decl), end; m != end; ++m)
        words.push_back({(*m)[1], (u32)std::stoul((*m)[2], nullptr, 16), file + ":" + std::to_string(n)});
  }
  return words;
}

struct Lists : ::testing::Test {
  std::vector<game_word> plugin = read_words(plugin_lists, "ga");
  std::vector<game_word> sim = read_words(sim_lists, "gw|gb");
};

TEST_F(Lists, AnAddressInBothListsHasTheSameNameInBoth) {
  std::vector<std::string> differ;
  u32 shared = 0;
  for (const game_word &p : plugin)
    for (const game_word &s : sim)
      if (p.addr == s.addr) {
        ++shared;
        if (p.name != s.name)
          differ.push_back(p.name + " (" + p.where + ") is " + s.name + " (" + s.where + ")");
      }
  EXPECT_EQ(differ, std::vector<std::string>{});
  // The replay, camera, car, mouse, mark and track words: enough to show that
  // both lists were read at all.
  EXPECT_GE(shared, 20u);
}

TEST_F(Lists, ANameInBothListsHasTheSameAddressInBoth) {
  std::vector<std::string> differ;
  for (const game_word &p : plugin)
    for (const game_word &s : sim)
      if (p.name == s.name && p.addr != s.addr)
        differ.push_back(p.name + ": " + p.where + " and " + s.where + " differ");
  EXPECT_EQ(differ, std::vector<std::string>{});
  // The reading itself: one word as the plug-in's compiler sees it.
  auto mode = std::find_if(plugin.begin(), plugin.end(), [](const game_word &w) { return w.name == "mode"; });
  ASSERT_NE(mode, plugin.end());
  EXPECT_EQ(mode->addr, ga_mode) << mode->where;
}

// The stubs' continuation words and the plug-in's link base against the
// host's game image: where the stubs go on is where the game's routines are.
TEST(HostImage, TheStubsContinueIntoTheRoutinesTheHostLays) {
  EXPECT_EQ(game_link_base, host::image_base);
  EXPECT_EQ((std::vector<u32>{zp_freecam_stock, zp_arm_stock, zp_aux_stock, zp_tick_resume}),
            (std::vector<u32>{host::camera_routine, host::replay_ui_routine, host::frame_routine, host::tick_body}));
}

}  // namespace
