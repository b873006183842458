// The C runtime functions the plug-in calls: msvcrt.dll on Windows, libc on
// Linux. Nothing here allocates or needs start-up code.
#pragma once

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "platform/types.h"

// Bounded formatting with C99 semantics in both builds: the output is cut to
// size - 1 characters and always terminated. msvcrt's _vsnprintf leaves the
// buffer unterminated when the text does not fit, so the shim terminates it.
int zp_snprintf(char *buf, u32 size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
