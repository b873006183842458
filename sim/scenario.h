// A replay scenario: the set-up of one simulator run (track, cars, settings
// for zephal.ini, length) and a timeline of what the player and the game do,
// frame by frame. The format is described at the top of scenario.cpp.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/types.h"

namespace sim {

// Game modes the simulator knows: the replay viewer and the game's menu.
constexpr u32 mode_menu = 1;
constexpr u32 mode_replay = 2;

constexpr u32 max_cars = 16;
constexpr u32 max_marks = 64;
constexpr int view1_off = -1;

// What one scenario may hold, so that no file can make the parser or the run
// take more memory than a scenario needs: a line is one action (a mouse
// movement over many frames included) or a key combination of a few keys,
// and a track name is one folder name on either system.
constexpr u32 max_frames = 10000000;
constexpr size_t max_scenario_bytes = 8u << 20;
constexpr size_t max_combo_keys = 8;
constexpr size_t max_track_name = 255;

struct action {
  enum kind_t {
    key_down,     // a: virtual-key code
    key_up,       // a: virtual-key code
    mouse,        // a, b: movement of the game mouse on each of `frames` frames from this one
    camera,       // a: replay camera number requested as the game's own interface does
    mode,         // a: game mode word
    cars,         // a: number of cars
    marks,        // a: number of mark sections
    view1,        // a: camera type of the second view, or view1_off
  };
  kind_t kind;
  i32 a = 0, b = 0;
  u32 frame = 0;
  u32 frames = 1;    // mouse: how many frames the movement repeats on (one line, one action)
  int line = 0;      // where it was written, for messages
  int order = 1;     // within a frame: releases that press/hold scheduled (0) come first
};

struct scenario {
  std::string path;
  std::string name;                 // file name without folders and extension
  std::string track = "alpine";
  u32 frames = 600;
  u32 cars = 8;
  u32 marks = 2;
  u32 mode = mode_replay;
  u32 camera = 0;                   // replay camera shown at the start
  int view1 = view1_off;
  std::vector<std::pair<std::string, std::string>> settings;  // zephal.ini, section "Zephal"
  std::vector<action> timeline;     // sorted by frame, then order, then line
};

// Reads a scenario; false with "path:line: message" in *error for any line
// that cannot be understood (or "path: message" for the file as a whole: not
// a regular file, unreadable, too large). A UTF-8 byte-order mark at the
// start, as some Windows editors write one, is skipped.
bool parse_scenario_text(const std::string &text, const std::string &path, scenario &out,
                         std::string *error);
bool load_scenario(const std::string &path, scenario &out, std::string *error);

// Virtual-key code of a key name (W, SPACE, COMMA, CTRL, 4, 0xBC, vk188...),
// or 0 when the name means no key.
int key_code(const std::string &name);
// The scenario's name for a virtual-key code, for messages.
std::string key_name(int vk);

}  // namespace sim
