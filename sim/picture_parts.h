// The picture's three parts and the layout they share: the top view (the
// track from above with the cars', free cameras' and events' marks), the
// legend beside it, and the time strip below. write_picture lays the page
// out and draws them in that order; each part places its texts and marks
// where the earlier ones left room.
#pragma once

#include <string>
#include <vector>

#include "sim/picture.h"
#include "sim/picture_marks.h"
#include "sim/track.h"

namespace sim::draw {

inline constexpr const char *car_colours[16] = {
    "#e6194b", "#3cb44b", "#4363d8", "#f58231", "#911eb4", "#46a0a0", "#f032e6", "#9a6324",
    "#808000", "#000075", "#a9a9a9", "#e6a800", "#800000", "#2f8f2f", "#ff7f7f", "#5f9ea0",
};
inline constexpr const char *free_colour[2] = {"#111111", "#7a3cff"};

struct top_panel {
  double x0, y0, scale, min_x, max_z, w, h;  // the map's area on the page, and world to page
  double px(double x) const { return x0 + (x - min_x) * scale; }
  double py(double z) const { return y0 + (max_z - z) * scale; }
};

// A line of the legend; shape: -1 text only, -2 a line sample, else a mark.
struct legend_line {
  std::string kind, text;
  int shape;
};

// A row of the time strip: a state shaded along it (band 0..3: free camera
// in the main view, in the second view, replay paused, game in its menu) or,
// with band -1, the marks it holds.
struct strip_row {
  std::string name, kind;
  std::vector<mark> holds;
  int band;
};

// Where everything stands on the page.
struct picture_layout {
  top_panel tv;
  double world_w;  // metres across the map
  double map_x0, map_top, panel_h, legend_x, legend_w;
  double strip_top, plot_x0, plot_x1, plot_top, plot_h, plot_bottom, rows_top, row_h, page_h;
};

// The marks the run's events use, in the marks' order.
std::vector<mark> marks_used(const sketch &s);
// The legend's lines for what the run shows (a line for leader lines is
// added by the top view when it needs one).
std::vector<legend_line> legend_lines(const track &road, const sketch &s, const std::vector<mark> &used);
// The time strip's rows for the states and marks the run has.
std::vector<strip_row> strip_rows(const sketch &s, const std::vector<mark> &used);
picture_layout lay_out(const track &road, const sketch &s, size_t legend_size, size_t rows);

// The parts. The top view may add a legend line and notes (what it could not
// show), which the legend draws.
void draw_top_panel(page &p, const picture_layout &at, const track &road, const sketch &s,
                   std::vector<legend_line> &legend, std::vector<std::string> &notes);
void draw_legend(page &p, const picture_layout &at, const sketch &s, const std::vector<legend_line> &legend,
                 std::vector<std::string> &notes);
void draw_time_strip(page &p, const picture_layout &at, const sketch &s, const std::vector<strip_row> &rows);

}  // namespace sim::draw
