// The run as a picture: one SVG of two panels, the top view (track, car
// paths, the free cameras' paths, a mark for each event, scale bar, axes and
// legend) and below it the time strip (replay tick against frame, with bands
// for the free camera, pause and menu and a row of marks for each kind of
// event).
//
// The sketch is what the picture needs of a run, kept in memory that does not
// grow with the run's length: the time strip in at most strip_columns
// columns (two neighbours merge into one when they run out), each free
// camera's path in at most path_points points (every other one is let go
// when they run out, never a segment's first or last), the cars' paths of
// the last car_window frames, and the first max_events events (later ones
// are counted). A 100 000-frame run and the demo draw from the same amount.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/track.h"
#include "sim/trace.h"

namespace sim {

class sketch {
 public:
  static constexpr u32 strip_columns = 2048;
  static constexpr u32 path_points = 12000;
  static constexpr u32 car_window = 3600;  // frames: the last minute of the run
  static constexpr u32 car_step = 2;       // frames between two points of a car's path
  static constexpr u32 max_events = 50000;

  struct column {
    u32 first_frame = 0, frames = 0;
    u32 tick_first = 0, tick_last = 0, tick_min = 0, tick_max = 0;
    u32 free[2] = {}, paused = 0, menu = 0;  // frames of the column in each state
  };
  struct point {
    f32 x = 0, z = 0, fx = 0, fz = 0;  // position and the way it looked, on the ground
    u32 frame = 0;
    bool first = false;  // the first point of a stretch of flight
  };
  struct car_point {
    f32 x, z;
    u32 frame;
  };

  void frame(const trace_row &r);
  void car(u32 frame, u32 car, f32 x, f32 z);
  void event(const sim::event &e);
  void include(double x, double z);  // a place the top view must show

  std::vector<column> columns;
  u32 frames_per_column = 1;
  std::vector<point> path[2];
  f32 path_spacing[2] = {0.25f, 0.25f};  // metres between two kept points
  std::vector<std::vector<car_point>> cars;  // by car-table entry, oldest first
  std::vector<sim::event> events;
  u32 events_left_out = 0, first_left_out_frame = 0;
  u32 frames = 0, max_tick = 0;
  double min_x = 1e300, max_x = -1e300, min_z = 1e300, max_z = -1e300;

 private:
  void add_point(int view, const trace_row &r);
  bool was_driven_[2] = {};
  point last_[2];  // the latest position, kept or not
  bool last_kept_[2] = {};
};

bool write_picture(const std::string &path, const std::string &title, const track &road, const sketch &s,
                   std::string *error);

// How wide a line of text is drawn in the picture's sans-serif font, in
// picture units: a per-character estimate close to DejaVu Sans (the font the
// converter and most browsers pick), never narrower than what is drawn. The
// picture places every text with it so that no two overlap.
inline double text_width(const std::string &s, double size) {
  double em = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = (unsigned char)s[i];
    if (c >= 0x80) {  // one character of several bytes (×, →, ↑, ...)
      while (i + 1 < s.size() && ((unsigned char)s[i + 1] & 0xc0) == 0x80) ++i;
      em += 0.9;
    } else if (c == 'i' || c == 'l' || c == 'j' || c == '.' || c == ',' || c == ':' || c == ';' ||
               c == '\'' || c == '|' || c == '!') {
      em += 0.32;
    } else if (c == ' ' || c == 'f' || c == 't' || c == 'r' || c == '(' || c == ')' || c == '[' ||
               c == ']' || c == '-' || c == '/') {
      em += 0.43;
    } else if (c == 'm' || c == 'M' || c == 'W') {
      em += 1.0;
    } else if (c == 'w') {
      em += 0.84;
    } else if (c >= 'A' && c <= 'Z') {
      em += 0.75;
    } else {
      em += 0.65;
    }
  }
  return em * size;
}

// The box a text takes at (x, baseline y) with the given anchor (start,
// middle or end): from the top of its capitals to the bottom of its
// descenders.
struct text_extent {
  double x0, y0, x1, y1;
};
inline text_extent text_box(double x, double y, double size, const std::string &anchor, const std::string &s) {
  const double w = text_width(s, size);
  const double x0 = anchor == "middle" ? x - w / 2 : anchor == "end" ? x - w : x;
  return {x0, y - 0.76 * size, x0 + w, y + 0.24 * size};
}

}  // namespace sim
