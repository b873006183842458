// The Win32 functions as a plug-in imports them: a shared object binds them
// by name from the process, a DLL through the host's import table
// (host/module_imports.cpp). Each does what host::win32 does and, while the
// call log is on, writes its line (host/call_log.h).
#include <string>

#include "host/call_log.h"
#include "host/win32.h"

using namespace host;

namespace {

std::string list(std::initializer_list<std::string> args) {
  std::string s;
  for (const std::string &a : args) s += (s.empty() ? "" : ", ") + a;
  return s;
}

}  // namespace

extern "C" {

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR out, DWORD size) {
  const DWORD r = win32::GetModuleFileNameA(module, out, size);
  if (call_log_on())
    call_log_line("GetModuleFileNameA", list({log_pointer(module), log_pointer(out), hex(size)}),
                  hex(r) + (out && size ? " " + log_string(out) : ""));
  return r;
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR app, LPCSTR key, INT def, LPCSTR file) {
  const UINT r = win32::GetPrivateProfileIntA(app, key, def, file);
  if (call_log_on())
    call_log_line("GetPrivateProfileIntA", list({log_string(app), log_string(key), hex((u32)def), log_string(file)}),
                  hex(r));
  return r;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR out, DWORD size, LPCSTR file) {
  const DWORD r = win32::GetPrivateProfileStringA(app, key, def, out, size, file);
  if (call_log_on()) {
    // A list of names ends in two NULs: the whole of what was written shows.
    const u32 written = out && size ? (r + 1 < size ? r + 1 : size) : 0;
    call_log_line("GetPrivateProfileStringA",
                  list({log_string(app), log_string(key), log_string(def), log_pointer(out), hex(size),
                        log_string(file)}),
                  hex(r) + (written ? " " + log_bytes(out, written - 1) : ""));
  }
  return r;
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR value, LPCSTR file) {
  const BOOL r = win32::WritePrivateProfileStringA(app, key, value, file);
  if (call_log_on())
    call_log_line("WritePrivateProfileStringA",
                  list({log_string(app), log_string(key), log_string(value), log_string(file)}), hex((u32)r));
  return r;
}

DWORD WINAPI GetTickCount(void) {
  const DWORD r = win32::GetTickCount();
  if (call_log_on()) call_log_line("GetTickCount", "", hex(r));
  return r;
}

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  LPVOID r = win32::VirtualAlloc(address, size, type, protect);
  if (call_log_on()) {
    if (r) call_log_block(r, (u32)size);
    call_log_line("VirtualAlloc", list({log_pointer(address), hex(size), hex(type), hex(protect)}),
                  log_pointer(r));
  }
  return r;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  const std::string named = call_log_on() ? log_pointer(address) : "";
  const BOOL r = win32::VirtualFree(address, size, type);
  if (call_log_on()) {
    call_log_line("VirtualFree", list({named, hex(size), hex(type)}), hex((u32)r));
    if (r) call_log_block_gone(address);
  }
  return r;
}

SHORT WINAPI GetAsyncKeyState(int vk) {
  const SHORT r = win32::GetAsyncKeyState(vk);
  if (call_log_on()) call_log_line("GetAsyncKeyState", hex((u32)vk), hex((u16)r));
  return r;
}

}  // extern "C"
