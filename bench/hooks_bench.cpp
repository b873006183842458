// The plug-in's per-frame work outside the ring: each hook stub's round trip
// through its real patched place against the same game call unpatched, a
// free-camera tick (no input; keys and mouse; both binds), the frame handler
// with no key down, and a preset save and recall on real files.
//
// The game's code is entered through the host's CPU harness in both states,
// so the difference between them is the stub with its handler. For the stub
// figures the handlers take their shortest way: the camera is not the free
// camera, rewind is off, no key is down.
//
// Usage: hooks_bench [rounds]   (default 9)
#include <filesystem>
#include <string>

#include "base/game_memory.h"
#include "base/log.h"
#include "base/settings.h"
#include "bench/bench.h"
#include "bench/game_patches.h"
#include "freecam/game_words.h"
#include "freecam/record.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "host/win32.h"
#include "patches/hooks.h"
#include "presets/presets.h"
#include "rewind/ring.h"
#include "tests/kit/kit.h"

namespace {

using bench::series;
using host::word;

std::string game_dir;
u32 cam = 0, car = 0;

// A fresh game in replay playback with three cars, a camera object of the
// given type targeting car 0, the mouse rectangle and the track strings;
// the plug-in as a freshly loaded module with its settings, not yet patched.
void fresh_game(u32 cam_type) {
  host::game_reset();
  host::release_all_keys();
  host::loader_reset();
  kit::fresh_module();
  word(ga_mode) = mode_replay;
  for (u32 i = 0; i < 3; ++i) car = host::make_car(i, 10.0f * (f32)i, 0, 0);
  word(ga_car_count) = 3;
  car = word(ga_car_table);
  cam = host::make_camera(cam_type, 0);
  cam_set_target(cam, car);
  word(ga_mouse_left) = 0, word(ga_mouse_top) = 0, word(ga_mouse_right) = 640, word(ga_mouse_bottom) = 480;
  word(ga_mouse_x) = 320, word(ga_mouse_y) = 240;
  word(0x5bd2e4) = kit::game_string("tracks\\");
  word(0x7c4ce4) = 0;
  word(0x5ba21c) = kit::game_string("alpine");
  game = game_link_base;
  zp_load_settings();
  logger = nullptr;
  cfg_rewind = 0;  // the capture stub's handler returns at once
}

// Microseconds per call of f over `calls` calls.
template <class F> double per_call_us(u32 calls, F &&f) {
  return bench::seconds([&] {
           for (u32 i = 0; i < calls; ++i) f();
         }) / calls * 1e6;
}

struct site {
  const char *name;
  void (*call)();
  series plain, patched;
};

}  // namespace

int main(int argc, char **argv) {
  const int rounds = bench::rounds(argc, argv, 9);
  kit::temp_dir dir("zephal-bench");
  game_dir = dir.path;
  std::filesystem::create_directories(game_dir + "/tracks/alpine");
  host::set_module_path(host::windows_path(game_dir) + "\\game.exe");

  site sites[] = {
      {"camera call at 0x4415b9 (freecam stub, full save)", [] { host::camera_case7(cam); }, {}, {}},
      {"camera call at 0x44143c (freecam stub, full save)", [] { host::camera_case30(cam); }, {}, {}},
      {"replay interface call at 0x5112dc (arm stub)", [] { host::arm_call(1); }, {}, {}},
      {"replay interface call at 0x512310 (arm stub)", [] { host::arm_call(2); }, {}, {}},
      {"replay interface call at 0x5124dd (arm stub)", [] { host::arm_call(3); }, {}, {}},
      {"replay tick 0x51bbe0 (capture stub, full save; rewind off)", [] { host::replay_ticks(1); }, {}, {}},
      {"frame call at 0x511328 (frame stub, no key down)", [] { host::frame_pass(); }, {}, {}},
  };
  constexpr u32 calls = 4000;
  fresh_game(0);  // camera type 0: not the free camera
  bench::game_patches patches;
  patches.keep();
  for (int r = 0; r < rounds; ++r)
    for (site &s : sites)
      for (bool patched : {false, true}) {
        patched ? patches.on() : patches.off();
        (patched ? s.patched : s.plain).push_back(per_call_us(calls, s.call));
      }
  patches.off();
  printf("\n## Hook stubs and handlers\n\n%d rounds.\n", rounds);
  bench::table("Stub round trips",
               "Each patched place called through the host's CPU harness with the plug-in applied, against the "
               "same call of the unpatched game; the handlers take their shortest way.");
  for (site &s : sites) {
    bench::row(std::string(s.name) + ", unpatched", s.plain);
    bench::row(std::string(s.name) + ", patched", s.patched, "unpatched", s.plain);
  }

  // The free camera, driven by its handler directly, after taking over.
  series idle, input, binds, frame, save, recall;
  for (int r = 0; r < rounds; ++r) {
    fresh_game(cam_type_free);
    z9_zp_freecam_tick(cam);  // takes over
    idle.push_back(per_call_us(calls, [] { z9_zp_freecam_tick(cam); }));
    for (int vk : {k_w, k_d, k_r, k_q, k_boost}) host::set_key(vk, true);
    input.push_back(per_call_us(calls, [] {
      word(ga_mouse_x) += 7, word(ga_mouse_y) -= 3;
      z9_zp_freecam_tick(cam);
    }));
    host::release_all_keys();
    for (int vk : {k_v, k_c}) {  // both binds on, to car 0
      host::set_key(vk, true), z9_zp_freecam_tick(cam);
      host::set_key(vk, false), z9_zp_freecam_tick(cam);
    }
    if (!zp[0].bind_pos || !zp[0].bind_rot) {
      fprintf(stderr, "hooks_bench: the binds did not come on\n");
      return 1;
    }
    binds.push_back(per_call_us(calls, [] {
      *obj_f32(car, car_off_pos) += 0.25f;  // the car drives on
      z9_zp_freecam_tick(cam);
    }));
    host::set_tick(1000);
    frame.push_back(per_call_us(calls, [] { z9_zp_frame(); }));
    constexpr u32 file_ops = 50;
    save.push_back(per_call_us(file_ops, [] { zp_preset_save(1); }));
    recall.push_back(per_call_us(file_ops, [] { zp_preset_apply(1); }));
  }
  bench::table("Free camera, frame handler, presets",
               "Handlers called directly; the free camera active on a camera object of view 0; presets saved to "
               "and recalled from a real `freecam.ini` in a temporary game folder.");
  bench::row("free-camera tick, no input", idle);
  bench::row("free-camera tick, four keys and the mouse", input);
  bench::row("free-camera tick, position and rotation bound to a moving car", binds);
  bench::row("frame handler, no key down", frame);
  bench::row("preset save (Ctrl+1)", save);
  bench::row("preset recall (1), free camera on", recall);
  return 0;
}
