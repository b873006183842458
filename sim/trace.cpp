#include "sim/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/game_image.h"
#include "host/ini_file.h"

namespace sim {
namespace {

using host::fword;
using host::word;

// The free camera's commands in the order one camera update runs them: two
// lines of a frame with the order not rising come from two cameras.
int command_order(event_kind k) {
  switch (k) {
    case event_kind::position_bind: return 0;
    case event_kind::rotation_bind: return 1;
    case event_kind::bind_car: return 2;
    case event_kind::replay_camera: return 4;
    case event_kind::teleport: return 5;
    default: return -1;
  }
}

struct parsed {
  bool ok = false;
  event_kind kind{};
  i32 a = 0, b = 0;
};

// One of the plug-in's log lines, by its fixed wording.
parsed parse_line(const std::string &line) {
  parsed p;
  char word_[16] = {};
  int a = 0, b = 0;
  unsigned u = 0, v = 0;
  const char *s = line.c_str();
  p.ok = true;
  if (sscanf(s, "zephal: position bind %15s", word_) == 1) {
    p.kind = event_kind::position_bind;
    p.a = strcmp(word_, "on") == 0;
  } else if (sscanf(s, "zephal: rotation bind %15s", word_) == 1) {
    p.kind = event_kind::rotation_bind;
    p.a = strcmp(word_, "on") == 0;
  } else if (sscanf(s, "zephal: bind car %d", &a) == 1) {
    p.kind = event_kind::bind_car;
    p.a = a;
  } else if (sscanf(s, "zephal: camera teleported to car %d", &a) == 1) {
    p.kind = event_kind::teleport;
    p.a = a;
  } else if (sscanf(s, "zephal: replay camera -> %u", &u) == 1) {
    p.kind = event_kind::replay_camera;
    p.a = (i32)u;
  } else if (sscanf(s, "zephal: rewound to tick %u (%d)", &u, &b) == 2) {
    p.kind = event_kind::rewind;
    p.a = (i32)u;
    p.b = b;
  } else if (sscanf(s, "zephal: rewind %d: no snapshot at tick %u", &a, &u) == 2 ||
             sscanf(s, "zephal: seek %d: no snapshot", &a) == 1) {
    p.kind = event_kind::no_snapshot;
    p.a = a;
  } else if (line.find(" saved (") != std::string::npos &&
             sscanf(s, "zephal: preset %d saved", &a) == 1) {
    p.kind = event_kind::preset_saved;
    p.a = a;
  } else if (line.ends_with(" empty") && sscanf(s, "zephal: preset %d empty", &a) == 1) {
    p.kind = event_kind::preset_empty;
    p.a = a;
  } else if (line.starts_with("zephal: preset: ")) {
    p.kind = event_kind::preset_refused;
  } else if (sscanf(s, "zephal: snapshot ring %u x %u bytes", &u, &v) == 2) {
    p.kind = event_kind::ring;
    p.a = (i32)u;
    p.b = (i32)v;
  } else {
    p.ok = false;
  }
  return p;
}


bool write_file(const std::string &path, const std::string &text, std::string *error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.good()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

void recorder::add(const trace_row &now, event_kind k, i32 a, i32 b, int view, const std::string &text) {
  event e;
  e.frame = now.frame;
  e.tick = now.tick;
  e.kind = k;
  e.a = a;
  e.b = b;
  e.view = view;
  e.text = text;
  // Camera events where the camera is; replay events at the car the main
  // view watches.
  bool at_camera = command_order(k) >= 0 || k == event_kind::preset_saved ||
                   k == event_kind::preset_recalled || k == event_kind::activate ||
                   k == event_kind::release;
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
  events_.push_back(e);
}

// The binds a recalled preset brings, read from the preset file as the
// plug-in read it.
void recorder::recall_binds(int preset) {
  std::ifstream in(preset_file_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  host::ini::file f = host::ini::file::parse(text.str());
  size_t sec = f.find_section("Pos" + std::to_string(preset));
  auto value = [&](const char *key) -> u32 {
    if (sec == host::ini::none) return 0;
    size_t k = f.find_key(sec, key);
    return k == host::ini::none ? 0 : host::ini::parse_int(host::ini::unquote(f.lines[k].value));
  };
  bind_pos_ = value("bind_pos");
  bind_rot_ = value("bind_rot");
}

void recorder::before_start(const std::vector<std::string> &log) {
  trace_row none;
  for (const std::string &line : log) {
    parsed p = parse_line(line);
    if (p.ok) add(none, p.kind, p.a, p.b, 0, line);
  }
}

void recorder::frame(u32 frame_no, const frame_report &r, const frame_input &in,
                     const std::vector<std::string> &log) {
  trace_row now;
  now.frame = frame_no;
  now.tick = word(gw_tick);
  now.mode = word(gw_mode);
  now.paused = word(gw_pause);
  now.camera = word(gw_cam_current);
  for (int v = 0; v < 2; ++v) {
    view_row &w = now.view[v];
    u32 cam = game_.camera(v);
    w.present = cam != 0;
    if (!cam) continue;
    w.driven = r.cam_driven[v];
    w.type = word(cam);
    for (int k = 0; k < 3; ++k) {
      w.pos[k] = fword(cam + 0x14 + 4 * k);
      w.fwd[k] = fword(cam + 0x44 + 4 * k);  // row 2 of the orientation at +0x2c
    }
    w.car = game_.car_index(word(cam + 0x04));
  }
  const trace_row prev = any_ ? last_ : now;
  const bool replay = now.mode == mode_replay;

  // The frame handler's lines come first in a frame (rewinds, presets); the
  // free cameras' commands come from the camera updates at its end.
  std::vector<parsed> lines;
  std::vector<const std::string *> texts;
  bool rewound = false;
  for (const std::string &line : log) {
    parsed p = parse_line(line);
    if (!p.ok) continue;
    if (command_order(p.kind) >= 0) {
      lines.push_back(p);
      texts.push_back(&line);
      continue;
    }
    rewound |= p.kind == event_kind::rewind;
    add(now, p.kind, p.a, p.b, 0, line);
  }

  // Digit keys, as the frame handler saw them (only in replay playback).
  if (replay) {
    for (int d = 0; d < 10; ++d) {
      bool pressed = in.digit_down[d] && !prev_digit_[d];
      prev_digit_[d] = in.digit_down[d];
      if (!pressed || in.ctrl) continue;
      bool empty = false;
      for (const event &e : events_)
        if (e.frame == frame_no && e.kind == event_kind::preset_empty && e.a == d) empty = true;
      if (empty) continue;
      if (prev.view[0].driven) {
        recall_binds(d);
        add(now, event_kind::preset_recalled, d, 0, 0, "preset " + std::to_string(d) + " recalled");
      } else {
        pending_recall_ = d;  // the plug-in asked for the free camera first
      }
    }
  }
  // Pause changes nobody pressed the pause key for: a forward seek letting
  // the replay run, and the capture stopping it at the target.
  if (replay && !in.space && !rewound) {
    if (prev.paused && !now.paused) add(now, event_kind::seek_run, 0, 0, 0, "seek runs forward");
    if (!prev.paused && now.paused && any_) add(now, event_kind::seek_end, 0, 0, 0, "seek reached its tick");
  }

  for (int v = 0; v < 2; ++v) {
    bool was = any_ && prev.view[v].driven;
    if (now.view[v].driven && !was) {
      add(now, event_kind::activate, 0, 0, v, "free camera on");
      if (v == 0) {
        bind_pos_ = bind_rot_ = 0;  // an activation starts without binds
        if (pending_recall_ >= 0) {
          recall_binds(pending_recall_);
          add(now, event_kind::preset_recalled, pending_recall_, 1, 0,
              "preset " + std::to_string(pending_recall_) + " recalled when the free camera came on");
          pending_recall_ = -1;
        }
      }
    }
    if (!now.view[v].driven && was) add(now, event_kind::release, 0, 0, v, "free camera off");
  }

  int view = now.view[0].driven ? 0 : 1, last_order = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    int order = command_order(lines[i].kind);
    if (order <= last_order && view == 0 && now.view[1].driven) view = 1;
    last_order = order;
    add(now, lines[i].kind, lines[i].a, lines[i].b, view, *texts[i]);
    if (view == 0 && lines[i].kind == event_kind::position_bind) bind_pos_ = (u32)lines[i].a;
    if (view == 0 && lines[i].kind == event_kind::rotation_bind) bind_rot_ = (u32)lines[i].a;
  }
  now.bind_pos = now.view[0].driven ? bind_pos_ : 0;
  now.bind_rot = now.view[0].driven ? bind_rot_ : 0;

  rows_.push_back(now);
  for (u32 i = 0; i < game_.car_count() && i < max_cars; ++i)
    if (u32 c = game_.car(i))
      cars_.push_back({frame_no, now.tick, i, fword(c + 0x08), fword(c + 0x0c), fword(c + 0x10)});
  last_ = now;
  any_ = true;
}

u32 recorder::count(event_kind k) const {
  u32 n = 0;
  for (const event &e : events_) n += e.kind == k;
  return n;
}

bool recorder::write_trace(const std::string &path, std::string *error) const {
  std::string out =
      "frame,tick,mode,paused,camera,cam_type,free,x,y,z,fx,fy,fz,car,bind_pos,bind_rot,"
      "v1_type,v1_free,v1_x,v1_y,v1_z\n";
  for (const trace_row &r : rows_) {
    const view_row &a = r.view[0], &b = r.view[1];
    fmt(out, "%u,%u,%u,%u,%u,%u,%d,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%d,%u,%u,", r.frame, r.tick, r.mode,
        r.paused, r.camera, a.type, a.driven, a.pos[0], a.pos[1], a.pos[2], a.fwd[0], a.fwd[1],
        a.fwd[2], a.car, r.bind_pos, r.bind_rot);
    if (b.present)
      fmt(out, "%u,%d,%.9g,%.9g,%.9g\n", b.type, b.driven, b.pos[0], b.pos[1], b.pos[2]);
    else
      out += ",,,,\n";
  }
  return write_file(path, out, error);
}

bool recorder::write_cars(const std::string &path, std::string *error) const {
  std::string out = "frame,tick,car,x,y,z\n";
  for (const car_row &c : cars_)
    fmt(out, "%u,%u,%u,%.9g,%.9g,%.9g\n", c.frame, c.tick, c.car, c.x, c.y, c.z);
  return write_file(path, out, error);
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
