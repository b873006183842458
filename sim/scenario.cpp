// Scenario files: a plain-text timeline of one replay session.
//
// One statement a line; '#' starts a comment; blank lines are ignored; words
// are separated by blanks and names are not case sensitive.
//
// Set-up lines (no frame; they describe the game before the first frame):
//   track NAME           the track: its folder is tracks\NAME under the game
//                        directory, where its freecam.ini lives (default alpine;
//                        alpine, harbour, desert and oval are laid out by hand,
//                        any other name gets a loop of its own)
//   frames N             length of the run in frames, 60 a second (default 600)
//   cars N               cars in the replay, 0 to 16 (default 8)
//   marks N              mark sections of the track, 0 to 64 (default 2)
//   mode replay|menu     game mode at the start (default replay)
//   camera N             replay camera shown at the start, 0 to 8 (default 0)
//   view1 N|off          camera type of the game's second view (default off)
//   setting KEY=VALUE    a line of zephal.ini, section [Zephal]; without any
//                        setting line the run has no zephal.ini at all
//
// Timeline lines start with the frame they happen on: @N is frame N, +N is N
// frames after the previous timeline line (+0: the same frame). Frames count
// from 0 and must lie below the run's length. Within one frame, lines act in
// the order written, after the releases that earlier press and hold lines
// scheduled for that frame.
//   @N down KEYS         keys go down (and stay down)
//   @N up KEYS           keys come up
//   @N press KEYS        down for one frame
//   @N hold KEYS F       down for F frames
//   @N mouse DX DY [F]   the game mouse moves by DX, DY on each of F frames (default 1)
//   @N camera N          the game's replay interface asks for camera N (0 to 8);
//                        7 is the free camera, the others TV and chase cameras
//   @N mode replay|menu  the game enters replay playback or leaves it for its menu
//   @N cars N            cars join or leave the replay (0 to 16)
//   @N marks N           the track's number of mark sections changes
//   @N view1 N|off       the second view shows camera type N, or is closed
//
// KEYS is one key or several joined by '+' (CTRL+4, SHIFT+COMMA). Key names:
// A to Z, 0 to 9 (the main row), SPACE, COMMA, PERIOD, CTRL, SHIFT, ALT,
// ENTER, ESC, TAB, BACKSPACE, LEFT, RIGHT, UP, DOWN, MINUS, EQUALS, F1 to F12,
// or a virtual-key code as 0xBC or vk188.
//
// A file holds at most max_scenario_bytes, and each line is one action
// (a mouse movement over any number of frames included) or, for a key
// combination, at most two for each of its max_combo_keys keys.
//
// Example:
//   track harbour
//   frames 900
//   setting RewindTicks=1024
//   @60  camera 7          # the free camera
//   +30  hold SHIFT+W 90   # fly forward, boosted
//   +120 press V           # bind the position to the car
#include "sim/scenario.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim {
namespace {

struct named_key {
  const char *name;
  int vk;
};

constexpr named_key named_keys[] = {
    {"SPACE", 0x20},  {"COMMA", 0xbc},  {"PERIOD", 0xbe},   {"CTRL", 0x11},   {"CONTROL", 0x11},
    {"SHIFT", 0x10},  {"ALT", 0x12},    {"ENTER", 0x0d},    {"RETURN", 0x0d}, {"ESC", 0x1b},
    {"ESCAPE", 0x1b}, {"TAB", 0x09},    {"BACKSPACE", 0x08}, {"LEFT", 0x25},  {"UP", 0x26},
    {"RIGHT", 0x27},  {"DOWN", 0x28},   {"MINUS", 0xbd},    {"EQUALS", 0xbb},
};

std::string upper(std::string s) {
  for (char &c : s) c = (char)toupper((unsigned char)c);
  return s;
}

bool number(const std::string &s, i64 &v, int base = 10) {
  const char *b = s.data(), *e = b + s.size();
  if (b != e && *b == '+') ++b;
  auto r = std::from_chars(b, e, v, base);
  return b != e && r.ec == std::errc() && r.ptr == e;
}

std::vector<std::string> words(const std::string &line) {
  std::vector<std::string> w;
  std::istringstream in(line);
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

// Reasons for refusing a line; the parser adds where.
struct bad_line {
  std::string why;
};

class parser {
 public:
  explicit parser(scenario &s) : s_(s) {}

  void line(int no, std::string text) {
    no_ = no;
    if (size_t hash = text.find('#'); hash != std::string::npos) text.erase(hash);
    std::vector<std::string> w = words(text);
    if (w.empty()) return;
    if (w[0][0] == '@' || w[0][0] == '+') {
      i64 n;
      if (!number(w[0].substr(1), n) || n < 0 || n > max_frames)
        throw bad_line{"'" + w[0] + "' is not a frame (@N or +N, N a whole number)"};
      // Sums of +N stay within u32 and are refused by finish() past the end.
      frame_ = w[0][0] == '@' ? (u32)n : std::min<u32>(frame_ + (u32)n, 2 * max_frames);
      w.erase(w.begin());
      if (w.empty()) throw bad_line{"a frame without anything happening on it"};
      timed(w);
    } else {
      setup(w, text);
    }
  }

  void finish() {
    for (const action &a : s_.timeline)
      if (u64 last = (u64)a.frame + a.frames - 1; last >= s_.frames) {
        no_ = a.line;
        throw bad_line{"frame " + std::to_string(last) + " is past the end of the run (frames " +
                       std::to_string(s_.frames) + " are 0 to " + std::to_string(s_.frames - 1) + ")"};
      }
    std::stable_sort(s_.timeline.begin(), s_.timeline.end(), [](const action &x, const action &y) {
      return x.frame != y.frame ? x.frame < y.frame : x.order < y.order;
    });
  }

  int line_no() const { return no_; }

 private:
  void want(const std::vector<std::string> &w, size_t min, size_t max, const char *form) {
    if (w.size() < min || w.size() > max) throw bad_line{std::string("expected: ") + form};
  }

  i64 integer(const std::string &s, i64 lo, i64 hi, const char *what) {
    i64 v;
    if (!number(s, v)) throw bad_line{std::string(what) + " '" + s + "' is not a whole number"};
    if (v < lo || v > hi)
      throw bad_line{std::string(what) + " " + s + " is out of range (" + std::to_string(lo) + " to " +
                     std::to_string(hi) + ")"};
    return v;
  }

  u32 mode_word(const std::string &s) {
    std::string u = upper(s);
    if (u == "REPLAY") return mode_replay;
    if (u == "MENU") return mode_menu;
    throw bad_line{"unknown game mode '" + s + "' (replay or menu)"};
  }

  int view1_type(const std::string &s) {
    if (upper(s) == "OFF") return view1_off;
    return (int)integer(s, 0, 8, "camera type");
  }

  std::vector<int> keys(const std::string &combo) {
    std::vector<int> out;
    if ((size_t)std::count(combo.begin(), combo.end(), '+') >= max_combo_keys)
      throw bad_line{"'" + combo.substr(0, 40) + (combo.size() > 40 ? "...'" : "'") + " joins more than " +
                     std::to_string(max_combo_keys) + " keys"};
    size_t i = 0;
    while (i <= combo.size()) {
      size_t j = combo.find('+', i);
      if (j == std::string::npos) j = combo.size();
      std::string name = combo.substr(i, j - i);
      int vk = key_code(name);
      if (!vk)
        throw bad_line{name.empty() ? "a key name is missing in '" + combo + "'"
                                    : "unknown key '" + name +
                                          "' (A-Z, 0-9, SPACE, COMMA, PERIOD, CTRL, SHIFT, ... or a "
                                          "virtual-key code like 0xBC)"};
      out.push_back(vk);
      i = j + 1;
    }
    return out;
  }

  void add(action::kind_t k, i32 a, i32 b = 0, u32 frame_offset = 0, int order = 1, u32 frames = 1) {
    action x{k, a, b, frame_ + frame_offset, frames, no_, order};
    s_.timeline.push_back(x);
  }

  void timed(const std::vector<std::string> &w) {
    const std::string cmd = upper(w[0]);
    if (cmd == "DOWN" || cmd == "UP") {
      want(w, 2, 2, cmd == "DOWN" ? "@N down KEYS" : "@N up KEYS");
      for (int vk : keys(w[1])) add(cmd == "DOWN" ? action::key_down : action::key_up, vk);
    } else if (cmd == "PRESS" || cmd == "HOLD") {
      u32 frames = 1;
      if (cmd == "PRESS") {
        want(w, 2, 2, "@N press KEYS");
      } else {
        want(w, 3, 3, "@N hold KEYS FRAMES");
        frames = (u32)integer(w[2], 1, max_frames, "hold length");
      }
      std::vector<int> vks = keys(w[1]);
      for (int vk : vks) add(action::key_down, vk);
      for (int vk : vks) add(action::key_up, vk, 0, frames, 0);
    } else if (cmd == "MOUSE") {
      want(w, 3, 4, "@N mouse DX DY [FRAMES]");
      i32 dx = (i32)integer(w[1], -100000, 100000, "mouse movement");
      i32 dy = (i32)integer(w[2], -100000, 100000, "mouse movement");
      u32 frames = w.size() > 3 ? (u32)integer(w[3], 1, max_frames, "mouse frames") : 1;
      add(action::mouse, dx, dy, 0, 1, frames);
    } else if (cmd == "CAMERA") {
      want(w, 2, 2, "@N camera N");
      add(action::camera, (i32)integer(w[1], 0, 8, "replay camera"));
    } else if (cmd == "MODE") {
      want(w, 2, 2, "@N mode replay|menu");
      add(action::mode, (i32)mode_word(w[1]));
    } else if (cmd == "CARS") {
      want(w, 2, 2, "@N cars N");
      add(action::cars, (i32)integer(w[1], 0, max_cars, "number of cars"));
    } else if (cmd == "MARKS") {
      want(w, 2, 2, "@N marks N");
      add(action::marks, (i32)integer(w[1], 0, max_marks, "number of mark sections"));
    } else if (cmd == "VIEW1") {
      want(w, 2, 2, "@N view1 N|off");
      add(action::view1, view1_type(w[1]));
    } else if (cmd == "TRACK" || cmd == "FRAMES" || cmd == "SETTING") {
      throw bad_line{"'" + w[0] + "' belongs to the set-up and takes no frame"};
    } else {
      throw bad_line{"unknown command '" + w[0] + "'"};
    }
  }

  void setup(const std::vector<std::string> &w, const std::string &text) {
    const std::string cmd = upper(w[0]);
    if (cmd == "TRACK") {
      want(w, 2, 2, "track NAME");
      if (w[1].size() > max_track_name)
        throw bad_line{"the track name is " + std::to_string(w[1].size()) +
                       " characters long; a folder name holds at most " + std::to_string(max_track_name)};
      for (char c : w[1])
        if (!isalnum((unsigned char)c) && c != '_' && c != '-')
          throw bad_line{"track name '" + w[1] + "' may hold only letters, digits, '_' and '-'"};
      s_.track = w[1];
    } else if (cmd == "FRAMES") {
      want(w, 2, 2, "frames N");
      s_.frames = (u32)integer(w[1], 1, max_frames, "number of frames");
    } else if (cmd == "CARS") {
      want(w, 2, 2, "cars N");
      s_.cars = (u32)integer(w[1], 0, max_cars, "number of cars");
    } else if (cmd == "MARKS") {
      want(w, 2, 2, "marks N");
      s_.marks = (u32)integer(w[1], 0, max_marks, "number of mark sections");
    } else if (cmd == "MODE") {
      want(w, 2, 2, "mode replay|menu");
      s_.mode = mode_word(w[1]);
    } else if (cmd == "CAMERA") {
      want(w, 2, 2, "camera N");
      s_.camera = (u32)integer(w[1], 0, 8, "replay camera");
    } else if (cmd == "VIEW1") {
      want(w, 2, 2, "view1 N|off");
      s_.view1 = view1_type(w[1]);
    } else if (cmd == "SETTING") {
      // Everything after the word, so that "Key = Value" works as well.
      std::string rest = text.substr(text.find_first_not_of(" \t"));
      rest = rest.substr(7);
      size_t eq = rest.find('=');
      if (eq == std::string::npos) throw bad_line{"expected: setting KEY=VALUE"};
      auto trim = [](std::string s) {
        size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
      };
      std::string key = trim(rest.substr(0, eq)), value = trim(rest.substr(eq + 1));
      if (key.empty() || key.find_first_of(" \t[]") != std::string::npos)
        throw bad_line{"'" + key + "' is not a setting name"};
      if (value.empty()) throw bad_line{"setting " + key + " has no value"};
      s_.settings.emplace_back(key, value);
    } else if (cmd == "DOWN" || cmd == "UP" || cmd == "PRESS" || cmd == "HOLD" || cmd == "MOUSE") {
      throw bad_line{"'" + w[0] + "' needs a frame in front of it (@N or +N)"};
    } else {
      throw bad_line{"unknown command '" + w[0] + "'"};
    }
  }

  scenario &s_;
  int no_ = 0;
  u32 frame_ = 0;
};

}  // namespace

int key_code(const std::string &name) {
  std::string u = upper(name);
  if (u.size() == 1 && (isupper((unsigned char)u[0]) || isdigit((unsigned char)u[0]))) return u[0];
  for (const named_key &k : named_keys)
    if (u == k.name) return k.vk;
  i64 v;
  if (u.size() >= 2 && u[0] == 'F' && number(u.substr(1), v) && v >= 1 && v <= 12) return 0x6f + (int)v;
  if (u.starts_with("0X") && number(u.substr(2), v, 16) && v >= 1 && v <= 255) return (int)v;
  if (u.starts_with("VK") && number(u.substr(2), v) && v >= 1 && v <= 255) return (int)v;
  return 0;
}

std::string key_name(int vk) {
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, (char)vk);
  for (const named_key &k : named_keys)
    if (k.vk == vk) return k.name;
  char b[8];
  snprintf(b, sizeof b, "0x%02X", vk);
  return b;
}

bool parse_scenario_text(const std::string &text, const std::string &path, scenario &out,
                         std::string *error) {
  scenario s;
  s.path = path;
  size_t slash = path.find_last_of('/');
  s.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (size_t dot = s.name.rfind('.'); dot != std::string::npos && dot > 0) s.name.erase(dot);
  parser p(s);
  // A UTF-8 byte-order mark, as Notepad writes one, is no part of the first line.
  std::istringstream in(text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text);
  std::string line;
  int no = 0;
  try {
    while (std::getline(in, line)) {
      ++no;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      p.line(no, line);
    }
    p.finish();
  } catch (const bad_line &b) {
    *error = path + ":" + std::to_string(p.line_no()) + ": " + b.why;
    return false;
  }
  out = std::move(s);
  return true;
}

bool load_scenario(const std::string &path, scenario &out, std::string *error) {
  // The file's type first: a folder opens as an empty stream and a FIFO
  // would wait for a writer forever.
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = path + ": cannot read the scenario: " + strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = path + ": is a folder, not a scenario file (the scenarios are in sim/scenarios/)";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": is not a regular file; a scenario is a text file";
    return false;
  }
  if ((u64)st.st_size > max_scenario_bytes) {
    *error = path + ": is " + std::to_string((u64)st.st_size >> 20) + " MB; a scenario holds at most " +
             std::to_string(max_scenario_bytes >> 20) + " MB";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((size_t)st.st_size, '\0');
  if (!in || !in.read(text.data(), (std::streamsize)text.size())) {
    *error = path + ": cannot read the scenario";
    return false;
  }
  return parse_scenario_text(text, path, out, error);
}

}  // namespace sim
