// zephal-sim as a user runs it, a program of its own through the runner
// (qemu-i386 where the kernel needs it), and readers for what it writes: CSV
// by column name, and SVG elements.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support.h"

namespace simtest {

inline bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

inline kit::ran sim(const std::vector<std::string> &args) { return kit::run(ZEPHAL_RUNNER, ZEPHAL_SIM, args); }
// The arguments of a quiet run of scenario with its game folder and outputs where given, then more.
inline std::vector<std::string> quiet(const std::string &scenario, const std::string &game, const std::string &out,
                                      std::vector<std::string> more = {}) {
  more.insert(more.begin(), {scenario, "--quiet", "--game-dir", game, "--out", out});
  return more;
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
// right after its start tag, entities read back. Whether the picture is
// well-formed XML is rsvg-convert's to judge: it refuses one that is not, and
// the outputs test wants the PNG it makes.
struct element {
  std::string name, text;
  std::map<std::string, std::string> attrs;
  std::string attr(const std::string &a) const { return attrs.count(a) ? attrs.at(a) : ""; }
};
inline std::string unescape(std::string s) {
  for (auto [from, to] : {std::pair{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}})
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; ++at) s.replace(at, strlen(from), 1, to);
  return s;
}
inline std::vector<element> elements(const std::string &s) {
  std::vector<element> all;
  for (size_t lt = s.find('<'), gt = 0; lt != std::string::npos; lt = s.find('<', gt)) {
    gt = s.find('>', lt);
    if (gt == std::string::npos || !isalpha((unsigned char)s[lt + 1])) continue;  // end tags, comments
    std::istringstream tag(s.substr(lt + 1, gt - lt - 1));
    element e;
    tag >> e.name;
    for (std::string key, value; std::getline(tag >> std::ws, key, '=') && tag.ignore() && std::getline(tag, value, '"');)
      e.attrs[key] = unescape(value);
    e.text = unescape(s.substr(gt + 1, s.find('<', gt) - gt - 1));
    all.push_back(e);
  }
  return all;
}

}  // namespace simtest
