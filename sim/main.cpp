// zephal-sim: the game and the Z9 loader in one Linux i386 process, playing
// a scenario. The game image is mapped at 0x400000 with the game's own code
// at the places the plug-in patches; the plug-in module is loaded and applied
// as the loader does it; then the game runs the scenario frame by frame
// through its patched code, and the run is written out as a trace and a
// picture.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/game_image.h"
#include "host/loader.h"
#include "host/pe_module.h"
#include "host/win32.h"
#include "sim/replay_model.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "tools/common/settings_check.h"

namespace fs = std::filesystem;

namespace {

struct options {
  std::string scenario;
  std::string module = ZEPHAL_SO_PATH;
  std::string game_dir = std::string(ZEPHAL_OUT_DIR) + "/sim-game";
  std::string out = std::string(ZEPHAL_OUT_DIR) + "/sim";
  bool clean = false, quiet = false;
};

constexpr const char *usage =
    "usage: zephal-sim SCENARIO [--module PATH] [--game-dir DIR] [--out DIR] [--clean] [--quiet]\n"
    "  SCENARIO        a scenario file (see sim/scenarios/README)\n"
    "  --module PATH   the plug-in: an ELF shared object (default the built zephal.so)\n"
    "                  or the PE DLL zephal.z9p\n"
    "  --game-dir DIR  the game's directory: zephal.ini and tracks\\NAME\\freecam.ini\n"
    "                  (default out/sim-game)\n"
    "  --out DIR       where the trace, the picture and the log go (default out/sim)\n"
    "  --clean         start without the track's presets\n"
    "  --quiet         no log lines while running, only the summary\n"
    "   or: zephal-sim --check-module PATH   load a plug-in DLL as a run would, without\n"
    "                  running its code, and say what it holds or what is wrong (exit 2)\n";

bool parse_args(int argc, char **argv, options &o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string &to) {
      if (i + 1 >= argc) return false;
      to = argv[++i];
      return true;
    };
    if (a == "--module") {
      if (!value(o.module)) return false;
    } else if (a == "--game-dir") {
      if (!value(o.game_dir)) return false;
    } else if (a == "--out") {
      if (!value(o.out)) return false;
    } else if (a == "--clean") {
      o.clean = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a.starts_with("-") || !o.scenario.empty()) {
      return false;
    } else {
      o.scenario = a;
    }
  }
  return !o.scenario.empty();
}

std::string hex_bytes(const std::vector<u8> &b) {
  std::string s;
  char x[4];
  for (u8 v : b) {
    snprintf(x, sizeof x, "%s%02x", s.empty() ? "" : " ", v);
    s += x;
  }
  return s;
}

// The PE DLL, the way a loader on Windows takes it: mapped and relocated by
// the host's PE loader, then the same steps as for the shared object.
u32 load_pe_and_apply(const std::string &path, const z9_ctx &ctx, host::z9_module &m,
                      std::string *report) {
  static host::pe_module pe;
  std::string error;
  report->clear();
  if (!host::pe_load(path, pe, error)) {
    *report += "loader: cannot load " + path + ": " + error + "\n";
    return 0;
  }
  m = host::z9_module{};
  m.path = path;
  m.manifest = (z9_manifest *)pe.symbol("z9_manifest_data");
  auto *count = (const u32 *)pe.symbol("z9_def_count");
  auto *table = (const z9_def *const *)pe.symbol("z9_def_table");
  m.apply = (u32(*)(const z9_ctx *))pe.symbol("Z9_Apply");
  if (!m.manifest || !count || !table || !m.apply) {
    *report += "loader: " + path + " lacks one of the four exports\n";
    return 0;
  }
  m.def_count = *count;
  m.defs = *table;
  m.low = (u32)(uintptr_t)pe.base;
  m.high = m.low + pe.size;
  *report += host::module_placement(m) + "\n";
  if (!host::module_in_reach(m)) return 0;
  if (!host::module_fits_game(m, &error)) {
    *report += error + "\n";
    return 0;
  }
  *report += "loader: " + std::string(m.manifest->id) + " " + m.manifest->version + ", " +
             std::to_string(m.def_count) + " definitions\n";
  u32 ok = m.apply(&ctx);
  *report += "loader: Z9_Apply returned " + std::to_string(ok) + "\n";
  return ok;
}

void write_settings(const sim::scenario &s, const std::string &dir) {
  const std::string ini = dir + "/zephal.ini";
  if (s.settings.empty()) {
    fs::remove(ini);
    return;
  }
  std::ofstream out(ini, std::ios::binary | std::ios::trunc);
  out << "; written by zephal-sim from " << s.path << "\r\n[Zephal]\r\n";
  for (auto &[k, v] : s.settings) out << k << "=" << v << "\r\n";
}

std::string setting(const sim::scenario &s, const char *key, const std::string &fallback) {
  for (auto &[k, v] : s.settings)
    if (strcasecmp(k.c_str(), key) == 0) return v;
  return fallback;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--check-module") == 0) return host::check_module(argv[2], std::cout);
  options o;
  if (!parse_args(argc, argv, o)) {
    fputs(usage, stderr);
    return 2;
  }
  sim::scenario sc;
  std::string error;
  if (!sim::load_scenario(o.scenario, sc, &error)) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 2;
  }

  // The game's directory, as Windows names it for the plug-in.
  std::error_code ec;
  fs::create_directories(o.game_dir, ec);
  fs::create_directories(o.out, ec);
  o.game_dir = fs::absolute(o.game_dir).lexically_normal().string();
  o.out = fs::absolute(o.out).lexically_normal().string();
  if (!o.game_dir.empty() && o.game_dir.back() == '/') o.game_dir.pop_back();
  if (!o.out.empty() && o.out.back() == '/') o.out.pop_back();
  write_settings(sc, o.game_dir);
  tools::settings_report settings_check;  // what zephal-check --ini would say of the setting lines
  if (!sc.settings.empty() && tools::check_settings(o.game_dir + "/zephal.ini", settings_check, error))
    tools::print_settings_warnings(settings_check, "zephal-sim: warning: ", stdout, false);
  host::set_module_path(host::windows_path(o.game_dir) + "\\game.exe");

  if (!host::game_reset()) return 1;
  sim::game g;
  g.start(sc, o.game_dir);
  const std::string preset_file = g.track_folder() + "/freecam.ini";
  if (o.clean) fs::remove(preset_file, ec);

  printf("zephal-sim: %s, track %s, %u cars, %u frames\n", sc.path.c_str(), sc.track.c_str(), sc.cars,
         sc.frames);
  printf("game directory %s (%s)\n", o.game_dir.c_str(),
         sc.settings.empty() ? "no zephal.ini" : "zephal.ini from the scenario");

  // The loader's part.
  host::loader_reset();
  host::z9_module module;
  std::string report;
  const z9_ctx ctx = host::loader_context();
  const bool pe = o.module.ends_with(".z9p") || o.module.ends_with(".dll");
  u32 applied = pe ? load_pe_and_apply(o.module, ctx, module, &report)
                   : host::load_and_apply(o.module, ctx, module, &report);
  fputs(report.c_str(), stdout);
  if (module.high && !host::module_in_reach(module))
    printf("sim: the module's hook stubs lie beyond 0x%X, out of rel32 reach of the game's code "
           "at 0x400000: the patch walk would refuse every definition, so nothing was applied\n",
           host::rel32_reach_end);
  for (const host::write_record &w : host::loader_writes())
    printf("loader: %s %s at 0x%X: %s\n", w.written ? "patched" : "refused",
           w.name ? w.name : "?", 0x400000 + w.rva, hex_bytes(w.bytes).c_str());
  std::vector<std::string> entry_log = host::loader_messages();
  for (const std::string &line : entry_log) printf("log: %s\n", line.c_str());
  if (!applied) {
    fprintf(stderr, "zephal-sim: the plug-in was not applied; the replay is not played\n");
    return 1;
  }

  // The replay.
  sim::recorder rec(g, preset_file);
  rec.before_start(entry_log);
  const int space_key = atoi(setting(sc, "KeySpace", "32").c_str());
  bool space_was_down = false;
  size_t next = 0, logged = host::loader_messages().size();
  if (!o.quiet) printf("%7s %7s  %s\n", "frame", "tick", "log");
  for (u32 f = 0; f < sc.frames; ++f) {
    for (; next < sc.timeline.size() && sc.timeline[next].frame == f; ++next) {
      const sim::action &a = sc.timeline[next];
      switch (a.kind) {
        case sim::action::key_down: host::set_key(a.a, true); break;
        case sim::action::key_up: host::set_key(a.a, false); break;
        case sim::action::mouse: g.move_mouse(a.a, a.b); break;
        case sim::action::camera: g.request_camera((u32)a.a); break;
        case sim::action::mode: g.set_mode((u32)a.a); break;
        case sim::action::cars: g.set_cars((u32)a.a); break;
        case sim::action::marks: g.set_marks((u32)a.a); break;
        case sim::action::view1: g.set_view1(a.a); break;
      }
    }
    // 60 frames a second on the game's clock.
    host::set_tick(1000000u + (u32)((u64)f * 1000 / 60));
    sim::frame_input in;
    for (int d = 0; d < 10; ++d) in.digit_down[d] = host::key_is_down('0' + d);
    in.ctrl = host::key_is_down(0x11);
    bool space_down = host::key_is_down(space_key);
    in.space = space_down && !space_was_down;
    space_was_down = space_down;

    sim::frame_report r = g.frame();

    const std::vector<std::string> &all = host::loader_messages();
    std::vector<std::string> lines(all.begin() + (long)logged, all.end());
    logged = all.size();
    if (!o.quiet)
      for (const std::string &line : lines) printf("%7u %7u  %s\n", f, host::word(sim::gw_tick), line.c_str());
    rec.frame(f, r, in, lines);
  }

  // What came of it.
  fs::path base = fs::path(o.out) / sc.name;
  const std::string trace = base.string() + ".trace.csv", cars = base.string() + ".cars.csv";
  const std::string picture = base.string() + ".svg", log = base.string() + ".log";
  bool ok = rec.write_trace(trace, &error) && rec.write_cars(cars, &error);
  {
    std::ofstream out(log, std::ios::binary | std::ios::trunc);
    out << report << host::loader_log_text();
  }
  char title[256];
  snprintf(title, sizeof title, "zephal-sim: %s on %s, %u frames, %u replay ticks", sc.name.c_str(),
           sc.track.c_str(), sc.frames, g.ticks);
  ok = ok && sim::write_picture(picture, title, g.road(), rec, &error);
  if (!ok) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 1;
  }

  using k = sim::event_kind;
  u32 free0 = 0, free1 = 0, back = 0, fwd = 0, deferred = 0, wraps = 0, pos_on = 0, rot_on = 0;
  for (const sim::trace_row &r : rec.rows()) free0 += r.view[0].driven, free1 += r.view[1].driven;
  for (const sim::event &e : rec.events()) {
    if (e.kind == k::rewind) (e.b < 0 ? back : fwd) += 1;
    if (e.kind == k::preset_recalled) deferred += e.b;
    if (e.kind == k::replay_camera) wraps += e.a == 0;
    if (e.kind == k::position_bind) pos_on += e.a;
    if (e.kind == k::rotation_bind) rot_on += e.a;
  }
  const u32 cam_calls = g.camera_calls[0] + g.camera_calls[1];
  const u32 cam_skips = g.camera_skips[0] + g.camera_skips[1];
  const sim::trace_row &end = rec.rows().back();
  printf("\nsummary\n");
  printf("  frames            %u (%.1f s of game time), replay ticks %u, final tick %u%s\n", sc.frames,
         sc.frames / 60.0, g.ticks, end.tick, end.paused ? ", paused" : "");
  printf("  free camera       %u frames in the main view, %u in the second; %u take-overs, %u let go\n",
         free0, free1, rec.count(k::activate), rec.count(k::release));
  printf("  camera routine    %u calls, %u runs, %u skipped\n", cam_calls, cam_calls - cam_skips, cam_skips);
  printf("  replay interface  %u calls, %u runs, %u skipped\n", g.ui_calls, g.ui_calls - g.ui_skips,
         g.ui_skips);
  printf("  rewinds           %u (%u back, %u forward), %u without a snapshot, %u forward seeks run on\n",
         rec.count(k::rewind), back, fwd, rec.count(k::no_snapshot), rec.count(k::seek_run));
  printf("  binds             position %u on / %u off, rotation %u on / %u off, %u car changes, %u teleports\n",
         pos_on, rec.count(k::position_bind) - pos_on, rot_on, rec.count(k::rotation_bind) - rot_on,
         rec.count(k::bind_car), rec.count(k::teleport));
  printf("  replay camera     %u switches by the free camera (%u wraps to camera 0, %u completed), %u requests taken\n",
         rec.count(k::replay_camera), wraps, g.cam0_changes, g.requests_taken);
  printf("  presets           %u saved, %u recalled (%u while the free camera was off), %u empty, %u refused\n",
         rec.count(k::preset_saved), rec.count(k::preset_recalled), deferred, rec.count(k::preset_empty),
         rec.count(k::preset_refused));
  printf("  snapshot ring     built %u times\n", rec.count(k::ring));
  printf("\ntrace    %s\ncars     %s\npicture  %s\nlog      %s\npresets  %s\n", trace.c_str(), cars.c_str(),
         picture.c_str(), log.c_str(), preset_file.c_str());
  return 0;
}
