// The records shared with the Z9 loader: the host context it passes to
// Z9_Apply, the patch definition record of the exported table, and the
// manifest. The loader reads these bytes directly, so every layout is pinned.
#pragma once

#include <stddef.h>

#include "platform/types.h"

// Both host functions use the platform's default C calling convention.
typedef i32 (*z9_write_fn)(u32 rva, const u8 *bytes, u32 len, const char *name);
typedef void (*z9_log_fn)(const char *format, ...);

struct z9_ctx {
  u32 version;     // must be 1
  u32 image_base;  // must be 0x400000
  u32 pool;        // loader-issued memory pool, 0 when none
  z9_write_fn write;
  z9_log_fn log;
};
static_assert(sizeof(z9_ctx) == 20);
static_assert(offsetof(z9_ctx, image_base) == 4 && offsetof(z9_ctx, pool) == 8);
static_assert(offsetof(z9_ctx, write) == 12 && offsetof(z9_ctx, log) == 16);

enum : u32 {
  z9_kind_call_abs = 1,
  z9_kind_jmp_abs = 2,
  z9_kind_raw = 3,
  z9_kind_skip = 4,
  z9_kind_call_pool = 5,
  z9_kind_jmp_pool = 6,
};

struct z9_def {
  u32 kind;
  u32 rva;
  u32 len;
  const char *expect;  // hex pattern, or null for no check
  u32 target;          // absolute (kinds 1, 2) or pool offset (kinds 5, 6)
  const u8 *bytes;     // kind 3 only
  u32 spare;
  const char *name;    // may be null: messages then print "?"
};
static_assert(sizeof(z9_def) == 32);
static_assert(offsetof(z9_def, expect) == 12 && offsetof(z9_def, target) == 16);
static_assert(offsetof(z9_def, bytes) == 20 && offsetof(z9_def, name) == 28);

struct z9_manifest {
  u32 abi;
  const char *id;
  const char *description;
  const char *version;
  u32 loader_param;
  const char *check_hex;
  u32 check_rva;
  u32 spare[8];
};
static_assert(sizeof(z9_manifest) == 60);
static_assert(offsetof(z9_manifest, loader_param) == 16 && offsetof(z9_manifest, check_rva) == 24);
