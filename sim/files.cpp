#include "sim/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/output_file.h"
#include "sim/platform.h"
#include "sim/trace.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

constexpr const char *ini_mark = "; written by zephal-sim";
constexpr const char *game_dir_note = "zephal-sim-game.txt";
constexpr const char *readme_first = "zephal-sim: what the files in this folder are";

std::string first_line(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  return line;
}

// "  name           meaning", the meaning folded at 100 characters.
std::string column_line(const column &c) {
  std::string out, line;
  fmt(line, "  %-14s", c.name);
  std::string word;
  const std::string text = std::string(c.meaning) + " ";
  for (char ch : text) {
    if (ch != ' ') {
      word += ch;
      continue;
    }
    if (line.size() + 1 + word.size() > 100) {
      out += line + "\n";
      line = std::string(17, ' ');
    } else {
      line += ' ';
    }
    line += word;
    word.clear();
  }
  return out + line + "\n";
}

}  // namespace

bool prepare_folder(const std::string &option, const std::string &dir, bool *made, std::string *error) {
  *made = false;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      *error = option + " " + dir + ": is a file, not a folder; give a folder (it is created when missing)";
      return false;
    }
  } else {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
      *error = option + " " + dir + ": cannot create the folder: " + ec.message();
      return false;
    }
    *made = true;
  }
  // Permissions say little for root and nothing for a read-only disk: try.
  const std::string probe = dir + "/.zephal-sim-probe";
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    *error = option + " " + dir + ": cannot write in the folder: " + strerror(errno);
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool game_dir_is_ours(const std::string &dir) { return fs::exists(dir + "/" + game_dir_note); }

void mark_game_dir(const std::string &dir) {
  std::ofstream(dir + "/" + game_dir_note, std::ios::binary)
      << "zephal-sim made this folder as a game directory for its runs.\n"
         "Here it writes zephal.ini from a scenario's setting lines (and deletes one it wrote),\n"
         "and --clean deletes a track's presets (tracks/NAME/freecam.ini).\n"
         "In a folder without this note it touches no file it did not make.\n";
}

bool write_settings(const scenario &s, const std::string &game_dir, bool *using_players, std::string *error) {
  const std::string ini = game_dir + "/zephal.ini";
  *using_players = false;
  std::error_code ec;
  const bool exists = fs::exists(fs::symlink_status(ini, ec));
  if (exists && !first_line(ini).starts_with(ini_mark)) {
    if (s.settings.empty()) {
      *using_players = true;  // nothing to write: the game reads what is there
      return true;
    }
    *error = ini + " is not one zephal-sim wrote, and the scenario has setting lines to write there. "
             "It is kept as it is: move it away, or give another --game-dir";
    return false;
  }
  if (s.settings.empty()) {
    if (exists && remove(ini.c_str()) != 0) {
      *error = "cannot remove " + ini + ": " + strerror(errno);
      return false;
    }
    return true;
  }
  std::string text = std::string(ini_mark) + " from " + s.path + "\r\n[Zephal]\r\n";
  for (auto &[k, v] : s.settings) text += k + "=" + v + "\r\n";
  return write_whole(ini, text, error);
}

bool write_readme(const std::string &out_dir, const std::string &scenario_name, std::string *error) {
  const std::string path = out_dir + "/README.txt";
  if (fs::exists(path) && first_line(path) != readme_first) {
    *error = path + " is not zephal-sim's: it is kept, and the guide to the columns was not written";
    return false;
  }
  std::string t = std::string(readme_first) + "\n";
  t += std::string(strlen(readme_first), '=') + "\n\n";
  t += "zephal-sim writes these files each run, named after the scenario (NAME: the last run here was " +
       scenario_name +
       ").\nTimes: the game draws 60 frames a second; the replay moves on by one tick a frame unless it is\n"
       "paused, rewound or sought. Places: metres, seen from above x to the right (east) and z up the\n"
       "page (north), y is height.\n\n"
       "NAME.svg        the run as a picture, two panels. Top: the track from above with each car's path,\n"
       "                the free cameras' paths (start and end marked) and a mark for each event; a scale\n"
       "                bar and a legend. Bottom: the time strip, the replay tick against the frame, with\n"
       "                rows for the free camera, pause, menu and each kind of event. Opens in a browser.\n"
       "NAME.png        the same picture as PNG (made when rsvg-convert, Debian's librsvg2-bin, is there).\n"
       "NAME.trace.csv  one row a frame: the replay and the cameras (columns below).\n"
       "NAME.cars.csv   one row a car a frame: where each car is (columns below).\n"
       "NAME.log        the loader's report and every line the plug-in logged, each with the frame and\n"
       "                the replay tick it was logged at ('-' before the first frame). A line\n"
       "                'bind car N (XXXXXXXX)' carries the address of car N's object in the game's memory.\n"
       "README.txt      this guide.\n\n"
       "The presets the plug-in saves are in the game directory, tracks/TRACK/freecam.ini.\n\n";
  t += "Columns of NAME.trace.csv\n-------------------------\n";
  for (const column &c : trace_columns) t += column_line(c);
  t += "\nColumns of NAME.cars.csv\n------------------------\n";
  for (const column &c : car_columns) t += column_line(c);
  return write_whole(path, t, error);
}

std::string convert_to_png(const std::string &svg, const std::string &png) {
  const std::string part = png + ".part";
  const int status = platform::run_program({"rsvg-convert", "--background-color", "white", "-o", part, svg});
  if (status != 0) {
    remove(part.c_str());
    if (status == 127)
      return "no PNG: rsvg-convert is not installed (Debian's librsvg2-bin; tools/setup.sh installs it)";
    return "no PNG: rsvg-convert failed on " + svg;
  }
  std::error_code ec;
  fs::rename(part, png, ec);  // over an earlier one, on Windows too
  if (ec) return "no PNG: cannot write " + png;
  return "";
}

}  // namespace sim
