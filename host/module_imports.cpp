// What the host offers a DLL to import: the Win32 functions (host/win32_calls.cpp)
// and the C runtime functions of msvcrt.dll, each of the latter with msvcrt's
// behaviour and a line in the call log (host/call_log.h) while it is on.
#include "host/module_imports.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/call_log.h"
#include "platform/win32.h"

namespace host {
namespace {

// msvcrt's _vsnprintf: on overflow it fills the buffer, leaves it without a
// terminating NUL and returns -1. The plug-in must cope with exactly that.
int vsnprintf_as_msvcrt(char *buf, size_t count, const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int len = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (len < 0) return -1;
  std::string text((size_t)len + 1, '\0');
  vsnprintf(text.data(), text.size(), format, args);
  if ((size_t)len < count) {
    memcpy(buf, text.c_str(), (size_t)len + 1);
    return len;
  }
  memcpy(buf, text.data(), count);
  return len == (int)count ? len : -1;
}

int msvcrt_vsnprintf(char *buf, size_t count, const char *format, va_list args) {
  const int r = vsnprintf_as_msvcrt(buf, count, format, args);
  if (call_log_on())
    call_log_line("_vsnprintf", log_pointer(buf) + ", " + hex(count) + ", " + log_string(format) + ", ...",
                  hex((u32)r) + " " + log_bytes(buf, r >= 0 ? (size_t)r : count));
  return r;
}

void *msvcrt_memcpy(void *to, const void *from, size_t n) {
  if (call_log_on())
    call_log_line("memcpy", log_pointer(to) + ", " + log_pointer(from) + ", " + hex(n), log_pointer(to));
  return memcpy(to, from, n);
}

void *msvcrt_memmove(void *to, const void *from, size_t n) {
  if (call_log_on())
    call_log_line("memmove", log_pointer(to) + ", " + log_pointer(from) + ", " + hex(n), log_pointer(to));
  return memmove(to, from, n);
}

void *msvcrt_memset(void *to, int c, size_t n) {
  if (call_log_on()) call_log_line("memset", log_pointer(to) + ", " + hex((u32)c) + ", " + hex(n), log_pointer(to));
  return memset(to, c, n);
}

int msvcrt_memcmp(const void *a, const void *b, size_t n) {
  const int r = memcmp(a, b, n);
  if (call_log_on())
    call_log_line("memcmp", log_pointer(a) + ", " + log_pointer(b) + ", " + hex(n), hex((u32)r));
  return r;
}

size_t msvcrt_strlen(const char *s) {
  const size_t r = strlen(s);
  if (call_log_on()) call_log_line("strlen", log_string(s), hex(r));
  return r;
}

char *msvcrt_strcpy(char *to, const char *from) {
  if (call_log_on()) call_log_line("strcpy", log_pointer(to) + ", " + log_string(from), log_pointer(to));
  return strcpy(to, from);
}

// Its result as a place in the string it searched.
const char *msvcrt_strrchr(const char *s, int c) {
  const char *r = strrchr(s, c);
  if (call_log_on())
    call_log_line("strrchr", log_string(s) + ", " + hex((u32)c), r ? "s+" + hex((u32)(r - s)) : "0");
  return r;
}

// Its result with how much of the text it read.
unsigned long msvcrt_strtoul(const char *s, char **end, int base) {
  char *stop = nullptr;
  const unsigned long r = strtoul(s, &stop, base);
  if (end) *end = stop;
  if (call_log_on())
    call_log_line("strtoul", log_string(s) + ", " + log_pointer(end) + ", " + hex((u32)base),
                  hex(r) + " s+" + hex((u32)(stop - s)));
  return r;
}

struct provided {
  const char *dll;
  const char *name;
  void *address;
};

// What the host offers a DLL: the Win32 functions of host/win32*.cpp and the
// C runtime functions whose i386 cdecl behaviour matches msvcrt's.
const provided host_exports[] = {
    {"kernel32.dll", "GetModuleFileNameA", (void *)&GetModuleFileNameA},
    {"kernel32.dll", "GetPrivateProfileIntA", (void *)&GetPrivateProfileIntA},
    {"kernel32.dll", "GetPrivateProfileStringA", (void *)&GetPrivateProfileStringA},
    {"kernel32.dll", "WritePrivateProfileStringA", (void *)&WritePrivateProfileStringA},
    {"kernel32.dll", "GetTickCount", (void *)&GetTickCount},
    {"kernel32.dll", "VirtualAlloc", (void *)&VirtualAlloc},
    {"kernel32.dll", "VirtualFree", (void *)&VirtualFree},
    {"user32.dll", "GetAsyncKeyState", (void *)&GetAsyncKeyState},
    {"msvcrt.dll", "_vsnprintf", (void *)&msvcrt_vsnprintf},
    {"msvcrt.dll", "memcpy", (void *)&msvcrt_memcpy},
    {"msvcrt.dll", "memmove", (void *)&msvcrt_memmove},
    {"msvcrt.dll", "memset", (void *)&msvcrt_memset},
    {"msvcrt.dll", "memcmp", (void *)&msvcrt_memcmp},
    {"msvcrt.dll", "strlen", (void *)&msvcrt_strlen},
    {"msvcrt.dll", "strcpy", (void *)&msvcrt_strcpy},
    {"msvcrt.dll", "strrchr", (void *)&msvcrt_strrchr},
    {"msvcrt.dll", "strtoul", (void *)&msvcrt_strtoul},
};

}  // namespace

void *host_function(const std::string &dll, const std::string &name) {
  for (const provided &p : host_exports)
    if (strcasecmp(dll.c_str(), p.dll) == 0 && name == p.name) return p.address;
  return nullptr;
}


}  // namespace host
