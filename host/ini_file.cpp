#include "host/ini_file.h"

#include <strings.h>

namespace host::ini {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

line make_line(std::string text, std::string eol) {
  line l;
  l.text = std::move(text);
  l.eol = std::move(eol);
  std::string_view t = trim(l.text);
  if (t.empty() || t[0] == ';') return l;
  if (t[0] == '[') {
    // The name runs to the last ']'; anything after it is ignored. A '['
    // line that never closes is no header.
    size_t close = t.rfind(']');
    if (close == std::string_view::npos) return l;
    l.kind = line::section;
    l.name = trim(t.substr(1, close - 1));
    return l;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return l;
  l.kind = line::key;
  l.name = trim(t.substr(0, eq));
  l.value = trim(t.substr(eq + 1));
  return l;
}

}  // namespace

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    return v.substr(1, v.size() - 2);
  return v;
}

u32 parse_int(std::string_view v) {
  v = trim(v);
  bool negative = false;
  if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
    negative = v[0] == '-';
    v.remove_prefix(1);
  }
  u32 base = 10;
  if (v.size() >= 2 && v[0] == '0') {
    if (v[1] == 'x') base = 16;
    if (v[1] == 'o') base = 8;
    if (v[1] == 'b') base = 2;
    if (base != 10) v.remove_prefix(2);
  }
  u32 n = 0;
  for (char c : v) {
    u32 digit = c >= '0' && c <= '9'   ? (u32)(c - '0')
                : c >= 'a' && c <= 'f' ? (u32)(c - 'a' + 10)
                : c >= 'A' && c <= 'F' ? (u32)(c - 'A' + 10)
                                       : 99;
    if (digit >= base) break;
    n = n * base + digit;  // unsigned arithmetic: wraps modulo 2^32
  }
  return negative ? 0u - n : n;
}

file file::parse(std::string_view bytes) {
  file f;
  size_t i = 0;
  while (i < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", i);
    if (end == std::string_view::npos) {
      f.lines.push_back(make_line(std::string(bytes.substr(i)), ""));
      break;
    }
    size_t eol_len = bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    f.lines.push_back(
        make_line(std::string(bytes.substr(i, end - i)), std::string(bytes.substr(end, eol_len))));
    i = end + eol_len;
  }
  return f;
}

std::string file::bytes() const {
  std::string out;
  for (const line &l : lines) out += l.text + l.eol;
  return out;
}

size_t file::find_section(std::string_view name) const {
  name = trim(name);
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == line::section && same_name(lines[i].name, name)) return i;
  return none;
}

size_t file::section_end(size_t header) const {
  size_t i = header + 1;
  while (i < lines.size() && lines[i].kind != line::section) ++i;
  return i;
}

size_t file::find_key(size_t header, std::string_view name) const {
  name = trim(name);
  for (size_t i = header + 1, end = section_end(header); i < end; ++i)
    if (lines[i].kind == line::key && same_name(lines[i].name, name)) return i;
  return none;
}

// Nameless sections and keys are left out of the lists: in a list of
// NUL-terminated names an empty one would read as the list's end.
std::vector<std::string> file::section_names() const {
  std::vector<std::string> names;
  for (const line &l : lines)
    if (l.kind == line::section && !l.name.empty()) names.push_back(l.name);
  return names;
}

std::vector<std::string> file::key_names(size_t header) const {
  std::vector<std::string> names;
  for (size_t i = header + 1, end = section_end(header); i < end; ++i)
    if (lines[i].kind == line::key && !lines[i].name.empty()) names.push_back(lines[i].name);
  return names;
}

void file::insert(size_t at, std::string text) {
  // A last line without a line end gets one before anything follows it.
  if (at > 0 && lines[at - 1].eol.empty()) lines[at - 1].eol = "\r\n";
  lines.insert(lines.begin() + (ptrdiff_t)at, make_line(std::move(text), "\r\n"));
}

bool file::set(std::string_view section, std::string_view key, std::string_view value) {
  section = trim(section);
  key = trim(key);
  while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);

  size_t header = find_section(section);
  if (header == none) {
    insert(lines.size(), "[" + std::string(section) + "]");
    insert(lines.size(), std::string(key) + "=" + std::string(value));
    return true;
  }
  size_t at = find_key(header, key);
  if (at != none) {
    // The key keeps the spelling it has in the file; only its value changes.
    std::string text = lines[at].name + "=" + std::string(value);
    if (text == lines[at].text) return false;
    lines[at] = make_line(std::move(text), lines[at].eol);
    return true;
  }
  // A new key goes after the section's last key, ahead of any comments or
  // blank lines that separate it from the next section.
  at = header + 1;
  for (size_t i = header + 1, end = section_end(header); i < end; ++i)
    if (lines[i].kind == line::key) at = i + 1;
  insert(at, std::string(key) + "=" + std::string(value));
  return true;
}

bool file::remove_key(std::string_view section, std::string_view key) {
  size_t header = find_section(section);
  size_t at = header == none ? none : find_key(header, key);
  if (at == none) return false;
  lines.erase(lines.begin() + (ptrdiff_t)at);
  return true;
}

bool file::remove_section(std::string_view section) {
  size_t header = find_section(section);
  if (header == none) return false;
  lines.erase(lines.begin() + (ptrdiff_t)header, lines.begin() + (ptrdiff_t)section_end(header));
  return true;
}

}  // namespace host::ini
