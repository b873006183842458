// What every test group needs: a log the plug-in's messages land in, a real
// temporary folder, and the plug-in and the stand-in game put back to the
// state of a freshly loaded module in a freshly started game.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/game_view.h"
#include "base/log.h"
#include "base/settings.h"
#include "freecam/record.h"
#include "host/game_image.h"
#include "host/win32.h"
#include "presets/presets.h"
#include "rewind/keys.h"
#include "rewind/ring.h"
#include "tests/fresh_module.h"
#include "tests/game_words.h"

namespace test {

// The loader's log as the plug-in writes it: one message per call.
inline std::vector<std::string> log;
inline void collect(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  log.push_back(text);
}

// printf into a std::string, for expected log lines.
inline std::string format(const char *f, ...) {
  char text[1024];
  va_list args;
  va_start(args, f);
  vsnprintf(text, sizeof text, f, args);
  va_end(args);
  return text;
}

// A real folder under /tmp, removed with everything in it.
struct temp_dir {
  std::string path;
  temp_dir() {
    char tmpl[] = "/tmp/zephal-test-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~temp_dir() { std::filesystem::remove_all(path); }
  temp_dir(const temp_dir &) = delete;
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

inline std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
inline void write_text(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Game words written in one go, and read back as a list.
inline void set_words(std::initializer_list<std::pair<u32, u32>> words) {
  for (auto [addr, value] : words) host::word(addr) = value;
}
inline std::vector<u32> words(const std::vector<u32> &addrs) {
  std::vector<u32> v;
  for (u32 a : addrs) v.push_back(host::word(a));
  return v;
}
using values = std::vector<u32>;

// A zero-terminated string in the game's heap; its game address.
inline u32 game_string(const char *s) {
  u32 at = host::game_alloc((u32)strlen(s) + 1);
  memcpy((void *)(uintptr_t)at, s, strlen(s) + 1);
  return at;
}

// The plug-in as loaded and entered, on a fresh game in replay playback:
// the state Z9_Apply leaves, without the patches (tests call the handlers
// directly or patch what they need).
struct plugin : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    host::release_all_keys();
    host::set_tick(0);
    game = 0x400000;
    logger = collect;
    log.clear();
    fresh_module();
    host::word(ga_mode) = mode_replay;
  }
  void TearDown() override { zp_ring_reset(); }
};

}  // namespace test
