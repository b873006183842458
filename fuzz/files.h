// Real files for the drivers that go through the profile functions: one
// folder under /tmp for the process, removed at its end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fuzz {

struct temp_dir {
  std::string path;
  temp_dir() {
    char tmpl[] = "/tmp/zephal-fuzz-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~temp_dir() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

inline const temp_dir &folder() {
  static temp_dir dir;
  return dir;
}

inline std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_text(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace fuzz
