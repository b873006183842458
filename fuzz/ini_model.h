// An INI model written from the table of Windows' private-profile behaviour,
// apart from the host's reader: which value a section and key give, and the
// integer GetPrivateProfileIntA makes of it. ANSI files only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

inline bool blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

inline std::string_view trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && blank(s[a])) ++a;
  while (b > a && blank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// Names compare without regard to the case of ASCII letters.
inline char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }
inline bool same(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return upper(x) == upper(y); });
}

// Lines end at CR LF, a lone CR or a lone LF.
inline std::vector<std::string_view> lines(std::string_view s) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r' && s[i] != '\n') continue;
    out.push_back(s.substr(start, i - start));
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < s.size()) out.push_back(s.substr(start));
  return out;
}

// "[name]" (anything after the last ']' ignored), blanks around it allowed.
inline bool header(std::string_view line, std::string_view &name) {
  std::string_view t = trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.rfind(']');
  if (close == std::string_view::npos) return false;
  name = trim(t.substr(1, close - 1));
  return true;
}

// The values of every key of that name in the first section of that name,
// in file order, each trimmed and without one pair of matching quotes. A
// read gives the first; deleting the key removes only that line, and the
// next one of the same name is read from then on.
inline std::vector<std::string> values(std::string_view file, std::string_view section, std::string_view key) {
  section = trim(section);
  key = trim(key);
  std::vector<std::string> found;
  bool inside = false;
  for (std::string_view l : lines(file)) {
    std::string_view name;
    if (header(l, name)) {
      if (inside) break;
      inside = same(name, section);
      continue;
    }
    std::string_view t = trim(l);
    if (!inside || t.empty() || t[0] == ';') continue;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos || !same(trim(t.substr(0, eq)), key)) continue;
    std::string_view v = trim(t.substr(eq + 1));
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
    found.emplace_back(v);
  }
  return found;
}

// The value of the first key of that name in the first section of that name.
inline std::optional<std::string> lookup(std::string_view file, std::string_view section, std::string_view key) {
  const std::vector<std::string> v = values(file, section, key);
  return v.empty() ? std::nullopt : std::optional(v.front());
}

// What GetPrivateProfileStringA leaves in a buffer of n bytes, as a C string.
inline std::string as_read(const std::optional<std::string> &v, size_t n) {
  return v ? std::string(v->substr(0, n - 1).c_str()) : std::string();
}

// GetPrivateProfileIntA: the text as read into 30 bytes; missing or empty
// gives the default; else an optional sign, then decimal digits (or digits
// after 0x, 0o or 0b), up to the first other character, modulo 2^32.
inline uint32_t to_int(const std::optional<std::string> &v, int32_t def) {
  if (!v || v->empty()) return (uint32_t)def;
  std::string s = as_read(v, 30);
  size_t i = 0;
  while (i < s.size() && blank(s[i])) ++i;
  bool minus = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) minus = s[i++] == '-';
  uint32_t base = 10;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'o' || s[i + 1] == 'b')) {
    base = s[i + 1] == 'x' ? 16 : s[i + 1] == 'o' ? 8 : 2;
    i += 2;
  }
  uint32_t n = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    uint32_t d = c >= '0' && c <= '9' ? (uint32_t)(c - '0')
                 : c >= 'a' && c <= 'f' ? (uint32_t)(c - 'a' + 10)
                 : c >= 'A' && c <= 'F' ? (uint32_t)(c - 'A' + 10) : 99u;
    if (d >= base) break;
    n = n * base + d;
  }
  return minus ? 0u - n : n;
}

}  // namespace model
