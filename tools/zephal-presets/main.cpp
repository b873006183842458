// zephal-presets: a track's camera presets ("freecam.ini") for people: list
// them, export them as text to edit by hand, import the text back, copy one
// preset to another number or another track.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/version.h"
#include "tools/common/paths.h"
#include "tools/common/program.h"
#include "tools/zephal-presets/preset_file.h"
#include "tools/zephal-presets/preset_text.h"

namespace {

using namespace tools;

const char usage[] =
    "zephal-presets " ZEPHAL_VERSION ": the ten camera presets of a track (its freecam.ini)\n"
    "\n"
    "usage:\n"
    "  zephal-presets list FILE\n"
    "      Shows each preset: empty or used, position, view (yaw, pitch, roll in\n"
    "      degrees), binds and car, and flags damaged ones.\n"
    "  zephal-presets export FILE > presets.txt\n"
    "      Writes the presets as text to edit by hand.\n"
    "  zephal-presets import presets.txt FILE\n"
    "      Writes edited presets back into FILE, changing only what was changed in\n"
    "      the text and keeping every other line of FILE.\n"
    "  zephal-presets copy FILE N [FILE2] M [--force]\n"
    "      Copies preset N to slot M of the same file, or of FILE2 (another track's\n"
    "      freecam.ini). A used slot M is replaced only with --force.\n"
    "\n"
    "FILE is the freecam.ini in a track's folder under the game's folder. Slots\n"
    "are 0 to 9, the digit keys that save (Ctrl+digit) and recall them.\n"
    "exit status: 0 done; 1 list found damaged presets; 2 nothing was done.\n";

// A preset file named on the command line, which must be there.
bool open_existing(const std::string &path, std::string &profile, std::string &error) {
  if (!exists(path)) {
    error = "cannot find " + path + " (the plug-in makes a track's freecam.ini at its first Ctrl+digit save)";
    return false;
  }
  std::string text;
  if (!tools::read_small_file(path, "preset text", text, error)) return false;
  profile = profile_path(path);
  return true;
}

bool preset_number(const std::string &s, int &number) {
  std::string t = s.size() == 4 && (s[0] == 'P' || s[0] == 'p') ? s.substr(3) : s;
  if (t.size() != 1 || t[0] < '0' || t[0] > '9') return false;
  number = t[0] - '0';
  return true;
}

std::string binds(const preset &p) {
  const bool pos = p.keys[key_bind_pos].value != 0, rot = p.keys[key_bind_rot].value != 0;
  return pos && rot ? "position+rotation" : pos ? "position" : rot ? "rotation" : "none";
}

int list(const std::string &path) {
  std::string profile, error;
  if (!open_existing(path, profile, error)) return fail(error);
  printf("Presets in %s\n\n", path.c_str());
  printf("  %-4s %-8s %-32s %-24s %-18s %s\n", "slot", "state", "position (x, y, z)", "yaw, pitch, roll",
         "binds", "car");
  int damaged = 0;
  for (int number = 0; number < 10; ++number) {
    const preset p = read_preset(profile, number);
    if (!p.used()) {
      printf("  %-4d %s\n", number, "empty");
      for (const std::string &problem : p.problems()) printf("         %s\n", problem.c_str());
      continue;
    }
    damaged += p.damaged();
    char pos[64] = "?", look[64] = "?";
    auto f = [&](int key) {
      f32 v;
      memcpy(&v, &p.keys[key].bits, 4);
      return (double)v;
    };
    if (p.keys[key_x].present && p.keys[key_x + 1].present && p.keys[key_x + 2].present)
      snprintf(pos, sizeof pos, "%.2f, %.2f, %.2f", f(key_x), f(key_x + 1), f(key_x + 2));
    u32 m[9];
    bool whole = true;
    for (int k = 0; k < 9; ++k) {
      whole = whole && p.keys[key_m(k)].present;
      m[k] = p.keys[key_m(k)].bits;
    }
    double yaw, pitch, roll;
    if (whole && angles_of(m, yaw, pitch, roll)) snprintf(look, sizeof look, "%.1f, %.1f, %.1f", yaw, pitch, roll);
    printf("  %-4d %-8s %-32s %-24s %-18s %d\n", number, p.damaged() ? "DAMAGED" : "used", pos, look,
           binds(p).c_str(), p.keys[key_car].value);
    for (const std::string &problem : p.problems()) printf("         %s\n", problem.c_str());
  }
  const std::string why = why_not_writable(path);
  if (!why.empty())
    printf("\nThe plug-in cannot save presets here: %s is not writable (%s). Its Ctrl+digit saves\n"
           "still log \"preset N saved\" but change nothing.\n",
           path.c_str(), why.c_str());
  if (damaged)
    printf("\n%d damaged preset%s: a recall keeps the camera's current value for each missing float.\n"
           "Save the preset again in the game, or fix it with export and import.\n",
           damaged, damaged == 1 ? "" : "s");
  return damaged ? 1 : 0;
}

int export_presets(const std::string &path) {
  std::string profile, error;
  if (!open_existing(path, profile, error)) return fail(error);
  std::vector<preset> all;
  for (int number = 0; number < 10; ++number) all.push_back(read_preset(profile, number));
  fputs(export_text(all, path, ZEPHAL_VERSION).c_str(), stdout);
  return 0;
}

int import_presets(const std::string &text_path, const std::string &path) {
  std::string text, error;
  std::vector<text_preset> wanted;
  if (!tools::read_small_file(text_path, "preset text", text, error)) return fail(error);
  if (!parse_text(text, text_path, wanted, error)) return fail(error + "\nnothing was written");
  if (wanted.empty()) return fail(text_path + " holds no [PosN] block: nothing to import");
  const std::string why = why_not_writable(path);
  if (!why.empty()) return fail("cannot write " + path + ": " + why + "; nothing was written");
  const std::string profile = profile_path(path);

  int written = 0;
  for (const text_preset &w : wanted) {
    const auto todo = changes(w, read_preset(profile, w.number));
    std::string names;
    for (const auto &[key, value] : todo) {
      if (!write_key(profile, w.number, key, value))
        return fail("writing " + preset_key_name(key) + " of Pos" + std::to_string(w.number) + " into " + path +
                    " failed after " + std::to_string(written) + " values were written");
      ++written;
      names += (names.empty() ? "" : ", ") + preset_key_name(key);
    }
    printf("Pos%d: %s\n", w.number, todo.empty() ? "unchanged" : ("wrote " + names).c_str());
  }
  printf("%d value%s written to %s\n", written, written == 1 ? "" : "s", path.c_str());
  return 0;
}

int copy(const std::vector<std::string> &args, bool force) {
  // FILE N M, or FILE N FILE2 M.
  const std::string from = args[0], to = args.size() == 4 ? args[2] : args[0];
  int n = 0, m = 0;
  if (!preset_number(args[1], n) || !preset_number(args.back(), m))
    return fail("slots are 0 to 9: " + args[1] + " and " + args.back() + " given");
  std::string profile_from, error;
  if (!open_existing(from, profile_from, error)) return fail(error);
  const std::string profile_to = profile_path(to);
  if (profile_from == profile_to && n == m) return fail("preset " + std::to_string(n) + " onto itself: nothing to do");
  const preset source = read_preset(profile_from, n);
  if (!source.used()) return fail("preset " + std::to_string(n) + " of " + from + " is empty: nothing to copy");
  if (source.damaged())
    return fail("preset " + std::to_string(n) + " of " + from +
                " is damaged (zephal-presets list shows how); save it again in the game first");
  const std::string why = why_not_writable(to);
  if (!why.empty()) return fail("cannot write " + to + ": " + why + "; nothing was written");
  if (exists(to) && read_preset(profile_to, m).used() && !force)
    return fail("slot " + std::to_string(m) + " of " + to +
                " holds a preset already; add --force to replace it (nothing was written)");
  for (int i = 0; i < preset_key_count; ++i)
    if (!write_key(profile_to, m, i, source.keys[i].text))
      return fail("writing " + preset_key_name(i) + " into " + to + " failed");
  printf("Copied preset %d of %s to slot %d of %s\n", n, from.c_str(), m, to.c_str());
  return 0;
}

int run(int argc, char **argv) {
  std::vector<std::string> args;
  bool force = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (int status; help_or_version(a, status)) return status;
    if (a == "--force")
      force = true;
    else if (a.size() > 1 && a[0] == '-' && (a[1] < '0' || a[1] > '9'))
      return fail("unknown option " + a + " (see zephal-presets --help)");
    else
      args.push_back(a);
  }
  if (args.empty()) return usage_error();
  const std::string command = args[0];
  args.erase(args.begin());
  auto wrong = [&](const char *form) { return fail(std::string("usage: zephal-presets ") + form); };
  if (force && command != "copy") return fail("--force goes with copy");
  if (command == "list") return args.size() == 1 ? list(args[0]) : wrong("list FILE");
  if (command == "export") return args.size() == 1 ? export_presets(args[0]) : wrong("export FILE > TEXT");
  if (command == "import") return args.size() == 2 ? import_presets(args[0], args[1]) : wrong("import TEXT FILE");
  if (command == "copy")
    return args.size() == 3 || args.size() == 4 ? copy(args, force) : wrong("copy FILE N [FILE2] M [--force]");
  return fail("unknown command " + command + " (list, export, import or copy; see zephal-presets --help)");
}

}  // namespace

int main(int argc, char **argv) { return tools::run_program({"zephal-presets", usage, run}, argc, argv); }
