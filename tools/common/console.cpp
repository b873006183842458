#include "tools/common/console.h"

#include <cstdio>

#if defined(_WIN32)
#include "platform/win32.h"
#endif

namespace tools {

void keep_window_open() {
#if defined(_WIN32)
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;  // a command prompt is there too
  fputs("\nPress Enter to close this window.", stdout);
  fflush(stdout);
  getchar();
#endif
}

}  // namespace tools
