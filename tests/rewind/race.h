// A replay race for the ring's two test programs: real car objects in the
// stand-in game's heap, mark-section records off any alignment, the game's
// data patterned so that every byte a slot keeps tells where it came from.
#pragma once

#include "patches/hooks.h"
#include "rewind/seek.h"
#include "tests/support.h"

namespace race {

using host::word;
using bytes = std::vector<u8>;
constexpr u32 data_begin = host::code_end, data_end = host::image_end;
constexpr u32 mark_at = 12, mark_kept = 8;  // the bytes a slot keeps of each mark record

inline u8 pattern(u32 addr, u32 seed) {  // differs with address and seed
  u32 x = addr * 0x9e3779b1u + seed * 0x85ebca6bu;
  return (u8)(((x ^ x >> 13) * 0xc2b2ae35u) >> 24);
}

struct Race : test::plugin {
  bytes marks;  // mark-section records, from marks[1]
  std::vector<u32> car_objs;

  void SetUp() override {  // small slots unless a test wants more: one car, no marks, no effects
    test::plugin::SetUp();
    word(at::ga_mark_index) = ~0u;
    cfg_rewind_effects = 0;
    cars(1);
  }
  void cars(u32 n) {
    car_objs.clear();
    for (u32 i = 0; i < n; ++i) car_objs.push_back(host::make_car(i, (f32)i, 0, 0));
    word(at::ga_car_count) = n;
  }
  u32 mark_array() { return (u32)(uintptr_t)marks.data() + 1; }
  void mark_sections(u32 m) {
    marks.assign(m * at::mark_record_size + 32, 0);
    word(at::ga_mark_array) = mark_array();
    word(at::ga_mark_index) = m - 1;
  }
  u8 *mark(u32 i) { return &marks[1 + i * at::mark_record_size + mark_at]; }
  void capture(u32 first, u32 last) {
    for (u32 t = first; t - first <= last - first; ++t) {
      word(at::filed_word) = t * 7;  // tells the slots apart
      word(at::ga_tick) = t;
      z9_zp_capture();
    }
  }
  void rewind_from(u32 now, i32 delta) {
    word(at::ga_tick) = now;
    zp_rewind(delta);
  }
  // Patterns the game's data and the mark records, keeping the game mode, the
  // words that locate the marks and the car count and table.
  void fill(u32 seed) {
    const bytes cars = host::bytes_at(at::ga_car_count, 0x128);
    const test::values kept = test::words({at::ga_mode, at::ga_mark_index, at::ga_mark_array});
    for (u32 a = data_begin; a < data_end; ++a) host::byte(a) = pattern(a, seed);
    for (u32 i = 0; i < marks.size(); ++i) marks[i] = pattern(i, seed + 77);
    memcpy((void *)(uintptr_t)at::ga_car_count, cars.data(), cars.size());
    test::set_words({{at::ga_mode, kept[0]}, {at::ga_mark_index, kept[1]}, {at::ga_mark_array, kept[2]}});
  }
};

}  // namespace race
