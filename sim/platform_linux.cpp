// The simulator on Linux: the game image and the loader of host/, the
// host's stand-ins for the Win32 functions the plug-in imports.
#include <cstdio>
#include <iostream>

#include "host/call_log.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "host/pe_module.h"
#include "host/win32.h"
#include "sim/platform.h"
#include "sim/trace.h"

namespace sim::platform {

bool reset_game() { return host::game_reset(); }

u32 load_plugin(const std::string &path, std::string *report) {
  host::loader_reset();
  host::z9_module module;
  const u32 applied = host::load_and_apply(path, host::loader_context(), module, report);
  if (module.high && !host::module_in_reach(module))
    fmt(*report,
        "sim: the module's hook stubs lie beyond 0x%X, out of rel32 reach of the game's code "
        "at 0x400000: the patch walk would refuse every definition, so nothing was applied\n",
        host::rel32_reach_end);
  for (const host::write_record &w : host::loader_writes()) {
    fmt(*report, "loader: %s %s at 0x%X:", w.written ? "patched" : "refused", w.name ? w.name : "?",
        host::image_base + w.rva);
    for (u8 b : w.bytes) fmt(*report, " %02x", b);
    *report += w.bytes.empty() ? " \n" : "\n";
  }
  return applied;
}

const std::vector<std::string> &plugin_log() { return host::loader_messages(); }
void forget_plugin_log() { host::loader_reset(); }

void set_key(int vk, bool down) { host::set_key(vk, down); }
bool key_is_down(int vk) { return host::key_is_down(vk); }
void set_clock(u32 ms) { host::set_tick(ms); }
void set_game_path(const std::string &windows_path) { host::set_module_path(windows_path); }
std::string windows_path(const std::string &path) { return host::windows_path(path); }

bool start_call_log(const std::string &path, std::string *error) { return host::call_log_start(path, error); }
bool stop_call_log(std::string *error) { return host::call_log_stop(error); }

int check_module(const std::string &path) { return host::check_module(path, std::cout); }

std::vector<u8> game_executable() { return host::game_exe(); }

}  // namespace sim::platform
