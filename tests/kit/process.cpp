#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/kit/kit.h"

namespace kit {

std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool ran::has(const std::string &part) const {
  return out.find(part) != std::string::npos || err.find(part) != std::string::npos;
}

ran run(const std::string &command) {
  temp_dir tmp("zephal-run");
  const std::string out = tmp / "stdout", err = tmp / "stderr";
  const std::string line = "{ " + command + "\n} >" + quote(out) + " 2>" + quote(err) + " </dev/null";
  ran r;
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", line.c_str(), (char *)nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage use {};
  if (pid > 0 && wait4(pid, &status, 0, &use) == pid) {
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.max_rss_kb = use.ru_maxrss;
  }
  r.out = read_text(out);
  r.err = read_text(err);
  return r;
}

ran run(const std::string &runner, const std::string &program, const std::vector<std::string> &args) {
  std::string command = "exec " + runner + " " + quote(program);  // the program's own exit status and memory
  for (const std::string &a : args) command += " " + quote(a);
  return run(command);
}

}  // namespace kit
