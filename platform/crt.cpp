#include "platform/crt.h"

#if defined(_WIN32)
// msvcrt's own formatter, not mingw's C99 one (which drags in locale and heap).
extern "C" __declspec(dllimport) int __cdecl _vsnprintf(char *, size_t, const char *, va_list);
#define zp_vsnprintf _vsnprintf
#else
#include <stdio.h>
#define zp_vsnprintf vsnprintf
#endif

int zp_snprintf(char *buf, u32 size, const char *format, ...) {
  if (size == 0) return 0;
  va_list args;
  va_start(args, format);
  int n = zp_vsnprintf(buf, size, format, args);
  va_end(args);
  buf[size - 1] = 0;  // _vsnprintf returns -1 and leaves no NUL on overflow
  return n;
}
