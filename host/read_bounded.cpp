#define _FILE_OFFSET_BITS 64  // stat and open of any file, as in host/win32.cpp
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/common.h"

namespace host {

bool read_bounded(const std::string &path, u64 max, std::vector<u8> &out, std::string *why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return *why = std::string("cannot open it: ") + strerror(errno), false;
  if (!S_ISREG(st.st_mode)) return *why = "it is not a regular file", false;
  if ((u64)st.st_size > max)
    return *why = "it is " + std::to_string((u64)st.st_size) + " bytes, more than the " + std::to_string(max >> 20) +
                  " MiB a module may have",
           false;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return *why = std::string("cannot open it: ") + strerror(errno), false;
  out.assign((size_t)st.st_size, 0);
  size_t done = 0;
  while (done < out.size()) {
    ssize_t r = read(fd, out.data() + done, out.size() - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int err = errno;
      close(fd);
      return *why = std::string("cannot read it: ") + strerror(err), false;
    }
    if (r == 0) break;
    done += (size_t)r;
  }
  close(fd);
  out.resize(done);  // a file that shrank meanwhile is taken as it now is
  return true;
}

}  // namespace host
