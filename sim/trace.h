// What a run looked like from the game's side, frame by frame: the replay's
// words, both views' camera objects and every car, and the events the
// plug-in's log lines and the game's camera tell of (binds, teleports,
// rewinds, presets...). Rows go to the trace and cars files as the run goes,
// so that a run of any length keeps only the totals and a sketch of itself
// in memory (see picture.h).
// Nothing here reads the plug-in's own memory: the free camera is seen
// through its camera object, its binds through its log lines, and a recalled
// preset through the preset file it came from.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/output_file.h"
#include "sim/replay_model.h"

namespace sim {

struct view_row {
  bool present = false, driven = false;
  u32 type = 0;
  f32 pos[3] = {}, fwd[3] = {}, up[3] = {};
  i32 car = -1;  // the camera's target car (for the free camera: its bound car)
};

struct trace_row {
  u32 frame = 0, tick = 0, mode = 0, paused = 0, camera = 0;
  view_row view[2];
  u32 bind_pos = 0, bind_rot = 0;  // of view 0's free camera
};

enum class event_kind {
  position_bind,   // a: 1 on, 0 off
  rotation_bind,   // a: 1 on, 0 off
  bind_car,        // a: car
  teleport,        // a: car
  replay_camera,   // the free camera's camera key; a: camera asked for (0: the wrap to camera 0)
  rewind,          // a: tick restored, b: delta
  no_snapshot,     // a seek or rewind that found nothing
  seek_run,        // the replay runs on to a seek's target
  seek_end,        // ... and stands there
  preset_saved,    // a: preset
  preset_recalled, // a: preset, b: 1 when it waited for the free camera
  preset_empty,    // a: preset
  preset_refused,  // a save without a free camera or track
  ring,            // the snapshot ring was (re)built; a: slots, b: bytes each
  activate,        // a free camera took a view over
  release,         // and gave it back to the game
  camera_shown,    // the replay camera on show changed; a: the new one (any cause)
  count_
};
constexpr int event_kinds = (int)event_kind::count_;

struct event {
  u32 frame = 0, tick = 0;
  event_kind kind{};
  i32 a = 0, b = 0;
  int view = 0;
  f32 x = 0, z = 0;  // where on the map it happened
};

// What the player did with the keys on one frame, as far as the recorder
// needs it to make sense of a digit key.
struct frame_input {
  bool digit_down[10] = {};
  bool ctrl = false, space = false;
};

// Totals over the whole run, for the summary.
struct run_totals {
  u32 frames = 0;
  u32 free_frames[2] = {};
  u32 events[event_kinds] = {};
  u32 rewinds_back = 0, rewinds_forward = 0;
  u32 recalled_waiting = 0;  // recalls that waited for the free camera to come on
  u32 camera_key_wraps = 0;  // camera key presses that went to camera 0
  u32 position_on = 0, rotation_on = 0;
  u32 ring_slots = 0, ring_bytes = 0;  // of the ring built last
  std::vector<int> saved, recalled;  // preset numbers, in order, the first few
};

class sketch;

class recorder {
 public:
  recorder(game &g, std::string preset_file, sketch &picture)
      : game_(g), preset_file_(std::move(preset_file)), sketch_(picture) {}

  // Where the rows go as the run goes (the files are put in place by finish).
  bool open(const std::string &trace_path, const std::string &cars_path, std::string *error);
  bool finish(std::string *error);

  // After each frame: the game as it stands and the log lines of the frame.
  void frame(u32 frame_no, const frame_report &r, const frame_input &in,
             const std::vector<std::string> &log);
  // Log lines from before the first frame (the entry's).
  void before_start(const std::vector<std::string> &log);

  const trace_row &last() const { return last_; }
  const run_totals &totals() const { return totals_; }
  u32 count(event_kind k) const { return totals_.events[(int)k]; }

 private:
  void add(const trace_row &now, event_kind k, i32 a, i32 b, int view);
  void recall_binds(int preset);
  void write_rows(const trace_row &now);

  game &game_;
  std::string preset_file_;
  sketch &sketch_;
  output_file trace_, cars_;
  run_totals totals_;
  trace_row last_;
  bool any_ = false;
  bool prev_digit_[10] = {};
  int pending_recall_ = -1;
  u32 bind_pos_ = 0, bind_rot_ = 0;
  std::string line_;  // the rows of one frame, reused
};

// The trace's columns and the cars file's, with what each holds; the README
// the run writes beside the outputs is made from these.
struct column {
  const char *name, *meaning;
};
extern const std::vector<column> trace_columns, car_columns;

// The camera's roll in degrees from its forward and up axes: 0 with the
// picture level, positive when the camera is turned clockwise as seen from
// behind it. NaN when it looks straight up or down.
double roll_degrees(const f32 fwd[3], const f32 up[3]);

// printf onto the end of a string, of any length (the picture, the summary).
void append_vformat(std::string &out, const char *f, va_list ap);
void fmt(std::string &out, const char *f, ...) __attribute__((format(printf, 2, 3)));

}  // namespace sim
