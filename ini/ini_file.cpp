#include "ini/ini_file.h"

#include <strings.h>

namespace ini {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// What a line is, with its name and value as views into it.
line::kind_t classify(std::string_view text, std::string_view &name, std::string_view &value) {
  std::string_view t = trim(text);
  if (t.empty() || t[0] == ';') return line::other;
  if (t[0] == '[') {
    // The name runs to the last ']'; anything after it is ignored. A '['
    // line that never closes is no header.
    size_t close = t.rfind(']');
    if (close == std::string_view::npos) return line::other;
    name = trim(t.substr(1, close - 1));
    return line::section;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return line::other;
  name = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  return line::key;
}

line make_line(std::string text, std::string eol) {
  line l;
  l.text = std::move(text);
  l.eol = std::move(eol);
  std::string_view name, value;
  l.kind = classify(l.text, name, value);
  l.name = name;
  l.value = value;
  return l;
}

// Calls f(text, eol) for each line of bytes while f returns true. A line
// ends at CRLF, a lone CR or a lone LF.
template <class F>
void for_each_line(std::string_view bytes, F f) {
  size_t i = 0;
  while (i < bytes.size()) {
    size_t end = i;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    if (end == bytes.size()) {
      f(bytes.substr(i), std::string_view());
      return;
    }
    size_t eol_len = bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    if (!f(bytes.substr(i, end - i), bytes.substr(end, eol_len))) return;
    i = end + eol_len;
  }
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
  for_each_line(bytes, [&](std::string_view text, std::string_view eol) {
    f.lines.push_back(make_line(std::string(text), std::string(eol)));
    return true;
  });
  return f;
}

bool find_value(std::string_view bytes, std::string_view section, std::string_view key, std::string_view &value) {
  section = trim(section);
  key = trim(key);
  bool inside = false, found = false;
  for_each_line(bytes, [&](std::string_view text, std::string_view) {
    std::string_view name, v;
    const line::kind_t kind = classify(text, name, v);
    if (kind == line::section) {
      if (inside) return false;  // only the first section of that name counts
      inside = same_name(name, section);
    } else if (kind == line::key && inside && same_name(name, key)) {
      value = v;
      found = true;
      return false;
    }
    return true;
  });
  return found;
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

namespace {

// Code page 1252 at 0x80..0x9F; the rest of the page is Latin-1. The five
// holes map to the C1 controls of the same number, as Windows maps them.
constexpr u16 cp1252_high[32] = {
    0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

void put_utf8(std::string &out, u32 c) {
  if (c < 0x80) {
    out += (char)c;
  } else if (c < 0x800) {
    out += (char)(0xc0 | c >> 6);
    out += (char)(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += (char)(0xe0 | c >> 12);
    out += (char)(0x80 | ((c >> 6) & 0x3f));
    out += (char)(0x80 | (c & 0x3f));
  } else {
    out += (char)(0xf0 | c >> 18);
    out += (char)(0x80 | ((c >> 12) & 0x3f));
    out += (char)(0x80 | ((c >> 6) & 0x3f));
    out += (char)(0x80 | (c & 0x3f));
  }
}

// The code point at s[i], moving i past it; a byte that starts no valid
// sequence stands for itself as U+FFFD.
u32 next_utf8(std::string_view s, size_t &i) {
  const u8 b = (u8)s[i];
  const size_t n = b < 0x80 ? 0 : b >= 0xc2 && b < 0xe0 ? 1 : b >= 0xe0 && b < 0xf0 ? 2 : b >= 0xf0 && b < 0xf5 ? 3 : 9;
  if (n == 0) return ++i, b;
  if (n == 9 || i + n >= s.size()) return ++i, 0xfffd;
  u32 c = b & (0x3f >> n);
  for (size_t k = 1; k <= n; ++k) {
    const u8 t = (u8)s[i + k];
    if ((t & 0xc0) != 0x80) return ++i, 0xfffd;
    c = c << 6 | (t & 0x3f);
  }
  i += n + 1;
  return c;
}

}  // namespace

text decode(std::string &&raw) {
  text t;
  const std::string_view bytes = raw;
  if (bytes.substr(0, 2) == "\xff\xfe") {
    t.enc = encoding::utf16le;
    auto unit = [&](size_t at) { return (u32)(u8)bytes[at] | (u32)(u8)bytes[at + 1] << 8; };
    size_t i = 2;
    for (; i + 1 < bytes.size(); i += 2) {
      u32 c = unit(i);
      if (c >= 0xd800 && c < 0xdc00 && i + 3 < bytes.size()) {
        const u32 low = unit(i + 2);
        if (low >= 0xdc00 && low < 0xe000) {
          c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
          i += 2;
        }
      }
      put_utf8(t.body, c);
    }
    t.tail = bytes.substr(i);
  } else {
    t.body = std::move(raw);
  }
  return t;
}

std::string encode(const text &t) {
  if (t.enc == encoding::ansi) return t.body;
  std::string out = "\xff\xfe";
  auto unit = [&](u32 u) {
    out += (char)(u & 0xff);
    out += (char)(u >> 8);
  };
  for (size_t i = 0; i < t.body.size();) {
    u32 c = next_utf8(t.body, i);
    if (c >= 0x10000) {
      unit(0xd800 + ((c - 0x10000) >> 10));
      unit(0xdc00 + ((c - 0x10000) & 0x3ff));
    } else {
      unit(c);
    }
  }
  return out + t.tail;
}

std::string ansi_to_utf8(std::string_view ansi) {
  std::string out;
  for (char ch : ansi) {
    const u8 b = (u8)ch;
    put_utf8(out, b >= 0x80 && b < 0xa0 ? cp1252_high[b - 0x80] : b);
  }
  return out;
}

std::string utf8_to_ansi(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const u32 c = next_utf8(utf8, i);
    char b = '?';
    if (c < 0x80 || (c >= 0xa0 && c < 0x100)) b = (char)c;
    for (u32 k = 0; k < 32; ++k)
      if (cp1252_high[k] == c) b = (char)(0x80 + k);
    out += b;
  }
  return out;
}

}  // namespace ini
