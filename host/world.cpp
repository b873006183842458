#include "host/world.h"

#include <cstring>

namespace host {
namespace {

struct key_state {
  bool down = false;
  bool pressed_since_query = false;
};
key_state keys[256];
std::vector<int> *key_queries = nullptr;  // see record_key_queries
u32 clock_ms = 0;
std::string module_path = "Z:\\zephal\\game.exe";

// Virtual-key codes run from 0 to 255; Windows reports any other code as up.
bool valid_key(int vk) { return vk >= 0 && vk < 256; }

}  // namespace

void set_key(int vk, bool down) {
  if (!valid_key(vk)) return;
  key_state &k = keys[vk];
  if (down && !k.down) k.pressed_since_query = true;
  k.down = down;
}

void release_all_keys() {
  for (key_state &k : keys) k = key_state{};
}

bool key_is_down(int vk) { return valid_key(vk) && keys[vk].down; }

void record_key_queries(std::vector<int> *into) { key_queries = into; }

void set_tick(u32 ms) { clock_ms = ms; }
void advance_tick(u32 ms) { clock_ms += ms; }

void set_module_path(const std::string &p) { module_path = p; }

}  // namespace host

namespace host::win32 {

DWORD GetModuleFileNameA(HMODULE module, LPSTR out, DWORD size) {
  if (module || !out || size == 0) return 0;
  // Windows copies what fits, terminates it, and returns size when it had to
  // cut the path.
  DWORD n = (DWORD)module_path.size();
  if (n >= size) {
    memcpy(out, module_path.data(), size - 1);
    out[size - 1] = 0;
    return size;
  }
  memcpy(out, module_path.c_str(), n + 1);
  return n;
}

DWORD GetTickCount(void) { return clock_ms; }

SHORT GetAsyncKeyState(int vk) {
  if (key_queries) key_queries->push_back(vk);
  if (!valid_key(vk)) return 0;
  key_state &k = keys[vk];
  u16 r = (k.down ? 0x8000 : 0) | (k.pressed_since_query ? 1 : 0);
  k.pressed_since_query = false;
  return (SHORT)r;
}

}  // namespace host::win32
