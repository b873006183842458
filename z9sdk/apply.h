// Patch definitions: checking a site against its hex pattern and having the
// loader write the branch or the raw bytes.
#pragma once

#include "platform/types.h"
#include "z9sdk/z9.h"

extern "C" {
// 0..15 for a hexadecimal digit of either case, -1 for anything else.
i32 z9_hexv_(char c);
// 1 when the len bytes at mem match the pattern (pairs of digits or '?').
i32 z9sdk_hex_match(const u8 *mem, u32 len, const char *pattern);
// Verifies and writes each definition in order; 0 at the first failure.
u32 z9sdk_apply_defs(const z9_ctx *ctx, const z9_def *defs, u32 count);
}
