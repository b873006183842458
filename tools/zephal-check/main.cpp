// zephal-check: before the game starts, tells a player whether this plug-in
// fits their game build, and what the plug-in will make of their zephal.ini.
#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "base/version.h"
#include "tools/common/paths.h"
#include "tools/common/pe_file.h"
#include "tools/common/program.h"
#include "tools/common/settings_check.h"
#include "tools/zephal-check/game_check.h"

namespace {

using namespace tools;

const char usage[] =
    "zephal-check " ZEPHAL_VERSION ": does Zephal fit your game, and what will it make of your settings?\n"
    "\n"
    "usage:\n"
    "  zephal-check GAME.exe [--plugin zephal.z9p]\n"
    "      Reads the game's executable and tells whether this plug-in fits that game\n"
    "      build: the loader's build check and each of the places the plug-in patches.\n"
    "      The plug-in is zephal.z9p beside zephal-check unless --plugin names one.\n"
    "  zephal-check --ini zephal.ini\n"
    "      Shows each setting as the plug-in will read it and warns about misspelt\n"
    "      keys, values that are not numbers or will be clamped, keys given twice and\n"
    "      two actions on one key.\n"
    "  zephal-check --defaults\n"
    "      Prints a zephal.ini with every setting at its default, each explained\n"
    "      (zephal-check --defaults > zephal.ini makes a fresh one).\n"
    "\n"
    "exit status: 0 the game fits / no warnings; 1 it does not fit / warnings;\n"
    "2 a file could not be read or the command line is wrong.\n";

std::string hex_bytes(const std::vector<u8> &b) {
  std::string s;
  char h[4];
  for (size_t i = 0; i < b.size(); ++i) {
    if (i == 12) return s + " ...";
    snprintf(h, sizeof h, i ? " %02x" : "%02x", b[i]);
    s += h;
  }
  return s;
}

const char *verdict_word(site_check::verdict_t v) {
  switch (v) {
    case site_check::fits: return "fits";
    case site_check::differs: return "DIFFERS";
    case site_check::missing: return "MISSING";
    case site_check::not_checked: return "not checked";
  }
  return "";
}

int check_game_file(const std::string &game_path, std::string plugin_path) {
  if (plugin_path.empty()) {
    plugin_path = program_dir() + "zephal.z9p";
    if (!exists(plugin_path))
      return fail("cannot find zephal.z9p beside zephal-check (looked for " + plugin_path +
                  "); name it with --plugin PATH\\zephal.z9p");
  }
  plugin_tables plugin;
  pe_file game;
  std::string error;
  if (!read_plugin(plugin_path, plugin, error) || !read_pe(game_path, game, error)) return fail(error);
  if (game.dll)
    return fail(game_path + " is a DLL, not the game's executable: name the game's .exe, the program you start");

  const game_check c = check_game(game, plugin);
  printf("Plug-in: Zephal %s (%s), %s\n", plugin.version.c_str(), plugin.id.c_str(), plugin_path.c_str());
  printf("Game:    %s\n\n", game_path.c_str());
  printf("  %-24s %-10s %-26s %-26s %s\n", "place", "RVA", "expected", "found", "verdict");
  const std::string base = hex(game.image_base);
  printf("  %-24s %-10s %-26s %-26s %s\n", "image base", "-", "0x400000", base.c_str(), c.base_fits ? "fits" : "DIFFERS");
  for (const site_check &s : c.sites) {
    const std::string found = s.found.empty() ? "-" : hex_bytes(s.found);
    printf("  %-24s %-10s %-26s %-26s %s%s%s\n", s.what.c_str(), hex(s.rva).c_str(), s.expected.c_str(), found.c_str(),
           verdict_word(s.verdict), s.note.empty() ? "" : ": ", s.note.c_str());
  }

  const site_check &build = c.sites.front();
  const std::string name = "Zephal " + plugin.version;
  int differing = 0;
  const site_check *first = nullptr;
  for (size_t i = 1; i < c.sites.size(); ++i)
    if (c.sites[i].verdict == site_check::differs || c.sites[i].verdict == site_check::missing) {
      ++differing;
      if (!first) first = &c.sites[i];
    }
  printf("\n");
  if (c.all_fit()) {
    printf("This game build fits %s: the loader's check passes and all %zu places hold the code the plug-in\n"
           "expects. Install the plug-in as the guide says.\n",
           name.c_str(), plugin.defs.size());
    return 0;
  }
  if (!c.base_fits)
    printf("This game build does not fit %s: the game is linked at %s, and the plug-in works only with a\n"
           "game at 0x400000.\n",
           name.c_str(), base.c_str());
  else if (build.verdict != site_check::fits)
    printf("This game build does not fit %s: the loader's build check at RVA 0x%X fails, so the loader will\n"
           "refuse the plug-in. It was made for the build that holds %s there (game address 0x%X):\n"
           "use that version of the game, or a version of Zephal made for yours.\n",
           name.c_str(), build.rva, build.expected.c_str(), game_image_base + build.rva);
  else
    printf("The loader's build check passes, but %d of the %zu places differ%s. The loader will start the\n"
           "plug-in, which then stops at %s and logs\n"
           "  def %s: expected mismatch @ RVA 0x%X\n"
           "and the free camera, rewind and presets will not work. Another mod may have patched these\n"
           "places, or the executable was changed: try the game's original executable.\n",
           differing, plugin.defs.size(), first && first->verdict == site_check::missing ? " or are missing" : "",
           first ? first->what.c_str() : "?", first ? first->what.c_str() : "?", first ? first->rva : 0);
  return 1;
}

int check_ini(const std::string &path) {
  settings_report r;
  std::string error;
  if (!exists(path))
    return fail("cannot find " + path +
                ". Without a zephal.ini beside the game the plug-in uses every default; "
                "zephal-check --defaults prints them as a file");
  if (!check_settings(path, r, error)) return fail(error);
  printf("Settings: %s, section [Zephal], as the plug-in reads them\n\n", path.c_str());
  printf("  %-20s %-12s %-7s %s\n", "setting", "in the file", "used", "meaning");
  for (const setting_value &v : r.values) {
    std::string in_file = v.line ? v.text : "-";
    if (in_file.size() > 12) in_file = in_file.substr(0, 9) + "...";
    if (v.line && in_file.empty()) in_file = "(empty)";
    printf("  %-20s %-12s %-7d %s\n", v.row->key, in_file.c_str(), v.used, meaning(r, v).c_str());
  }
  printf("\n");
  if (r.warnings.empty()) {
    printf("No warnings: the plug-in will read the file as shown.\n");
    return 0;
  }
  printf("%zu warning%s:\n", r.warnings.size(), r.warnings.size() == 1 ? "" : "s");
  print_settings_warnings(r, "  ", stdout);
  return 1;
}

int run(int argc, char **argv) {
  std::string game, plugin, ini;
  bool defaults = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (int status; help_or_version(a, status)) {
      return status;
    } else if (a == "--defaults") {
      defaults = true;
    } else if (a == "--plugin" || a == "--ini") {
      if (i + 1 == argc) return fail(a + " needs a file name after it (see zephal-check --help)");
      (a == "--plugin" ? plugin : ini) = argv[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      return fail("unknown option " + a + " (see zephal-check --help)");
    } else if (game.empty()) {
      game = a;
    } else {
      return fail("one game at a time: " + game + " and " + a + " given (see zephal-check --help)");
    }
  }
  if ((int)!game.empty() + (int)!ini.empty() + (int)defaults != 1) return usage_error();
  if (defaults) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);  // the file's own CRLF, not CR CR LF
#endif
    fputs(default_settings_file(ZEPHAL_VERSION).c_str(), stdout);
    return 0;
  }
  if (!plugin.empty() && game.empty()) return fail("--plugin goes with a game: zephal-check GAME.exe --plugin FILE");
  return ini.empty() ? check_game_file(game, plugin) : check_ini(ini);
}

}  // namespace

int main(int argc, char **argv) { return tools::run_program({"zephal-check", usage, run}, argc, argv); }
