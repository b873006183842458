// The simulator on Linux: the game image and the loader of host/, the
// host's stand-ins for the Win32 functions the plug-in imports.
#include <spawn.h>
#include <sys/wait.h>

#include <iostream>

#include "host/call_log.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "host/pe_module.h"
#include "host/win32.h"
#include "sim/platform.h"

extern char **environ;

namespace sim::platform {

bool reset_game() { return host::game_reset(); }

u32 load_plugin(const std::string &path, std::string *report) {
  host::loader_reset();
  host::z9_module module;
  const u32 applied = host::load_and_apply(path, host::loader_context(), module, report);
  host::report_writes(module, report);
  return applied;
}

std::string windows_path(const std::string &path) { return host::windows_path(path); }

bool start_call_log(const std::string &path, std::string *error) { return host::call_log_start(path, error); }
bool stop_call_log(std::string *error) { return host::call_log_stop(error); }

int check_module(const std::string &path) { return host::check_module(path, std::cout); }

std::vector<u8> game_executable() { return host::game_exe(); }

std::string default_module() { return ZEPHAL_SO_PATH; }
std::string default_out_dir() { return ZEPHAL_OUT_DIR; }

int run_program(const std::vector<std::string> &argv) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back((char *)a.c_str());
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return 127;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
  // posix_spawnp may report a missing program only through the child's exit.
  return WEXITSTATUS(status);
}

}  // namespace sim::platform
