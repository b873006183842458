#include "tools/common/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include "platform/win32.h"
#else
#include <unistd.h>

#include <climits>

#include "host/win32.h"
#endif

namespace tools {

#if defined(_WIN32)

std::string profile_path(const std::string &path) {
  char full[MAX_PATH * 4];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

std::string program_dir() {
  char exe[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  if (n == 0 || n >= sizeof exe) return "";
  std::string s(exe, n);
  size_t slash = s.find_last_of("\\/");
  return slash == std::string::npos ? "" : s.substr(0, slash + 1);
}

std::string why_not_writable(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    std::string dir = path.substr(0, path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/"));
    if (dir.empty()) return "";
    DWORD d = GetFileAttributesA(dir.c_str());
    if (d == INVALID_FILE_ATTRIBUTES) return "its folder " + dir + " does not exist";
    return "";
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "it is marked read-only";
  return "";
}

#else

std::string profile_path(const std::string &path) { return host::windows_path(path); }

std::string program_dir() {
  // qemu-i386 answers for /proc/self/exe with the emulated program.
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  std::string s(exe, (size_t)n);
  return s.substr(0, s.rfind('/') + 1);
}

std::string why_not_writable(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "its folder " + dir + " does not exist";
    if (access(dir.c_str(), W_OK) != 0) return "its folder " + dir + " is read-only";
    return "";
  }
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  // The host treats a file without any write permission as read-only, as
  // Windows does, and so does the plug-in's save.
  if ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) return "it is read-only";
  // A profile write replaces the file through a new one beside it.
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
  if (access(dir.c_str(), W_OK) != 0) return "its folder " + dir + " is read-only";
  return "";
}

#endif

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

read_result read_file(const std::string &path, size_t most, std::string &out, std::string &error) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open " + path + ": " + strerror(errno);
    return read_failed;
  }
  out.clear();
  char chunk[65536];
  size_t n;
  while (out.size() <= most && (n = fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
  const bool failed = ferror(f) != 0;
  const int err = errno;
  fclose(f);
  if (failed) {
    error = "cannot read " + path + ": " + strerror(err);
    return read_failed;
  }
  return out.size() > most ? read_too_big : read_ok;
}

bool read_small_file(const std::string &path, const char *what, std::string &out, std::string &error) {
  const read_result r = read_file(path, (1u << 20) - 1, out, error);
  if (r == read_too_big) error = path + " is larger than a megabyte: that is no " + what;
  return r == read_ok;
}

}  // namespace tools
