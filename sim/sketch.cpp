// The sketch of a run (see picture.h): what the picture draws, kept to the
// same amount however long the run.
#include <algorithm>
#include <cmath>

#include "sim/picture.h"

namespace sim {

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

}  // namespace sim
