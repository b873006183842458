// The legend, right of the map: a sample and a line of text for each kind
// of path and mark the picture holds, and notes on what it could not show.
#include "sim/picture_parts.h"

namespace sim::draw {

void draw_legend(page &p, const picture_layout &at, const sketch &s, const std::vector<legend_line> &legend,
                 std::vector<std::string> &notes) {
  const double legend_x = at.legend_x, legend_w = at.legend_w, map_top = at.map_top, panel_h = at.panel_h;
  p.svg += "<g id=\"legend\">\n";
  p.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"white\" stroke=\"#ccc\"/>\n", legend_x,
        map_top, legend_w, panel_h);
  p.text(legend_x + 10, map_top + 20, 12, "start", "#222", "Legend", " font-weight=\"bold\"");
  double y = map_top + 44;
  const double lx = legend_x + 10;
  for (const legend_line &l : legend) {
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

}  // namespace sim::draw
