// Fixed-width names used throughout the plug-in. The plug-in is a 32-bit x86
// module in both builds, so pointers and u32 have the same width; records that
// the game or the loader reads assert their layout where they are declared.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t i8;
typedef int16_t i16;
typedef int32_t i32;
typedef int64_t i64;
typedef float f32;
typedef double f64;

static_assert(sizeof(void *) == 4, "the plug-in is a 32-bit x86 module");
static_assert(sizeof(f32) == 4 && sizeof(f64) == 8, "IEEE-754 single and double");

// Visibility of the four loader-facing exports. Everything else of ours stays
// inside the module: hidden on ELF (so calls from the hook stubs bind locally
// and need no GOT in EBX), not exported on PE.
#if defined(_WIN32)
#define ZP_EXPORT extern "C" __declspec(dllexport)
#else
#define ZP_EXPORT extern "C" __attribute__((visibility("default")))
#endif
