// What the plug-in learns of the world outside the game's memory, on any
// system: the keys held down (GetAsyncKeyState), the clock (GetTickCount)
// and the game executable's path (GetModuleFileNameA), with the knobs a test
// or the simulator turns on them. The Linux host's functions of those names
// answer from here; on Windows the simulator points the plug-in's imports of
// the three at them.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace host {

// Keyboard: GetAsyncKeyState reports bit 15 while a key is down and bit 0
// when it was pressed since the previous query, as Windows does.
void set_key(int vk, bool down);
void release_all_keys();
bool key_is_down(int vk);
// Every key GetAsyncKeyState is asked about, in order, appended to *into
// until the next call (nullptr stops it): the order of the plug-in's calls
// is part of its behaviour.
void record_key_queries(std::vector<int> *into);

// Clock behind GetTickCount, in milliseconds; wraps modulo 2^32.
void set_tick(u32 ms);
void advance_tick(u32 ms);

// What GetModuleFileNameA reports for the executable (a Windows path).
void set_module_path(const std::string &windows_path);

}  // namespace host

// What the three functions do.
namespace host::win32 {
DWORD GetModuleFileNameA(HMODULE module, LPSTR out, DWORD size);
DWORD GetTickCount();
SHORT GetAsyncKeyState(int vk);
}  // namespace host::win32
