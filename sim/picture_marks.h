// The picture's marks: one for each thing a person may look for, drawn on
// the map, in the time strip's rows and in the legend alike; and the groups
// that marks falling on one another form.
#pragma once

#include <string>
#include <vector>

#include "sim/svg_page.h"

namespace sim::draw {

// The marks, one for each thing a person may look for.
enum class mark {
  pos_on, pos_off, rot_on, rot_off, car_change, teleport, camera_key, camera_shown,
  rewind_back, rewind_fwd, no_snapshot, seek_run, seek_end,
  preset_saved, preset_recalled, preset_waited, preset_empty, preset_refused, ring,
  take_over, let_go, take_over_v1, let_go_v1, count_
};
inline constexpr int marks = (int)mark::count_;

struct mark_info {
  const char *id, *colour, *legend;
  bool on_map;  // time strip only otherwise
};
inline constexpr mark_info info[marks] = {
    {"position-bind-on", "#1f6feb", "position bound to the car", true},
    {"position-bind-off", "#1f6feb", "position bind let go", true},
    {"rotation-bind-on", "#f08c00", "rotation bound to the car", true},
    {"rotation-bind-off", "#f08c00", "rotation bind let go", true},
    {"car-change", "#0b7285", "bound car changed (to car n)", true},
    {"teleport", "#c2255c", "teleported behind the bound car", true},
    {"camera-key", "#495057", "camera key L, asking for camera n", true},
    {"camera-shown", "#495057", "replay camera n on show", false},
    {"rewind-back", "#e03131", "rewound back by n ticks (at the watched car)", true},
    {"rewind-forward", "#e03131", "rewound forward by n ticks (at the watched car)", true},
    {"no-snapshot", "#e03131", "rewind or seek found no snapshot", true},
    {"seek-runs-on", "#e03131", "forward seek: the replay runs on", false},
    {"seek-reached", "#e03131", "forward seek reached its tick", true},
    {"preset-saved", "#2b8a3e", "preset n saved", true},
    {"preset-recalled", "#2b8a3e", "preset n recalled", true},
    {"preset-recalled-waiting", "#2b8a3e", "preset n recalled as the free camera came on", true},
    {"preset-empty", "#868e96", "preset n empty: nothing recalled", true},
    {"preset-refused", "#868e96", "preset save refused", true},
    {"snapshot-ring", "#9c36b5", "snapshot ring built (n slots)", false},
    {"take-over", "#111111", "free camera takes over (main view)", true},
    {"let-go", "#111111", "free camera lets go (main view)", true},
    {"take-over-second", "#7a3cff", "free camera takes over (second view)", true},
    {"let-go-second", "#7a3cff", "free camera lets go (second view)", true},
};

// An event as a mark and the number it carries ("" for none).
struct marked {
  mark m;
  std::string text;
  bool ok = true;
};
marked mark_of(const event &e);

// Marks whose number is drawn inside them rather than beside them.
bool number_inside(mark m);

inline constexpr double glyph = 12;  // a mark's size
inline constexpr double number_size = 10;

// How wide a mark is drawn with its number (inside or beside it).
double mark_width(mark m, const std::string &text);
// One mark with its left edge at x, centred on y; returns its width.
double draw_mark(page &p, mark m, const std::string &text, double x, double y);

// A group of marks that would fall on one another: each distinct mark once,
// with how often it happened.
struct group {
  double ax = 0, ay = 0;  // where the first of them happened, on the page
  struct entry {
    mark m;
    std::string text;
    u32 count = 0;
  };
  std::vector<entry> entries;
  u32 more = 0;  // events beyond the entries shown
  double right = 0;  // strip rows: where the group's marks end

  void add(mark m, const std::string &text, size_t max_entries) {
    for (entry &e : entries)
      if (e.m == m && e.text == text) {
        ++e.count;
        return;
      }
    if (entries.size() < max_entries) entries.push_back({m, text, 1});
    else ++more;
  }
  static std::string times(u32 n) { return "\xC3\x97" + std::to_string(n); }  // ×n
  double entry_width(const entry &e) const {
    return mark_width(e.m, e.text) + (e.count > 1 ? 2 + text_width(times(e.count), number_size) : 0);
  }
  std::string more_text() const { return "+" + std::to_string(more) + " more"; }
};

// The lines of a group as it is drawn: up to `per_line` marks a line.
struct group_shape {
  double w = 0, h = 0;
  std::vector<std::vector<size_t>> lines;
};
inline constexpr double line_h = 17, gap = 4;
group_shape shape_of(const group &g, size_t per_line);
void draw_group(page &p, const group &g, const group_shape &s, double x, double top, bool more_beside = false);

// Where a group goes: on its spot if free, else the nearest free place
// round it, tied to the spot by a leader line. False when there is none
// inside area; *led is set when the group stands aside.
bool place_group(page &p, const group &g, const group_shape &s, const box &area, bool *led);

}  // namespace sim::draw
