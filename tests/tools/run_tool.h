// A players' tool run as a player runs it: a separate process (through the
// runner where the kernel needs one), its output and exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/support.h"

namespace test {

struct ran {
  int status = -1;  // the exit status; -1 when the tool did not exit (a crash)
  std::string out, err;
  bool has(const std::string &part) const { return out.find(part) != std::string::npos || err.find(part) != std::string::npos; }
};

inline std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs program with args (each quoted here), an i386 program of ours through
// the runner, a program of the system without.
inline ran run(const std::string &program, const std::vector<std::string> &args, const char *runner = ZEPHAL_RUNNER) {
  temp_dir tmp;
  std::string cmd = std::string(runner) + " " + quote(program);
  for (const std::string &a : args) cmd += " " + quote(a);
  cmd += " 2>" + quote(tmp / "err") + " </dev/null";
  ran r;
  FILE *p = popen(cmd.c_str(), "r");
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = read_text(tmp / "err");
  return r;
}

}  // namespace test
