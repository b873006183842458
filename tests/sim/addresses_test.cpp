// The plug-in, the simulator and the tests each keep their own list of the
// game's words. Where the lists meet, a word has one address and one name, so
// that a reader can follow it from one side to the other. Names compare
// without their ga_ prefix. The lists are read from the headers themselves, so
// a word added on any side is checked too.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/types.h"

namespace {

struct game_word {
  std::string name;   // without the prefix
  u32 addr;
  std::string where;  // file:line
};

// Every "<prefix>_<name> = 0x..." declared in the files.
std::vector<game_word> read_words(const std::vector<std::string> &files, const std::string &prefixes) {
  const std::regex decl("\\b(?:" + prefixes + ")_(\\w+)\\s*=\\s*(0x[0-9a-fA-F]+)");
  std::vector<game_word> words;
  for (const std::string &file : files) {
    std::ifstream in(ZEPHAL_SOURCE_DIR "/" + file);
    EXPECT_TRUE(in) << "cannot read " << file << " under " << ZEPHAL_SOURCE_DIR;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
      for (std::sregex_iterator m(line.begin(), line.end(), decl), end; m != end; ++m)
        words.push_back({(*m)[1], (u32)std::stoul((*m)[2], nullptr, 16), file + ":" + std::to_string(n)});
  }
  return words;
}

TEST(GameWords, WhereThePlugInsAndTheSimulatorsListsMeetAWordHasOneAddressAndOneName) {
  const std::vector<game_word> plugin = read_words(
      {"base/game_memory.h", "freecam/game_words.h", "rewind/ring.h", "presets/preset_file.h"}, "ga");
  const std::vector<game_word> sim = read_words({"sim/replay_model.h", "tests/game_words.h"}, "ga");
  std::vector<std::string> differ;
  u32 shared = 0;
  for (const game_word &p : plugin)
    for (const game_word &s : sim) {
      shared += p.addr == s.addr && p.name == s.name;
      if ((p.addr == s.addr) != (p.name == s.name)) differ.push_back(p.name + " (" + p.where + ") and " + s.name + " (" + s.where + ")");
    }
  EXPECT_EQ(differ, std::vector<std::string>{});
  EXPECT_GE(shared, 20u) << "the replay, camera, car, mouse, mark and track words are in both";
}

}  // namespace
