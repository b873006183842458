// The run as a picture (see picture.h). Top view: x to the right, z upwards,
// in metres; the track as a grey band, each car's path in its own colour,
// the free cameras' paths dashed with a short stroke now and then for the way
// they looked, and the events as marks. Events close together on the page
// form one group: its marks stand side by side, the same mark once with a
// count. Every text and every group is placed where nothing else is yet,
// moved along a leader line when its own spot is taken. Time strip: the
// replay tick against the frame, and under it one row per state and per
// kind of event, on the same frame axis.
#include "sim/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>

namespace sim {

// --- the sketch ------------------------------------------------------------

void sketch::include(double x, double z) {
  if (!std::isfinite(x) || !std::isfinite(z)) return;
  min_x = std::min(min_x, x), max_x = std::max(max_x, x);
  min_z = std::min(min_z, z), max_z = std::max(max_z, z);
}

void sketch::frame(const trace_row &r) {
  frames = r.frame + 1;
  max_tick = std::max(max_tick, r.tick);
  if (!columns.empty() && columns.back().frames >= frames_per_column && columns.size() == strip_columns) {
    // Out of columns: two neighbours become one, and each column from now
    // on holds twice the frames.
    std::vector<column> merged;
    merged.reserve(strip_columns);
    for (size_t i = 0; i + 1 < columns.size(); i += 2) {
      const column &a = columns[i], &b = columns[i + 1];
      column m = a;
      m.frames += b.frames;
      m.tick_last = b.tick_last;
      m.tick_min = std::min(a.tick_min, b.tick_min);
      m.tick_max = std::max(a.tick_max, b.tick_max);
      for (int v = 0; v < 2; ++v) m.free[v] += b.free[v];
      m.paused += b.paused;
      m.menu += b.menu;
      merged.push_back(m);
    }
    columns = std::move(merged);
    frames_per_column *= 2;
  }
  if (columns.empty() || columns.back().frames >= frames_per_column) {
    column c;
    c.first_frame = r.frame;
    c.tick_first = c.tick_min = c.tick_max = r.tick;
    columns.push_back(c);
  }
  column &c = columns.back();
  ++c.frames;
  c.tick_last = r.tick;
  c.tick_min = std::min(c.tick_min, r.tick);
  c.tick_max = std::max(c.tick_max, r.tick);
  for (int v = 0; v < 2; ++v) c.free[v] += r.view[v].driven;
  c.paused += r.paused & 1;
  c.menu += r.mode != mode_replay;

  for (int v = 0; v < 2; ++v) {
    if (r.view[v].driven) {
      include(r.view[v].pos[0], r.view[v].pos[2]);
      add_point(v, r);
    } else if (was_driven_[v] && !last_kept_[v]) {
      path[v].push_back(last_[v]);  // where the stretch ended
      last_kept_[v] = true;
    }
    was_driven_[v] = r.view[v].driven;
  }
}

void sketch::add_point(int v, const trace_row &r) {
  const view_row &w = r.view[v];
  point p;
  p.x = w.pos[0], p.z = w.pos[2], p.fx = w.fwd[0], p.fz = w.fwd[2];
  p.frame = r.frame;
  // A new stretch where the camera came on, and where it jumped (a teleport,
  // a recalled preset): no line is drawn across.
  p.first = !was_driven_[v] || std::hypot(p.x - last_[v].x, p.z - last_[v].z) > 30;
  std::vector<point> &pts = path[v];
  if (p.first && was_driven_[v] && !last_kept_[v]) pts.push_back(last_[v]);
  const bool keep =
      p.first || pts.empty() || std::hypot(p.x - pts.back().x, p.z - pts.back().z) >= path_spacing[v];
  if (keep) pts.push_back(p);
  last_[v] = p;
  last_kept_[v] = keep;
  if (pts.size() < path_points) return;
  // Out of points: every other one goes, never where a stretch starts or ends.
  std::vector<point> kept;
  kept.reserve(path_points);
  for (size_t i = 0; i < pts.size(); ++i) {
    const bool edge = pts[i].first || i + 1 == pts.size() || pts[i + 1].first;
    if (edge || i % 2 == 0) kept.push_back(pts[i]);
  }
  pts = std::move(kept);
  path_spacing[v] *= 2;
}

void sketch::car(u32 frame, u32 i, f32 x, f32 z) {
  include(x, z);
  if (cars.size() <= i) cars.resize(i + 1);
  std::vector<car_point> &pts = cars[i];
  // The last point is always the car's latest place; it stays when it falls
  // on a step.
  if (!pts.empty() && pts.back().frame % car_step != 0 && pts.back().frame + 1 == frame) pts.pop_back();
  pts.push_back({x, z, frame});
  // Older than the window: let go, a slice at a time.
  if (pts.size() > 2 * car_window / car_step + 64 || pts.front().frame + 2 * car_window < frame) {
    size_t drop = 0;
    while (drop < pts.size() && pts[drop].frame + car_window <= frame) ++drop;
    pts.erase(pts.begin(), pts.begin() + (long)drop);
  }
}

void sketch::event(const sim::event &e) {
  if (events.size() < max_events) {
    events.push_back(e);
  } else if (events_left_out++ == 0) {
    first_left_out_frame = e.frame;
  }
}

// --- drawing -----------------------------------------------------------------

namespace {

constexpr double page_w = 1280, margin = 16;
constexpr const char *font = "DejaVu Sans, Verdana, sans-serif";
// Texts on the map keep a rim of the background round them, readable over
// paths and the road.
constexpr const char *halo = " stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\" paint-order=\"stroke\"";

constexpr const char *car_colours[16] = {
    "#e6194b", "#3cb44b", "#4363d8", "#f58231", "#911eb4", "#46a0a0", "#f032e6", "#9a6324",
    "#808000", "#000075", "#a9a9a9", "#e6a800", "#800000", "#2f8f2f", "#ff7f7f", "#5f9ea0",
};
constexpr const char *free_colour[2] = {"#111111", "#7a3cff"};

// The marks, one for each thing a person may look for.
enum class mark {
  pos_on, pos_off, rot_on, rot_off, car_change, teleport, camera_key, camera_shown,
  rewind_back, rewind_fwd, no_snapshot, seek_run, seek_end,
  preset_saved, preset_recalled, preset_waited, preset_empty, preset_refused, ring,
  take_over, let_go, take_over_v1, let_go_v1, count_
};
constexpr int marks = (int)mark::count_;

struct mark_info {
  const char *id, *colour, *legend;
  bool on_map;  // time strip only otherwise
};
constexpr mark_info info[marks] = {
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
marked mark_of(const event &e) {
  auto n = [](i32 v) { return std::to_string(v); };
  switch (e.kind) {
    case event_kind::position_bind: return {e.a ? mark::pos_on : mark::pos_off, ""};
    case event_kind::rotation_bind: return {e.a ? mark::rot_on : mark::rot_off, ""};
    case event_kind::bind_car: return {mark::car_change, n(e.a)};
    case event_kind::teleport: return {mark::teleport, ""};
    case event_kind::replay_camera: return {mark::camera_key, n(e.a)};
    case event_kind::camera_shown: return {mark::camera_shown, n(e.a)};
    case event_kind::rewind: return {e.b < 0 ? mark::rewind_back : mark::rewind_fwd, n(std::abs(e.b))};
    case event_kind::no_snapshot: return {mark::no_snapshot, ""};
    case event_kind::seek_run: return {mark::seek_run, ""};
    case event_kind::seek_end: return {mark::seek_end, ""};
    case event_kind::preset_saved: return {mark::preset_saved, n(e.a)};
    case event_kind::preset_recalled: return {e.b ? mark::preset_waited : mark::preset_recalled, n(e.a)};
    case event_kind::preset_empty: return {mark::preset_empty, n(e.a)};
    case event_kind::preset_refused: return {mark::preset_refused, ""};
    case event_kind::ring: return {mark::ring, n(e.a)};
    case event_kind::activate: return {e.view ? mark::take_over_v1 : mark::take_over, ""};
    case event_kind::release: return {e.view ? mark::let_go_v1 : mark::let_go, ""};
    default: return {mark::ring, "", false};
  }
}

// Marks whose number is drawn inside them rather than beside them.
bool number_inside(mark m) {
  return m == mark::camera_shown || m == mark::preset_saved || m == mark::preset_recalled ||
         m == mark::preset_waited || m == mark::preset_empty;
}

struct box {
  double x0, y0, x1, y1;
  bool hits(const box &o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};
box of(const text_extent &t) { return {t.x0, t.y0, t.x1, t.y1}; }

std::string escape(const std::string &s) {
  std::string o;
  for (char c : s) {
    if (c == '<') o += "&lt;";
    else if (c == '>') o += "&gt;";
    else if (c == '&') o += "&amp;";
    else if (c == '"') o += "&quot;";
    else o += c;
  }
  return o;
}

struct page {
  std::string svg;
  std::vector<box> taken;  // every text, mark group and fixed item placed so far

  void add(const char *f, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, f);
    append_vformat(svg, f, ap);
    va_end(ap);
  }
  bool free(const box &b) const {
    for (const box &t : taken)
      if (t.hits(b)) return false;
    return true;
  }
  // A text at (x, baseline y); it takes its box.
  void text(double x, double y, double size, const char *anchor, const char *colour, const std::string &s,
            const char *extra = "") {
    taken.push_back(of(text_box(x, y, size, anchor, s)));
    add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"%.0f\" text-anchor=\"%s\" fill=\"%s\"%s>%s</text>\n", x, y,
        size, anchor, colour, extra, escape(s).c_str());
  }
};

// --- marks -------------------------------------------------------------------

constexpr double glyph = 12;  // a mark's size
constexpr double number_size = 10;

// How wide a mark is drawn with its number (inside or beside it).
double mark_width(mark m, const std::string &text) {
  if (number_inside(m)) return std::max(glyph + 1, text_width(text, number_size) + 6);
  double w = glyph;
  if (m == mark::preset_waited) w += 4;
  if (!text.empty()) w += 2 + text_width(text, number_size);
  return w;
}

// One mark with its left edge at x, centred on y; returns its width.
double draw_mark(page &p, mark m, const std::string &text, double x, double y) {
  const mark_info &i = info[(int)m];
  const char *c = i.colour;
  const double w = mark_width(m, text), cx = x + glyph / 2;
  p.add("<g class=\"mark\" data-kind=\"%s\">", i.id);
  switch (m) {
    case mark::pos_on: case mark::pos_off: case mark::rot_on: case mark::rot_off: {
      const bool filled = m == mark::pos_on || m == mark::rot_on;
      p.add("<path d=\"M%.1f %.1f l5.5 5.5 l-5.5 5.5 l-5.5 -5.5 z\" fill=\"%s\" stroke=\"%s\" stroke-width=\"1.6\"/>",
            cx, y - 5.5, filled ? c : "white", c);
      break;
    }
    case mark::car_change:
      p.add("<path d=\"M%.1f %.1f l6 10 l-12 0 z\" fill=\"%s\"/>", cx, y - 6, c);
      break;
    case mark::teleport: {
      std::string d;
      for (int k = 0; k < 10; ++k) {
        double a = M_PI / 2 + k * M_PI / 5, r = k % 2 ? 2.6 : 6.5;
        char b[48];
        snprintf(b, sizeof b, "%s%.1f %.1f ", k ? "L" : "M", cx + r * std::cos(a), y - r * std::sin(a));
        d += b;
      }
      p.add("<path d=\"%sz\" fill=\"%s\"/>", d.c_str(), c);
      break;
    }
    case mark::camera_key:
      p.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"6\" fill=\"%s\"/>", cx, y, c);
      p.add("<path d=\"M%.1f %.1f v6 h4\" fill=\"none\" stroke=\"white\" stroke-width=\"1.6\"/>", cx - 2, y - 3.5);
      break;
    case mark::rewind_back:
      p.add("<path d=\"M%.1f %.1f l10 -6 l0 12 z\" fill=\"%s\"/>", x + 1, y, c);
      break;
    case mark::rewind_fwd:
      p.add("<path d=\"M%.1f %.1f l-10 -6 l0 12 z\" fill=\"%s\"/>", x + 11, y, c);
      break;
    case mark::no_snapshot:
      p.add("<path d=\"M%.1f %.1f l9 9 m0 -9 l-9 9\" stroke=\"%s\" stroke-width=\"2.2\"/>", cx - 4.5, y - 4.5, c);
      break;
    case mark::seek_run:
      p.add("<path d=\"M%.1f %.1f l-9 -5.5 l0 11 z\" fill=\"white\" stroke=\"%s\" stroke-width=\"1.6\"/>", x + 11,
            y, c);
      break;
    case mark::seek_end:
      p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"4\" height=\"12\" fill=\"%s\"/>", cx - 2, y - 6, c);
      break;
    case mark::preset_saved: case mark::preset_recalled: case mark::preset_waited: case mark::preset_empty:
    case mark::camera_shown: {
      const bool filled = m == mark::preset_recalled || m == mark::preset_waited;
      const double bw = number_inside(m) ? w : glyph + 1;
      const double bx = m == mark::preset_waited ? x + 2 : x;
      p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"13\" rx=\"%s\" fill=\"%s\" stroke=\"%s\" "
            "stroke-width=\"1.4\"%s/>",
            bx, y - 6.5, m == mark::preset_waited ? bw - 4 : bw, m == mark::camera_shown ? "6" : "0",
            filled ? c : "white", c, m == mark::preset_empty ? " stroke-dasharray=\"2 2\"" : "");
      if (m == mark::preset_waited)
        p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"17\" fill=\"none\" stroke=\"%s\"/>", x, y - 8.5,
              bw, c);
      break;
    }
    case mark::preset_refused:
      p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"12\" height=\"12\" fill=\"%s\"/>", x, y - 6, c);
      p.add("<path d=\"M%.1f %.1f l6 6 m0 -6 l-6 6\" stroke=\"white\" stroke-width=\"1.6\"/>", cx - 3, y - 3);
      break;
    case mark::ring:
      p.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4.5\" fill=\"none\" stroke=\"%s\" stroke-width=\"2.5\"/>", cx, y, c);
      break;
    case mark::take_over: case mark::take_over_v1:
      p.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4.5\" fill=\"%s\"/>", cx, y, c);
      break;
    case mark::let_go: case mark::let_go_v1:
      p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"9\" height=\"9\" fill=\"white\" stroke=\"%s\" stroke-width=\"2\"/>",
            cx - 4.5, y - 4.5, c);
      break;
    default: break;
  }
  p.svg += "</g>\n";
  if (!text.empty()) {
    if (number_inside(m)) {
      const bool filled = m == mark::preset_recalled || m == mark::preset_waited;
      p.text(x + w / 2, y + 3.6, number_size, "middle", filled ? "white" : c, text);
    } else {
      p.text(x + w - text_width(text, number_size), y + 3.6, number_size, "start", c, text, halo);
    }
  }
  return w;
}

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
constexpr double line_h = 17, gap = 4;
group_shape shape_of(const group &g, size_t per_line) {
  group_shape s;
  for (size_t i = 0; i < g.entries.size(); ++i) {
    if (s.lines.empty() || s.lines.back().size() == per_line) s.lines.emplace_back();
    s.lines.back().push_back(i);
  }
  for (const auto &line : s.lines) {
    double w = 0;
    for (size_t i : line) w += g.entry_width(g.entries[i]) + gap;
    s.w = std::max(s.w, w - gap);
  }
  if (g.more) s.w = std::max(s.w, text_width(g.more_text(), number_size));
  s.h = line_h * (double)(s.lines.size() + (g.more ? 1 : 0));
  return s;
}
void draw_group(page &p, const group &g, const group_shape &s, double x, double top, bool more_beside = false) {
  double y = top + line_h / 2;
  for (const auto &line : s.lines) {
    double at = x;
    for (size_t i : line) {
      const group::entry &e = g.entries[i];
      at += draw_mark(p, e.m, e.text, at, y);
      if (e.count > 1) {
        p.text(at + 2, y + 3.6, number_size, "start", "#333", group::times(e.count), halo);
        at += 2 + text_width(group::times(e.count), number_size);
      }
      at += gap;
    }
    y += line_h;
  }
  if (g.more && more_beside)
    p.text(x + s.w + 4, top + line_h / 2 + 3.6, number_size, "start", "#333", g.more_text());
  else if (g.more)
    p.text(x, y + 3.6, number_size, "start", "#333", g.more_text());
}

std::string nice_number(double v) {
  char b[32];
  snprintf(b, sizeof b, "%.0f", v);
  return b;
}
// 1, 2 or 5 times a power of ten, at most `at_most`.
double nice_step(double at_most) {
  if (at_most <= 0) return 1;
  double p = std::pow(10.0, std::floor(std::log10(at_most)));
  for (double m : {5.0, 2.0, 1.0})
    if (m * p <= at_most) return m * p;
  return p;
}

// --- the top view ----------------------------------------------------------

struct top_view {
  double x0, y0, scale, min_x, max_z, w, h;  // the map's area on the page, and world to page
  double px(double x) const { return x0 + (x - min_x) * scale; }
  double py(double z) const { return y0 + (max_z - z) * scale; }
};

// A polyline through page points, a new stroke at each `start`.
void polyline(page &p, const std::vector<std::pair<double, double>> &pts, const std::vector<bool> &start,
              const char *kind, const char *style) {
  std::string d;
  double lx = 0, ly = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    const bool jump = i == 0 || start[i];
    const bool last = i + 1 == pts.size() || start[i + 1];
    // Closer than a pixel to the last point drawn: nothing to see.
    if (!jump && !last && std::hypot(pts[i].first - lx, pts[i].second - ly) < 1.0) continue;
    char b[48];
    snprintf(b, sizeof b, "%s%.1f %.1f ", jump ? "M" : "L", pts[i].first, pts[i].second);
    d += b;
    lx = pts[i].first, ly = pts[i].second;
  }
  if (!d.empty()) p.add("<path class=\"mark\" data-kind=\"%s\" d=\"%s\" fill=\"none\" %s/>\n", kind, d.c_str(), style);
}

// Where a group goes: on its spot if free, else the nearest free place
// round it, tied to the spot by a leader line.
bool place_group(page &p, const group &g, const group_shape &s, const box &area, bool *led) {
  const double first_w = g.entries.empty() ? 0 : mark_width(g.entries[0].m, g.entries[0].text);
  auto fits = [&](double x, double top) {
    box b{x - 1, top - 1, x + s.w + 1, top + s.h + 1};
    return b.x0 >= area.x0 && b.x1 <= area.x1 && b.y0 >= area.y0 && b.y1 <= area.y1 && p.free(b);
  };
  double x = g.ax - first_w / 2, top = g.ay - line_h / 2;
  bool found = fits(x, top);
  for (double r = 14; !found && r <= 240; r += 10) {
    for (int k = 0; k < 16 && !found; ++k) {
      double a = k * M_PI / 8;
      double cx = g.ax + r * std::cos(a), cy = g.ay - r * std::sin(a);
      // The block's nearest corner or edge towards the spot sits at (cx, cy).
      double bx = std::cos(a) >= 0 ? cx : cx - s.w, by = std::sin(a) >= 0 ? cy - s.h : cy;
      if (std::fabs(std::cos(a)) < 0.3) bx = cx - s.w / 2;
      if (std::fabs(std::sin(a)) < 0.3) by = cy - s.h / 2;
      if (fits(bx, by)) x = bx, top = by, found = true;
    }
  }
  if (!found) return false;
  const bool moved = std::fabs(x + first_w / 2 - g.ax) > 1 || std::fabs(top + line_h / 2 - g.ay) > 1;
  if (moved) {
    *led = true;
    double ex = std::clamp(g.ax, x, x + s.w), ey = std::clamp(g.ay, top, top + s.h);
    p.add("<g class=\"mark\" data-kind=\"leader\"><line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#555\" "
          "stroke-width=\"0.8\"/><circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\" fill=\"#555\"/></g>\n",
          g.ax, g.ay, ex, ey, g.ax, g.ay);
  }
  p.taken.push_back({x - 1, top - 1, x + s.w + 1, top + s.h + 1});
  draw_group(p, g, s, x, top);
  return true;
}

// A short text next to a spot, wherever round it there is room.
void place_label(page &p, double x, double y, const char *colour, const std::string &s) {
  const double size = 10, w = text_width(s, size);
  for (double r = 6; r <= 60; r += 6)
    for (int k = 0; k < 8; ++k) {
      double a = k * M_PI / 4, cx = x + r * std::cos(a), cy = y - r * std::sin(a);
      double bx = std::cos(a) > 0.3 ? cx : std::cos(a) < -0.3 ? cx - w : cx - w / 2;
      double base = std::sin(a) > 0.3 ? cy : std::sin(a) < -0.3 ? cy + 0.76 * size : cy + 0.38 * size;
      if (p.free(of(text_box(bx, base, size, "start", s)))) {
        p.text(bx, base, size, "start", colour, s, halo);
        return;
      }
    }
}

}  // namespace

bool write_picture(const std::string &file, const std::string &title, const track &road, const sketch &s,
                   std::string *error) {
  page p;

  // What there is to show, and the legend's lines for it.
  std::vector<mark> used_marks;
  {
    bool used[marks] = {};
    for (const event &e : s.events)
      if (marked m = mark_of(e); m.ok) used[(int)m.m] = true;
    for (int m = 0; m < marks; ++m)
      if (used[m]) used_marks.push_back((mark)m);
  }
  const bool any_free[2] = {!s.path[0].empty(), !s.path[1].empty()};
  const bool cars_cut = s.frames > sketch::car_window;

  // --- layout: the top view's size from the world it shows ---
  double min_x = s.min_x, max_x = s.max_x, min_z = s.min_z, max_z = s.max_z;
  for (const vec3 &v : road.centre) {
    min_x = std::min(min_x, v.x - road.width), max_x = std::max(max_x, v.x + road.width);
    min_z = std::min(min_z, v.z - road.width), max_z = std::max(max_z, v.z + road.width);
  }
  const double legend_w = 330, map_x0 = margin, map_top = 70, pad = 36;
  const double map_w = page_w - 2 * margin - 16 - legend_w, map_max_h = 640;
  const double legend_x = map_x0 + map_w + 16;
  const double world_w = std::max(1.0, max_x - min_x), world_h = std::max(1.0, max_z - min_z);
  const double scale = std::min((map_w - 2 * pad) / world_w, (map_max_h - 2 * pad) / world_h);
  // The world in the middle of the map's frame.
  top_view tv{map_x0 + (map_w - world_w * scale) / 2, map_top + pad, scale, min_x, max_z, map_w,
              world_h * scale + 2 * pad};

  // The legend's lines (built now, drawn beside the map; its height sets the panel's).
  struct line { std::string kind, text; int shape; };  // shape: -1 text only, -2 line, else a mark
  std::vector<line> legend;
  legend.push_back({"track", "track " + road.name + ", black bar: start line", -2});
  legend.push_back({"car-path", std::string("car paths, one colour a car") + (cars_cut ? ", last 60 s" : ""), -2});
  legend.push_back({"car-end", "where each car is at the end", -2});
  for (int v = 0; v < 2; ++v)
    if (any_free[v]) legend.push_back({"free-path-" + std::to_string(v), v ? "free camera path, second view" : "free camera path, main view", -2});
  if (any_free[0] || any_free[1]) {
    legend.push_back({"look", "way the free camera looked", -2});
    legend.push_back({"path-start", "free camera path: start", -2});
    legend.push_back({"path-end", "free camera path: end", -2});
  }
  for (mark m : used_marks) legend.push_back({info[(int)m].id, info[(int)m].legend, (int)m});
  // One line more for the leader lines, should a group have to stand aside.
  const double legend_h = 46 + 19.0 * (double)(legend.size() + 1) + 90;
  std::vector<std::string> notes;  // what the picture could not show, under the legend
  const double panel_h = std::max(tv.h, legend_h);
  tv.y0 += (panel_h - tv.h) / 2;

  // --- the time strip's rows ---
  struct row { std::string name, kind; std::vector<mark> holds; int band; };  // band: -1 marks, else state
  std::vector<row> rows;
  auto frames_in = [&](int state) {
    u32 n = 0;
    for (const sketch::column &c : s.columns) n += state < 2 ? c.free[state] : state == 2 ? c.paused : c.menu;
    return n;
  };
  const char *band_names[4] = {"free camera, main view", "free camera, second view", "replay paused", "game in its menu"};
  const char *band_kinds[4] = {"band-free-main", "band-free-second", "band-paused", "band-menu"};
  const char *band_colours[4] = {"#111111", "#7a3cff", "#e8590c", "#1c7ed6"};
  for (int b = 0; b < 4; ++b)
    if (frames_in(b)) rows.push_back({band_names[b], band_kinds[b], {}, b});
  const std::pair<const char *, std::vector<mark>> mark_rows[] = {
      {"replay camera shown", {mark::camera_shown}},
      {"camera key L", {mark::camera_key}},
      {"free camera on / off", {mark::take_over, mark::let_go, mark::take_over_v1, mark::let_go_v1}},
      {"binds", {mark::pos_on, mark::pos_off, mark::rot_on, mark::rot_off}},
      {"car changes, teleports", {mark::car_change, mark::teleport}},
      {"presets", {mark::preset_saved, mark::preset_recalled, mark::preset_waited, mark::preset_empty, mark::preset_refused}},
      {"rewinds", {mark::rewind_back, mark::rewind_fwd}},
      {"seeks", {mark::no_snapshot, mark::seek_run, mark::seek_end}},
      {"snapshot ring", {mark::ring}},
  };
  for (const auto &[name, holds] : mark_rows) {
    bool any = false;
    for (mark m : holds) any |= std::find(used_marks.begin(), used_marks.end(), m) != used_marks.end();
    if (any) rows.push_back({name, "", holds, -1});
  }

  const double strip_top = map_top + panel_h + 30;
  const double plot_x0 = margin + 170, plot_x1 = page_w - margin - 60;
  const double plot_top = strip_top + 58, plot_h = 240, plot_bottom = plot_top + plot_h;
  const double rows_top = plot_bottom + 40, row_h = 22;
  const double page_h = rows_top + row_h * (double)rows.size() + 30;

  p.add("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"%s\">\n",
        page_w, page_h, page_w, page_h, font);
  p.add("<rect width=\"100%%\" height=\"100%%\" fill=\"#fbfaf7\"/>\n");
  p.text(margin, 26, 16, "start", "#222", title, " font-weight=\"bold\"");

  // ======================= the top view =======================
  p.svg += "<g id=\"top-view\">\n";
  p.text(margin, 52, 13, "start", "#222",
         "Top view: the run seen from above, x to the right and z up, in metres", " font-weight=\"bold\"");
  p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#ffffff\" stroke=\"#ccc\"/>\n", map_x0,
        map_top, tv.w, panel_h);
  const box map_area{map_x0 + 2, map_top + 2, map_x0 + tv.w - 2, map_top + panel_h - 2};

  // The road and its start line.
  {
    std::vector<std::pair<double, double>> centre;
    std::vector<bool> start;
    for (const vec3 &v : road.centre) centre.push_back({tv.px(v.x), tv.py(v.z)}), start.push_back(false);
    centre.push_back(centre.front()), start.push_back(false);
    char style[160];
    snprintf(style, sizeof style, "stroke=\"#dcd8cf\" stroke-width=\"%.1f\" stroke-linejoin=\"round\"",
             std::max(2.0, road.width * tv.scale));
    polyline(p, centre, start, "track", style);
    basis b = road.frame(0);
    vec3 a = road.at(0) + b.right * (road.width / 2), z = road.at(0) - b.right * (road.width / 2);
    p.add("<line class=\"mark\" data-kind=\"track\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#222\" "
          "stroke-width=\"3\"/>\n",
          tv.px(a.x), tv.py(a.z), tv.px(z.x), tv.py(z.z));
  }

  // Scale bar and axes, bottom left and top left of the map: placed first,
  // nothing else goes over them.
  {
    const double bar_m = nice_step(world_w / 4), bar_px = bar_m * tv.scale;
    const double bx = map_x0 + 14, by = map_top + panel_h - 16;
    p.add("<g class=\"mark\" data-kind=\"scale\"><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"5\" fill=\"#333\"/>"
          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"5\" fill=\"white\" stroke=\"#333\"/></g>\n",
          bx, by, bar_px / 2, bx + bar_px / 2, by, bar_px / 2);
    p.taken.push_back({bx - 2, by - 2, bx + bar_px + 2, by + 7});
    p.text(bx, by - 5, 10, "start", "#333", "0");
    p.text(bx + bar_px, by - 5, 10, "middle", "#333", nice_number(bar_m) + " m");
    const double ax = map_x0 + 22, ay = map_top + 46;
    p.add("<g class=\"mark\" data-kind=\"axes\" stroke=\"#333\" stroke-width=\"1.5\" fill=\"#333\">"
          "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/><path d=\"M%.1f %.1f l-6 -3.5 v7 z\"/>"
          "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/><path d=\"M%.1f %.1f l-3.5 6 h7 z\"/></g>\n",
          ax, ay, ax + 30, ay, ax + 34, ay, ax, ay, ax, ay - 30, ax, ay - 34);
    p.taken.push_back({ax - 4, ay - 36, ax + 36, ay + 4});
    p.text(ax + 38, ay + 4, 11, "start", "#333", "x");
    p.text(ax - 4, ay - 38, 11, "start", "#333", "z");
  }

  // Cars: the path of each over the window, and where it is at the end.
  for (size_t i = 0; i < s.cars.size(); ++i) {
    const auto &pts = s.cars[i];
    if (pts.empty()) continue;
    std::vector<std::pair<double, double>> d;
    std::vector<bool> start;
    for (size_t k = 0; k < pts.size(); ++k) {
      const bool jump = k == 0 || pts[k].frame > pts[k - 1].frame + 2 * sketch::car_step ||
                        std::hypot(pts[k].x - pts[k - 1].x, pts[k].z - pts[k - 1].z) > 30;
      d.push_back({tv.px(pts[k].x), tv.py(pts[k].z)});
      start.push_back(jump);
    }
    char style[120];
    snprintf(style, sizeof style, "stroke=\"%s\" stroke-width=\"1.3\" stroke-opacity=\"0.7\"", car_colours[i % 16]);
    polyline(p, d, start, "car-path", style);
  }
  for (size_t i = 0; i < s.cars.size(); ++i) {
    if (s.cars[i].empty()) continue;
    const auto &end = s.cars[i].back();
    const double x = tv.px(end.x), y = tv.py(end.z);
    p.add("<circle class=\"mark\" data-kind=\"car-end\" cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"%s\"/>\n", x, y,
          car_colours[i % 16]);
    p.taken.push_back({x - 3.5, y - 3.5, x + 3.5, y + 3.5});
  }

  // Free cameras: their paths, now and then the way they looked, start and end.
  std::vector<std::pair<double, double>> ends;  // start and end marks, for their labels
  for (int v = 0; v < 2; ++v) {
    std::vector<sketch::point> pts = s.path[v];
    if (pts.empty()) continue;
    std::vector<std::pair<double, double>> d;
    std::vector<bool> start;
    for (const sketch::point &q : pts) d.push_back({tv.px(q.x), tv.py(q.z)}), start.push_back(q.first);
    char style[120];
    snprintf(style, sizeof style, "stroke=\"%s\" stroke-width=\"2\" stroke-dasharray=\"7 3\"", free_colour[v]);
    polyline(p, d, start, v ? "free-path-1" : "free-path-0", style);
    std::string looks;
    double since = 1e9;
    for (size_t k = 0; k < pts.size(); ++k) {
      if (k > 0 && !pts[k].first) since += std::hypot(d[k].first - d[k - 1].first, d[k].second - d[k - 1].second);
      const double l = std::hypot(pts[k].fx, pts[k].fz);
      if (since < 26 || l < 1e-3) continue;
      since = 0;
      fmt(looks, "M%.1f %.1f l%.1f %.1f ", d[k].first, d[k].second, 11 * pts[k].fx / l, -11 * pts[k].fz / l);
    }
    if (!looks.empty())
      p.add("<path class=\"mark\" data-kind=\"look\" d=\"%s\" stroke=\"%s\" stroke-width=\"1\" stroke-opacity=\"0.7\"/>\n",
            looks.c_str(), free_colour[v]);
    const auto &a = d.front(), &b = d.back();
    p.add("<g class=\"mark\" data-kind=\"path-start\"><circle cx=\"%.1f\" cy=\"%.1f\" r=\"6\" fill=\"white\" "
          "stroke=\"%s\" stroke-width=\"2\"/><circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\" fill=\"%s\"/></g>\n",
          a.first, a.second, free_colour[v], a.first, a.second, free_colour[v]);
    p.add("<g class=\"mark\" data-kind=\"path-end\"><rect x=\"%.1f\" y=\"%.1f\" width=\"11\" height=\"11\" fill=\"%s\" "
          "transform=\"rotate(45 %.1f %.1f)\"/></g>\n",
          b.first - 5.5, b.second - 5.5, free_colour[v], b.first, b.second);
    p.taken.push_back({a.first - 7, a.second - 7, a.first + 7, a.second + 7});
    p.taken.push_back({b.first - 8, b.second - 8, b.first + 8, b.second + 8});
    ends.push_back(a), ends.push_back(b);
  }
  for (size_t k = 0; k < ends.size(); ++k)
    place_label(p, ends[k].first, ends[k].second, "#222", k % 2 ? "end" : "start");
  for (size_t i = 0; i < s.cars.size(); ++i)
    if (!s.cars[i].empty())
      place_label(p, tv.px(s.cars[i].back().x), tv.py(s.cars[i].back().z), car_colours[i % 16],
                  "car " + std::to_string(i));

  // Events, in groups of those that fall together. A long run's events are
  // all over the map: the groups then gather from further round, until no
  // more than a readable number of them is left.
  {
    std::vector<group> groups;
    for (double reach = 16;; reach *= 1.5) {
      groups.clear();
      const double cell = reach + 4;
      std::map<std::pair<int, int>, std::vector<size_t>> grid;  // groups by the cell of their spot
      for (const event &e : s.events) {
        marked m = mark_of(e);
        if (!m.ok || !info[(int)m.m].on_map) continue;
        const double x = tv.px(e.x), y = tv.py(e.z);
        const int cx = (int)std::floor(x / cell), cy = (int)std::floor(y / cell);
        size_t found = groups.size();
        for (int dx = -1; dx <= 1 && found == groups.size(); ++dx)
          for (int dy = -1; dy <= 1 && found == groups.size(); ++dy) {
            auto it = grid.find({cx + dx, cy + dy});
            if (it == grid.end()) continue;
            for (size_t g : it->second)
              if (std::hypot(groups[g].ax - x, groups[g].ay - y) <= reach) {
                found = g;
                break;
              }
          }
        if (found == groups.size()) {
          groups.emplace_back();
          groups.back().ax = x, groups.back().ay = y;
          grid[{cx, cy}].push_back(found);
        }
        groups[found].add(m.m, m.text, 8);
      }
      if (groups.size() <= 60 || reach > 400) break;
    }
    u32 unplaced = 0;
    bool led = false;
    for (const group &g : groups)
      if (!place_group(p, g, shape_of(g, 4), map_area, &led)) ++unplaced;
    if (led) legend.push_back({"leader", "line to where a group stood aside from", -2});
    if (unplaced)
      notes.push_back(std::to_string(unplaced) + " groups of marks found no room on the map;");
  }
  p.svg += "</g>\n";

  // The legend, right of the map.
  {
    p.svg += "<g id=\"legend\">\n";
    p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"white\" stroke=\"#ccc\"/>\n", legend_x,
          map_top, legend_w, panel_h);
    p.text(legend_x + 10, map_top + 20, 12, "start", "#222", "Legend", " font-weight=\"bold\"");
    double y = map_top + 44;
    const double lx = legend_x + 10;
    for (const line &l : legend) {
      p.add("<g class=\"legend\" data-kind=\"%s\">", l.kind.c_str());
      if (l.shape >= 0) {
        const mark m = (mark)l.shape;
        const bool numbered = number_inside(m) || m == mark::car_change || m == mark::camera_key ||
                              m == mark::rewind_back || m == mark::rewind_fwd;
        const std::string sample = numbered ? "n" : "";
        draw_mark(p, m, sample, lx, y);
      } else if (l.kind == "track") {
        p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#dcd8cf\" stroke-width=\"8\"/>"
              "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#222\" stroke-width=\"3\"/>",
              lx, y, lx + 24, y, lx + 12, y - 5, lx + 12, y + 5);
      } else if (l.kind == "car-path") {
        for (int i = 0; i < 3; ++i)
          p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"1.5\"/>", lx,
                y - 3 + 3 * i, lx + 24, y - 3 + 3 * i, car_colours[i]);
      } else if (l.kind == "car-end") {
        p.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"%s\"/>", lx + 6, y, car_colours[0]);
      } else if (l.kind.starts_with("free-path")) {
        p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"2\" "
              "stroke-dasharray=\"7 3\"/>",
              lx, y, lx + 24, y, free_colour[l.kind.back() - '0']);
      } else if (l.kind == "look") {
        p.add("<path d=\"M%.1f %.1f l8 -6 M%.1f %.1f l8 -6\" stroke=\"#111\" stroke-width=\"1\"/>", lx + 2, y + 3,
              lx + 14, y + 3);
      } else if (l.kind == "path-start") {
        p.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"6\" fill=\"white\" stroke=\"#111\" stroke-width=\"2\"/>", lx + 6, y);
      } else if (l.kind == "leader") {
        p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#555\" stroke-width=\"0.8\"/>"
              "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\" fill=\"#555\"/>",
              lx + 2, y + 3, lx + 20, y - 4, lx + 2, y + 3);
      } else if (l.kind == "path-end") {
        p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"11\" height=\"11\" fill=\"#111\" transform=\"rotate(45 %.1f %.1f)\"/>",
              lx + 0.5, y - 5.5, lx + 6, y);
      }
      p.svg += "</g>\n";
      p.text(lx + 34, y + 4, 11, "start", "#222", l.text);
      y += 19;
    }
    y += 8;
    p.text(lx, y, 10, "start", "#555", "Marks that fall together stand side by side,");
    p.text(lx, y + 14, 10, "start", "#555", "\xC3\x97n after one: the same mark n times.");
    if (s.events_left_out) {
      notes.push_back(std::to_string(s.events_left_out) + " events from frame " +
                      std::to_string(s.first_left_out_frame) + " on");
      notes.push_back("are counted in the summary, not drawn.");
    }
    for (size_t k = 0; k < notes.size(); ++k) {
      const bool more = k + 1 == notes.size() && notes[k].ends_with(";");
      p.text(lx, y + 28 + 14.0 * (double)k, 10, "start", "#a00", notes[k]);
      if (more) p.text(lx, y + 42 + 14.0 * (double)k, 10, "start", "#a00", "the time strip shows them all.");
    }
    p.svg += "</g>\n";
  }

  // ======================= the time strip =======================
  p.svg += "<g id=\"time-strip\">\n";
  p.text(margin, strip_top + 14, 13, "start", "#222",
         "Time strip: the replay tick on show (up) against the frame (across)", " font-weight=\"bold\"");
  p.text(margin, strip_top + 32, 11, "start", "#444",
         "Flat while paused; a drop where the replay was rewound, a jump where it was sought forward. "
         "Rows below: what was on, and when each thing happened.");
  const double frames_span = std::max(1.0, (double)s.frames - 1);
  auto fx = [&](double frame) { return plot_x0 + (plot_x1 - plot_x0) * frame / frames_span; };
  const double tick_span = std::max(1.0, (double)s.max_tick);
  auto ty = [&](double tick) { return plot_bottom - plot_h * tick / tick_span; };
  p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"white\" stroke=\"#ccc\"/>\n", plot_x0,
        plot_top, plot_x1 - plot_x0, plot_h);
  // Axes: ticks on the left, frames (and seconds) below.
  {
    const double step = nice_step(tick_span / 4);
    for (double t = 0; t <= tick_span + 0.5; t += step) {
      p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eee\"/>\n", plot_x0, ty(t), plot_x1, ty(t));
      p.text(plot_x0 - 6, ty(t) + 4, 10, "end", "#444", nice_number(t));
    }
    p.text(plot_x0 - 6, plot_top - 10, 10, "end", "#444", "replay tick");
    // Game time beside the frame, in the unit that keeps it short.
    auto label = [](double f) {
      char b[64];
      const double sec = f / 60;
      if (sec < 600) snprintf(b, sizeof b, "%.0f (%.0f s)", f, sec);
      else if (sec < 36000) snprintf(b, sizeof b, "%.0f (%.1f min)", f, sec / 60);
      else snprintf(b, sizeof b, "%.0f (%.1f h)", f, sec / 3600);
      return std::string(b);
    };
    const double widest =
        std::max(text_width(label(frames_span), 10), text_width(label(frames_span / 2), 10)) + 24;
    double fstep = std::max(60.0, nice_step(frames_span * widest / (plot_x1 - plot_x0)));
    while (fstep * (plot_x1 - plot_x0) / frames_span < widest) fstep *= 2;
    for (double f = 0; f <= frames_span + 0.5; f += fstep) {
      p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eee\"/>\n", fx(f), plot_top, fx(f),
            plot_bottom + 4);
      p.text(fx(f), plot_bottom + 16, 10, f == 0 ? "start" : "middle", "#444", label(f));
    }
    p.text(plot_x0 - 6, plot_bottom + 16, 10, "end", "#444", "frame (time)");
  }
  // The tick line: through each column's first and last tick, with a
  // vertical stroke where a column went further up or down in between.
  {
    std::string d, spans;
    for (size_t i = 0; i < s.columns.size(); ++i) {
      const sketch::column &c = s.columns[i];
      const double a = fx(c.first_frame), b = fx(c.first_frame + c.frames - 1);
      fmt(d, "%s%.1f %.1f ", i ? "L" : "M", a, ty(c.tick_first));
      if (c.frames > 1) fmt(d, "L%.1f %.1f ", b, ty(c.tick_last));
      if (c.tick_min < std::min(c.tick_first, c.tick_last) || c.tick_max > std::max(c.tick_first, c.tick_last))
        fmt(spans, "M%.1f %.1f V%.1f ", (a + b) / 2, ty(c.tick_min), ty(c.tick_max));
    }
    p.add("<path class=\"mark\" data-kind=\"tick-line\" d=\"%s%s\" fill=\"none\" stroke=\"#1864ab\" "
          "stroke-width=\"1.6\" stroke-linejoin=\"round\"/>\n",
          d.c_str(), spans.c_str());
    const double ly = strip_top + 48;
    const std::string what = "replay tick on show, frame by frame";
    const double lx = plot_x1 - text_width(what, 11) - 30;
    p.add("<g class=\"legend\" data-kind=\"tick-line\"><line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
          "stroke=\"#1864ab\" stroke-width=\"2\"/></g>\n",
          lx, ly - 4, lx + 24, ly - 4);
    p.text(lx + 30, ly, 11, "start", "#222", what);
  }
  // The rows.
  for (size_t r = 0; r < rows.size(); ++r) {
    const row &w = rows[r];
    const double y = rows_top + row_h * (double)r + row_h / 2;
    p.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eee\"/>\n", plot_x0, y + row_h / 2, plot_x1,
          y + row_h / 2);
    if (w.band >= 0) {
      p.text(plot_x0 - 14, y + 4, 11, "end", "#222", w.name, (" data-legend=\"" + w.kind + "\"").c_str());
      // Runs of columns in the same state, shaded by how much of them it took.
      int level = 0;
      double from = 0;
      std::string d;
      auto close_run = [&](double to) {
        if (level) fmt(d, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"12\" fill-opacity=\"%.2f\"/>", from,
                       y - 6, std::max(0.8, to - from), level / 4.0);
      };
      for (const sketch::column &c : s.columns) {
        const u32 n = w.band < 2 ? c.free[w.band] : w.band == 2 ? c.paused : c.menu;
        const int l = n == 0 ? 0 : std::max(1, (int)std::lround(4.0 * n / c.frames));
        if (l != level) {
          close_run(fx(c.first_frame));
          level = l, from = fx(c.first_frame);
        }
      }
      close_run(fx(s.frames));
      p.add("<g class=\"mark\" data-kind=\"%s\" fill=\"%s\">%s</g>\n", w.kind.c_str(), band_colours[w.band], d.c_str());
      continue;
    }
    p.text(plot_x0 - 14, y + 4, 11, "end", "#222", w.name);
    // Marks along the row; those that would touch form a group.
    std::vector<group> groups;
    for (const event &e : s.events) {
      marked m = mark_of(e);
      if (!m.ok || std::find(w.holds.begin(), w.holds.end(), m.m) == w.holds.end()) continue;
      const double x = fx(e.frame) - glyph / 2;
      if (groups.empty() || x > groups.back().right + 3) {
        groups.emplace_back();
        groups.back().ax = x, groups.back().ay = y;
      }
      group &g = groups.back();
      g.add(m.m, m.text, 12);
      auto right = [&] { return g.ax + shape_of(g, 12).w + (g.more ? 4 + text_width(g.more_text(), number_size) : 0); };
      // Near the page's edge a new mark joins the count instead.
      while (right() > page_w - margin && g.entries.size() > 1) {
        g.more += g.entries.back().count;
        g.entries.pop_back();
      }
      g.right = right();
    }
    for (const group &g : groups) {
      group_shape sh = shape_of(g, 12);
      draw_group(p, g, sh, g.ax, y - line_h / 2, true);
    }
  }
  p.svg += "</g>\n</svg>\n";

  FILE *out = fopen((file + ".part").c_str(), "wb");
  const bool ok = out && fwrite(p.svg.data(), 1, p.svg.size(), out) == p.svg.size();
  if (out && fclose(out) != 0) out = nullptr;
  if (!ok || !out || rename((file + ".part").c_str(), file.c_str()) != 0) {
    *error = "cannot write " + file;
    remove((file + ".part").c_str());
    return false;
  }
  return true;
}

}  // namespace sim
