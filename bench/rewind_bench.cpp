// Cost of one snapshot capture and one rewind of a full slot, against plain
// memcpy of the same number of bytes into the same ring.
//
// A full slot: 8 cars, effects on, one mark section (147 256 bytes), in a
// ring of the default 768 slots (about 113 MB). Each measurement is one lap
// of the ring, 768 slots walked in order as the replay files them; the three
// laps alternate within every round so that drift of the machine touches all
// three alike. The ring's pages are touched once before timing, so no lap
// pays for first faults. Ratios are of the medians (and of the best laps) of
// this run; absolute times depend on the machine and on emulation.
//
// Usage: rewind_bench [rounds]   (default 9)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/game_image.h"
#include "patches/hooks.h"
#include "plugin/game_view.h"
#include "plugin/settings.h"
#include "plugin/log.h"
#include "rewind/ring.h"
#include "rewind/seek.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr double target_ratio = 1.15;

double seconds_since(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Memory the capture reads is not all zeros, so that no copy can take a
// short cut a real game would not offer.
void fill_game() {
  for (u32 a = host::code_end; a < host::image_end; a += 4) host::word(a) = a * 2654435761u;
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 9;
  if (rounds < 1) rounds = 1;
  if (!host::game_reset()) return 1;
  game = game_link_base;
  logger = nullptr;
  zp_reset_settings();  // 768 slots, effects on
  zp_ring_reset();
  fill_game();

  host::word(ga_mode) = mode_replay;
  for (u32 i = 0; i < 8; ++i) host::make_car(i, (f32)i, 0, 0);
  host::word(ga_car_count) = 8;
  std::vector<u8> mark_records(mark_record_size, 0x5a);
  host::word(ga_mark_array) = (u32)(uintptr_t)mark_records.data();
  host::word(ga_mark_index) = 0;

  // First lap: builds the ring and touches every page of it.
  u32 tick = 0;
  for (u32 k = 0; k < 768; ++k, ++tick) {
    host::word(ga_tick) = tick;
    z9_zp_capture();
  }
  if (!zp_ring || zp_ring_count != 768 || zp_slot_size != 147256) {
    fprintf(stderr, "unexpected ring: %u slots of %u bytes\n", zp_ring_count, zp_slot_size);
    return 1;
  }
  const u32 slots = zp_ring_count, bytes = zp_slot_size;
  const u8 *source = game_ptr(0x7c3c04);  // as many contiguous game bytes

  std::vector<double> t_memcpy, t_capture, t_rewind;
  for (int r = 0; r < rounds; ++r) {
    // memcpy overwrites the slots with raw bytes; the capture lap that
    // follows files proper snapshots again for the rewind lap.
    auto t0 = clock_type::now();
    for (u32 k = 0; k < slots; ++k) memcpy(zp_ring + k * bytes, source, bytes);
    t_memcpy.push_back(seconds_since(t0));

    t0 = clock_type::now();
    for (u32 k = 0; k < slots; ++k, ++tick) {
      host::word(ga_tick) = tick;
      z9_zp_capture();
    }
    t_capture.push_back(seconds_since(t0));

    // Standing on the newest tick: back to the oldest, then one by one
    // forward, each a full restore.
    t0 = clock_type::now();
    zp_rewind(-(i32)(slots - 1));
    for (u32 k = 1; k < slots; ++k) zp_rewind(1);
    t_rewind.push_back(seconds_since(t0));
    if (host::word(ga_tick) != tick - 1 || host::word(ga_pause) != 1) {
      fprintf(stderr, "rewind lap did not restore tick %u (at %u)\n", tick - 1, host::word(ga_tick));
      return 1;
    }
  }

  double m_memcpy = median(t_memcpy), m_capture = median(t_capture), m_rewind = median(t_rewind);
  double b_memcpy = *std::min_element(t_memcpy.begin(), t_memcpy.end());
  double b_capture = *std::min_element(t_capture.begin(), t_capture.end());
  double b_rewind = *std::min_element(t_rewind.begin(), t_rewind.end());
  auto per_slot_us = [&](double s) { return s / slots * 1e6; };
  printf("ring: %u slots x %u bytes, %d rounds of one lap each\n", slots, bytes, rounds);
  printf("%-8s %12s %12s %10s\n", "", "median us", "best us", "MB/s");
  printf("%-8s %12.1f %12.1f %10.0f\n", "memcpy", per_slot_us(m_memcpy), per_slot_us(b_memcpy),
         (double)bytes * slots / m_memcpy / 1e6);
  printf("%-8s %12.1f %12.1f %10.0f\n", "capture", per_slot_us(m_capture), per_slot_us(b_capture),
         (double)bytes * slots / m_capture / 1e6);
  printf("%-8s %12.1f %12.1f %10.0f\n", "rewind", per_slot_us(m_rewind), per_slot_us(b_rewind),
         (double)bytes * slots / m_rewind / 1e6);
  double rc = m_capture / m_memcpy, rr = m_rewind / m_memcpy;
  printf("capture/memcpy %.3f (best laps %.3f): %s %.2f\n", rc, b_capture / b_memcpy,
         rc <= target_ratio ? "meets" : "MISSES", target_ratio);
  printf("rewind/memcpy  %.3f (best laps %.3f): %s %.2f\n", rr, b_rewind / b_memcpy,
         rr <= target_ratio ? "meets" : "MISSES", target_ratio);
  zp_ring_reset();
  return 0;
}
