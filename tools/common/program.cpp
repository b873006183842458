#include "tools/common/program.h"

#include <cstdio>

#include "base/version.h"

#if defined(_WIN32)
#include "platform/win32.h"
#endif

namespace tools {
namespace {

const program *current = nullptr;

// Started by a double click (or a file dropped on it), a console program
// gets a window of its own that closes the moment it ends, before anyone
// could read it. When the tool is the only program in its console window,
// it waits for Enter before the window closes.
void keep_window_open() {
#if defined(_WIN32)
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;  // a command prompt is there too
  fputs("\nPress Enter to close this window.", stdout);
  fflush(stdout);
  getchar();
#endif
}

}  // namespace

int run_program(const program &p, int argc, char **argv) {
  current = &p;
  const int status = p.run(argc, argv);
  fflush(stdout);
  keep_window_open();
  return status;
}

int fail(const std::string &message) {
  fprintf(stderr, "%s: %s\n", current->name, message.c_str());
  return 2;
}

bool help_or_version(const std::string &arg, int &status) {
  status = 0;
  if (arg == "--help" || arg == "-h" || arg == "/?")
    fputs(current->usage, stdout);
  else if (arg == "--version")
    printf("%s %s\n", current->name, ZEPHAL_VERSION);
  else
    return false;
  return true;
}

int usage_error() {
  fputs(current->usage, stderr);
  return 2;
}

}  // namespace tools
