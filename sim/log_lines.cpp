#include "sim/log_lines.h"

#include <cstdio>
#include <cstring>

namespace sim {

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

log_event parse_line(const std::string &line) {
  log_event p;
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

}  // namespace sim
