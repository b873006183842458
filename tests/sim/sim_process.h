// zephal-sim as a user runs it, a program of its own through the runner
// (qemu-i386 where the kernel needs it), and readers for what it writes: CSV
// by column name, and SVG elements, refusing a picture whose tags do not balance.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support.h"

namespace simtest {

using kit::quote;
inline bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// zephal-sim with the given arguments (quoted already).
inline kit::ran sim(const std::string &args) {
  return kit::run("exec " + std::string(ZEPHAL_RUNNER) + " " + quote(ZEPHAL_SIM) + " " + args);
}

// A CSV file with a header line; cells by row and column name.
struct csv {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  explicit csv(const std::string &text = "") {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> cells(1);
      for (char c : line) c == ',' ? (void)cells.emplace_back() : cells.back().push_back(c);
      if (header.empty()) header = cells;
      else rows.push_back(cells);
    }
  }
  size_t col(const std::string &name) const {
    return (size_t)(std::find(header.begin(), header.end(), name) - header.begin());
  }
  const std::string &cell(size_t row, const std::string &name) const { return rows.at(row).at(col(name)); }
  double num(size_t row, const std::string &name) const { return std::stod(cell(row, name)); }
  float flt(size_t row, const std::string &name) const { return strtof(cell(row, name).c_str(), nullptr); }
  size_t size() const { return rows.size(); }
};

// An SVG's elements in document order, each with its attributes and the text
// right inside it. The tags must balance and nest under one root, attributes
// be quoted, and every '&' start an entity; else *why says where it failed.
struct element {
  std::string name, text;
  std::map<std::string, std::string> attrs;
  std::string attr(const std::string &a) const { return attrs.count(a) ? attrs.at(a) : ""; }
};
inline std::string unescape(const std::string &s, std::string *why) {
  static const std::map<std::string, std::string> named = {
      {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"quot", "\""}, {"apos", "'"}};
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const size_t semi = s.find(';', i);
    const std::string ent = s.substr(i + 1, semi - i - 1);
    if (semi == std::string::npos || !(named.count(ent) || (ent.size() > 1 && ent[0] == '#'))) {
      *why = "a bare '&'";
      break;
    }
    out += named.count(ent) ? named.at(ent) : "";
    i = semi;
  }
  return out;
}
inline std::vector<element> elements(const std::string &s, std::string *why) {
  std::vector<element> all;
  std::vector<size_t> open;
  size_t i = 0, j = 0, roots = 0;
  auto fail = [&](const std::string &w) { *why = w + " at byte " + std::to_string(j); };
  auto name = [&] {
    const size_t b = j;
    while (j < s.size() && (isalnum((unsigned char)s[j]) || strchr(":_-.", s[j]))) ++j;
    return s.substr(b, j - b);
  };
  while (why->empty()) {
    const size_t lt = std::min(s.find('<', i), s.size());
    const std::string text = unescape(s.substr(i, lt - i), why);
    if (!open.empty()) all[open.back()].text += text;
    else if (text.find_first_not_of(" \t\r\n") != std::string::npos) fail("text outside the root element");
    if (lt == s.size() || !why->empty()) break;
    j = lt + 1;
    if (s.compare(lt, 4, "<!--") == 0 || s.compare(lt, 2, "<?") == 0) {
      const size_t end = s.find(s[j] == '!' ? "-->" : "?>", j);
      if (end == std::string::npos) fail("a comment left open");
      i = end + (s[j] == '!' ? 3 : 2);
      continue;
    }
    const bool closing = s[j] == '/';
    j += closing;
    element e{name(), "", {}};
    if (e.name.empty()) fail("a '<' that starts no tag");
    for (; why->empty();) {
      while (j < s.size() && isspace((unsigned char)s[j])) ++j;
      if (j >= s.size() || s[j] == '>' || s.compare(j, 2, "/>") == 0) break;
      const std::string a = name();
      const size_t close = j + 1 < s.size() && (s[j + 1] == '"' || s[j + 1] == '\'') ? s.find(s[j + 1], j + 2) : 0;
      if (a.empty() || s[j] != '=' || close == 0 || close == std::string::npos) fail("an attribute without a quoted value");
      else if (s.substr(j, close - j).find('<') != std::string::npos) fail("a '<' in an attribute");
      else if (!e.attrs.emplace(a, unescape(s.substr(j + 2, close - j - 2), why)).second) fail("attribute " + a + " twice");
      j = close + 1;
    }
    if (j >= s.size()) fail("a tag left open");
    if (!why->empty()) break;
    const bool empty = s[j] == '/';
    i = j + 1 + empty;
    if (closing && (open.empty() || all[open.back()].name != e.name)) fail("</" + e.name + "> closes nothing open");
    if (closing) {
      if (!open.empty()) open.pop_back();
      continue;
    }
    roots += open.empty();
    all.push_back(e);
    if (!empty) open.push_back(all.size() - 1);
  }
  if (why->empty() && (roots != 1 || !open.empty())) fail(open.empty() ? "not one root element" : "<" + all[open.back()].name + "> never closed");
  return all;
}

}  // namespace simtest
