// The simulated game: a replay of cars going round a track, played in the
// host's game image through the game's own code. Its behaviour sits behind
// the four game routines (host::services()): the frame routine 0x51a360 takes
// the replay interface's camera requests, the tick routine 0x51bbe0 moves the
// replay on by one tick, the camera routine 0x43f2c0 drives the TV and chase
// cameras, and the replay-interface routine 0x511240 only counts its runs.
// Each frame goes through the patched places: the frame pass at 0x511328, one
// replay tick, the three replay-interface calls and one camera update per
// view (view 0 at 0x4415b9, view 1 at 0x44143c).
//
// Everything a car needs to drive on lives in its car object, inside the
// 2772 bytes a snapshot keeps, so that a rewind puts a car back where it was
// and it drives on from there exactly as it did the first time.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/scenario.h"
#include "sim/track.h"

namespace sim {

// Game words of the simulated game (linked addresses). The plug-in keeps its
// own list; where the two meet, a word has the same name after the prefix
// (gw_ for a word, gb_ for a byte here, ga_ there).
constexpr u32 ga_mode = 0x8290a0;
constexpr u32 ga_pause = 0x8290ac;
constexpr u32 ga_cam_current = 0x8290b8;       // current replay camera
constexpr u32 ga_cam_request_flag = 0x8290c0;  // 1 = a camera request is waiting
constexpr u32 ga_cam_request = 0x8290c4;       // the camera requested
constexpr u32 ga_cam0_timer = 0x8290c8;        // frames into the change to camera 0
constexpr u32 ga_cam0_request = 0x5c3aec;      // byte: 1 = change to camera 0 asked for
constexpr u32 ga_cam0_state = 0x81ac5c;        // byte: 0xFF = the change to camera 0 is done
constexpr u32 ga_tick = 0x853b5c;
constexpr u32 ga_tick_alt = 0x853b34;          // twice the tick
constexpr u32 ga_half_tick = 0x5bf268;         // the tick (half of 0x853b34)
constexpr u32 ga_car_count = 0x661a60;
constexpr u32 ga_car_table = 0x661a88;
constexpr u32 ga_view_cam_override = 0x661958;  // camera object of view 0, view 1 at +4; 0 = none
constexpr u32 ga_view_cam_base = 0x661950;      // the view's camera when its override is 0
constexpr u32 ga_mouse_left = 0x689500;         // the rectangle the game keeps its mouse in
constexpr u32 ga_mouse_top = 0x689504;
constexpr u32 ga_mouse_right = 0x689508;
constexpr u32 ga_mouse_bottom = 0x68950c;
constexpr u32 ga_mouse_x = 0x689510, ga_mouse_y = 0x689514;
constexpr u32 ga_mark_index = 0x655b9c;
constexpr u32 ga_mark_array = 0x867504;
constexpr u32 mark_record_size = 13844;
constexpr u32 ga_track_dir = 0x5bd2e4;
constexpr u32 ga_track_number = 0x7c4ce4;
constexpr u32 ga_track_names = 0x5ba21c;

constexpr u32 cam_type_free = 7;
constexpr u32 cam0_fade_frames = 15;

// A car's own driving, inside its car object at car_drive_offset.
struct car_drive {
  f64 dist;         // along the centre line from the start, laps included
  f64 speed;        // world units per tick
  f64 lane;         // offset to the right of the centre line
  f64 lane_target;  // the lane the driver is heading for
  f64 lane_rate;    // lane change this tick
  f64 pace;         // the driver's top speed
  u32 dice;         // the driver's random numbers
  u32 lane_timer;   // ticks until the driver picks a new lane
  u32 laps;
  u32 number;       // car index at the start
};
constexpr u32 car_drive_offset = 0x200;
static_assert(car_drive_offset + sizeof(car_drive) <= 2772, "a snapshot must keep the driving state");

// What one frame did, as the game saw it.
struct frame_report {
  bool cam_present[2] = {};
  bool cam_driven[2] = {};  // the camera routine was called and skipped (the free camera drove it)
  u32 arm_calls = 0, arm_runs = 0;
  bool ticked = false;      // the replay moved on by one tick
};

class game {
 public:
  // Lays out the game for the scenario in a freshly reset game image and
  // plugs its behaviour into the game's routines. The game directory holds
  // the track folders (created here).
  void start(const scenario &s, const std::string &game_dir);

  void set_cars(u32 n);
  void set_marks(u32 n);
  void set_mode(u32 mode);
  void request_camera(u32 n);  // as the game's replay interface asks for a camera
  void set_view1(int type);
  void move_mouse(i32 dx, i32 dy);

  frame_report frame();  // one frame of the game, through its patched places

  const track &road() const { return track_; }
  std::string track_folder() const;  // the track's folder under the game directory
  u32 camera(int view) const;        // current camera object of a view, or 0
  u32 car(u32 i) const;              // car table slot i
  u32 car_count() const;
  u32 replay_tick() const;           // the replay tick on show
  int car_index(u32 car_obj) const;  // slot of a car object, -1 when not in the table

  // Totals.
  u32 camera_calls[2] = {}, camera_skips[2] = {};
  u32 arm_calls = 0, arm_skips = 0;
  u32 ticks = 0;          // replay ticks played
  u32 requests_taken = 0; // camera requests the game applied
  u32 cam0_changes = 0;   // changes to camera 0 completed through the handshake

 private:
  void tick();
  void drive(u32 car_obj);
  void frame_work();
  void camera_work(u32 cam);
  void place_car(u32 car_obj);
  void cut_to(u32 n);

  track track_;
  std::string game_dir_;
  u32 cars_[max_cars] = {};       // car objects by slot, kept when a car leaves
  u32 cams_[2] = {};
  int view1_ = view1_off;
  std::vector<u8> marks_;         // the mark-section records (the game keeps them outside its image)
  std::vector<vec3> tv_spots_;    // trackside TV cameras
};

}  // namespace sim
