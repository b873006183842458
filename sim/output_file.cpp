#include "sim/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace sim {

bool write_whole(const std::string &path, const std::string &text, std::string *error) {
  output_file f;
  if (!f.open(path, error)) return false;
  f.write(text);
  return f.commit(error);
}

output_file::~output_file() {
  if (f_) {
    fclose(f_);
    unlink(part_.c_str());
  }
}

bool output_file::open(const std::string &path, std::string *error) {
  path_ = path;
  part_ = path + ".part";
  f_ = fopen(part_.c_str(), "wb");
  if (!f_) {
    *error = "cannot write " + part_ + ": " + strerror(errno);
    return false;
  }
  setvbuf(f_, nullptr, _IOFBF, 1 << 16);
  return true;
}

void output_file::write(const std::string &text) {
  if (f_) fwrite(text.data(), 1, text.size(), f_);
}

bool output_file::commit(std::string *error) {
  if (!f_) return true;
  const bool failed = ferror(f_);
  const int err = errno;
  const bool closed = fclose(f_) == 0;
  f_ = nullptr;
  if (failed || !closed) {
    *error = "cannot write " + part_ + ": " + strerror(failed ? err : errno) + " (the previous " + path_ +
             " is kept)";
    unlink(part_.c_str());
    return false;
  }
  // In place of an earlier one at once, on Windows too (where rename()
  // refuses an existing target).
  std::error_code ec;
  std::filesystem::rename(part_, path_, ec);
  if (ec) {
    *error = "cannot put " + part_ + " in place of " + path_ + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace sim
