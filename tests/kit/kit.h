// What the tests, the benchmarks, the soak and the fuzz drivers share: real
// folders and files under /tmp, strings in the stand-in game's heap, other
// programs run as a user runs them, and the plug-in's globals put back to
// those of a freshly loaded module.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace kit {

// A real folder under /tmp, removed with everything in it.
struct temp_dir {
  std::string path;
  temp_dir() : temp_dir("zephal-test") {}
  explicit temp_dir(const char *prefix);
  ~temp_dir();
  temp_dir(const temp_dir &) = delete;
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// A file's bytes ("" when it cannot be read), and a file written whole.
std::string read_text(const std::string &path);
void write_text(const std::string &path, const std::string &text);

// A zero-terminated copy of s in the game's heap; its game address.
u32 game_string(const std::string &s);

// s in single quotes for /bin/sh.
std::string quote(const std::string &s);

struct ran {
  int status = -1;  // the exit status; -1 when the program did not exit (a crash)
  std::string out, err;
  long max_rss_kb = 0;  // of the program (and its runner)
  bool has(const std::string &part) const;
};

// A shell command line (several commands too), its standard input empty,
// its output collected.
ran run(const std::string &command);
// A program with args (each quoted here); an i386 program of ours goes
// through the runner (qemu-i386 where the kernel needs it), one of the system
// with an empty runner.
ran run(const std::string &runner, const std::string &program, const std::vector<std::string> &args);

// The plug-in's own state as a freshly loaded module starts with. Tests, the
// soak and the benchmarks link the plug-in's sources into one program and so
// cannot unload it between games; this is what an unload and a new load
// would do to its globals.
void fresh_module();

// The ring's oldest snapshot as the slot headers name it, one header per
// slot: the search the backward seek did before its index. False when no slot
// holds a snapshot of the current car count.
bool oldest_by_headers(u32 *oldest);

}  // namespace kit
