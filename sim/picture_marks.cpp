#include "sim/picture_marks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim::draw {

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

bool number_inside(mark m) {
  return m == mark::camera_shown || m == mark::preset_saved || m == mark::preset_recalled ||
         m == mark::preset_waited || m == mark::preset_empty;
}
double mark_width(mark m, const std::string &text) {
  if (number_inside(m)) return std::max(glyph + 1, text_width(text, number_size) + 6);
  double w = glyph;
  if (m == mark::preset_waited) w += 4;
  if (!text.empty()) w += 2 + text_width(text, number_size);
  return w;
}


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
void draw_group(page &p, const group &g, const group_shape &s, double x, double top, bool more_beside) {
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

}  // namespace sim::draw
