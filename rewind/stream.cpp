// The slot writer. SSE2 only (every processor the game runs on has it; both
// builds compile with -msse2); the intrinsics compile to the instructions
// themselves, so nothing is imported for them.
#include "rewind/stream.h"

#include <emmintrin.h>

#include "platform/crt.h"

namespace {

constexpr u32 line_bytes = 64;

// Streams `lines` whole lines to `to` (64-byte aligned) from `from` (any
// alignment; MOVDQU loads), or zero lines when from is null.
void stream_lines(u8 *to, const u8 *from, u32 lines) {
  __m128i *out = (__m128i *)to;
  if (!from) {
    const __m128i z = _mm_setzero_si128();
    for (; lines; --lines, out += 4) {
      _mm_stream_si128(out + 0, z);
      _mm_stream_si128(out + 1, z);
      _mm_stream_si128(out + 2, z);
      _mm_stream_si128(out + 3, z);
    }
    return;
  }
  const __m128i *in = (const __m128i *)from;
  for (; lines >= 2; lines -= 2, in += 8, out += 8) {
    __m128i a = _mm_loadu_si128(in + 0), b = _mm_loadu_si128(in + 1);
    __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
    __m128i e = _mm_loadu_si128(in + 4), f = _mm_loadu_si128(in + 5);
    __m128i g = _mm_loadu_si128(in + 6), h = _mm_loadu_si128(in + 7);
    _mm_stream_si128(out + 0, a);
    _mm_stream_si128(out + 1, b);
    _mm_stream_si128(out + 2, c);
    _mm_stream_si128(out + 3, d);
    _mm_stream_si128(out + 4, e);
    _mm_stream_si128(out + 5, f);
    _mm_stream_si128(out + 6, g);
    _mm_stream_si128(out + 7, h);
  }
  for (; lines; --lines, in += 4, out += 4) {
    __m128i a = _mm_loadu_si128(in + 0), b = _mm_loadu_si128(in + 1);
    __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
    _mm_stream_si128(out + 0, a);
    _mm_stream_si128(out + 1, b);
    _mm_stream_si128(out + 2, c);
    _mm_stream_si128(out + 3, d);
  }
}

// Copies (or zeroes) the few bytes of a part that fall inside a line, into
// the line buffer or, in plain mode, straight into the slot. Inline, as most
// parts are a few dozen bytes: a library call would cost more than the copy.
void gather(u8 *to, const u8 *from, u32 len) {
  if (len >= line_bytes) {
    if (from)
      memcpy(to, from, len);
    else
      memset(to, 0, len);
    return;
  }
  const __m128i z = _mm_setzero_si128();
  for (; len >= 16; len -= 16, to += 16) {
    _mm_storeu_si128((__m128i *)to, from ? _mm_loadu_si128((const __m128i *)from) : z);
    if (from) from += 16;
  }
  for (; len >= 4; len -= 4, to += 4) {
    u32 w = 0;
    if (from) memcpy(&w, from, 4), from += 4;
    memcpy(to, &w, 4);
  }
  for (; len; --len) *to++ = from ? *from++ : 0;
}

}  // namespace

void zp_slot_writer::begin(u8 *slot_bytes, u32 streaming) {
  at = slot_bytes;
  first = (u32)(uintptr_t)slot_bytes & (line_bytes - 1);
  stream = streaming;
}

void zp_slot_writer::put(const u8 *from, u32 len) {
  if (!stream) {
    gather(at, from, len);
    at += len;
    return;
  }
  u32 off = (u32)(uintptr_t)at & (line_bytes - 1);
  if (off) {
    u32 n = line_bytes - off < len ? line_bytes - off : len;
    gather(line + off, from, n);
    at += n;
    len -= n;
    if (from) from += n;
    if (off + n < line_bytes) return;
    u8 *base = at - line_bytes;
    if (first) {
      memcpy(base + first, line + first, line_bytes - first);  // shared with the slot before
      first = 0;
    } else {
      stream_lines(base, line, 1);
    }
  }
  u32 lines = len / line_bytes;
  stream_lines(at, from, lines);
  at += lines * line_bytes;
  len -= lines * line_bytes;
  if (len) {
    gather(line, from ? from + lines * line_bytes : nullptr, len);
    at += len;
  }
}

void zp_slot_writer::end() {
  if (!stream) return;
  u32 off = (u32)(uintptr_t)at & (line_bytes - 1);
  // The last line, shared with the slot after (or the first line as well,
  // for a slot that never left it).
  if (off) memcpy(at - off + first, line + first, off - first);
  _mm_sfence();
}
