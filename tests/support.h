// What every test group needs: a log the plug-in's messages land in, the
// shared kit (folders, files, programs), and the plug-in and the stand-in game
// put back to the state of a freshly loaded module in a freshly started game.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/game_memory.h"
#include "base/log.h"
#include "base/settings.h"
#include "freecam/record.h"
#include "host/game_image.h"
#include "host/win32.h"
#include "presets/presets.h"
#include "rewind/keys.h"
#include "rewind/ring.h"
#include "tests/game_words.h"
#include "tests/kit/kit.h"

namespace test {

// printf into a std::string, for expected log lines.
inline std::string vformat(const char *f, va_list args) {
  char text[1024];
  vsnprintf(text, sizeof text, f, args);
  return text;
}
inline std::string format(const char *f, ...) {
  va_list args;
  va_start(args, f);
  std::string text = vformat(f, args);
  va_end(args);
  return text;
}

// The loader's log as the plug-in writes it: one message per call.
inline std::vector<std::string> log;
inline void collect(const char *f, ...) {
  va_list args;
  va_start(args, f);
  log.push_back(vformat(f, args));
  va_end(args);
}

using kit::read_text;
using kit::temp_dir;
using kit::write_text;
using kit::game_string;
using kit::quote;
using kit::ran;

// A program's run and what it must give: the exit status and a part of what
// it printed. expect_runs runs each row through run(args) and names the row
// that fails.
struct run_row {
  std::vector<std::string> args;
  int status;
  std::string says;
};
template <class Run> void expect_runs(Run run, const std::vector<run_row> &rows) {
  for (const run_row &row : rows) {
    const ran r = run(row.args);
    EXPECT_EQ(r.status, row.status) << row.says;
    EXPECT_TRUE(r.has(row.says)) << row.says << "\n" << r.out << r.err;
  }
}

// UTF-8 text as UTF-16 with its byte-order mark, little- or big-endian.
inline std::string utf16(const std::string &utf8, bool le) {
  std::string out = le ? "\xff\xfe" : "\xfe\xff";
  for (size_t i = 0; i < utf8.size();) {
    u32 c = (u8)utf8[i];
    int n = c < 0x80 ? 0 : c < 0xe0 ? 1 : 2;
    if (n) c &= 0x3f >> n;
    for (int k = 1; k <= n; ++k) c = c << 6 | ((u8)utf8[i + k] & 0x3f);
    i += n + 1;
    out += (char)(le ? c & 0xff : c >> 8);
    out += (char)(le ? c >> 8 : c & 0xff);
  }
  return out;
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

// A branch as the processor reads it at site: opcode, rel32, NOPs to len.
inline std::vector<u8> branch_bytes(u8 op, u32 site, u32 target, u32 len) {
  const u32 d = target - (site + 5);
  std::vector<u8> b = {op, (u8)d, (u8)(d >> 8), (u8)(d >> 16), (u8)(d >> 24)};
  b.resize(len, 0x90);
  return b;
}

// Floats only as bit patterns: the x87 stack would quiet a signalling NaN.
inline u32 bits(const f32 &f) {
  u32 b;
  memcpy(&b, &f, 4);
  return b;
}
inline void set_bits(f32 &f, u32 b) { memcpy(&f, &b, 4); }

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
    kit::fresh_module();
    host::word(ga_mode) = mode_replay;
  }
  void TearDown() override { zp_ring_reset(); }
};

// A replay on track 3, "alpine", of a game in dir with its settings read,
// five cars and a free camera in view 0: where presets are saved and
// recalled. ini is the track's preset file.
struct on_track : plugin {
  temp_dir dir;
  const std::string ini = dir / "tracks/alpine/freecam.ini";
  u32 cam = 0, cars[5] = {};
  void SetUp() override {
    plugin::SetUp();
    std::filesystem::create_directories(dir / "tracks/alpine");
    host::set_module_path(host::windows_path(dir.path) + "\\game.exe");
    zp_load_settings();
    set_words({{at::ga_track_dir, game_string("tracks\\")}, {at::ga_track_number, 3},
               {at::ga_track_names + 4 * 3, game_string("alpine")}});
    for (u32 i = 0; i < 5; ++i) cars[i] = host::make_car(i, 0, 0, 0);
    host::word(at::ga_car_count) = 5;
    cam = host::make_camera(at::cam_type_free, 0);
  }
};

}  // namespace test
