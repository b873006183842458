// What a run looked like from the game's side, frame by frame: the replay's
// words, both views' camera objects and every car, and the events the
// plug-in's log lines and the game's camera tell of (binds, teleports,
// rewinds, presets...). It is written out as CSV and drawn as a picture.
// Nothing here reads the plug-in's own memory: the free camera is seen
// through its camera object, its binds through its log lines, and a recalled
// preset through the preset file it came from.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/replay_model.h"

namespace sim {

struct view_row {
  bool present = false, driven = false;
  u32 type = 0;
  f32 pos[3] = {}, fwd[3] = {};
  i32 car = -1;  // the camera's target car (for the free camera: its bound car)
};

struct trace_row {
  u32 frame = 0, tick = 0, mode = 0, paused = 0, camera = 0;
  view_row view[2];
  u32 bind_pos = 0, bind_rot = 0;  // of view 0's free camera
};

struct car_row {
  u32 frame, tick;
  u32 car;
  f32 x, y, z;
};

enum class event_kind {
  position_bind,   // a: 1 on, 0 off
  rotation_bind,   // a: 1 on, 0 off
  bind_car,        // a: car
  teleport,        // a: car
  replay_camera,   // a: camera asked for (0: the wrap to camera 0)
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
};

struct event {
  u32 frame = 0, tick = 0;
  event_kind kind{};
  i32 a = 0, b = 0;
  int view = 0;
  f64 x = 0, z = 0;  // where on the map it happened
  std::string text;
};

// What the player did with the keys on one frame, as far as the recorder
// needs it to make sense of a digit key.
struct frame_input {
  bool digit_down[10] = {};
  bool ctrl = false, space = false;
};

class recorder {
 public:
  recorder(game &g, std::string preset_file) : game_(g), preset_file_(std::move(preset_file)) {}

  // After each frame: the game as it stands and the log lines of the frame.
  void frame(u32 frame_no, const frame_report &r, const frame_input &in,
             const std::vector<std::string> &log);
  // Log lines from before the first frame (the entry's).
  void before_start(const std::vector<std::string> &log);

  const std::vector<trace_row> &rows() const { return rows_; }
  const std::vector<car_row> &cars() const { return cars_; }
  const std::vector<event> &events() const { return events_; }
  u32 count(event_kind k) const;

  bool write_trace(const std::string &path, std::string *error) const;
  bool write_cars(const std::string &path, std::string *error) const;

 private:
  void add(const trace_row &now, event_kind k, i32 a, i32 b, int view, const std::string &text);
  void recall_binds(int preset);

  game &game_;
  std::string preset_file_;
  std::vector<trace_row> rows_;
  std::vector<car_row> cars_;
  std::vector<event> events_;
  trace_row last_;
  bool any_ = false;
  bool prev_digit_[10] = {};
  int pending_recall_ = -1;
  u32 bind_pos_ = 0, bind_rot_ = 0;
};

// The run as an SVG picture: the track from above, each car's path, the free
// cameras' paths and a marker for every event worth seeing, with a legend.
bool write_picture(const std::string &path, const std::string &title, const track &road,
                   const recorder &rec, std::string *error);

// printf onto the end of a string, of any length (the CSV and the picture).
void append_vformat(std::string &out, const char *f, va_list ap);
void fmt(std::string &out, const char *f, ...) __attribute__((format(printf, 2, 3)));

}  // namespace sim
