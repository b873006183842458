// zephal-sim: the game and the Z9 loader in one Linux i386 process, playing
// a scenario. The game image is mapped at 0x400000 with the game's own code
// at the places the plug-in patches; the plug-in module is loaded and applied
// as the loader does it; then the game runs the scenario frame by frame
// through its patched code, and the run is written out as it goes (trace,
// cars, log) and at the end as a picture and a summary.
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
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
#include "sim/files.h"
#include "sim/picture.h"
#include "sim/replay_model.h"
#include "sim/report.h"
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
  bool clean = false, quiet = false, help = false;
};

constexpr const char *usage =
    "usage: zephal-sim SCENARIO [--module PATH] [--game-dir DIR] [--out DIR] [--clean] [--quiet]\n"
    "  SCENARIO        a scenario file (see sim/scenarios/README)\n"
    "  --module PATH   the plug-in: an ELF shared object (default the built zephal.so)\n"
    "                  or the PE DLL zephal.z9p\n"
    "  --game-dir DIR  the game's directory: zephal.ini and tracks\\NAME\\freecam.ini\n"
    "                  (default out/sim-game)\n"
    "  --out DIR       where the picture, trace, log and their README.txt go (default out/sim)\n"
    "  --clean         start without the track's presets\n"
    "  --quiet         no log lines while running, only the summary\n"
    "  --help          this text\n"
    "   or: zephal-sim --check-module PATH   load a plug-in DLL as a run would, without\n"
    "                  running its code, and say what it holds or what is wrong (exit 2)\n"
    "   or: zephal-sim --write-game-exe FILE  write the stand-in game as a Windows executable,\n"
    "                  a build zephal-check finds fitting\n";

// False with a message naming what is wrong.
bool parse_args(int argc, char **argv, options &o, std::string *error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string &to, const char *what) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        *error = a + " needs " + what + " after it";
        return false;
      }
      to = argv[++i];
      return true;
    };
    if (a == "--module") {
      if (!value(o.module, "a module file")) return false;
    } else if (a == "--game-dir") {
      if (!value(o.game_dir, "a folder")) return false;
    } else if (a == "--out") {
      if (!value(o.out, "a folder")) return false;
    } else if (a == "--clean") {
      o.clean = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a.starts_with("-") && a != "-") {
      *error = "unknown option '" + a + "'";
      return false;
    } else if (!o.scenario.empty()) {
      *error = "one scenario at a time ('" + o.scenario + "' and '" + a + "' given)";
      return false;
    } else {
      o.scenario = a;
    }
  }
  if (!o.help && o.scenario.empty()) {
    *error = "no scenario given";
    return false;
  }
  return true;
}

std::string fmt_string(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt_string(const char *f, ...) {
  std::string out;
  va_list ap;
  va_start(ap, f);
  sim::append_vformat(out, f, ap);
  va_end(ap);
  return out;
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

std::string setting(const sim::scenario &s, const char *key, const std::string &fallback) {
  for (auto &[k, v] : s.settings)
    if (strcasecmp(k.c_str(), key) == 0) return v;
  return fallback;
}


// One log line, as the console and the log file show it: frame and replay
// tick first ('-' before the first frame), and a note where the line needs one.
std::string log_line(const char *frame, const char *tick, const std::string &text) {
  char b[48];
  snprintf(b, sizeof b, "%7s %7s  ", frame, tick);
  return b + text + sim::log_note(text) + "\n";
}

// A line every few seconds on the console once a run takes longer than
// that, with how far it got and how long the rest may take.
class progress {
 public:
  explicit progress(u32 frames) : frames_(frames), start_(clock::now()), next_(start_ + std::chrono::seconds(5)) {}
  void frame(u32 f) {
    if ((f & 255) != 0) return;
    const auto now = clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::seconds(5);
    shown_ = true;
    const double spent = seconds(now), left = f ? spent * (frames_ - f) / f : 0;
    fprintf(stderr, "zephal-sim: frame %u of %u (%.0f%%), %s so far, about %s to go\n", f, frames_,
            100.0 * f / frames_, span(spent).c_str(), span(left).c_str());
  }
  void done() const {
    if (shown_) fprintf(stderr, "zephal-sim: %u frames played in %s\n", frames_, span(seconds(clock::now())).c_str());
  }

 private:
  using clock = std::chrono::steady_clock;
  double seconds(clock::time_point t) const { return std::chrono::duration<double>(t - start_).count(); }
  static std::string span(double s) {
    char b[32];
    if (s < 90) snprintf(b, sizeof b, "%.0f s", s);
    else if (s < 5400) snprintf(b, sizeof b, "%.0f min", s / 60);
    else snprintf(b, sizeof b, "%.1f h", s / 3600);
    return b;
  }
  u32 frames_;
  clock::time_point start_, next_;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--check-module") == 0) return host::check_module(argv[2], std::cout);
  if (argc == 3 && strcmp(argv[1], "--write-game-exe") == 0) {
    const std::vector<u8> exe = host::game_exe();
    std::ofstream f(argv[2], std::ios::binary);
    if (exe.empty() || !f.write((const char *)exe.data(), exe.size()) || !f.flush()) {
      fprintf(stderr, "zephal-sim: cannot write the game's executable to %s\n", argv[2]);
      return 2;
    }
    return 0;
  }
  options o;
  std::string error;
  if (!parse_args(argc, argv, o, &error)) {
    fprintf(stderr, "zephal-sim: %s\n%s(zephal-sim --help says more)\n", error.c_str(),
            error == "no scenario given" ? usage : "");
    return 2;
  }
  if (o.help) {
    fputs(usage, stdout);
    return 0;
  }
  sim::scenario sc;
  if (!sim::load_scenario(o.scenario, sc, &error)) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 2;
  }

  // The folders: the game's directory, as Windows names it for the plug-in,
  // and the outputs'. Nothing there is touched before both are usable.
  const bool default_game_dir = o.game_dir == std::string(ZEPHAL_OUT_DIR) + "/sim-game";
  bool made_game_dir = false, made_out = false, players_ini = false;
  if (!sim::prepare_folder("--game-dir", o.game_dir, &made_game_dir, &error) ||
      !sim::prepare_folder("--out", o.out, &made_out, &error)) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 2;
  }
  o.game_dir = fs::absolute(o.game_dir).lexically_normal().string();
  o.out = fs::absolute(o.out).lexically_normal().string();
  if (!o.game_dir.empty() && o.game_dir.back() == '/') o.game_dir.pop_back();
  if (!o.out.empty() && o.out.back() == '/') o.out.pop_back();
  if (made_game_dir || default_game_dir) sim::mark_game_dir(o.game_dir);
  const std::string preset_file = o.game_dir + "/tracks/" + sc.track + "/freecam.ini";
  if (o.clean && fs::exists(preset_file) && !sim::game_dir_is_ours(o.game_dir)) {
    fprintf(stderr,
            "zephal-sim: --clean would delete %s, which zephal-sim did not make (this game directory is not one "
            "it created): remove it yourself, or give a new folder as --game-dir\n",
            preset_file.c_str());
    return 2;
  }
  if (!sim::write_settings(sc, o.game_dir, &players_ini, &error)) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 2;
  }
  // What zephal-check --ini would say of the zephal.ini the plug-in is about
  // to read, the scenario's or the player's own, before the run starts.
  tools::settings_report settings_check;
  if ((players_ini || !sc.settings.empty()) &&
      tools::check_settings(o.game_dir + "/zephal.ini", settings_check, error))
    tools::print_settings_warnings(settings_check, "zephal-sim: warning: ", stdout, false);
  host::set_module_path(host::windows_path(o.game_dir) + "\\game.exe");

  if (!host::game_reset()) return 1;
  sim::game g;
  try {
    g.start(sc, o.game_dir);
  } catch (const fs::filesystem_error &e) {
    fprintf(stderr, "zephal-sim: cannot make the track's folder in the game directory: %s\n", e.what());
    return 2;
  }
  std::error_code ec;
  if (o.clean) fs::remove(preset_file, ec);

  printf("zephal-sim: %s, track %s, %u cars, %u frames (%.1f s)\n", sc.path.c_str(), sc.track.c_str(), sc.cars,
         sc.frames, sc.frames / 60.0);
  printf("game directory %s (%s)\n", o.game_dir.c_str(),
         players_ini ? "its own zephal.ini, kept as it is"
                     : sc.settings.empty() ? "no zephal.ini" : "zephal.ini from the scenario");
  if (host::windows_path(preset_file).size() >= 260)
    printf("note: the presets' path is %zu characters, beyond Windows' 259: the plug-in cuts it\n",
           host::windows_path(preset_file).size());

  // The outputs, written as the run goes under temporary names and put in
  // place at the end.
  fs::path base = fs::path(o.out) / sc.name;
  const std::string trace = base.string() + ".trace.csv", cars = base.string() + ".cars.csv";
  const std::string picture = base.string() + ".svg", png = base.string() + ".png", log = base.string() + ".log";
  sim::output_file log_file;
  if (!log_file.open(log, &error)) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 2;
  }
  log_file.write("# zephal-sim: " + sc.path + " on " + sc.track + "; the loader's report and the plug-in's log\n" +
                 "# frame: when the line was logged ('-' before the first frame); tick: the replay tick then\n" +
                 log_line("frame", "tick", "line"));

  // The loader's part.
  host::loader_reset();
  host::z9_module module;
  std::string report;
  const z9_ctx ctx = host::loader_context();
  const bool pe = o.module.ends_with(".z9p") || o.module.ends_with(".dll");
  u32 applied = pe ? load_pe_and_apply(o.module, ctx, module, &report)
                   : host::load_and_apply(o.module, ctx, module, &report);
  if (module.high && !host::module_in_reach(module))
    report += fmt_string("sim: the module's hook stubs lie beyond 0x%X, out of rel32 reach of the game's code "
                         "at 0x400000: the patch walk would refuse every definition, so nothing was applied\n",
                         host::rel32_reach_end);
  for (const host::write_record &w : host::loader_writes())
    report += fmt_string("loader: %s %s at 0x%X: %s\n", w.written ? "patched" : "refused", w.name ? w.name : "?",
                         0x400000 + w.rva, hex_bytes(w.bytes).c_str());
  fputs(report.c_str(), stdout);
  for (size_t at = 0, nl; (nl = report.find('\n', at)) != std::string::npos; at = nl + 1)
    log_file.write(log_line("-", "-", report.substr(at, nl - at)));
  std::vector<std::string> entry_log = host::loader_messages();
  for (const std::string &line : entry_log) {
    printf("log: %s%s\n", line.c_str(), sim::log_note(line).c_str());
    log_file.write(log_line("-", "-", line));
  }
  if (!applied) {
    log_file.commit(&error);
    fprintf(stderr, "zephal-sim: the plug-in was not applied; the replay is not played\n");
    return 1;
  }

  // The replay.
  sim::sketch sketch;
  sim::recorder rec(g, preset_file, sketch);
  if (!rec.open(trace, cars, &error)) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 2;
  }
  rec.before_start(entry_log);
  // The loader keeps every message; what was read is let go each frame so
  // that a long run's memory stays flat.
  host::loader_reset();
  const int space_key = atoi(setting(sc, "KeySpace", "32").c_str());
  bool space_was_down = false;
  size_t next = 0;
  std::vector<sim::action> mouse;  // movements still under way, in the order of their lines
  progress shown(sc.frames);
  if (!o.quiet) printf("%7s %7s  %s\n", "frame", "tick", "log");
  for (u32 f = 0; f < sc.frames; ++f) {
    for (; next < sc.timeline.size() && sc.timeline[next].frame == f; ++next) {
      const sim::action &a = sc.timeline[next];
      switch (a.kind) {
        case sim::action::key_down: host::set_key(a.a, true); break;
        case sim::action::key_up: host::set_key(a.a, false); break;
        case sim::action::mouse:
          mouse.insert(std::upper_bound(mouse.begin(), mouse.end(), a,
                                        [](const sim::action &x, const sim::action &y) { return x.line < y.line; }),
                       a);
          break;
        case sim::action::camera: g.request_camera((u32)a.a); break;
        case sim::action::mode: g.set_mode((u32)a.a); break;
        case sim::action::cars: g.set_cars((u32)a.a); break;
        case sim::action::marks: g.set_marks((u32)a.a); break;
        case sim::action::view1: g.set_view1(a.a); break;
      }
    }
    for (const sim::action &m : mouse) g.move_mouse(m.a, m.b);
    std::erase_if(mouse, [f](const sim::action &m) { return m.frame + m.frames - 1 <= f; });
    // 60 frames a second on the game's clock.
    host::set_tick(1000000u + (u32)((u64)f * 1000 / 60));
    sim::frame_input in;
    for (int d = 0; d < 10; ++d) in.digit_down[d] = host::key_is_down('0' + d);
    in.ctrl = host::key_is_down(0x11);
    bool space_down = host::key_is_down(space_key);
    in.space = space_down && !space_was_down;
    space_was_down = space_down;

    sim::frame_report r = g.frame();

    const std::vector<std::string> &lines = host::loader_messages();
    if (!lines.empty()) {
      const std::string frame_no = std::to_string(f), tick = std::to_string(host::word(sim::gw_tick));
      for (const std::string &line : lines) {
        const std::string text = log_line(frame_no.c_str(), tick.c_str(), line);
        if (!o.quiet) fputs(text.c_str(), stdout);
        log_file.write(text);
      }
    }
    rec.frame(f, r, in, lines);
    host::loader_reset();
    shown.frame(f);
  }
  shown.done();

  // What came of it.
  char title[320];
  snprintf(title, sizeof title, "zephal-sim: %s on %s, %u frames (%.1f s), %u replay ticks", sc.name.c_str(),
           sc.track.c_str(), sc.frames, sc.frames / 60.0, g.ticks);
  bool ok = rec.finish(&error) && log_file.commit(&error) && sim::write_picture(picture, title, g.road(), sketch, &error);
  if (!ok) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return 1;
  }
  const std::string png_note = sim::convert_to_png(picture, png);
  std::string readme_note;
  if (!sim::write_readme(o.out, sc.name, &readme_note)) readme_note = "note: " + readme_note;

  printf("\nsummary\n");
  for (const auto &[feature, what] : sim::summary(sc, g, rec)) printf("  %-17s %s\n", feature.c_str(), what.c_str());
  printf("\noutputs (%s/README.txt says what each file and column is)\n", o.out.c_str());
  printf("  picture  %s%s\n", picture.c_str(), png_note.empty() ? (" and " + png).c_str() : "");
  if (!png_note.empty()) printf("           (%s)\n", png_note.c_str());
  printf("  trace    %s\n  cars     %s\n  log      %s\n  presets  %s\n", trace.c_str(), cars.c_str(), log.c_str(),
         preset_file.c_str());
  if (!readme_note.empty()) printf("%s\n", readme_note.c_str());
  return 0;
}
