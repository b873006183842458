// zephal-sim as a user runs it, a program of its own through the runner
// (qemu-i386 where the kernel needs it), and readers for what it writes: CSV
// by column name, and SVG as XML, refusing any text that is not well-formed.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
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

struct xml {
  std::string name;
  std::map<std::string, std::string> attrs;
  std::string text;
  std::vector<xml> children;

  std::string attr(const std::string &a) const {
    auto it = attrs.find(a);
    return it == attrs.end() ? "" : it->second;
  }
  // Every element below this one (itself included), depth first.
  void each(const std::function<void(const xml &)> &f) const {
    f(*this);
    for (const xml &c : children) c.each(f);
  }
};

// Well-formed XML: one root element, tags that nest and close, quoted
// attributes, no stray '<' or '&'. False with where and why.
class xml_reader {
 public:
  explicit xml_reader(const std::string &s) : s_(s) {}
  bool read(xml &root, std::string *why) {
    skip_misc();
    if (!element(root)) return fail(why);
    skip_misc();
    if (i_ != s_.size()) {
      error_ = "text after the root element";
      return fail(why);
    }
    return true;
  }

 private:
  bool fail(std::string *why) {
    *why = error_ + " at byte " + std::to_string(i_);
    return false;
  }
  void skip_space() {
    while (i_ < s_.size() && isspace((unsigned char)s_[i_])) ++i_;
  }
  void skip_misc() {
    for (;;) {
      skip_space();
      if (s_.compare(i_, 2, "<?") == 0) i_ = std::min(s_.size(), s_.find("?>", i_) + 2);
      else if (s_.compare(i_, 4, "<!--") == 0) i_ = std::min(s_.size(), s_.find("-->", i_) + 3);
      else return;
    }
  }
  std::string name() {
    size_t b = i_;
    while (i_ < s_.size() && (isalnum((unsigned char)s_[i_]) || strchr(":_-.", s_[i_]))) ++i_;
    return s_.substr(b, i_ - b);
  }
  // Character data up to `stop`, with its entities checked and read.
  bool chars(char stop, std::string &out) {
    while (i_ < s_.size() && s_[i_] != stop) {
      if (s_[i_] == '<') return error("a '<' in text or attribute");
      if (s_[i_] == '&') {
        size_t semi = s_.find(';', i_);
        std::string ent = semi == std::string::npos ? "" : s_.substr(i_ + 1, semi - i_ - 1);
        static const std::map<std::string, std::string> known = {
            {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"quot", "\""}, {"apos", "'"}};
        if (known.count(ent)) out += known.at(ent);
        else if (!(ent.size() > 1 && ent[0] == '#')) return error("a bare '&'");
        i_ = semi + 1;
        continue;
      }
      out += s_[i_++];
    }
    return true;
  }
  bool error(const std::string &e) {
    error_ = e;
    return false;
  }
  bool element(xml &e) {
    if (i_ >= s_.size() || s_[i_] != '<') return error("expected an element");
    ++i_;
    e.name = name();
    if (e.name.empty()) return error("an element without a name");
    for (;;) {
      skip_space();
      if (s_.compare(i_, 2, "/>") == 0) {
        i_ += 2;
        return true;
      }
      if (i_ < s_.size() && s_[i_] == '>') break;
      std::string a = name();
      skip_space();
      if (a.empty() || i_ >= s_.size() || s_[i_++] != '=') return error("an attribute without a value");
      skip_space();
      if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) return error("an unquoted attribute");
      char q = s_[i_++];
      std::string v;
      if (!chars(q, v) || i_ >= s_.size()) return error_.empty() ? error("an attribute left open") : false;
      ++i_;
      if (!e.attrs.emplace(a, v).second) return error("attribute " + a + " twice");
    }
    ++i_;
    for (;;) {
      if (!chars('<', e.text)) return false;
      if (i_ >= s_.size()) return error("<" + e.name + "> never closed");
      if (s_.compare(i_, 4, "<!--") == 0) {
        skip_misc();
        continue;
      }
      if (s_.compare(i_, 2, "</") == 0) {
        i_ += 2;
        if (name() != e.name) return error("</...> does not close <" + e.name + ">");
        skip_space();
        if (i_ >= s_.size() || s_[i_++] != '>') return error("a closing tag left open");
        return true;
      }
      e.children.emplace_back();
      if (!element(e.children.back())) return false;
    }
  }

  const std::string &s_;
  size_t i_ = 0;
  std::string error_;
};

}  // namespace simtest
