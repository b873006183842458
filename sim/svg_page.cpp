#include "sim/svg_page.h"

#include <cmath>
#include <cstdio>

namespace sim::draw {

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

std::string nice_number(double v) {
  char b[32];
  snprintf(b, sizeof b, "%.0f", v);
  return b;
}
double nice_step(double at_most) {
  if (at_most <= 0) return 1;
  double p = std::pow(10.0, std::floor(std::log10(at_most)));
  for (double m : {5.0, 2.0, 1.0})
    if (m * p <= at_most) return m * p;
  return p;
}

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

}  // namespace sim::draw
