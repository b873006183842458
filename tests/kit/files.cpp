#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/game_image.h"
#include "tests/kit/kit.h"

namespace kit {

temp_dir::temp_dir(const char *prefix) {
  std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
  path = mkdtemp(tmpl.data());
}
temp_dir::~temp_dir() { std::filesystem::remove_all(path); }

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
void write_text(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

u32 game_string(const std::string &s) {
  const u32 at = host::game_alloc((u32)s.size() + 1);
  memcpy((void *)(uintptr_t)at, s.c_str(), s.size() + 1);
  return at;
}

}  // namespace kit
