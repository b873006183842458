// One track's "freecam.ini" as the plug-in reads and writes it: ten sections
// Pos0 to Pos9, each a free-camera pose with its binds, floats stored as the
// eight hexadecimal digits of their bit pattern. Everything goes through the
// profile functions the plug-in calls, so the tool sees and leaves the file
// exactly as the plug-in would.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace tools {

// The keys of a preset in the order a save writes them: used, x, y, z, then
// m0 r0 m1 r1 ... m8 r8, o0 o1 o2, bind_pos, bind_rot, car.
constexpr int preset_key_count = 28;
constexpr int key_used = 0, key_x = 1, key_o = 22, key_bind_pos = 25, key_bind_rot = 26, key_car = 27;
constexpr int key_m(int k) { return 4 + 2 * k; }
constexpr int key_r(int k) { return 5 + 2 * k; }
const std::string &preset_key_name(int i);
bool is_float_key(int i);
// A key by name, without regard to case; -1 when it is none of them.
int preset_key_index(const std::string &name);

struct key_value {
  bool present = false;  // the key has a value (a missing key and an empty one read alike)
  std::string text;      // as the profile functions return it
  bool readable = false;  // in the form the plug-in writes: hex digits, or a whole number
  u32 bits = 0;          // a float key as the plug-in decodes it (strtoul, base 16)
  i32 value = 0;         // an integer key as the plug-in reads it (GetPrivateProfileIntA)
};

struct preset {
  int number = 0;
  key_value keys[preset_key_count];
  bool used() const { return keys[key_used].value != 0; }
  // Marked used, but with keys missing or not in the plug-in's form.
  bool damaged() const;
  // One line for each key that is, saying what a recall makes of it.
  std::vector<std::string> problems() const;
};

std::string section_name(int number);
preset read_preset(const std::string &profile, int number);

// The text the plug-in writes for a value: "%08X" of a float's bits, "%d".
std::string float_text(u32 bits);
std::string int_text(i32 v);

// Writes one key; false when the profile function refuses.
bool write_key(const std::string &profile, int number, int key, const std::string &text);

// yaw, pitch and roll in degrees of an orientation given as its nine bit
// patterns (rows: right, up, forward); yaw 0 looks along +z, a positive pitch
// looks up, a positive roll lifts the right side. False for a matrix that
// is no orientation (a zero forward axis).
bool angles_of(const u32 m[9], double &yaw, double &pitch, double &roll);
// The orientation those angles give, turned as the plug-in turns a camera.
void orientation_of(double yaw, double pitch, double roll, u32 m[9]);

}  // namespace tools
