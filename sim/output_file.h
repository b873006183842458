// Files the simulator writes are put in place whole: written beside under
// the name with ".part" added, then renamed over the old one, so that a run
// that fails half-way leaves the previous file as it was.
#pragma once

#include <cstdio>
#include <string>

namespace sim {

// text as the whole of path. False with a message when it cannot be
// written; the previous file is kept then.
bool write_whole(const std::string &path, const std::string &text, std::string *error);

// An output file written under a temporary name and put in place by
// commit(), so that a run that fails half-way leaves the previous output
// whole.
class output_file {
 public:
  output_file() = default;
  output_file(const output_file &) = delete;
  ~output_file();
  bool open(const std::string &path, std::string *error);
  void write(const std::string &text);
  bool commit(std::string *error);  // flush, close and rename into place
  const std::string &path() const { return path_; }

 private:
  std::string path_, part_;
  FILE *f_ = nullptr;
};

}  // namespace sim
