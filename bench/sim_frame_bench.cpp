// A frame of the simulated game with and without the plug-in: the game's own
// work at its patched places (frame pass, one replay tick, the replay
// interface, the camera), the stubs and handlers, and one capture of a full
// slot (8 cars, effects on, two mark sections) a frame. The plug-in's share
// is the difference between the two, round by round.
//
// Frames are timed on later laps of the ring: the run first plays one lap
// and a little more untimed.
//
// Usage: sim_frame_bench [rounds]   (default 9)
#include <filesystem>

#include "base/log.h"
#include "base/settings.h"
#include "bench/bench.h"
#include "tests/kit/kit.h"
#include "bench/game_patches.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "host/win32.h"
#include "patches/hooks.h"
#include "rewind/ring.h"
#include "sim/replay_model.h"
#include "sim/scenario.h"

ZP_EXPORT u32 Z9_Apply(const z9_ctx *ctx);

namespace {

using bench::series;

constexpr u32 warm_frames = 800, stretch = 32, stretches = 12;

}  // namespace

int main(int argc, char **argv) {
  const int rounds = bench::rounds(argc, argv, 9);
  kit::temp_dir dir("zephal-bench");
  host::set_module_path(host::windows_path(dir.path) + "\\game.exe");  // no zephal.ini: defaults
  sim::scenario sc;
  std::string error;
  if (!sim::parse_scenario_text("track alpine\ncars 8\nframes 2000\n", "bench", sc, &error)) {
    fprintf(stderr, "sim_frame_bench: %s\n", error.c_str());
    return 1;
  }
  host::game_reset();
  host::release_all_keys();
  host::loader_reset();
  zp_ring_reset();
  zp_reset_settings();
  sim::game g;
  g.start(sc, dir.path);
  bench::game_patches patches;
  patches.keep();
  z9_ctx ctx = host::loader_context();
  if (!Z9_Apply(&ctx)) {
    fprintf(stderr, "sim_frame_bench: Z9_Apply refused:\n%s", host::loader_log_text().c_str());
    return 1;
  }
  logger = nullptr;  // the loader's log would only grow
  for (u32 f = 0; f < warm_frames; ++f) g.frame();  // the first lap of the ring, and some

  // Stretches of frames without and with the plug-in alternate in one game;
  // the replay runs on throughout, and the ring is on later laps.
  series without, with, share, capture;
  for (int r = 0; r < rounds; ++r) {
    series off_s, on_s;
    for (u32 k = 0; k < stretches; ++k) {
      patches.off();
      off_s.push_back(bench::seconds([&] {
        for (u32 f = 0; f < stretch; ++f) g.frame();
      }));
      patches.on();
      on_s.push_back(bench::seconds([&] {
        for (u32 f = 0; f < stretch; ++f) g.frame();
      }));
    }
    without.push_back(bench::per_item_us(off_s, stretch));
    with.push_back(bench::per_item_us(on_s, stretch));
    share.push_back(with.back() - without.back());
    // The capture alone, over the ticks just played, later laps still.
    u32 t = host::word(sim::ga_tick) - stretch * stretches;
    series c;
    for (u32 k = 0; k < stretches; ++k)
      c.push_back(bench::seconds([&] {
        for (u32 f = k * stretch; f < (k + 1) * stretch; ++f) host::word(sim::ga_tick) = t + f, z9_zp_capture();
      }));
    capture.push_back(bench::per_item_us(c, stretch));
    host::word(sim::ga_tick) = t + stretch * stretches;
  }
  if (!zp_ring || !zp_snapshot_exists(host::word(sim::ga_tick) - 1)) {
    fprintf(stderr, "sim_frame_bench: the plug-in did not capture the replay's ticks\n");
    return 1;
  }
  printf("\n## Simulator frame\n\n%d rounds of %u stretches of %u frames without and %u with the plug-in, "
         "alternating, after %u frames untimed; a round's figure is its median stretch.\n",
         rounds, stretches, stretch, stretch, warm_frames);
  bench::table("A simulated frame with and without the plug-in",
               "zephal-sim's game model (8 cars, two mark sections, the replay running, the chase camera), "
               "the plug-in applied through `Z9_Apply`, its patches switched off and on again in one running game.");
  bench::row("frame without the plug-in", without);
  bench::row("frame with the plug-in (one capture a frame)", with, "without", without);
  bench::row("the plug-in's share (with minus without)", share);
  bench::row("the capture handler alone, one call (later laps)", capture);
  printf("\n");
  double m = bench::median(share);
  bench::target("plugin-frame-share", bench::fmt("%.2f µs a frame", m), "8 µs", m <= 8);
  if (m > 8)
    printf("\nWhere the limit lies: the capture of one 147 264-byte slot alone takes %.2f µs a frame here "
           "(see the capture table of the snapshot ring for it against memcpy).\n",
           bench::median(capture));
  return 0;
}
