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

#include "sim/output_file.h"
#include "sim/picture_parts.h"

namespace sim {
namespace draw {

std::vector<mark> marks_used(const sketch &s) {
  std::vector<mark> used_marks;
  bool used[marks] = {};
  for (const event &e : s.events)
    if (marked m = mark_of(e); m.ok) used[(int)m.m] = true;
  for (int m = 0; m < marks; ++m)
    if (used[m]) used_marks.push_back((mark)m);
  return used_marks;
}

std::vector<legend_line> legend_lines(const track &road, const sketch &s, const std::vector<mark> &used) {
  const bool any_free[2] = {!s.path[0].empty(), !s.path[1].empty()};
  const bool cars_cut = s.frames > sketch::car_window;
  std::vector<legend_line> legend;
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
  for (mark m : used) legend.push_back({info[(int)m].id, info[(int)m].legend, (int)m});
  return legend;
}

std::vector<strip_row> strip_rows(const sketch &s, const std::vector<mark> &used) {
  std::vector<strip_row> rows;
  auto frames_in = [&](int state) {
    u32 n = 0;
    for (const sketch::column &c : s.columns) n += state < 2 ? c.free[state] : state == 2 ? c.paused : c.menu;
    return n;
  };
  const char *band_names[4] = {"free camera, main view", "free camera, second view", "replay paused", "game in its menu"};
  const char *band_kinds[4] = {"band-free-main", "band-free-second", "band-paused", "band-menu"};
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
    for (mark m : holds) any |= std::find(used.begin(), used.end(), m) != used.end();
    if (any) rows.push_back({name, "", holds, -1});
  }
  return rows;
}

picture_layout lay_out(const track &road, const sketch &s, size_t legend_size, size_t rows) {
  picture_layout at;
  // The top view's size from the world it shows.
  double min_x = s.min_x, max_x = s.max_x, min_z = s.min_z, max_z = s.max_z;
  for (const vec3 &v : road.centre) {
    min_x = std::min(min_x, v.x - road.width), max_x = std::max(max_x, v.x + road.width);
    min_z = std::min(min_z, v.z - road.width), max_z = std::max(max_z, v.z + road.width);
  }
  const double legend_w = 330, map_x0 = margin, map_top = 70, pad = 36;
  const double map_w = page_w - 2 * margin - 16 - legend_w, map_max_h = 640;
  const double world_w = std::max(1.0, max_x - min_x), world_h = std::max(1.0, max_z - min_z);
  const double scale = std::min((map_w - 2 * pad) / world_w, (map_max_h - 2 * pad) / world_h);
  // The world in the middle of the map's frame.
  at.tv = top_panel{map_x0 + (map_w - world_w * scale) / 2, map_top + pad, scale, min_x, max_z, map_w,
                   world_h * scale + 2 * pad};
  at.world_w = world_w;
  at.map_x0 = map_x0, at.map_top = map_top, at.legend_w = legend_w;
  at.legend_x = map_x0 + map_w + 16;
  // The legend beside the map sets the panel's height when it is the taller;
  // one line more for the leader lines, should a group have to stand aside.
  const double legend_h = 46 + 19.0 * (double)(legend_size + 1) + 90;
  at.panel_h = std::max(at.tv.h, legend_h);
  at.tv.y0 += (at.panel_h - at.tv.h) / 2;
  // The time strip below.
  at.strip_top = map_top + at.panel_h + 30;
  at.plot_x0 = margin + 170, at.plot_x1 = page_w - margin - 60;
  at.plot_top = at.strip_top + 58, at.plot_h = 240, at.plot_bottom = at.plot_top + at.plot_h;
  at.rows_top = at.plot_bottom + 40, at.row_h = 22;
  at.page_h = at.rows_top + at.row_h * (double)rows + 30;
  return at;
}

}  // namespace draw

bool write_picture(const std::string &file, const std::string &title, const track &road, const sketch &s,
                   std::string *error) {
  using namespace draw;
  const std::vector<mark> used = marks_used(s);
  std::vector<legend_line> legend = legend_lines(road, s, used);
  const std::vector<strip_row> rows = strip_rows(s, used);
  const picture_layout at = lay_out(road, s, legend.size(), rows.size());

  page p;
  p.add("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"%s\">\n",
        page_w, at.page_h, page_w, at.page_h, font);
  p.add("<rect width=\"100%%\" height=\"100%%\" fill=\"#fbfaf7\"/>\n");
  p.text(margin, 26, 16, "start", "#222", title, " font-weight=\"bold\"");
  std::vector<std::string> notes;  // what the picture could not show, under the legend
  draw_top_panel(p, at, road, s, legend, notes);
  draw_legend(p, at, s, legend, notes);
  draw_time_strip(p, at, s, rows);
  p.svg += "</svg>\n";
  return write_whole(file, p.svg, error);
}

}  // namespace sim
