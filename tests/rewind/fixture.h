// The rewind tests' common ground: the host's game image in replay mode,
// real car objects, a real array of mark-section records outside the image,
// and a log collector that stamps each line with the host clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/game.h"
#include "host/win32.h"
#include "patches/hooks.h"
#include "plugin/settings.h"
#include "plugin/z9.h"
#include "rewind/keys.h"
#include "rewind/ring.h"
#include "rewind/seek.h"

namespace rw {

using host::word;
using list = std::vector<std::string>;
using bytes = std::vector<u8>;
constexpr u32 data_begin = host::code_end, data_end = host::image_end;

inline list lines;  // "<GetTickCount> <message>"
inline void collect(const char *format, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  lines.push_back(std::to_string(GetTickCount()) + " " + buf);
}

inline u8 pattern(u32 addr, u32 seed) {  // differs with address and seed
  u32 x = addr * 0x9e3779b1u + seed * 0x85ebca6bu;
  return (u8)(((x ^ x >> 13) * 0xc2b2ae35u) >> 24);
}
inline bytes mem(u32 addr, u32 len) { return bytes((u8 *)(uintptr_t)addr, (u8 *)(uintptr_t)addr + len); }
inline bytes image() { return mem(data_begin, data_end - data_begin); }
inline u32 &at(bytes &img, u32 addr) { return *(u32 *)(void *)&img[addr - data_begin]; }
// The first addresses where the game's data differs from want, or "".
inline std::string diff(const bytes &want) {
  std::string out;
  for (u32 a = data_begin, shown = 0; a < data_end && shown < 6; ++a)
    if (host::byte(a) != want[a - data_begin]) out += std::to_string(a) + " ", ++shown;
  return out;
}

struct Rewind : ::testing::Test {
  bytes marks;  // mark-section records
  std::vector<u32> car_objs;

  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    game = 0x400000;
    logger = collect;
    lines.clear();
    zp_ring_reset();
    zp_keys_reset();
    zp_reset_settings();
    host::release_all_keys();
    host::set_tick(0);
    word(0x8290a0) = 2;
    word(0x655b9c) = 0xffffffff;
  }
  void TearDown() override {
    zp_ring_reset();
    EXPECT_EQ(host::virtual_blocks_live(), 0u);
    logger = nullptr;
  }
  void cars(u32 n) {
    car_objs.clear();
    for (u32 i = 0; i < n; ++i) car_objs.push_back(host::make_car(i, (f32)i, 0, 0));
    word(0x661a60) = n;
  }
  void mark_sections(u32 m) {
    marks.assign(m * 13844 + 1, 0);
    word(0x867504) = (u32)(uintptr_t)marks.data();
    word(0x655b9c) = m - 1;
  }
  void capture_range(u32 first, u32 last) {
    for (u32 t = first; t - first <= last - first; ++t) {
      word(0x7c3c04) = t * 7;  // tells the slots apart
      word(0x853b5c) = t;
      z9_zp_capture();
    }
  }
  // Patterns the data part of the image and the mark records, keeping the
  // game mode and the words that locate cars and marks.
  void fill(u32 seed) {
    u32 keep[] = {0x8290a0, 0x661a60, 0x655b9c, 0x867504}, kept[4 + 64];
    for (u32 i = 0; i < 4 + 64; ++i) kept[i] = word(i < 4 ? keep[i] : 0x661a88 + 4 * (i - 4));
    for (u32 a = data_begin; a < data_end; ++a) host::byte(a) = pattern(a, seed);
    for (u32 i = 0; i < marks.size(); ++i) marks[i] = pattern(i, seed + 77);
    for (u32 i = 0; i < 4 + 64; ++i) word(i < 4 ? keep[i] : 0x661a88 + 4 * (i - 4)) = kept[i];
  }
  std::string last() { return lines.empty() ? "" : lines.back().substr(lines.back().find(' ') + 1); }
};

}  // namespace rw
