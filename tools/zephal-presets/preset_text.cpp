#include "tools/zephal-presets/preset_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tools {
namespace {

// Groups of keys that the text writes on one line.
struct group {
  const char *name;
  int count;
  int key(int k) const;
};
const group groups[] = {{"position", 3}, {"m", 9}, {"r", 9}, {"o", 3}};
int group::key(int k) const {
  if (!strcmp(name, "position")) return key_x + k;
  if (!strcmp(name, "m")) return key_m(k);
  if (!strcmp(name, "r")) return key_r(k);
  return key_o + k;
}

std::string trim(const std::string &s) {
  const size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string &s) {
  std::vector<std::string> w;
  size_t i = 0;
  while ((i = s.find_first_not_of(" \t,", i)) != std::string::npos) {
    const size_t e = s.find_first_of(" \t,", i);
    w.push_back(s.substr(i, e - i));
    i = e;
  }
  return w;
}

bool parse_int(const std::string &t, i32 &v) {
  if (t.empty() || t.size() > 11) return false;
  char *end = nullptr;
  errno = 0;
  const long long n = strtoll(t.c_str(), &end, 10);
  if (*end || errno || n < -2147483648LL || n > 2147483647LL) return false;
  v = (i32)n;
  return true;
}

double plain(u32 bits) {
  f32 f;
  memcpy(&f, &bits, 4);
  return f;
}

bool m_complete(const preset &p, u32 m[9]) {
  for (int k = 0; k < 9; ++k) {
    if (!p.keys[key_m(k)].present) return false;
    m[k] = p.keys[key_m(k)].bits;
  }
  return true;
}

const char header[] = R"(# Camera presets of %s,
# written by zephal-presets %s. Edit what you like and write them back with
#   zephal-presets import THIS-FILE FREECAM.INI
# The import changes only the values you changed, and only the presets in
# this text: delete a block to leave that preset alone.
#
#   position  where the camera is: x y z, in game units
#   look      where it looks: yaw, pitch and roll in degrees (yaw 0 looks
#             along +z, a positive pitch looks up). Change it and the import
#             rebuilds m from it; leave it and m stays exactly as it is.
#   m         the exact orientation: the right, up and forward axes
#   bind_pos  1: the camera follows car number "car" (0 is the first car),
#             keeping the offset o from it; position then counts only for
#             the first frame
#   bind_rot  1: the camera turns with that car, keeping the orientation r
#             relative to it; look and m then count only for the first frame
# Every number reads back exactly as written; bits:XXXXXXXX is a value with
# no decimal form (its bit pattern, as the preset file keeps it).
)";

}  // namespace

std::string decimal(u32 bits) {
  const double v = plain(bits);
  if (std::isfinite(v)) {
    char s[40];
    for (int digits = 1; digits <= 9; ++digits) {
      snprintf(s, sizeof s, "%.*g", digits, v);
      u32 back = 0;
      if (parse_float(s, back) && back == bits) return s;
    }
  }
  char s[24];
  snprintf(s, sizeof s, "bits:%08X", bits);
  return s;
}

bool parse_float(const std::string &t, u32 &bits) {
  if (t.rfind("bits:", 0) == 0) {
    const std::string h = t.substr(5);
    if (h.size() != 8 || h.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    bits = (u32)strtoul(h.c_str(), nullptr, 16);
    return true;
  }
  // Decimal numbers only: no hex floats, infinities or NaNs by name.
  if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char *end = nullptr;
  const f32 f = strtof(t.c_str(), &end);
  if (*end || end == t.c_str()) return false;
  memcpy(&bits, &f, 4);
  return true;
}

std::string look_text(double yaw, double pitch, double roll) {
  char s[96];
  auto clean = [](double a) { return std::fabs(a) < 0.005 ? 0.0 : a; };  // no "-0.00"
  snprintf(s, sizeof s, "%.2f %.2f %.2f", clean(yaw), clean(pitch), clean(roll));
  return s;
}

std::string export_text(const std::vector<preset> &presets, const std::string &file, const char *version) {
  char head[sizeof header + 600];
  snprintf(head, sizeof head, header, file.c_str(), version);
  std::string out = head;
  for (const preset &p : presets) {
    const std::string section = section_name(p.number);
    if (!p.used()) {
      out += "\n# [" + section + "] is empty\n";
      continue;
    }
    out += "\n[" + section + "]\n";
    for (const std::string &problem : p.problems()) out += "# damaged: " + problem + "\n";
    out += "used = " + std::to_string(p.keys[key_used].value) + "\n";
    auto write_group = [&](const group &g) {
      bool whole = true;
      for (int k = 0; k < g.count; ++k) whole = whole && p.keys[g.key(k)].present;
      if (whole) {
        out += std::string(g.name) + " =";
        for (int k = 0; k < g.count; ++k) out += (k && k % 3 == 0 ? "   " : " ") + decimal(p.keys[g.key(k)].bits);
        out += "\n";
        return;
      }
      // Keys missing from the file stay missing: each present one on its own.
      for (int k = 0; k < g.count; ++k)
        if (p.keys[g.key(k)].present)
          out += preset_key_name(g.key(k)) + " = " + decimal(p.keys[g.key(k)].bits) + "\n";
    };
    write_group(groups[0]);
    u32 m[9];
    double yaw, pitch, roll;
    if (m_complete(p, m) && angles_of(m, yaw, pitch, roll)) out += "look = " + look_text(yaw, pitch, roll) + "\n";
    write_group(groups[1]);
    for (int key : {key_bind_pos, key_bind_rot, key_car})
      if (p.keys[key].present) out += preset_key_name(key) + " = " + int_text(p.keys[key].value) + "\n";
    write_group(groups[3]);
    write_group(groups[2]);
  }
  return out;
}

bool parse_text(const std::string &text, const std::string &name, std::vector<text_preset> &out,
                std::string &error) {
  out.clear();
  int n = 0;
  size_t at = 0;
  auto fail = [&](const std::string &what) {
    error = name + ":" + std::to_string(n) + ": " + what;
    return false;
  };
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++n;
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    if (line[0] == '[') {
      const std::string inside = line.back() == ']' ? trim(line.substr(1, line.size() - 2)) : "";
      i32 number = -1;
      if (inside.size() < 4 || strncasecmp(inside.c_str(), "Pos", 3) || !parse_int(inside.substr(3), number) ||
          number < 0 || number > 9)
        return fail(line + " is not a preset: presets are [Pos0] to [Pos9]");
      for (const text_preset &p : out)
        if (p.number == number) return fail("[Pos" + std::to_string(number) + "] again (first on line " +
                                        std::to_string(p.line) + "): give each preset once");
      out.emplace_back();
      out.back().number = number;
      out.back().line = n;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected KEY = VALUE or [PosN], found \"" + line + "\"");
    if (out.empty()) return fail("\"" + line + "\" stands before the first [PosN] line");
    text_preset &p = out.back();
    const std::string key = trim(line.substr(0, eq));
    const std::vector<std::string> values = words(line.substr(eq + 1));

    // Which keys the line sets: a group, "look", or one key of the file.
    std::vector<int> keys;
    for (const group &g : groups)
      if (!strcasecmp(key.c_str(), g.name))
        for (int k = 0; k < g.count; ++k) keys.push_back(g.key(k));
    if (!strcasecmp(key.c_str(), "look")) {
      if (p.has_look) return fail("look is given twice");
      if (values.size() != 3) return fail("look takes three numbers: yaw pitch roll, in degrees");
      for (int k = 0; k < 3; ++k) {
        char *e = nullptr;
        p.look[k] = strtod(values[(size_t)k].c_str(), &e);
        if (*e || !std::isfinite(p.look[k])) return fail("\"" + values[(size_t)k] + "\" is not a number of degrees");
      }
      p.has_look = true;
      continue;
    }
    if (keys.empty()) {
      const int i = preset_key_index(key);
      if (i < 0) return fail("\"" + key + "\" is not a preset value (position, look, m, r, o, bind_pos, bind_rot, car, used)");
      keys.push_back(i);
    }
    if (values.size() != keys.size())
      return fail(key + " takes " + std::to_string(keys.size()) + (keys.size() == 1 ? " number" : " numbers") +
                  ", found " + std::to_string(values.size()));
    for (size_t k = 0; k < keys.size(); ++k) {
      const int i = keys[k];
      if (p.has[i]) return fail(preset_key_name(i) + " is given twice in [Pos" + std::to_string(p.number) + "]");
      const bool ok = is_float_key(i) ? parse_float(values[k], p.bits[i]) : parse_int(values[k], p.ints[i]);
      if (!ok)
        return fail("\"" + values[k] + "\" is not " +
                    (is_float_key(i) ? "a decimal number (or bits:XXXXXXXX)" : "a whole number") + " for " +
                    preset_key_name(i));
      p.has[i] = true;
    }
  }
  return true;
}

std::vector<std::pair<int, std::string>> changes(const text_preset &wanted, const preset &current) {
  u32 bits[preset_key_count];
  bool has[preset_key_count];
  memcpy(bits, wanted.bits, sizeof bits);
  memcpy(has, wanted.has, sizeof has);

  // A changed look rebuilds m; an unchanged one leaves m to the bits.
  if (wanted.has_look) {
    u32 m[9];
    bool complete = true;
    for (int k = 0; k < 9; ++k) {
      const int i = key_m(k);
      complete = complete && (has[i] || current.keys[i].present);
      m[k] = has[i] ? bits[i] : current.keys[i].bits;
    }
    double yaw, pitch, roll;
    const bool same = complete && angles_of(m, yaw, pitch, roll) &&
                      look_text(yaw, pitch, roll) == look_text(wanted.look[0], wanted.look[1], wanted.look[2]);
    if (!same) {
      orientation_of(wanted.look[0], wanted.look[1], wanted.look[2], m);
      for (int k = 0; k < 9; ++k) {
        bits[key_m(k)] = m[k];
        has[key_m(k)] = true;
      }
    }
  }

  std::vector<std::pair<int, std::string>> out;
  for (int i = 0; i < preset_key_count; ++i) {
    if (!has[i]) continue;
    const key_value &now = current.keys[i];
    if (is_float_key(i)) {
      if (!now.present || now.bits != bits[i]) out.push_back({i, float_text(bits[i])});
    } else if (!now.present || now.value != wanted.ints[i]) {
      out.push_back({i, int_text(wanted.ints[i])});
    }
  }
  return out;
}

}  // namespace tools
