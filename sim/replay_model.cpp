#include "sim/replay_model.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "host/game_image.h"

namespace sim {
namespace {

using host::byte;
using host::fword;
using host::word;

// The game's track list: the table at 0x5ba21c holds the folder names by
// track number. A scenario's own track name is appended to it.
constexpr const char *known_tracks[] = {"alpine", "harbour", "desert", "oval"};

// The game's copy of a string, in its own heap.
u32 game_string(const std::string &s) {
  u32 at = host::game_alloc((u32)s.size() + 1);
  memcpy((void *)(uintptr_t)at, s.c_str(), s.size() + 1);
  return at;
}

car_drive &drive_of(u32 car_obj) { return *(car_drive *)(uintptr_t)(car_obj + car_drive_offset); }

void write_pose(u32 obj, u32 pos_off, u32 basis_off, vec3 p, const basis &b) {
  fword(obj + pos_off) = (f32)p.x;
  fword(obj + pos_off + 4) = (f32)p.y;
  fword(obj + pos_off + 8) = (f32)p.z;
  const vec3 rows[3] = {b.right, b.up, b.forward};
  for (int r = 0; r < 3; ++r) {
    fword(obj + basis_off + 12 * r) = (f32)rows[r].x;
    fword(obj + basis_off + 12 * r + 4) = (f32)rows[r].y;
    fword(obj + basis_off + 12 * r + 8) = (f32)rows[r].z;
  }
}

vec3 read_vec(u32 addr) { return {fword(addr), fword(addr + 4), fword(addr + 8)}; }

basis car_basis(u32 car_obj) {
  return {read_vec(car_obj + 0x34), read_vec(car_obj + 0x40), read_vec(car_obj + 0x4c)};
}

// The driver's dice: xorshift, state in the car object.
u32 roll(car_drive &d) {
  u32 x = d.dice;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  d.dice = x;
  return x;
}
double roll01(car_drive &d) { return (roll(d) & 0xffffff) / double(0xffffff); }

// Camera object words the game's camera routine keeps for itself (the free
// camera holds them at 0 while it drives and gives them back afterwards).
constexpr u32 cam_off_cc = 0xcc;  // updates since the last cut
constexpr u32 cam_off_d0 = 0xd0;  // TV spot in use, 1-based; 0 for cameras on the car
constexpr u32 cam_off_e4 = 0xe4;  // 1 while the camera turns to follow its target

}  // namespace

void game::start(const scenario &s, const std::string &game_dir) {
  game_dir_ = game_dir;
  track_ = make_track(s.track);

  // Track strings, the game's way: a folder prefix and a table of names.
  std::vector<std::string> names(std::begin(known_tracks), std::end(known_tracks));
  u32 number = (u32)(std::find(names.begin(), names.end(), s.track) - names.begin());
  if (number == names.size()) names.push_back(s.track);
  word(ga_track_dir) = game_string("tracks\\");
  for (u32 i = 0; i < names.size(); ++i) word(ga_track_names + 4 * i) = game_string(names[i]);
  word(ga_track_number) = number;
  std::filesystem::create_directories(track_folder());

  // Trackside TV spots, eight round the loop, well off the road.
  tv_spots_.clear();
  for (int j = 0; j < 8; ++j) {
    double d = track_.length * (j + 0.5) / 8;
    basis b = track_.frame(d);
    tv_spots_.push_back(track_.at(d) + b.right * (track_.width / 2 + 14) + vec3{0, 7, 0});
  }

  // The mouse lives in the game's window rectangle, at its middle.
  word(ga_mouse_left) = 0;
  word(ga_mouse_top) = 0;
  word(ga_mouse_right) = 640;
  word(ga_mouse_bottom) = 480;
  word(ga_mouse_x) = 320;
  word(ga_mouse_y) = 240;

  memset(cars_, 0, sizeof cars_);
  word(ga_car_count) = 0;
  set_cars(s.cars);
  set_marks(s.marks);

  for (int v = 0; v < 2; ++v) {
    cams_[v] = host::make_camera(0, (u32)v);
    word(cams_[v] + 0x04) = word(cams_[v] + 0x08) = car(0);
    word(cams_[v] + cam_off_e4) = 1;
  }
  word(ga_view_cam_override) = word(ga_view_cam_base) = cams_[0];
  cut_to(s.camera);
  camera_work(cams_[0]);  // a first picture before the replay starts
  set_view1(s.view1);
  set_mode(s.mode);
  word(ga_tick) = word(ga_tick_alt) = word(ga_half_tick) = 0;
  word(ga_pause) = 0;

  host::game_services &svc = host::services();
  svc.freecam = [this](u32 cam) { camera_work(cam); };
  svc.arm = [] {};
  svc.aux = [this]() -> u32 {
    frame_work();
    return 0;
  };
  svc.tick = [this] { tick(); };
}

std::string game::track_folder() const { return game_dir_ + "/tracks/" + track_.name; }

u32 game::camera(int v) const {
  u32 c = word(ga_view_cam_override + 4 * v);
  return c ? c : word(ga_view_cam_base + 4 * v);
}

u32 game::car(u32 i) const { return i < 64 ? word(ga_car_table + 4 * i) : 0; }
u32 game::replay_tick() const { return word(ga_tick); }

u32 game::car_count() const { return word(ga_car_count); }

int game::car_index(u32 car_obj) const {
  if (!car_obj) return -1;
  for (u32 i = 0; i < 64; ++i)
    if (car(i) == car_obj) return (int)i;
  return -1;
}

// Cars join at the back of the field and leave from the end of the table; a
// car that comes back drives on from where it left.
void game::set_cars(u32 n) {
  n = std::min(n, max_cars);
  double back = 0, slow = 0.4;
  bool any = false;
  for (u32 i = 0; i < car_count() && i < max_cars; ++i)
    if (u32 c = car(i)) {
      back = any ? std::min(back, drive_of(c).dist) : drive_of(c).dist;
      slow = any ? std::min(slow, drive_of(c).speed) : drive_of(c).speed;
      any = true;
    }
  for (u32 i = 0; i < max_cars; ++i) {
    if (i >= n) {
      word(ga_car_table + 4 * i) = 0;
      continue;
    }
    if (!cars_[i]) {
      cars_[i] = host::make_car(i, 0, 0, 0);
      car_drive &d = drive_of(cars_[i]);
      d = car_drive{};
      d.number = i;
      d.dice = 0x9e3779b9u * (i + 1);
      d.pace = 1.10 + 0.035 * ((i * 5) % 8);
      if (any) {
        back -= 12;
        d.dist = back;
        d.speed = slow;
      } else {
        d.dist = -9.0 * i;  // the starting grid, two by two
      }
      d.lane = d.lane_target = (i % 2 ? 2.5 : -2.5);
      d.lane_timer = 120 + roll(d) % 200;
      place_car(cars_[i]);
    }
    word(ga_car_table + 4 * i) = cars_[i];
  }
  word(ga_car_count) = n;
}

void game::set_marks(u32 n) {
  // A new array each time, as the game loads a track's marks afresh, with
  // room for the most a run can have: a rewind writes back as many records
  // as its ring was built for, and that ring may predate a smaller count.
  marks_.assign((size_t)max_marks * mark_record_size, 0);
  word(ga_mark_array) = n ? (u32)(uintptr_t)marks_.data() : 0;
  word(ga_mark_index) = n - 1;  // 0xFFFFFFFF: none
}

void game::set_mode(u32 mode) { word(ga_mode) = mode; }

void game::request_camera(u32 n) {
  word(ga_cam_request) = n;
  word(ga_cam_request_flag) = 1;
}

void game::set_view1(int type) {
  if (type == view1_off) {
    view1_ = type;
    word(ga_view_cam_override + 4) = word(ga_view_cam_base + 4) = 0;
    return;
  }
  // The second view opens looking where the main view looks.
  if (view1_ == view1_off || !word(ga_view_cam_override + 4))
    memcpy((void *)(uintptr_t)(cams_[1] + 0x14), (const void *)(uintptr_t)(cams_[0] + 0x14),
           0x50 - 0x14);  // position through orientation
  word(cams_[1]) = (u32)type;
  word(cams_[1] + cam_off_cc) = 0;
  word(ga_view_cam_override + 4) = word(ga_view_cam_base + 4) = cams_[1];
  view1_ = type;
}

void game::move_mouse(i32 dx, i32 dy) {
  i64 x = (i64)(i32)word(ga_mouse_x) + dx, y = (i64)(i32)word(ga_mouse_y) + dy;
  word(ga_mouse_x) = (u32)std::clamp<i64>(x, word(ga_mouse_left), word(ga_mouse_right));
  word(ga_mouse_y) = (u32)std::clamp<i64>(y, word(ga_mouse_top), word(ga_mouse_bottom));
}

// --- the game's routines ---------------------------------------------------

// Aux routine 0x51a360: the replay interface's requests. A camera request
// cuts view 0 to that camera; a change to camera 0 is a short fade, at the
// end of which the game says it is done (0x81ac5c = 0xFF).
void game::frame_work() {
  if (word(ga_cam_request_flag)) {
    word(ga_cam_request_flag) = 0;
    u32 n = word(ga_cam_request);
    if (n <= 8) {
      cut_to(n);
      ++requests_taken;
    }
  }
  if (byte(ga_cam0_request) == 1 && byte(ga_cam0_state) != 0xff) {
    if (++word(ga_cam0_timer) >= cam0_fade_frames) {
      cut_to(0);
      byte(ga_cam0_state) = 0xff;
      ++cam0_changes;
    }
  }
}

void game::cut_to(u32 n) {
  word(ga_cam_current) = n;
  word(cams_[0]) = n;
  word(cams_[0] + cam_off_cc) = 0;
}

// Tick routine 0x51bbe0: one tick of the replay. It does nothing while the
// replay is paused, which a forward seek may have just done at the routine's
// entry: the replay then stands exactly at the target tick.
void game::tick() {
  if (word(ga_pause) & 1) return;
  u32 t = word(ga_tick) + 1;
  word(ga_tick) = t;
  word(ga_tick_alt) = 2 * t;
  word(ga_half_tick) = t;
  ++ticks;
  u32 n = std::min(car_count(), max_cars);
  u32 marks = word(ga_mark_index) + 1;
  u32 array = word(ga_mark_array);
  for (u32 i = 0; i < n; ++i) {
    u32 c = car(i);
    if (!c) continue;
    double before = drive_of(c).dist;
    drive(c);
    // Mark sections: each record notes the tick and the car of the latest
    // passage of its line.
    if (array && marks && marks <= max_marks) {
      double per = track_.length / marks;
      i64 a = (i64)std::floor(before / per), b = (i64)std::floor(drive_of(c).dist / per);
      if (b > a) {
        u32 m = (u32)(((b % marks) + marks) % marks);
        word(array + m * mark_record_size + 12) = t;
        word(array + m * mark_record_size + 16) = i;
      }
    }
  }
}

// One tick of a car: slow for the bends ahead, now and then drift to
// another lane, and put the car object where that leaves it.
void game::drive(u32 c) {
  car_drive &d = drive_of(c);
  double bend = std::min(1.0, std::fabs(track_.bend_ahead(d.dist)) / 0.9);
  double want = d.pace * (1.0 - 0.45 * bend);
  d.speed = d.speed < want ? std::min(want, d.speed + 0.012) : std::max(want, d.speed - 0.025);
  if (d.lane_timer == 0 || --d.lane_timer == 0) {
    d.lane_target = (roll01(d) * 2 - 1) * (track_.width / 2 - 2.5);
    d.lane_timer = 90 + roll(d) % 240;
  }
  d.lane_rate = std::clamp(d.lane_target - d.lane, -0.04, 0.04);
  d.lane += d.lane_rate;
  d.dist += d.speed;
  d.laps = (u32)std::max(0.0, std::floor(d.dist / track_.length));
  place_car(c);
}

void game::place_car(u32 c) {
  const car_drive &d = drive_of(c);
  basis road = track_.frame(d.dist);
  vec3 p = track_.at(d.dist) + road.right * d.lane + road.up * 0.6;
  // A lane change turns the car a little towards the new lane.
  basis b;
  b.forward = normalize(road.forward * std::max(d.speed, 0.05) + road.right * d.lane_rate);
  b.right = normalize(cross(road.up, b.forward));
  b.up = cross(b.forward, b.right);
  write_pose(c, 0x08, 0x34, p, b);
}

// Camera routine 0x43f2c0, for the camera object in EAX: the TV and chase
// cameras of the replay. Type 7, the free camera, is left where it is: the
// game has no free camera of its own, the plug-in flies it.
void game::camera_work(u32 cam) {
  const u32 type = word(cam);
  ++word(cam + cam_off_cc);
  if (type == cam_type_free) return;
  u32 target = word(cam + 0x04);
  if (car_index(target) < 0) target = car(0);
  if (!target) return;  // no car to look at
  const vec3 p = read_vec(target + 0x08);
  const basis b = car_basis(target);
  const vec3 aim = p + b.up * 1.0;
  vec3 eye;
  u32 spot = 0;
  switch (type) {
    case 1:  eye = p - b.forward * 16 + b.up * 6; break;   // far chase
    case 2:                                                  // bumper: the car's own view
      write_pose(cam, 0x14, 0x2c, p + b.forward * 1.4 + b.up * 0.9, b);
      word(cam + cam_off_d0) = 0;
      word(cam + cam_off_e4) = 0;
      return;
    case 3:  eye = p - b.forward * 25 + vec3{0, 45, 0}; break;  // helicopter
    case 4:  eye = p + b.right * 9 + b.up * 1.5; break;         // alongside
    case 5:                                                       // trackside: the nearest spot
    case 6: {                                                     // crane: the same, high up
      double best = 1e300;
      for (u32 j = 0; j < tv_spots_.size(); ++j) {
        double d2 = dot(tv_spots_[j] - p, tv_spots_[j] - p);
        if (d2 < best) best = d2, spot = j + 1;
      }
      eye = tv_spots_[spot - 1] + vec3{0, type == 6 ? 28.0 : 0.0, 0};
      break;
    }
    case 8:  // the grandstand over the start line
      spot = 9;
      eye = track_.at(0) + track_.frame(0).right * -(track_.width / 2 + 30) + vec3{0, 18, 0};
      break;
    default: eye = p - b.forward * 7 + b.up * 2.6; break;       // 0: chase
  }
  write_pose(cam, 0x14, 0x2c, eye, look_along(aim - eye));
  word(cam + cam_off_d0) = spot;
  word(cam + cam_off_e4) = 1;
}

// --- one frame -------------------------------------------------------------

frame_report game::frame() {
  frame_report r;
  host::frame_pass();  // 0x511328: the aux routine, then the plug-in's replay keys

  if (word(ga_mode) == mode_replay && !(word(ga_pause) & 1)) {
    u32 before = ticks;
    host::replay_ticks(1);
    r.ticked = ticks != before;
  }

  if (word(ga_mode) == mode_replay) {
    for (int n = 1; n <= 3; ++n) {
      u32 before = host::entry_of(host::routine::arm).calls;
      host::arm_call(n);
      ++r.arm_calls;
      if (host::entry_of(host::routine::arm).calls != before) ++r.arm_runs;
    }
    arm_calls += r.arm_calls;
    arm_skips += r.arm_calls - r.arm_runs;
  }

  for (int v = 0; v < 2; ++v) {
    u32 cam = camera(v);
    if (!cam) continue;
    r.cam_present[v] = true;
    u32 before = host::entry_of(host::routine::freecam).calls;
    if (v == 0)
      host::camera_case7(cam);
    else
      host::camera_case30(cam);
    ++camera_calls[v];
    if (host::entry_of(host::routine::freecam).calls == before) {
      r.cam_driven[v] = true;
      ++camera_skips[v];
    }
  }
  return r;
}

}  // namespace sim
