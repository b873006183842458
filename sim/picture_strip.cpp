// The time strip: the replay tick against the frame, and under it one row
// per state and per kind of event on the same frame axis.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/picture_parts.h"

namespace sim::draw {

void draw_time_strip(page &p, const picture_layout &at, const sketch &s, const std::vector<strip_row> &rows) {
  const double strip_top = at.strip_top, plot_x0 = at.plot_x0, plot_x1 = at.plot_x1, plot_top = at.plot_top;
  const double plot_h = at.plot_h, plot_bottom = at.plot_bottom, rows_top = at.rows_top, row_h = at.row_h;
  const char *band_colours[4] = {"#111111", "#7a3cff", "#e8590c", "#1c7ed6"};
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
    const strip_row &w = rows[r];
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
  p.svg += "</g>\n";
}

}  // namespace sim::draw
