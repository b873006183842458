// The top view: the track from above, the cars' paths and where each car
// ends, the free cameras' paths with the way they looked, and the events'
// marks in groups placed where there is room.
#include <cmath>
#include <cstdio>
#include <map>

#include "sim/picture_parts.h"

namespace sim::draw {

void draw_top_panel(page &p, const picture_layout &at, const track &road, const sketch &s,
                   std::vector<legend_line> &legend, std::vector<std::string> &notes) {
  const top_panel &tv = at.tv;
  const double map_x0 = at.map_x0, map_top = at.map_top, panel_h = at.panel_h, world_w = at.world_w;
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
}

}  // namespace sim::draw
