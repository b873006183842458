// What zephal.z9p tells its loader, read from the file: the manifest (name,
// version, the build check) and the patch definitions, exactly as the loader
// and the plug-in's own walk will see them. The tools read them from the
// plug-in the player has rather than carrying a copy of their own, so a check
// can never disagree with the module that is installed.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace tools {

struct plugin_def {
  u32 kind = 0, rva = 0, len = 0;
  bool has_expect = false;
  std::string expect;  // hex pattern of the bytes the site must hold
  std::string name;    // "?" when the definition has none, as the plug-in prints it
};

struct plugin_tables {
  std::string path;
  std::string id, description, version;
  u32 abi = 0;
  std::string check_hex;
  u32 check_rva = 0;
  std::vector<plugin_def> defs;
};

// Reads the manifest and the definitions of the plug-in module at path. On
// failure returns false and says what is wrong.
bool read_plugin(const std::string &path, plugin_tables &t, std::string &error);

// The number of bytes a hex pattern describes (two tokens a byte, a lone
// last token counting as a whole byte), as the loader compares the build
// check over them.
u32 pattern_bytes(const std::string &pattern);

}  // namespace tools
