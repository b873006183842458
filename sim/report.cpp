#include "sim/report.h"

#include <cstdio>

namespace sim {
namespace {

std::string times(u32 n) {
  if (n == 1) return "once";
  if (n == 2) return "twice";
  return std::to_string(n) + " times";
}

std::string list(const std::vector<int> &v, u32 total) {
  std::string s;
  for (int n : v) s += (s.empty() ? "" : ", ") + std::to_string(n);
  if (total > v.size()) s += ", ...";
  return s;
}

std::string none_or(u32 n, const std::string &what) { return n ? std::to_string(n) + " " + what : "none " + what; }

}  // namespace

std::vector<std::pair<std::string, std::string>> summary(const scenario &s, const game &g, const recorder &rec) {
  using k = event_kind;
  const run_totals &t = rec.totals();
  const trace_row &end = rec.last();
  std::vector<std::pair<std::string, std::string>> out;
  char b[512];

  snprintf(b, sizeof b, "%.1f s of game time (%u frames); the replay moved on %u ticks and ended %sat tick %u",
           s.frames / 60.0, t.frames, g.ticks, end.paused ? "paused " : "", end.tick);
  out.emplace_back("replay", b);

  if (t.free_frames[0] + t.free_frames[1] == 0) {
    out.emplace_back("free camera", "never on");
  } else {
    const u32 releases = rec.count(k::release);
    snprintf(b, sizeof b, "on for %u of %u frames in the main view%s; came on %s, %s", t.free_frames[0], t.frames,
             t.free_frames[1] ? (" and " + std::to_string(t.free_frames[1]) + " in the second view").c_str() : "",
             times(rec.count(k::activate)).c_str(),
             releases ? ("gave the view back " + times(releases)).c_str() : "kept the view to the end");
    out.emplace_back("free camera", b);
  }

  const u32 calls = g.camera_calls[0] + g.camera_calls[1], skips = g.camera_skips[0] + g.camera_skips[1];
  snprintf(b, sizeof b, "left to the free camera on %u of %u camera updates; the game's own camera ran %u", skips,
           calls, calls - skips);
  out.emplace_back("game camera", b);
  snprintf(b, sizeof b, "held back on %u of its %u calls while a free camera flew", g.arm_skips, g.arm_calls);
  out.emplace_back("replay interface", b);

  const u32 rewinds = rec.count(k::rewind), missing = rec.count(k::no_snapshot);
  if (rewinds + missing == 0) {
    out.emplace_back("rewind", "not used");
  } else {
    snprintf(b, sizeof b, "rewound %s: %u back, %u forward; %s", times(rewinds).c_str(), t.rewinds_back,
             t.rewinds_forward,
             missing ? (times(missing) + " no snapshot was there").c_str() : "every one found its snapshot");
    out.emplace_back("rewind", b);
  }
  if (u32 run = rec.count(k::seek_run)) {
    snprintf(b, sizeof b, "the replay ran on to a seek's tick %s and stopped there %s", times(run).c_str(),
             times(rec.count(k::seek_end)).c_str());
    out.emplace_back("seek forward", b);
  } else {
    out.emplace_back("seek forward", "never ran the replay on (every seek had its snapshot)");
  }

  const u32 pos = rec.count(k::position_bind), rot = rec.count(k::rotation_bind), cars = rec.count(k::bind_car);
  if (pos + rot + cars == 0) {
    out.emplace_back("car bind", "not used");
  } else {
    snprintf(b, sizeof b, "position bound %s, let go %s; rotation bound %s, let go %s; bound car changed %s",
             times(t.position_on).c_str(), times(pos - t.position_on).c_str(), times(t.rotation_on).c_str(),
             times(rot - t.rotation_on).c_str(), times(cars).c_str());
    out.emplace_back("car bind", b);
  }
  const u32 tele = rec.count(k::teleport);
  out.emplace_back("teleport", tele ? "jumped behind the bound car " + times(tele) : "not used");

  const u32 keys = rec.count(k::replay_camera);
  const u32 shown = rec.count(k::camera_shown);
  std::string cam = shown ? "the camera on show changed " + times(shown) : "the camera on show never changed";
  cam += keys ? "; the L key switched it " + times(keys) : "; the L key was not used";
  if (t.camera_key_wraps)
    cam += ", " + times(t.camera_key_wraps) + " wrapping to camera 0 (the game's fade to it ended " +
           times(g.cam0_changes) + ")";
  out.emplace_back("replay camera", cam);

  const u32 saved = rec.count(k::preset_saved), recalled = rec.count(k::preset_recalled);
  std::string pre = "saved " + std::to_string(saved) + (saved ? " (" + list(t.saved, saved) + ")" : "") +
                    ", recalled " + std::to_string(recalled) + (recalled ? " (" + list(t.recalled, recalled) + ")" : "");
  if (t.recalled_waiting)
    pre += "; " + std::to_string(t.recalled_waiting) + " of the recalls first brought the free camera on";
  pre += "; " + none_or(rec.count(k::preset_empty), "empty") + ", " + none_or(rec.count(k::preset_refused), "refused");
  out.emplace_back("presets", pre);

  if (u32 rings = rec.count(k::ring)) {
    snprintf(b, sizeof b, "built %s (anew each time the cars change), the last one %u ticks of %u bytes (%.1f MB)",
             times(rings).c_str(), t.ring_slots, t.ring_bytes, (double)t.ring_slots * t.ring_bytes / 1e6);
    out.emplace_back("snapshot ring", b);
  } else {
    out.emplace_back("snapshot ring", "never built (rewind off, or no replay)");
  }
  return out;
}

std::string log_note(const std::string &line) {
  unsigned car = 0;
  char address[16] = {};
  if (sscanf(line.c_str(), "zephal: bind car %u (%8[0-9A-Fa-f])", &car, address) == 2)
    return std::string("   <- ") + address + ": where car " + std::to_string(car) + "'s object lies in the game's memory";
  return "";
}

}  // namespace sim
