// GetPrivateProfileIntA, GetPrivateProfileStringA and WritePrivateProfileStringA
// on real Linux files, behaving as Windows does (see ini/ini_file.h for how
// the file is read). Nothing is cached: every call reads the file anew, once,
// so an edit made on disk by someone else is seen by the next call.
//
// What Windows cannot open gives the answer of a missing file: a folder, a
// FIFO or a device in the profile's place (its type is checked before it is
// opened: opening a FIFO would wait for a writer forever), and a file larger
// than the host reads (profile_max). A write leaves all of these alone.
//
// A write never leaves a half-written file behind: the new text goes to a
// temporary file in the same folder, which then replaces the original in one
// rename. Whatever fails on the way, the original stays as it was; a write
// killed on the way leaves its temporary under the one name the next write
// of that profile takes over and renames away.
#define _FILE_OFFSET_BITS 64  // stat and open of any file, as in host/win32.cpp

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "host/win32.h"
#include "ini/ini_file.h"

namespace {

using ini::file;

// The largest profile read: a thousand times what the plug-in's files hold,
// and small enough that the 36 reads of the settings stay quick.
constexpr size_t profile_max = 1u << 20;

// The profile's text, or false when there is none Windows could read there.
bool read_profile(const std::string &path, ini::text &out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (u64)st.st_size > profile_max) return false;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // What was opened may have been put there after the stat: check it again,
  // and stop reading at the bound should the file grow meanwhile.
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::string bytes((size_t)st.st_size + 1, '\0');
  size_t got = 0;
  ssize_t n = 0;
  while (ok && (n = read(fd, bytes.data() + got, bytes.size() - got)) > 0) {
    got += (size_t)n;
    ok = got <= profile_max;
    if (got == bytes.size()) bytes.resize(std::min(2 * bytes.size(), profile_max + 1));
  }
  close(fd);
  if (!ok || n < 0 || got > profile_max) return false;
  bytes.resize(got);
  out = ini::decode(std::move(bytes));
  return true;
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

// The one temporary name of a profile's writes, beside it.
std::string temp_name(const std::string &path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".zephal-new";
}

// The temporary, opened and locked for this write. Two processes writing one
// profile take turns: the lock is held until the rename, after which the
// name may already stand for the renamed file (the profile itself), so the
// one who waited checks that the name still leads to what it locked.
int open_temp(const std::string &temp, bool create = true) {
  for (int tries = 0; tries < 200; ++tries) {
    // O_NOFOLLOW: a link planted under the name is never written through.
    int fd = open(temp.c_str(), O_WRONLY | (create ? O_CREAT : 0) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return -1;  // folder missing, not a folder, not writable, or a folder or link under the name
    struct stat mine, named;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      if (fstat(fd, &mine) == 0 && S_ISREG(mine.st_mode) && lstat(temp.c_str(), &named) == 0 &&
          named.st_ino == mine.st_ino && named.st_dev == mine.st_dev)
        return fd;
      if (fstat(fd, &mine) == 0 && !S_ISREG(mine.st_mode)) {
        close(fd);
        return -1;  // a FIFO or device under the name: not ours to touch
      }
    }
    close(fd);
    const timespec pause = {0, 10 * 1000 * 1000};  // another write holds it; two seconds at most
    nanosleep(&pause, nullptr);
  }
  return -1;
}

// Removes what a write killed half way left under the temporary name, when
// no other write holds it.
void clean_temp(const std::string &path) {
  const std::string temp = temp_name(path);
  int fd = open_temp(temp, false);
  if (fd < 0) return;
  unlink(temp.c_str());
  close(fd);
}

// Replaces (or creates) path with bytes through the temporary beside it. The
// replacement keeps the original's permissions and owner.
bool replace_file(const std::string &path, const std::string &bytes, const struct stat *old) {
  const std::string temp = temp_name(path);
  int fd = open_temp(temp);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, 0) == 0 && write_all(fd, bytes) &&
            fchmod(fd, old ? old->st_mode & 07777 : new_file_mode()) == 0;
  // Best effort: when the owner cannot be kept, the rewritten file is ours.
  if (ok && old) (void)!fchown(fd, old->st_uid, old->st_gid);
  ok = fsync(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  ok = close(fd) == 0 && ok;  // the lock goes with it, after the rename
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

// Names and values cross between the A calls' ANSI text and a Unicode file's.
struct profile_text {
  ini::text text;
  bool unicode() const { return text.enc != ini::encoding::ansi; }
  std::string in(const char *s) const { return unicode() ? ini::ansi_to_utf8(s) : std::string(s); }
  std::string out(std::string_view s) const { return unicode() ? ini::utf8_to_ansi(s) : std::string(s); }
};

namespace host::win32 {

DWORD GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR out, DWORD size,
                                      LPCSTR path) {
  if (!out || size == 0) return 0;
  profile_text p;
  if (!path || !*path || !read_profile(profile_path(path), p.text))
    return copy_string(default_text(def), out, size);
  if (app && key) {
    std::string_view value;
    if (!ini::find_value(p.text.body, p.in(app), p.in(key), value))
      return copy_string(default_text(def), out, size);
    return copy_string(p.out(ini::unquote(value)), out, size);
  }
  file f = file::parse(p.text.body);

  // An empty list (no sections, no such section, no keys) gives the default.
  std::vector<std::string> names;
  if (!app) {
    names = f.section_names();
  } else {
    size_t header = f.find_section(p.in(app));
    if (header == ini::none) return copy_string(default_text(def), out, size);
    names = f.key_names(header);
  }
  if (names.empty()) return copy_string(default_text(def), out, size);
  for (std::string &name : names) name = p.out(name);
  return copy_list(names, out, size);
}

UINT GetPrivateProfileIntA(LPCSTR app, LPCSTR key, INT def, LPCSTR path) {
  // The text is read into a small buffer and converted; an empty or missing
  // value gives the default, any other text a number (0 if no digits). The
  // buffer holds 29 characters and the end, as Wine's (no conformance test
  // pins Windows' own; only values longer than that can tell).
  char text[30];
  if (GetPrivateProfileStringA(app, key, "", text, sizeof(text), path) == 0) return (UINT)def;
  return ini::parse_int(text);
}

BOOL WritePrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR value, LPCSTR path) {
  if (!app || !path || !*path) return 0;
  std::string target = profile_path(path);
  struct stat st;
  bool exists = stat(target.c_str(), &st) == 0;
  // A file without any write permission is Windows' read-only file: the
  // profile functions leave it alone, even for an administrator.
  if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)) return 0;
  profile_text p;
  if (exists && !read_profile(target, p.text)) return 0;

  file f = file::parse(p.text.body);
  bool changed = !key     ? f.remove_section(p.in(app))
                 : !value ? f.remove_key(p.in(app), p.in(key))
                          : f.set(p.in(app), p.in(key), p.in(value));
  // A deletion that finds nothing still leaves an (empty) file, as on Windows.
  if (exists && !changed) return clean_temp(target), 1;
  p.text.body = f.bytes();
  return replace_file(target, ini::encode(p.text), exists ? &st : nullptr);
}

}  // namespace host::win32
