// The simulator on Windows: the game stands in this program's own image
// (host/game_memory_windows.cpp), and the plug-in is loaded by the system's
// LoadLibraryA and runs on the system's own functions, its settings and
// presets read and written by KERNEL32's profile functions, its memory from
// VirtualAlloc, its formatting by msvcrt. Only the world reaches it from the
// scenario, where a game's world would: the keyboard, the clock and the game
// executable's path. Those three imports of the loaded DLL are pointed at
// the scenario's (host/world.h), as hooking libraries do on Windows, before
// Z9_Apply runs.
#define WIN32_LEAN_AND_MEAN
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "host/game_image.h"
#include "host/loader.h"
#include "host/world.h"
#include "sim/platform.h"
#include "tools/common/paths.h"

namespace sim::platform {
namespace {

DWORD WINAPI world_module_file_name(HMODULE module, LPSTR out, DWORD size) {
  return host::win32::GetModuleFileNameA(module, out, size);
}
DWORD WINAPI world_tick_count() { return host::win32::GetTickCount(); }
SHORT WINAPI world_async_key_state(int vk) { return host::win32::GetAsyncKeyState(vk); }

struct world_import {
  const char *name;
  void *ours;
};
const world_import world_imports[] = {
    {"GetAsyncKeyState", (void *)&world_async_key_state},
    {"GetTickCount", (void *)&world_tick_count},
    {"GetModuleFileNameA", (void *)&world_module_file_name},
};

const IMAGE_NT_HEADERS32 *headers(HMODULE m) {
  const u8 *base = (const u8 *)m;
  return (const IMAGE_NT_HEADERS32 *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
}

// Points the module's import address table entries of the world's three
// functions at ours. The table is the system loader's, bound and checked
// by it. False with a message when the module does not import all three.
bool point_world_imports(HMODULE m, const std::string &path, std::string *error) {
  u8 *base = (u8 *)m;
  const IMAGE_DATA_DIRECTORY &dir = headers(m)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  void **slots[3] = {};
  if (dir.VirtualAddress)
    for (auto *d = (const IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; ++d) {
      const DWORD *names = (const DWORD *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
      void **iat = (void **)(base + d->FirstThunk);
      for (u32 i = 0; names[i]; ++i) {
        if (names[i] & IMAGE_ORDINAL_FLAG32) continue;
        const char *name = (const char *)((const IMAGE_IMPORT_BY_NAME *)(base + names[i]))->Name;
        for (u32 w = 0; w < 3; ++w)
          if (strcmp(name, world_imports[w].name) == 0) slots[w] = &iat[i];
      }
    }
  for (u32 w = 0; w < 3; ++w) {
    DWORD was;
    if (!slots[w]) {
      *error = "loader: " + path + " does not import " + world_imports[w].name;
      return false;
    }
    if (!VirtualProtect(slots[w], sizeof(void *), PAGE_READWRITE, &was)) {
      *error = "loader: cannot write the import table of " + path + " (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
    *slots[w] = world_imports[w].ours;
    VirtualProtect(slots[w], sizeof(void *), was, &was);
  }
  return true;
}

// Windows' own words for the last error, on one line.
std::string last_error_text() {
  const DWORD code = GetLastError();
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  return std::string(text, n) + " (error " + std::to_string(code) + ")";
}

// The module through the system's loader, its world pointed at ours and its
// exports found; each path is loaded once, as on Linux.
bool load_dll(const std::string &path, host::z9_module &m, std::string *error) {
  static std::map<std::string, HMODULE> loaded;
  m = host::z9_module{};
  m.path = path;
  auto it = loaded.find(path);
  if (it == loaded.end()) {
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
      *error = "loader: cannot load " + path + ": " + last_error_text();
      return false;
    }
    if (!point_world_imports(h, path, error)) return false;
    it = loaded.emplace(path, h).first;
  }
  HMODULE h = it->second;
  m.handle = h;
  m.low = (u32)(uintptr_t)h;
  m.high = m.low + headers(h)->OptionalHeader.SizeOfImage;
  return host::module_exports(path, [h](const char *name) { return (void *)GetProcAddress(h, name); }, m, error);
}

}  // namespace

bool reset_game() { return host::game_reset(); }

u32 load_plugin(const std::string &path, std::string *report) {
  host::loader_reset();
  report->clear();
  host::z9_module module;
  std::string error;
  if (!load_dll(path, module, &error)) {
    *report += error + "\n";
    return 0;
  }
  const u32 applied = host::apply_module(host::loader_context(), module, report);
  host::report_writes(module, report);
  return applied;
}

std::string windows_path(const std::string &path) { return tools::profile_path(path); }

bool start_call_log(const std::string &, std::string *error) {
  *error = "--win32-log is for the Linux zephal-sim: here the plug-in calls Windows' own functions, "
           "which this program does not see";
  return false;
}
bool stop_call_log(std::string *) { return true; }

int check_module(const std::string &) {
  fprintf(stderr, "zephal-sim: --check-module is for the Linux zephal-sim, which looks at a DLL without "
                  "Windows' loader running any of its code\n");
  return 2;
}

std::vector<u8> game_executable() { return host::game_exe(); }

std::string default_module() {
  const std::string beside = tools::program_dir() + "zephal.z9p";
  return tools::exists(beside) ? beside : "out\\zephal.z9p";
}

std::string default_out_dir() {
  std::string dir = tools::program_dir();
  if (!dir.empty()) dir.pop_back();
  return dir.empty() ? "out" : dir;
}

int run_program(const std::vector<std::string> &argv) {
  // The C runtime joins the arguments with spaces into one command line.
  std::vector<std::string> quoted;
  for (const std::string &a : argv) quoted.push_back(a.find(' ') == std::string::npos ? a : "\"" + a + "\"");
  std::vector<const char *> args;
  for (const std::string &a : quoted) args.push_back(a.c_str());
  args.push_back(nullptr);
  fflush(stdout);
  const intptr_t status = _spawnvp(_P_WAIT, args[0], args.data());
  if (status == -1) return errno == ENOENT ? 127 : -1;
  return (int)status;
}

}  // namespace sim::platform
