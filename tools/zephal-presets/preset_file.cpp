#include "tools/zephal-presets/preset_file.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

namespace tools {
namespace {

std::vector<std::string> make_names() {
  std::vector<std::string> n = {"used", "x", "y", "z"};
  for (int k = 0; k < 9; ++k) {
    n.push_back("m" + std::to_string(k));
    n.push_back("r" + std::to_string(k));
  }
  for (const char *s : {"o0", "o1", "o2", "bind_pos", "bind_rot", "car"}) n.push_back(s);
  return n;
}
const std::vector<std::string> names = make_names();

bool hex_form(const std::string &t) {
  size_t i = t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X') ? 2 : 0;
  const size_t digits = t.size() - i;
  if (digits < 1 || digits > 8) return false;
  for (; i < t.size(); ++i)
    if (!isxdigit((unsigned char)t[i])) return false;
  return true;
}

bool decimal_form(const std::string &t) {
  size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i == t.size() || t.size() - i > 10) return false;
  for (; i < t.size(); ++i)
    if (!isdigit((unsigned char)t[i])) return false;
  const long long v = atoll(t.c_str());
  return v >= -2147483648LL && v <= 2147483647LL;
}

constexpr double pi = 3.14159265358979323846;

double as_double(u32 bits) {
  f32 f;
  memcpy(&f, &bits, 4);
  return f;
}

}  // namespace

const std::string &preset_key_name(int i) { return names[(size_t)i]; }
bool is_float_key(int i) { return i >= key_x && i < key_bind_pos; }
int preset_key_index(const std::string &name) {
  for (int i = 0; i < preset_key_count; ++i)
    if (!strcasecmp(name.c_str(), names[(size_t)i].c_str())) return i;
  return -1;
}

std::string section_name(int number) { return "Pos" + std::to_string(number); }

std::string float_text(u32 bits) {
  char s[16];
  snprintf(s, sizeof s, "%08X", bits);
  return s;
}
std::string int_text(i32 v) { return std::to_string(v); }

preset read_preset(const std::string &profile, int number) {
  preset p;
  p.number = number;
  const std::string section = section_name(number);
  for (int i = 0; i < preset_key_count; ++i) {
    key_value &k = p.keys[i];
    char text[256];
    GetPrivateProfileStringA(section.c_str(), names[(size_t)i].c_str(), "", text, sizeof text, profile.c_str());
    k.text = text;
    k.present = !k.text.empty();
    if (is_float_key(i)) {
      // The plug-in reads at most 31 characters and converts what strtoul takes.
      k.bits = (u32)strtoul(k.text.substr(0, 31).c_str(), nullptr, 16);
      k.readable = hex_form(k.text);
    } else {
      k.value = (i32)GetPrivateProfileIntA(section.c_str(), names[(size_t)i].c_str(), 0, profile.c_str());
      k.readable = decimal_form(k.text);
    }
  }
  return p;
}

bool preset::damaged() const {
  if (!used()) return false;
  for (int i = 1; i < preset_key_count; ++i)
    if (!keys[i].present || !keys[i].readable) return true;
  return false;
}

std::vector<std::string> preset::problems() const {
  std::vector<std::string> out;
  const key_value &used_key = keys[key_used];
  if (used_key.present && !used_key.readable)
    out.push_back("used=" + used_key.text + " is not a whole number; the plug-in reads it as " +
                  int_text(used_key.value) + (used_key.value ? "" : ", so the preset counts as empty"));
  if (!used()) return out;
  // Missing keys by kind, whole runs of m, r and o named as one.
  std::string floats, ints;
  auto add = [](std::string &list, const std::string &name) { list += (list.empty() ? "" : ", ") + name; };
  for (int i = 1; i < preset_key_count; ++i) {
    if (keys[i].present) continue;
    if (!is_float_key(i)) {
      add(ints, names[(size_t)i]);
      continue;
    }
    const char run = i >= key_o ? 'o' : i >= key_m(0) ? names[(size_t)i][0] : 0;
    const int length = run == 'o' ? 3 : 9;
    bool whole = run != 0;
    for (int k = 0; whole && k < length; ++k)
      whole = !keys[run == 'o' ? key_o + k : run == 'm' ? key_m(k) : key_r(k)].present;
    if (!whole)
      add(floats, names[(size_t)i]);
    else if (names[(size_t)i][1] == '0')
      add(floats, std::string(1, run) + "0-" + run + std::to_string(length - 1));
  }
  if (!floats.empty()) out.push_back("missing " + floats + ": a recall keeps the camera's current values for these");
  if (!ints.empty()) out.push_back("missing " + ints + ": a recall takes these as 0");
  for (int i = 1; i < preset_key_count; ++i) {
    const key_value &k = keys[i];
    if (!k.present || k.readable) continue;
    char v[64];
    if (is_float_key(i)) {
      f32 f;
      memcpy(&f, &k.bits, 4);
      snprintf(v, sizeof v, "%08X (%g)", k.bits, (double)f);
    } else {
      snprintf(v, sizeof v, "%d", k.value);
    }
    out.push_back(names[(size_t)i] + "=" + k.text + " is not in the plug-in's form (" +
                  (is_float_key(i) ? "8 hexadecimal digits" : "a whole number") + "): it reads it as " + v);
  }
  return out;
}

bool write_key(const std::string &profile, int number, int key, const std::string &text) {
  return WritePrivateProfileStringA(section_name(number).c_str(), names[(size_t)key].c_str(), text.c_str(),
                                    profile.c_str()) != 0;
}

bool angles_of(const u32 m[9], double &yaw, double &pitch, double &roll) {
  double e[9];
  for (int i = 0; i < 9; ++i) e[i] = as_double(m[i]);
  const double fx = e[6], fy = e[7], fz = e[8];
  const double length = std::sqrt(fx * fx + fy * fy + fz * fz);
  if (!(length > 1e-6) || !std::isfinite(length)) return false;
  yaw = std::atan2(fx, fz) * 180 / pi;
  pitch = std::asin(std::fmax(-1.0, std::fmin(1.0, fy / length))) * 180 / pi;
  roll = std::atan2(e[1], e[4]) * 180 / pi;
  return std::isfinite(yaw) && std::isfinite(pitch) && std::isfinite(roll);
}

void orientation_of(double yaw, double pitch, double roll, u32 m[9]) {
  // The plug-in turns by R M with R built from yaw, pitch (positive looks
  // down) and roll; from the identity that is Q P Y.
  const double y = yaw * pi / 180, p = -pitch * pi / 180, q = roll * pi / 180;
  const double Y[9] = {std::cos(y), 0, -std::sin(y), 0, 1, 0, std::sin(y), 0, std::cos(y)};
  const double P[9] = {1, 0, 0, 0, std::cos(p), std::sin(p), 0, -std::sin(p), std::cos(p)};
  const double Q[9] = {std::cos(q), std::sin(q), 0, -std::sin(q), std::cos(q), 0, 0, 0, 1};
  double PY[9], M[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      PY[3 * i + j] = P[3 * i] * Y[j] + P[3 * i + 1] * Y[3 + j] + P[3 * i + 2] * Y[6 + j];
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) M[3 * i + j] = Q[3 * i] * PY[j] + Q[3 * i + 1] * PY[3 + j] + Q[3 * i + 2] * PY[6 + j];
  for (int i = 0; i < 9; ++i) {
    f32 f = (f32)M[i];
    if (f == 0) f = 0;  // no -0 from rounding: a hand-made pose reads cleaner
    memcpy(&m[i], &f, 4);
  }
}

}  // namespace tools
