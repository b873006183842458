#include "tools/common/settings_check.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/ini_file.h"
#include "platform/win32.h"
#include "tools/common/key_names.h"
#include "tools/common/paths.h"

namespace tools {
namespace {

using host::ini::line;

bool same_name(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// Edits between two names without regard to case.
size_t distance(const std::string &a, const std::string &b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      const bool same = tolower((unsigned char)a[i - 1]) == tolower((unsigned char)b[j - 1]);
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The known key nearest to a name, when it is near enough to be a slip.
const zp_setting *nearest(const std::string &name) {
  const zp_setting *best = nullptr;
  size_t best_distance = (size_t)-1;
  for (const zp_setting &r : zp_settings) {
    const size_t d = distance(name, r.key);
    if (d < best_distance) best = &r, best_distance = d;
  }
  return best_distance <= std::max<size_t>(2, strlen(best->key) / 3) ? best : nullptr;
}

const zp_setting *row_named(const std::string &name) {
  for (const zp_setting &r : zp_settings)
    if (same_name(name, r.key)) return &r;
  return nullptr;
}

bool plain_decimal(const std::string &t) {
  size_t i = t.size() > 0 && (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

bool fits_i32(const std::string &t) {
  const char *p = t.c_str() + (t[0] == '+' || t[0] == '-');
  while (*p == '0' && p[1]) ++p;
  if (strlen(p) > 10) return false;
  const long long v = atoll(p) * (t[0] == '-' ? -1 : 1);
  return v >= -2147483648LL && v <= 2147483647LL;
}

bool is_ctrl(i32 vk) { return vk == 0x11 || vk == 0xA2 || vk == 0xA3; }
bool is_shift(i32 vk) { return vk == 0x10 || vk == 0xA0 || vk == 0xA1; }

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

// The size of one snapshot with 8 cars and one mark section: 2772 bytes a
// car and the fixed regions, with or without the effects.
constexpr u32 slot_bytes_8_cars(bool effects) { return 2772 * 8 + (effects ? 125072 + 8 : 7856); }

const setting_value *find(const settings_report &r, const char *key) {
  for (const setting_value &v : r.values)
    if (!strcmp(v.row->key, key)) return &v;
  return nullptr;
}

std::string what_it_does(const zp_setting &r) {
  std::string h = r.help;
  return h.substr(0, h.find(" ("));
}

}  // namespace

bool check_settings(const std::string &path, settings_report &report, std::string &error) {
  report = settings_report{};
  std::string bytes;
  if (!read_small_file(path, "settings file", bytes, error)) return false;
  std::vector<settings_warning> &warn = report.warnings;
  auto add = [&](int line, const std::string &key, const std::string &text) { warn.push_back({line, key, text}); };

  struct found {
    int line = 0;
    std::string text;
  };
  std::vector<found> at(zp_setting_count);
  // Windows' profile functions read a file that starts with FF FE as
  // UTF-16LE and hand the A calls its text in the ANSI code page: its lines
  // are checked in that form, with the same line numbers.
  if (!bytes.compare(0, 2, "\xFF\xFE")) {
    bytes = host::ini::utf8_to_ansi(host::ini::decode(std::move(bytes)).body);
  } else if (bytes.size() >= 3 && !bytes.compare(0, 3, "\xEF\xBB\xBF")) {
    add(1, "", "the file starts with an invisible UTF-8 byte-order mark, which can hide its first line "
               "from the game; save it as plain (ANSI) text");
  }

  const host::ini::file f = host::ini::file::parse(bytes);
  enum { before_any, in_zephal, elsewhere } where = before_any;
  int zephal_line = 0;
  for (size_t i = 0; i < f.lines.size(); ++i) {
    const line &l = f.lines[i];
    const int n = (int)i + 1;
    const std::string_view t = host::ini::trim(l.text);
    if (l.kind == line::section) {
      if (same_name(l.name, "Zephal") && !zephal_line) {
        where = in_zephal;
        zephal_line = n;
        continue;
      }
      where = elsewhere;
      if (same_name(l.name, "Zephal"))
        add(n, "", "a second [Zephal] section: the plug-in reads only the first one (line " +
                       std::to_string(zephal_line) + "), so the keys below this line are ignored");
      else if (distance(l.name, "Zephal") <= 2)
        add(n, "", "section [" + l.name + "] is not read: did you mean [Zephal]?");
      else
        add(n, "", "section [" + l.name + "] is ignored: the plug-in reads only [Zephal]");
      continue;
    }
    if (l.kind == line::other) {
      if (!t.empty() && t[0] != ';')
        add(n, "", quoted(std::string(t)) + " is not a setting (KEY=VALUE), a [section] or a comment (;): "
                   "the line is ignored");
      continue;
    }
    if (where == before_any) {
      add(n, l.name, l.name + " stands above the [Zephal] line, so the plug-in never reads it: move it below");
      continue;
    }
    if (where == elsewhere) continue;  // the section was named already
    const zp_setting *r = row_named(l.name);
    if (!r) {
      std::string text = quoted(l.name) + " is not a setting of the plug-in, so the line is ignored";
      const bool commented = l.name[0] == '#' || l.name.rfind("//", 0) == 0;
      if (const zp_setting *guess = nearest(commented ? l.name.substr(l.name[0] == '#' ? 1 : 2) : l.name))
        text += commented ? std::string(" (to turn a line off, start it with ';')")
                          : std::string(": did you mean ") + guess->key + "?";
      add(n, l.name, text);
      continue;
    }
    found &seen = at[(size_t)(r - zp_settings)];
    if (seen.line) {
      add(n, r->key, std::string(r->key) + " is set again: only the first one (line " + std::to_string(seen.line) +
                         ") counts, so this line is ignored");
      continue;
    }
    seen = {n, std::string(host::ini::unquote(l.value))};
  }
  if (!zephal_line && !bytes.empty())
    add(0, "", "there is no [Zephal] section: the plug-in uses the default of every setting");
  else if (!zephal_line)
    add(0, "", "the file is empty: the plug-in uses the default of every setting");

  // The values, from the same function with the same arguments as the plug-in.
  const std::string profile = profile_path(path);
  for (u32 i = 0; i < zp_setting_count; ++i) {
    const zp_setting &r = zp_settings[i];
    setting_value v;
    v.row = &r;
    v.line = at[i].line;
    v.text = at[i].text;
    v.read = (i32)GetPrivateProfileIntA("Zephal", r.key, r.def, profile.c_str());
    v.used = zp_clamp(v.read, r.min, r.max);
    report.values.push_back(v);

    if (!v.line) continue;
    const std::string key = r.key, read = std::to_string(v.read);
    if (v.text.empty()) {
      add(v.line, key, key + " has no value: the default, " + std::to_string(r.def) + ", is used");
    } else if (!plain_decimal(v.text)) {
      std::string text = key + "=" + v.text + " is not a whole number: the plug-in reads it as " + read;
      const bool decimal = v.text.find_first_of(".,") != std::string::npos && isdigit((unsigned char)v.text[0]);
      if (decimal && r.conv == zp_div10) text += " (" + key + " counts tenths: for 1.5 times write 15)";
      add(v.line, key, text);
    } else if (!fits_i32(v.text)) {
      add(v.line, key, key + "=" + v.text + " is out of range: the plug-in reads it as " + read);
    }
    if (v.used != v.read)
      add(v.line, key, key + "=" + read + " is " + (v.read < r.min ? "below " : "above ") +
                           std::to_string(v.read < r.min ? r.min : r.max) + ", the " +
                           (v.read < r.min ? "least" : "most") + " the plug-in accepts: it uses " +
                           std::to_string(v.used));
    if (key == "MoveSpeed" && v.used <= 0)
      add(v.line, key, v.used == 0 ? "MoveSpeed is 0: the free camera cannot move"
                                   : "MoveSpeed is negative: the free camera moves the wrong way");
  }

  // Keys: each must be a key, and no key may do two things.
  const std::vector<setting_value> &vs = report.values;
  for (size_t i = 0; i < vs.size(); ++i) {
    const setting_value &a = vs[i];
    if (a.row->kind != zp_key) continue;
    const std::string key = a.row->key, name = key_name(a.used), does = quoted(what_it_does(*a.row));
    if (a.used < 1 || a.used > 254) {
      add(a.line, key, key + "=" + std::to_string(a.used) + " is no key: " + does + " cannot be used");
      continue;
    }
    for (size_t j = i + 1; j < vs.size(); ++j) {
      const setting_value &b = vs[j];
      if (b.row->kind == zp_key && b.used == a.used)
        add(std::max(a.line, b.line), b.line > a.line ? b.row->key : key,
            key + " and " + b.row->key + " are both " + std::to_string(a.used) + " (" + name + "): that key does " +
                does + " and " + quoted(what_it_does(*b.row)) + " at once");
    }
    const std::string is = key + "=" + std::to_string(a.used) + " is " + name + ", which the plug-in also uses: ";
    if (is_ctrl(a.used))
      add(a.line, key, is + "held, Ctrl speeds the camera up by BoostCtrl and takes the biggest replay step; "
                            "with a digit it saves a preset");
    else if (is_shift(a.used) && key != "BoostKey")
      add(a.line, key, is + "held, Shift takes the bigger replay step (RewindShift)");
    else if (a.used >= '0' && a.used <= '9')
      add(a.line, key, is + "in a replay the digit " + name + " recalls preset " + name + " (Ctrl+" + name +
                            " saves it)");
  }
  std::stable_sort(warn.begin(), warn.end(),
                   [](const settings_warning &a, const settings_warning &b) { return a.line < b.line; });
  return true;
}

std::string meaning(const settings_report &report, const setting_value &v) {
  const zp_setting &r = *v.row;
  char s[96];
  switch (r.kind) {
    case zp_switch: return v.used ? "on" : "off";
    case zp_key: return key_name(v.used);
    case zp_number: break;
  }
  if (r.conv == zp_div10) {
    snprintf(s, sizeof s, "%.1fx speed", (double)zp_convert(r.conv, v.used));
    return s;
  }
  if (!strcmp(r.key, "RewindTicks")) {
    const setting_value *on = find(report, "Rewind"), *fx = find(report, "RewindEffects");
    if (on && !on->used) return "rewind is off: no memory used";
    const double mb = (double)v.used * slot_bytes_8_cars(!fx || fx->used) / 1e6;
    snprintf(s, sizeof s, "about %.0f MB with 8 cars", mb);
    return s;
  }
  return "";
}

void print_settings_warnings(const settings_report &report, const std::string &prefix, FILE *out,
                             bool with_lines) {
  for (const settings_warning &w : report.warnings) {
    if (w.line && with_lines)
      fprintf(out, "%sline %d: %s\n", prefix.c_str(), w.line, w.text.c_str());
    else
      fprintf(out, "%s%s\n", prefix.c_str(), w.text.c_str());
  }
}

std::string default_settings_file(const char *version) {
  std::string s = std::string("; zephal.ini: the settings of the Zephal plug-in ") + version + R"(
;
; Put this file beside the game's executable. The plug-in reads it once, when
; the game starts: change a value, then restart the game. Each value below is
; the default; a key that is missing or has no value takes its default. Every
; value is a whole number. Keys are Windows key codes, named in the comment
; above each one: A to Z are 65 to 90, the digits 0 to 9 are 48 to 57.
; To check your changes, run:  zephal-check --ini zephal.ini
[Zephal]
)";
  const zp_setting *previous = nullptr;
  for (const zp_setting &r : zp_settings) {
    const bool both_rewind = previous && !strncmp(previous->key, "Rewind", 6) && !strncmp(r.key, "Rewind", 6);
    if (previous && previous->kind != r.kind && !both_rewind) s += "\n";
    s += "; ";
    if (r.kind == zp_key) s += key_name(r.def) + ": ";
    s += std::string(r.help) + "\n" + r.key + "=" + std::to_string(r.def) + "\n";
    previous = &r;
  }
  // Windows' own line ends, for the editors players open it with.
  std::string crlf;
  for (char c : s) c == '\n' ? crlf += "\r\n" : crlf += c;
  return crlf;
}

}  // namespace tools
