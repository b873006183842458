#include "z9sdk/apply.h"

#include "platform/crt.h"

i32 z9_hexv_(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

namespace {

// The next token of a pattern (a hex digit or '?'), skipping everything else;
// 0 at the terminating NUL, which is never passed.
char next_token(const char *&p) {
  for (; *p; ++p)
    if (*p == '?' || z9_hexv_(*p) >= 0) return *p++;
  return 0;
}

const char *shown(const char *name) { return name ? name : "?"; }

}  // namespace

i32 z9sdk_hex_match(const u8 *mem, u32 len, const char *pattern) {
  const char *p = pattern;
  for (u32 i = 0; i < len; ++i) {
    char hi = next_token(p);
    if (!hi) return 0;
    char lo = next_token(p);
    if (!lo) continue;  // half a byte at the end counts as a wildcard byte
    if (hi == '?' || lo == '?') continue;
    if (mem[i] != (u8)(z9_hexv_(hi) * 16 + z9_hexv_(lo))) return 0;
  }
  return 1;
}

u32 z9sdk_apply_defs(const z9_ctx *ctx, const z9_def *defs, u32 count) {
  if (!ctx || ctx->version != 1) return 0;
  for (u32 i = 0; i < count; ++i) {
    const z9_def &d = defs[i];
    const u8 *site = (const u8 *)(uintptr_t)(ctx->image_base + d.rva);

    if (d.kind == z9_kind_skip) continue;

    // Raw bytes are written as given; every other kind is a branch, and any
    // unknown kind a jump. A branch site too short for its 5 bytes, or longer
    // than the buffer, fails silently before the pattern is looked at.
    const bool raw = d.kind == z9_kind_raw;
    u8 buf[64];
    if (!raw && (d.len < 5 || d.len > sizeof buf)) return 0;
    if (d.expect && !z9sdk_hex_match(site, d.len, d.expect)) {
      ctx->log("def %s: expected mismatch @ RVA 0x%X", shown(d.name), d.rva);
      return 0;
    }
    if (raw) {
      if (!ctx->write(d.rva, d.bytes, d.len, d.name)) return 0;
      continue;
    }

    u32 next = ctx->image_base + d.rva + 5;  // the branch fills the site's first 5 bytes
    u32 target = d.target;
    bool pool_kind = d.kind == z9_kind_call_pool || d.kind == z9_kind_jmp_pool;
    if (pool_kind) {
      if (ctx->pool == 0) {
        ctx->log("def %s: pool target, но пул не выдан", shown(d.name));
        return 0;
      }
      target = ctx->pool + d.target;
    }
    // rel32 reaches +-2 GiB from the next instruction, without wrapping
    // around the 4 GiB address space.
    i64 disp = (i64)target - (i64)next;
    if (disp < INT32_MIN || disp > INT32_MAX) {
      ctx->log("def %s: rel32 недостижим", shown(d.name));
      return 0;
    }
    bool call = d.kind == z9_kind_call_abs || d.kind == z9_kind_call_pool;
    buf[0] = call ? 0xE8 : 0xE9;  // call rel32 / jmp rel32
    u32 rel = (u32)(i32)disp;
    memcpy(buf + 1, &rel, 4);
    memset(buf + 5, 0x90, d.len - 5);  // nop up to the end of the site
    if (!ctx->write(d.rva, buf, d.len, d.name)) return 0;
  }
  return 1;
}
