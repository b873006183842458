// Profile files in a real folder, reached by Windows paths as the plug-in
// names them, and the profile calls in the short forms the checks compare.
#pragma once

#include <algorithm>
#include <filesystem>

#include "tests/support.h"

namespace test {

struct profile_dir : ::testing::Test {
  temp_dir dir;
  std::string win(const std::string &name) { return host::windows_path(dir / name); }
  std::string put(const std::string &name, const std::string &bytes) {  // the file written; its Windows path
    write_text(dir / name, bytes);
    return win(name);
  }
  std::string slurp(const std::string &name) { return read_text(dir / name); }
  std::vector<std::string> names() {  // what the folder holds, sorted
    std::vector<std::string> n;
    for (auto &e : std::filesystem::directory_iterator(dir.path)) n.push_back(e.path().filename());
    std::sort(n.begin(), n.end());
    return n;
  }
};

inline BOOL wpps(const char *app, const char *key, const char *value, const std::string &f) {
  return WritePrivateProfileStringA(app, key, value, f.c_str());
}
// "ret,text": the return value and the buffer (filled with 0x0c first) as a
// C string, its first byte for size 0.
inline std::string gpps(const char *app, const char *key, const std::string &f, const char *def = "default",
                        DWORD n = 100) {
  char buf[300];
  memset(buf, 0x0c, sizeof buf);
  const DWORD r = GetPrivateProfileStringA(app, key, def, buf, n, f.c_str());
  return std::to_string(r) + "," + (n ? std::string(buf) : std::string(1, buf[0]));
}

}  // namespace test
