#include "sim/trace.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/game_image.h"
#include "ini/ini_file.h"
#include "sim/log_lines.h"
#include "sim/picture.h"

namespace sim {
namespace {

using host::fword;
using host::word;

// The CSV's numbers: shortest text that reads back as the same float (so
// that two runs compare byte for byte), whole numbers as they are.
void put(std::string &line, f32 v) {
  char b[32];
  auto r = std::to_chars(b, b + sizeof b, v);
  line.append(b, r.ptr);
  line += ',';
}
void put(std::string &line, i64 v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  line.append(b, r.ptr);
  line += ',';
}
void put(std::string &line, const char *word) {
  line += word;
  line += ',';
}
// Game time of a frame, 60 frames a second, to the millisecond.
void put_time(std::string &line, u32 frame) {
  char b[32];
  auto r = std::to_chars(b, b + sizeof b, frame / 60.0, std::chars_format::fixed, 3);
  line.append(b, r.ptr);
  line += ',';
}
void end_row(std::string &line) { line.back() = '\n'; }

const char *mode_name(u32 mode) { return mode == mode_replay ? "replay" : mode == mode_menu ? "menu" : "other"; }
const char *bind_name(u32 pos, u32 rot) { return pos ? (rot ? "both" : "position") : (rot ? "rotation" : "none"); }

}  // namespace

const std::vector<column> trace_columns = {
    {"frame", "frame number, from 0; the game draws 60 frames a second"},
    {"time_s", "game time in seconds since the first frame (frame / 60)"},
    {"tick", "the replay tick on show; it moves on by one a frame unless the replay is paused"},
    {"mode", "the game's mode: replay (replay playback) or menu (the game's menu)"},
    {"paused", "1 while the replay is paused, else 0"},
    {"replay_camera", "the replay camera the game shows, 0 to 8 (0 chase, 1 far chase, 2 bumper, "
                      "3 helicopter, 4 alongside, 5 trackside TV, 6 crane, 7 free camera, 8 grandstand)"},
    {"cam_type", "the type of the camera the main view draws with, numbered as replay_camera; it stays 7 "
                 "after the game leaves the replay for its menu, where replay_camera may differ"},
    {"free_cam", "on while the free camera flies the main view (the game's own camera is skipped), else off"},
    {"bind", "what the free camera has bound to its car: none, position, rotation or both"},
    {"x_m", "main view camera position, metres east of the track's middle (the picture's x)"},
    {"y_m", "main view camera height in metres"},
    {"z_m", "main view camera position, metres north of the track's middle (the picture's z)"},
    {"fwd_x", "the way the camera looks: a unit vector (x, y, z)"},
    {"fwd_y", "... its upward part (negative: looking down)"},
    {"fwd_z", "... its z part"},
    {"up_x", "the camera's up axis: a unit vector (x, y, z), at right angles to fwd"},
    {"up_y", "... its upward part (1 when the picture is level and looks straight ahead)"},
    {"up_z", "... its z part"},
    {"roll_deg", "roll in degrees, -180 to 180: 0 level, positive turned clockwise as seen from behind "
                 "the camera; empty when it looks straight up or down"},
    {"target_car", "the car the camera follows (the free camera: its bound car), -1 for none"},
    {"v1_cam_type", "the second view's camera type as cam_type; this and the next four are empty while "
                    "the game shows no second view"},
    {"v1_free_cam", "on while a free camera of its own flies the second view, else off"},
    {"v1_x_m", "second view camera position, metres (x)"},
    {"v1_y_m", "second view camera height, metres"},
    {"v1_z_m", "second view camera position, metres (z)"},
};

const std::vector<column> car_columns = {
    {"frame", "frame number, as in the trace"},
    {"time_s", "game time in seconds, as in the trace"},
    {"tick", "the replay tick on show"},
    {"car", "the car's slot in the game's car table, 0 to 15"},
    {"x_m", "the car's position, metres (x)"},
    {"y_m", "the car's height, metres"},
    {"z_m", "the car's position, metres (z)"},
};

double roll_degrees(const f32 fwd[3], const f32 up[3]) {
  const vec3 f{fwd[0], fwd[1], fwd[2]}, u{up[0], up[1], up[2]};
  // The level frame around the same forward axis: right on the ground.
  vec3 right = cross(vec3{0, 1, 0}, f);
  if (length(right) < 1e-4) return NAN;
  right = normalize(right);
  const vec3 level_up = normalize(cross(f, right));
  // Turned clockwise (seen from behind), the camera's up leans to its right.
  return std::atan2(dot(u, right), dot(u, level_up)) * 180.0 / M_PI;
}

bool recorder::open(const std::string &trace_path, const std::string &cars_path, std::string *error) {
  if (!trace_.open(trace_path, error) || !cars_.open(cars_path, error)) return false;
  std::string header;
  for (const column &c : trace_columns) header += std::string(c.name) + ",";
  end_row(header);
  trace_.write(header);
  header.clear();
  for (const column &c : car_columns) header += std::string(c.name) + ",";
  end_row(header);
  cars_.write(header);
  return true;
}

bool recorder::finish(std::string *error) { return trace_.commit(error) && cars_.commit(error); }

void recorder::add(const trace_row &now, event_kind k, i32 a, i32 b, int view) {
  event e;
  e.frame = now.frame;
  e.tick = now.tick;
  e.kind = k;
  e.a = a;
  e.b = b;
  e.view = view;
  // Camera events where the camera is; replay events at the car the main
  // view watches.
  bool at_camera = command_order(k) >= 0 || k == event_kind::preset_saved ||
                   k == event_kind::preset_recalled || k == event_kind::preset_empty ||
                   k == event_kind::preset_refused || k == event_kind::activate || k == event_kind::release;
  if (at_camera && now.view[view].present) {
    e.x = now.view[view].pos[0];
    e.z = now.view[view].pos[2];
  } else {
    i32 c = now.view[0].car >= 0 ? now.view[0].car : 0;
    if (u32 obj = game_.car((u32)c)) {
      e.x = fword(obj + 0x08);
      e.z = fword(obj + 0x10);
    }
  }
  run_totals &t = totals_;
  ++t.events[(int)k];
  if (k == event_kind::rewind) ++(b < 0 ? t.rewinds_back : t.rewinds_forward);
  if (k == event_kind::preset_recalled) t.recalled_waiting += b;
  if (k == event_kind::replay_camera) t.camera_key_wraps += a == 0;
  if (k == event_kind::position_bind) t.position_on += a;
  if (k == event_kind::rotation_bind) t.rotation_on += a;
  if (k == event_kind::ring) t.ring_slots = (u32)a, t.ring_bytes = (u32)b;
  if (k == event_kind::preset_saved && t.saved.size() < 12) t.saved.push_back(a);
  if (k == event_kind::preset_recalled && t.recalled.size() < 12) t.recalled.push_back(a);
  sketch_.event(e);
}

// The binds a recalled preset brings, read from the preset file as the
// plug-in read it.
void recorder::recall_binds(int preset) {
  std::ifstream in(preset_file_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  ini::file f = ini::file::parse(text.str());
  size_t sec = f.find_section("Pos" + std::to_string(preset));
  auto value = [&](const char *key) -> u32 {
    if (sec == ini::none) return 0;
    size_t k = f.find_key(sec, key);
    return k == ini::none ? 0 : ini::parse_int(ini::unquote(f.lines[k].value));
  };
  bind_pos_ = value("bind_pos");
  bind_rot_ = value("bind_rot");
}

void recorder::before_start(const std::vector<std::string> &log) {
  trace_row none;
  for (const std::string &line : log) {
    log_event p = parse_line(line);
    if (p.ok) add(none, p.kind, p.a, p.b, 0);
  }
}

void recorder::frame(u32 frame_no, const frame_report &r, const frame_input &in,
                     const std::vector<std::string> &log) {
  trace_row now;
  now.frame = frame_no;
  now.tick = word(ga_tick);
  now.mode = word(ga_mode);
  now.paused = word(ga_pause);
  now.camera = word(ga_cam_current);
  for (int v = 0; v < 2; ++v) {
    view_row &w = now.view[v];
    u32 cam = game_.camera(v);
    w.present = cam != 0;
    if (!cam) continue;
    w.driven = r.cam_driven[v];
    w.type = word(cam);
    for (int k = 0; k < 3; ++k) {
      w.pos[k] = fword(cam + 0x14 + 4 * k);
      w.up[k] = fword(cam + 0x38 + 4 * k);   // row 1 of the orientation at +0x2c
      w.fwd[k] = fword(cam + 0x44 + 4 * k);  // row 2
    }
    w.car = game_.car_index(word(cam + 0x04));
  }
  const trace_row prev = any_ ? last_ : now;
  const bool replay = now.mode == mode_replay;

  // The frame handler's lines come first in a frame (rewinds, presets); the
  // free cameras' commands come from the camera updates at its end.
  std::vector<log_event> lines;
  bool rewound = false, empty[10] = {};
  for (const std::string &line : log) {
    log_event p = parse_line(line);
    if (!p.ok) continue;
    if (command_order(p.kind) >= 0) {
      lines.push_back(p);
      continue;
    }
    rewound |= p.kind == event_kind::rewind;
    if (p.kind == event_kind::preset_empty && p.a >= 0 && p.a < 10) empty[p.a] = true;
    add(now, p.kind, p.a, p.b, 0);
  }
  if (any_ && now.camera != prev.camera) add(now, event_kind::camera_shown, (i32)now.camera, 0, 0);

  // Digit keys, as the frame handler saw them (only in replay playback).
  if (replay) {
    for (int d = 0; d < 10; ++d) {
      bool pressed = in.digit_down[d] && !prev_digit_[d];
      prev_digit_[d] = in.digit_down[d];
      if (!pressed || in.ctrl || empty[d]) continue;
      if (prev.view[0].driven) {
        recall_binds(d);
        add(now, event_kind::preset_recalled, d, 0, 0);
      } else {
        pending_recall_ = d;  // the plug-in asked for the free camera first
      }
    }
  }
  // Pause changes nobody pressed the pause key for: a forward seek letting
  // the replay run, and the capture stopping it at the target.
  if (replay && !in.space && !rewound) {
    if (prev.paused && !now.paused) add(now, event_kind::seek_run, 0, 0, 0);
    if (!prev.paused && now.paused && any_) add(now, event_kind::seek_end, 0, 0, 0);
  }

  for (int v = 0; v < 2; ++v) {
    bool was = any_ && prev.view[v].driven;
    if (now.view[v].driven && !was) {
      add(now, event_kind::activate, 0, 0, v);
      if (v == 0) {
        bind_pos_ = bind_rot_ = 0;  // an activation starts without binds
        if (pending_recall_ >= 0) {
          recall_binds(pending_recall_);
          add(now, event_kind::preset_recalled, pending_recall_, 1, 0);
          pending_recall_ = -1;
        }
      }
    }
    if (!now.view[v].driven && was) add(now, event_kind::release, 0, 0, v);
  }

  int view = now.view[0].driven ? 0 : 1, last_order = -1;
  for (const log_event &p : lines) {
    int order = command_order(p.kind);
    if (order <= last_order && view == 0 && now.view[1].driven) view = 1;
    last_order = order;
    add(now, p.kind, p.a, p.b, view);
    if (view == 0 && p.kind == event_kind::position_bind) bind_pos_ = (u32)p.a;
    if (view == 0 && p.kind == event_kind::rotation_bind) bind_rot_ = (u32)p.a;
  }
  now.bind_pos = now.view[0].driven ? bind_pos_ : 0;
  now.bind_rot = now.view[0].driven ? bind_rot_ : 0;

  ++totals_.frames;
  for (int v = 0; v < 2; ++v) totals_.free_frames[v] += now.view[v].driven;
  sketch_.frame(now);
  write_rows(now);
  last_ = now;
  any_ = true;
}

void recorder::write_rows(const trace_row &r) {
  std::string &line = line_;
  line.clear();
  const view_row &a = r.view[0], &b = r.view[1];
  put(line, (i64)r.frame);
  put_time(line, r.frame);
  put(line, (i64)r.tick);
  put(line, mode_name(r.mode));
  put(line, (i64)r.paused);
  put(line, (i64)r.camera);
  put(line, (i64)a.type);
  put(line, a.driven ? "on" : "off");
  put(line, bind_name(r.bind_pos, r.bind_rot));
  for (f32 v : a.pos) put(line, v);
  for (f32 v : a.fwd) put(line, v);
  for (f32 v : a.up) put(line, v);
  const double roll = roll_degrees(a.fwd, a.up);
  if (std::isnan(roll)) {
    line += ',';
  } else {
    // To a hundredth of a degree, -0.00 written as 0.00.
    char t[32];
    auto e = std::to_chars(t, t + sizeof t, std::fabs(roll) < 0.005 ? 0.0 : roll, std::chars_format::fixed, 2);
    line.append(t, e.ptr);
    line += ',';
  }
  put(line, (i64)a.car);
  if (b.present) {
    put(line, (i64)b.type);
    put(line, b.driven ? "on" : "off");
    for (f32 v : b.pos) put(line, v);
  } else {
    line += ",,,,,";
  }
  end_row(line);
  trace_.write(line);

  line.clear();
  for (u32 i = 0; i < game_.car_count() && i < max_cars; ++i)
    if (u32 c = game_.car(i)) {
      const f32 x = fword(c + 0x08), y = fword(c + 0x0c), z = fword(c + 0x10);
      put(line, (i64)r.frame);
      put_time(line, r.frame);
      put(line, (i64)r.tick);
      put(line, (i64)i);
      put(line, x);
      put(line, y);
      put(line, z);
      end_row(line);
      sketch_.car(r.frame, i, x, z);
    }
  cars_.write(line);
}

void append_vformat(std::string &out, const char *f, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, f, copy);
  va_end(copy);
  if (n <= 0) return;
  size_t at = out.size();
  out.resize(at + (size_t)n + 1);
  vsnprintf(&out[at], (size_t)n + 1, f, ap);
  out.resize(at + (size_t)n);
}

void fmt(std::string &out, const char *f, ...) {
  va_list ap;
  va_start(ap, f);
  append_vformat(out, f, ap);
  va_end(ap);
}

}  // namespace sim
