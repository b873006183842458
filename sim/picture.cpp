// The run from above, as SVG: x to the right, z upwards, the track as a grey
// band, each car's path in its own colour, the free cameras' paths dashed with
// a short stroke for the way they looked, and a marker for each event.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>

#include "sim/trace.h"

namespace sim {
namespace {

constexpr const char *car_colours[16] = {
    "#e6194b", "#3cb44b", "#4363d8", "#f58231", "#911eb4", "#46a0a0", "#f032e6", "#9a6324",
    "#808000", "#000075", "#a9a9a9", "#e6a800", "#800000", "#2f8f2f", "#ff7f7f", "#5f9ea0",
};
constexpr const char *free_colour[2] = {"#111111", "#7a3cff"};
constexpr const char *c_pos_bind = "#1f6feb", *c_rot_bind = "#f08c00", *c_car = "#0b7285";
constexpr const char *c_teleport = "#c2255c", *c_rewind = "#e03131", *c_preset = "#2b8a3e";
constexpr const char *c_camera = "#495057";

struct canvas {
  double min_x = 1e300, max_x = -1e300, min_z = 1e300, max_z = -1e300;
  double scale = 1, pad = 40, map_w = 0, map_h = 0;
  std::string svg;
  std::vector<std::array<double, 3>> labels;  // x, baseline, width of the labels placed

  void include(double x, double z) {
    if (!std::isfinite(x) || !std::isfinite(z)) return;
    min_x = std::min(min_x, x), max_x = std::max(max_x, x);
    min_z = std::min(min_z, z), max_z = std::max(max_z, z);
  }
  void fit(double width) {
    double w = std::max(1.0, max_x - min_x), h = std::max(1.0, max_z - min_z);
    scale = (width - 2 * pad) / w;
    if (h * scale > 1100) scale = 1100 / h;  // very tall runs: keep the page sane
    map_w = w * scale + 2 * pad;
    map_h = h * scale + 2 * pad;
  }
  double px(double x) const { return pad + (x - min_x) * scale; }
  double py(double z) const { return pad + (max_z - z) * scale; }

  void add(const char *f, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, f);
    append_vformat(svg, f, ap);
    va_end(ap);
  }
  // A polyline through world points, broken where it jumps further than gap.
  void path(const std::vector<std::pair<double, double>> &pts, double gap, const char *style) {
    std::string d;
    for (size_t i = 0; i < pts.size(); ++i) {
      bool jump = i == 0 || std::hypot(pts[i].first - pts[i - 1].first,
                                       pts[i].second - pts[i - 1].second) > gap;
      char b[64];
      snprintf(b, sizeof b, "%s%.1f %.1f ", jump ? "M" : "L", px(pts[i].first), py(pts[i].second));
      d += b;
    }
    if (!d.empty()) svg += "<path d=\"" + d + "\" fill=\"none\" " + style + "/>\n";
  }
};

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

// Marker shapes, centred on (x, y) in picture units.
void diamond(canvas &c, double x, double y, const char *colour, bool filled) {
  c.add("<path d=\"M%.1f %.1f l6 6 l-6 6 l-6 -6 z\" fill=\"%s\" stroke=\"%s\" stroke-width=\"1.6\"/>\n",
        x, y - 6, filled ? colour : "white", colour);
}
void square(canvas &c, double x, double y, const char *colour, bool filled, const std::string &label) {
  c.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"13\" height=\"13\" fill=\"%s\" stroke=\"%s\" "
        "stroke-width=\"1.6\"/>\n",
        x - 6.5, y - 6.5, filled ? colour : "white", colour);
  c.add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"middle\" fill=\"%s\" "
        "font-family=\"sans-serif\">%s</text>\n",
        x, y + 3.5, filled ? "white" : colour, escape(label).c_str());
}
void triangle(canvas &c, double x, double y, const char *colour) {
  c.add("<path d=\"M%.1f %.1f l6 10 l-12 0 z\" fill=\"%s\"/>\n", x, y - 6, colour);
}
void star(canvas &c, double x, double y, const char *colour) {
  std::string d;
  for (int i = 0; i < 10; ++i) {
    double a = M_PI / 2 + i * M_PI / 5, r = i % 2 ? 3.5 : 8.5;
    char b[48];
    snprintf(b, sizeof b, "%s%.1f %.1f ", i ? "L" : "M", x + r * std::cos(a), y - r * std::sin(a));
    d += b;
  }
  c.add("<path d=\"%sz\" fill=\"%s\"/>\n", d.c_str(), colour);
}
void ring(canvas &c, double x, double y, const char *colour, double r) {
  c.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>\n",
        x, y, r, colour);
}
void cross_mark(canvas &c, double x, double y, const char *colour) {
  c.add("<path d=\"M%.1f %.1f l10 10 m0 -10 l-10 10\" stroke=\"%s\" stroke-width=\"2.2\"/>\n", x - 5,
        y - 5, colour);
}
// Event labels move down a line or two rather than print over each other.
void label(canvas &c, double x, double y, const char *colour, const std::string &text) {
  const double w = 6.0 * text.size(), h = 11;
  for (int tries = 0; tries < 10; ++tries) {
    bool clear = true;
    for (const auto &b : c.labels)
      if (x < b[0] + b[2] && b[0] < x + w && y - h < b[1] && b[1] - h < y) clear = false;
    if (clear) break;
    y += h;
  }
  c.labels.push_back({x, y, w});
  c.add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" fill=\"%s\" font-family=\"sans-serif\">%s</text>\n",
        x, y, colour, escape(text).c_str());
}

}  // namespace

bool write_picture(const std::string &file, const std::string &title, const track &road,
                   const recorder &rec, std::string *error) {
  canvas c;
  for (const vec3 &p : road.centre) c.include(p.x, p.z);
  c.min_x -= road.width, c.max_x += road.width, c.min_z -= road.width, c.max_z += road.width;
  for (const car_row &r : rec.cars()) c.include(r.x, r.z);
  for (const trace_row &r : rec.rows())
    for (int v = 0; v < 2; ++v)
      if (r.view[v].driven) c.include(r.view[v].pos[0], r.view[v].pos[2]);
  c.fit(1000);
  const double legend_w = 290;
  const double height = std::max(c.map_h, 420.0) + 40;
  c.add("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\">\n",
        c.map_w + legend_w, height, c.map_w + legend_w, height);
  c.add("<rect width=\"100%%\" height=\"100%%\" fill=\"#fbfaf7\"/>\n");
  c.svg += "<g transform=\"translate(0,30)\">\n";

  // The road and its start line.
  {
    std::vector<std::pair<double, double>> centre;
    for (const vec3 &p : road.centre) centre.push_back({p.x, p.z});
    centre.push_back(centre.front());
    char style[160];
    snprintf(style, sizeof style,
             "stroke=\"#d9d6cf\" stroke-width=\"%.1f\" stroke-linejoin=\"round\"", road.width * c.scale);
    c.path(centre, 1e9, style);
    c.path(centre, 1e9, "stroke=\"#ffffff\" stroke-width=\"1\" stroke-dasharray=\"6 6\"");
    basis b = road.frame(0);
    vec3 a = road.at(0) + b.right * (road.width / 2), z = road.at(0) - b.right * (road.width / 2);
    c.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#222\" stroke-width=\"3\"/>\n",
          c.px(a.x), c.py(a.z), c.px(z.x), c.py(z.z));
  }

  // Cars.
  std::map<u32, std::vector<std::pair<double, double>>> cars;
  for (const car_row &r : rec.cars()) cars[r.car].push_back({r.x, r.z});
  for (auto &[i, pts] : cars) {
    char style[120];
    snprintf(style, sizeof style, "stroke=\"%s\" stroke-width=\"1.3\" stroke-opacity=\"0.75\"",
             car_colours[i % 16]);
    c.path(pts, 30, style);
    const auto &end = pts.back();
    c.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>\n", c.px(end.first), c.py(end.second),
          car_colours[i % 16]);
    label(c, c.px(end.first) + 5, c.py(end.second) - 5, car_colours[i % 16], std::to_string(i));
  }

  // Free cameras: their path, and now and then the way they looked.
  for (int v = 0; v < 2; ++v) {
    std::vector<std::pair<double, double>> pts;
    u32 last_frame = 0;
    for (const trace_row &r : rec.rows()) {
      if (!r.view[v].driven) continue;
      if (!pts.empty() && r.frame != last_frame + 1) pts.push_back({NAN, NAN});
      pts.push_back({r.view[v].pos[0], r.view[v].pos[2]});
      last_frame = r.frame;
      if (r.frame % 20 == 0) {
        double fx = r.view[v].fwd[0], fz = r.view[v].fwd[2], l = std::hypot(fx, fz);
        if (l > 1e-3)
          c.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                "stroke-width=\"1\" stroke-opacity=\"0.6\"/>\n",
                c.px(r.view[v].pos[0]), c.py(r.view[v].pos[2]), c.px(r.view[v].pos[0]) + 12 * fx / l,
                c.py(r.view[v].pos[2]) - 12 * fz / l, free_colour[v]);
      }
    }
    // Split at the gaps (NaN) and at teleports.
    std::vector<std::pair<double, double>> run;
    char style[120];
    snprintf(style, sizeof style, "stroke=\"%s\" stroke-width=\"2\" stroke-dasharray=\"7 3\"",
             free_colour[v]);
    for (auto &p : pts) {
      if (std::isnan(p.first)) {
        c.path(run, 40, style);
        run.clear();
      } else {
        run.push_back(p);
      }
    }
    c.path(run, 40, style);
  }

  // Events.
  for (const event &e : rec.events()) {
    if (e.frame == 0 && e.x == 0 && e.z == 0 && e.kind == event_kind::ring) continue;
    double x = c.px(e.x), y = c.py(e.z);
    switch (e.kind) {
      case event_kind::position_bind: diamond(c, x, y, c_pos_bind, e.a); break;
      case event_kind::rotation_bind: diamond(c, x + 7, y, c_rot_bind, e.a); break;
      case event_kind::bind_car:
        triangle(c, x, y, c_car);
        label(c, x + 7, y + 12, c_car, "car " + std::to_string(e.a));
        break;
      case event_kind::teleport: star(c, x, y, c_teleport); break;
      case event_kind::rewind:
        ring(c, x, y, c_rewind, 7);
        label(c, x + 9, y - 7, c_rewind, (e.b >= 0 ? "+" : "") + std::to_string(e.b));
        break;
      case event_kind::no_snapshot: cross_mark(c, x, y, c_rewind); break;
      case event_kind::seek_end: ring(c, x, y, c_rewind, 3); break;
      case event_kind::preset_saved: square(c, x, y, c_preset, false, std::to_string(e.a)); break;
      case event_kind::preset_recalled:
        square(c, x, y, c_preset, true, std::to_string(e.a));
        if (e.b) ring(c, x, y, c_preset, 11);
        break;
      case event_kind::replay_camera:
        label(c, x + 6, y - 8, c_camera, "cam " + std::to_string(e.a));
        break;
      case event_kind::activate:
        c.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"%s\"/>\n", x, y, free_colour[e.view]);
        break;
      case event_kind::release:
        c.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"7\" height=\"7\" fill=\"%s\"/>\n", x - 3.5, y - 3.5,
              free_colour[e.view]);
        break;
      default: break;
    }
  }
  c.svg += "</g>\n";

  // Title and legend.
  c.add("<text x=\"14\" y=\"22\" font-size=\"15\" font-family=\"sans-serif\" fill=\"#222\">%s</text>\n",
        escape(title).c_str());
  double lx = c.map_w + 10, ly = 60;
  const size_t frame_at = c.svg.size();  // the legend's frame goes under its entries
  auto entry = [&](const std::string &text) {
    label(c, lx + 28, ly + 4, "#222", text);
    ly += 22;
  };
  auto line_entry = [&](const char *colour, const char *dash, const std::string &text) {
    c.add("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"2\" "
          "stroke-dasharray=\"%s\"/>\n",
          lx + 2, ly, lx + 22, ly, colour, dash);
    entry(text);
  };
  c.add("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"#d9d6cf\" stroke-width=\"8\"/>\n",
        lx + 2, ly, lx + 22, ly);
  entry("track " + road.name + " (start line black)");
  for (u32 i = 0; i < 5; ++i)
    c.add("<circle cx=\"%.0f\" cy=\"%.0f\" r=\"2.5\" fill=\"%s\"/>\n", lx + 4 + 4.5 * i, ly,
          car_colours[i]);
  entry("car paths, one colour each (" + std::to_string(cars.size()) + " cars)");
  line_entry(free_colour[0], "7 3", "free camera, main view");
  line_entry(free_colour[1], "7 3", "free camera, second view");
  auto count = [&](event_kind k) { return " (" + std::to_string(rec.count(k)) + ")"; };
  diamond(c, lx + 12, ly, c_pos_bind, true);
  entry("position bind on / off (open)" + count(event_kind::position_bind));
  diamond(c, lx + 12, ly, c_rot_bind, true);
  entry("rotation bind on / off (open)" + count(event_kind::rotation_bind));
  triangle(c, lx + 12, ly, c_car);
  entry("bound car changed" + count(event_kind::bind_car));
  star(c, lx + 12, ly, c_teleport);
  entry("teleport behind the car" + count(event_kind::teleport));
  ring(c, lx + 12, ly, c_rewind, 7);
  entry("rewind, at the watched car" + count(event_kind::rewind));
  cross_mark(c, lx + 12, ly, c_rewind);
  entry("seek without a snapshot" + count(event_kind::no_snapshot));
  ring(c, lx + 12, ly, c_rewind, 3);
  entry("forward seek reached its tick" + count(event_kind::seek_end));
  square(c, lx + 12, ly, c_preset, false, "n");
  entry("preset n saved" + count(event_kind::preset_saved));
  square(c, lx + 12, ly, c_preset, true, "n");
  entry("preset n recalled" + count(event_kind::preset_recalled));
  square(c, lx + 12, ly, c_preset, true, "n");
  ring(c, lx + 12, ly, c_preset, 11);
  entry("... while the free camera was off");
  label(c, lx + 2, ly + 4, c_camera, "cam");
  entry("replay camera key" + count(event_kind::replay_camera));
  c.add("<circle cx=\"%.0f\" cy=\"%.0f\" r=\"3.5\" fill=\"#111\"/>\n", lx + 12, ly);
  entry("free camera takes over" + count(event_kind::activate));
  c.add("<rect x=\"%.0f\" y=\"%.0f\" width=\"7\" height=\"7\" fill=\"#111\"/>\n", lx + 8.5, ly - 3.5);
  entry("free camera let go" + count(event_kind::release));
  char frame[160];
  snprintf(frame, sizeof frame,
           "<rect x=\"%.0f\" y=\"40\" width=\"%.0f\" height=\"%.0f\" fill=\"white\" stroke=\"#ccc\"/>\n",
           lx - 4, legend_w - 16, ly - 46);
  c.svg.insert(frame_at, frame);
  c.svg += "</svg>\n";

  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << c.svg;
  if (!out.good()) {
    *error = "cannot write " + file;
    return false;
  }
  return true;
}

}  // namespace sim
