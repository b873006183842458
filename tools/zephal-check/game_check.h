// Does the plug-in fit a game build? The same question the loader and the
// plug-in's patch walk answer when the game starts, asked of the game's
// executable on disk beforehand: the manifest's build check, then every patch
// definition's expected bytes at its place, with the plug-in's own matcher.
#pragma once

#include <string>
#include <vector>

#include "tools/common/pe_file.h"
#include "tools/common/plugin_file.h"

namespace tools {

// The one address the plug-in works with: the game's code and data are
// reached at the addresses the game was linked for.
constexpr u32 game_image_base = 0x400000;

struct site_check {
  enum verdict_t { fits, differs, missing, not_checked };
  std::string what;      // "build check" or the definition's name
  u32 rva = 0;
  std::string expected;  // the hex pattern
  std::vector<u8> found;  // the bytes at the place, when the file holds them
  verdict_t verdict = fits;
  std::string note;      // why missing or not checked
};

struct game_check {
  bool base_fits = true;  // the game is linked at 0x400000
  std::vector<site_check> sites;  // the build check first, then the definitions in walk order
  bool all_fit() const;
};

game_check check_game(const pe_file &game, const plugin_tables &plugin);

}  // namespace tools
