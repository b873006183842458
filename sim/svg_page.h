// The picture's page: an SVG text with every box placed on it so far, so
// that a new text or mark can be put where nothing else is yet, and the
// primitives the picture's parts draw with.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/picture.h"
#include "sim/trace.h"

namespace sim::draw {

constexpr double page_w = 1280, margin = 16;
constexpr const char *font = "DejaVu Sans, Verdana, sans-serif";
// Texts on the map keep a rim of the background round them, readable over
// paths and the road.
constexpr const char *halo = " stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\" paint-order=\"stroke\"";

struct box {
  double x0, y0, x1, y1;
  bool hits(const box &o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};
inline box of(const text_extent &t) { return {t.x0, t.y0, t.x1, t.y1}; }

// The text with SVG's special characters as entities.
std::string escape(const std::string &s);

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
// A whole number as the axes label it.
std::string nice_number(double v);
// 1, 2 or 5 times a power of ten, at most `at_most`.
double nice_step(double at_most);

// A polyline through page points, a new stroke at each `start`.
void polyline(page &p, const std::vector<std::pair<double, double>> &pts, const std::vector<bool> &start,
              const char *kind, const char *style);

// A short text next to a spot, wherever round it there is room.
void place_label(page &p, double x, double y, const char *colour, const std::string &s);

}  // namespace sim::draw
