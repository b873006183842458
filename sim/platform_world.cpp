// What the simulator's platform is the same for on both systems: the world
// the plug-in sees (the keyboard, the clock and the game executable's path)
// and the plug-in's log lines, which host/world and the loader's shared part
// keep whichever loader ran the module.
#include "host/loader.h"
#include "host/world.h"
#include "sim/platform.h"

namespace sim::platform {

const std::vector<std::string> &plugin_log() { return host::loader_messages(); }
void forget_plugin_log() { host::loader_reset(); }

void set_key(int vk, bool down) { host::set_key(vk, down); }
bool key_is_down(int vk) { return host::key_is_down(vk); }
void set_clock(u32 ms) { host::set_tick(ms); }
void set_game_path(const std::string &windows_path) { host::set_module_path(windows_path); }

}  // namespace sim::platform
