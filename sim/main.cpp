// zephal-sim: the game and the Z9 loader in one 32-bit process (Linux i386,
// or Windows itself: sim/platform.h), playing a scenario. The game image
// stands at 0x400000 with the game's own code at the places the plug-in
// patches; the plug-in module is loaded and applied as the loader does it;
// then the game runs the scenario frame by frame through its patched code,
// and the run is written out as it goes (trace, cars, log) and at the end as
// a picture and a summary.
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

#include "sim/files.h"
#include "sim/output_file.h"
#include "sim/picture.h"
#include "sim/platform.h"
#include "sim/replay_model.h"
#include "sim/report.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "tools/common/settings_check.h"

namespace fs = std::filesystem;

namespace {

struct options {
  std::string scenario;
  std::string module = sim::platform::default_module();
  std::string game_dir = sim::platform::default_out_dir() + "/sim-game";
  std::string out = sim::platform::default_out_dir() + "/sim";
  std::string win32_log;
  bool clean = false, quiet = false, help = false;
};

constexpr const char *usage =
    "usage: zephal-sim SCENARIO [--module PATH] [--game-dir DIR] [--out DIR] [--win32-log FILE] [--clean]\n"
    "                  [--quiet]\n"
    "  SCENARIO        a scenario file (see sim/scenarios/README)\n"
    "  --module PATH   the plug-in: an ELF shared object (default the built zephal.so)\n"
    "                  or the PE DLL zephal.z9p\n"
    "  --game-dir DIR  the game's directory: zephal.ini and tracks\\NAME\\freecam.ini\n"
    "                  (default out/sim-game)\n"
    "  --out DIR       where the picture, trace, log and their README.txt go (default out/sim)\n"
    "  --win32-log FILE  one line for each Win32 and msvcrt function the plug-in calls, in\n"
    "                  order: name, arguments as passed (strings quoted, numbers in hex) and\n"
    "                  the result. A shared object calls the C runtime directly: only a DLL's\n"
    "                  msvcrt calls are listed. Two runs of a scenario give the same file\n"
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
    } else if (a == "--win32-log") {
      if (!value(o.win32_log, "a file")) return false;
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

// A run from its options to its summary, in the steps main takes.
struct run {
  options o;
  sim::scenario sc;
  std::string error, preset_file;
  bool players_ini = false;
  // The outputs, written as the run goes under temporary names and put in
  // place at the end.
  std::string trace, cars, picture, png, log;
  sim::output_file log_file;
  std::vector<std::string> entry_log;
  sim::game g;

  // Exit statuses: 0 went on, 1 the run failed, 2 bad input; each after a message.
  int fail(int status) {
    fprintf(stderr, "zephal-sim: %s\n", error.c_str());
    return status;
  }

  // The folders: the game's directory, as Windows names it for the plug-in,
  // and the outputs'. Nothing there is touched before both are usable.
  int prepare_folders() {
    const bool default_game_dir = o.game_dir == sim::platform::default_out_dir() + "/sim-game";
    bool made_game_dir = false, made_out = false;
    if (!sim::prepare_folder("--game-dir", o.game_dir, &made_game_dir, &error) ||
        !sim::prepare_folder("--out", o.out, &made_out, &error))
      return fail(2);
    o.game_dir = fs::absolute(o.game_dir).lexically_normal().string();
    o.out = fs::absolute(o.out).lexically_normal().string();
    if (!o.game_dir.empty() && o.game_dir.back() == '/') o.game_dir.pop_back();
    if (!o.out.empty() && o.out.back() == '/') o.out.pop_back();
    if (made_game_dir || default_game_dir) sim::mark_game_dir(o.game_dir);
    preset_file = o.game_dir + "/tracks/" + sc.track + "/freecam.ini";
    if (o.clean && fs::exists(preset_file) && !sim::game_dir_is_ours(o.game_dir)) {
      error = "--clean would delete " + preset_file +
              ", which zephal-sim did not make (this game directory is not one it created): remove it yourself, "
              "or give a new folder as --game-dir";
      return fail(2);
    }
    return 0;
  }

  // zephal.ini from the scenario, and what zephal-check --ini would say of
  // the one the plug-in is about to read, the scenario's or the player's own.
  int prepare_settings() {
    if (!sim::write_settings(sc, o.game_dir, &players_ini, &error)) return fail(2);
    tools::settings_report settings_check;
    if ((players_ini || !sc.settings.empty()) &&
        tools::check_settings(o.game_dir + "/zephal.ini", settings_check, error))
      tools::print_settings_warnings(settings_check, "zephal-sim: warning: ", stdout, false);
    sim::platform::set_game_path(sim::platform::windows_path(o.game_dir) + "\\game.exe");
    return 0;
  }

  int start_game() {
    if (!sim::platform::reset_game()) return 1;
    try {
      g.start(sc, o.game_dir);
    } catch (const fs::filesystem_error &e) {
      error = std::string("cannot make the track's folder in the game directory: ") + e.what();
      return fail(2);
    }
    std::error_code ec;
    if (o.clean) fs::remove(preset_file, ec);

    printf("zephal-sim: %s, track %s, %u cars, %u frames (%.1f s)\n", sc.path.c_str(), sc.track.c_str(), sc.cars,
           sc.frames, sc.frames / 60.0);
    printf("game directory %s (%s)\n", o.game_dir.c_str(),
           players_ini ? "its own zephal.ini, kept as it is"
                       : sc.settings.empty() ? "no zephal.ini" : "zephal.ini from the scenario");
    const size_t path_length = sim::platform::windows_path(preset_file).size();
    if (path_length >= 260)
      printf("note: the presets' path is %zu characters, beyond Windows' 259: the plug-in cuts it\n", path_length);
    return 0;
  }

  int open_outputs() {
    const std::string base = (fs::path(o.out) / sc.name).string();
    trace = base + ".trace.csv", cars = base + ".cars.csv";
    picture = base + ".svg", png = base + ".png", log = base + ".log";
    if (!log_file.open(log, &error)) return fail(2);
    log_file.write("# zephal-sim: " + sc.path + " on " + sc.track + "; the loader's report and the plug-in's log\n" +
                   "# frame: when the line was logged ('-' before the first frame); tick: the replay tick then\n" +
                   log_line("frame", "tick", "line"));
    if (!o.win32_log.empty() && !sim::platform::start_call_log(o.win32_log, &error)) return fail(2);
    return 0;
  }

  // The loader's part: its report and the lines the plug-in's entry logged.
  int load_plugin() {
    std::string report;
    const u32 applied = sim::platform::load_plugin(o.module, &report);
    fputs(report.c_str(), stdout);
    for (size_t at = 0, nl; (nl = report.find('\n', at)) != std::string::npos; at = nl + 1)
      log_file.write(log_line("-", "-", report.substr(at, nl - at)));
    entry_log = sim::platform::plugin_log();
    for (const std::string &line : entry_log) {
      printf("log: %s%s\n", line.c_str(), sim::log_note(line).c_str());
      log_file.write(log_line("-", "-", line));
    }
    if (!applied) {
      log_file.commit(&error);
      sim::platform::stop_call_log(&error);
      fprintf(stderr, "zephal-sim: the plug-in was not applied; the replay is not played\n");
      return 1;
    }
    return 0;
  }

  // What the scenario does on frame f: keys, the mouse, the game's own moves.
  void act(u32 f, size_t &next, std::vector<sim::action> &mouse) {
    for (; next < sc.timeline.size() && sc.timeline[next].frame == f; ++next) {
      const sim::action &a = sc.timeline[next];
      switch (a.kind) {
        case sim::action::key_down: sim::platform::set_key(a.a, true); break;
        case sim::action::key_up: sim::platform::set_key(a.a, false); break;
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
  }

  // The replay, frame by frame, recorded as it goes.
  int play(sim::recorder &rec) {
    if (!rec.open(trace, cars, &error)) return fail(2);
    rec.before_start(entry_log);
    // The loader keeps every message; what was read is let go each frame so
    // that a long run's memory stays flat.
    sim::platform::forget_plugin_log();
    const int space_key = atoi(setting(sc, "KeySpace", "32").c_str());
    bool space_was_down = false;
    size_t next = 0;
    std::vector<sim::action> mouse;  // movements still under way, in the order of their lines
    progress shown(sc.frames);
    if (!o.quiet) printf("%7s %7s  %s\n", "frame", "tick", "log");
    for (u32 f = 0; f < sc.frames; ++f) {
      act(f, next, mouse);
      // 60 frames a second on the game's clock.
      sim::platform::set_clock(1000000u + (u32)((u64)f * 1000 / 60));
      sim::frame_input in;
      for (int d = 0; d < 10; ++d) in.digit_down[d] = sim::platform::key_is_down('0' + d);
      in.ctrl = sim::platform::key_is_down(0x11);
      bool space_down = sim::platform::key_is_down(space_key);
      in.space = space_down && !space_was_down;
      space_was_down = space_down;

      sim::frame_report r = g.frame();

      const std::vector<std::string> &lines = sim::platform::plugin_log();
      if (!lines.empty()) {
        const std::string frame_no = std::to_string(f), tick = std::to_string(g.replay_tick());
        for (const std::string &line : lines) {
          const std::string text = log_line(frame_no.c_str(), tick.c_str(), line);
          if (!o.quiet) fputs(text.c_str(), stdout);
          log_file.write(text);
        }
      }
      rec.frame(f, r, in, lines);
      sim::platform::forget_plugin_log();
      shown.frame(f);
    }
    shown.done();
    return 0;
  }

  // What came of it: the files put in place, the picture, the summary.
  int finish(sim::recorder &rec, const sim::sketch &sketch) {
    char title[320];
    snprintf(title, sizeof title, "zephal-sim: %s on %s, %u frames (%.1f s), %u replay ticks", sc.name.c_str(),
             sc.track.c_str(), sc.frames, sc.frames / 60.0, g.ticks);
    bool ok = rec.finish(&error) && log_file.commit(&error) && sim::platform::stop_call_log(&error) &&
              sim::write_picture(picture, title, g.road(), sketch, &error);
    if (!ok) return fail(1);
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
    if (!o.win32_log.empty()) printf("  win32    %s\n", o.win32_log.c_str());
    if (!readme_note.empty()) printf("%s\n", readme_note.c_str());
    return 0;
  }
};

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--check-module") == 0) return sim::platform::check_module(argv[2]);
  if (argc == 3 && strcmp(argv[1], "--write-game-exe") == 0) {
    const std::vector<u8> exe = sim::platform::game_executable();
    std::string error;
    if (!sim::write_whole(argv[2], std::string(exe.begin(), exe.end()), &error)) {
      fprintf(stderr, "zephal-sim: %s\n", error.c_str());
      return 2;
    }
    return 0;
  }
  run r;
  if (!parse_args(argc, argv, r.o, &r.error)) {
    fprintf(stderr, "zephal-sim: %s\n%s(zephal-sim --help says more)\n", r.error.c_str(),
            r.error == "no scenario given" ? usage : "");
    return 2;
  }
  if (r.o.help) {
    fputs(usage, stdout);
    return 0;
  }
  if (!sim::load_scenario(r.o.scenario, r.sc, &r.error)) return r.fail(2);
  int status = r.prepare_folders();
  if (!status) status = r.prepare_settings();
  if (!status) status = r.start_game();
  if (!status) status = r.open_outputs();
  if (!status) status = r.load_plugin();
  if (status) return status;
  sim::sketch sketch;
  sim::recorder rec(r.g, r.preset_file, sketch);
  if (int played = r.play(rec)) return played;
  return r.finish(rec, sketch);
}
