// The Linux stand-in for the Win32 functions the plug-in imports, and the
// knobs a test or the simulator turns on them: the world (host/world.h:
// the keyboard, the clock, the executable's path), virtual memory, and the
// mapping of Windows paths (with their drive and backslashes) onto real
// Linux files.
#pragma once

#include <string>
#include <vector>

#include "host/world.h"
#include "platform/win32.h"

namespace host {

// Windows paths on Linux files. Drive Z: is the Linux root (Wine's
// convention); another drive letter maps to a folder set here. Backslashes
// separate components; a relative path is relative to the current directory.
// Each component matches an existing file or folder without regard to case,
// as on Windows.
void set_drive_root(char drive, const std::string &linux_dir);
std::string linux_path(const char *windows_path);
// The absolute Windows path on Z: of a Linux path (a relative one is taken
// from the current folder).
std::string windows_path(const std::string &linux_path);

// Virtual memory: VirtualAlloc fails for the next n requests; counters of
// what is live.
void fail_virtual_alloc(int n);
u32 virtual_blocks_live();
u64 virtual_bytes_live();

}  // namespace host

// What the Win32 functions do. The functions of the same names the plug-in
// imports (host/win32_calls.cpp) call these and write the call log.
namespace host::win32 {
UINT GetPrivateProfileIntA(LPCSTR app, LPCSTR key, INT def, LPCSTR file);
DWORD GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR out, DWORD size, LPCSTR file);
BOOL WritePrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR value, LPCSTR file);
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type);
}  // namespace host::win32
