// GetPrivateProfileIntA, GetPrivateProfileStringA and WritePrivateProfileStringA
// on real Linux files, behaving as Windows does (see host/ini_file.h for how
// the file is read). Nothing is cached: every call opens the file anew, so an
// edit made on disk by someone else is seen by the next call.
//
// A write never leaves a half-written file behind: the new text goes to a
// temporary file in the same folder, which then replaces the original in one
// rename. Whatever fails on the way, the original stays as it was.
#define _FILE_OFFSET_BITS 64  // stat and open of any file, as in host/win32.cpp

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "host/ini_file.h"
#include "host/win32.h"

namespace {

using host::ini::file;

// The whole file, or false when there is no regular file to read there.
bool read_bytes(const std::string &path, std::string &out) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char chunk[4096];
  ssize_t n = 0;
  out.clear();
  while (ok && (n = read(fd, chunk, sizeof(chunk))) > 0) out.append(chunk, (size_t)n);
  close(fd);
  return ok && n == 0;
}

bool write_all(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Replaces (or creates) path with bytes through a temporary file beside it.
// The replacement keeps the original's permissions and owner.
bool replace_file(const std::string &path, const std::string &bytes, const struct stat *old) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "." + base + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;  // folder missing, not a folder, or not writable
  bool ok = write_all(fd, bytes) && fchmod(fd, old ? old->st_mode & 07777 : new_file_mode()) == 0;
  // Best effort: when the owner cannot be kept, the rewritten file is ours.
  if (ok && old) (void)!fchown(fd, old->st_uid, old->st_gid);
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

// The Linux file a Windows profile path names; a symbolic link is followed so
// that the rename replaces the file it points to rather than the link.
std::string profile_path(const char *windows_path) {
  std::string path = host::linux_path(windows_path);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char *real = realpath(path.c_str(), nullptr)) {
      path = real;
      free(real);
    }
  }
  return path;
}

// A string into the caller's buffer, cut to size - 1 characters; returns the
// number of characters copied.
DWORD copy_string(std::string_view s, LPSTR out, DWORD size) {
  DWORD n = s.size() < size ? (DWORD)s.size() : size - 1;
  memcpy(out, s.data(), n);
  out[n] = 0;
  return n;
}

// Names as a list of NUL-terminated strings closed by one more NUL. When the
// list does not fit, with one byte to spare, Windows fills the buffer with as
// much as fits, closes it with two NULs and returns size - 2.
DWORD copy_list(const std::vector<std::string> &names, LPSTR out, DWORD size) {
  if (size < 2) return copy_string("", out, size);
  DWORD at = 0;
  for (const std::string &name : names) {
    if (at + name.size() + 2 >= size) {
      memcpy(out + at, name.data(), size - 2 - at);  // at <= size - 2 here
      out[size - 2] = 0;
      out[size - 1] = 0;
      return size - 2;
    }
    memcpy(out + at, name.c_str(), name.size() + 1);
    at += (DWORD)name.size() + 1;
  }
  out[at] = 0;
  return at;
}

// The default as Windows hands it back: trailing blanks dropped.
std::string_view default_text(LPCSTR def) {
  std::string_view d = def ? def : "";
  while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
  return d;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR out, DWORD size,
                                      LPCSTR path) {
  if (!out || size == 0) return 0;
  std::string bytes;
  if (!path || !*path || !read_bytes(profile_path(path), bytes))
    return copy_string(default_text(def), out, size);
  file f = file::parse(bytes);

  // An empty list (no sections, no such section, no keys) gives the default.
  std::vector<std::string> names;
  if (!app) {
    names = f.section_names();
  } else {
    size_t header = f.find_section(app);
    if (header == host::ini::none) return copy_string(default_text(def), out, size);
    if (key) {
      size_t at = f.find_key(header, key);
      if (at == host::ini::none) return copy_string(default_text(def), out, size);
      return copy_string(host::ini::unquote(f.lines[at].value), out, size);
    }
    names = f.key_names(header);
  }
  if (names.empty()) return copy_string(default_text(def), out, size);
  return copy_list(names, out, size);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR app, LPCSTR key, INT def, LPCSTR path) {
  // Windows reads the text into a small buffer and converts it; an empty or
  // missing value gives the default, any other text a number (0 if no digits).
  char text[32];
  if (GetPrivateProfileStringA(app, key, "", text, sizeof(text), path) == 0) return (UINT)def;
  return host::ini::parse_int(text);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR value, LPCSTR path) {
  if (!app || !path || !*path) return 0;
  std::string target = profile_path(path);
  struct stat st;
  bool exists = stat(target.c_str(), &st) == 0;
  // A file without any write permission is Windows' read-only file: the
  // profile functions leave it alone, even for an administrator.
  if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)) return 0;
  std::string bytes;
  if (exists && !read_bytes(target, bytes)) return 0;

  file f = file::parse(bytes);
  bool changed = !key ? f.remove_section(app) : !value ? f.remove_key(app, key) : f.set(app, key, value);
  // A deletion that finds nothing still leaves an (empty) file, as on Windows.
  if (exists && !changed) return 1;
  return replace_file(target, f.bytes(), exists ? &st : nullptr);
}

}  // extern "C"
