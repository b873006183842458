// Writing a snapshot slot past the cache. The ring is written once a tick and
// read only when the player rewinds, so a capture gains nothing from the
// cache and costs the game twice with ordinary stores: each destination line
// is first read from memory, and 147 KB of the game's own data are evicted
// for lines nobody reads soon. Non-temporal stores (SSE2 MOVNTDQ) send whole
// 64-byte lines to memory through the write-combining buffers instead.
#pragma once

#include "platform/types.h"

// Writes one slot front to back, part after part, in plain or streaming mode.
//
// Streaming: only whole, aligned 64-byte lines are streamed. The bytes of a
// part that starts or ends inside a line are gathered in `line` until the
// line is complete, so no line is written half with ordinary stores and half
// streamed. The first and last lines of a slot generally hold bytes of its
// neighbours too; those two are written with ordinary stores, over the
// slot's own bytes only. end() issues the SFENCE that orders the streamed
// lines before anything the game or a rewind does next.
//
// Plain: each part is copied at once with memcpy (or memset for zeros), as
// on the first lap of a ring, whose pages are fresh: the system zero-fills a
// page on its first touch, which brings it into the cache anyway.
struct zp_slot_writer {
  alignas(16) u8 line[64];  // the line under `at`: its bytes below `at` gathered so far
  u8 *at;                   // next byte of the slot
  u32 first;                // offset of the slot's first byte in its line until that line is written, then 0
  u32 stream;               // 1: streaming mode

  void begin(u8 *slot_bytes, u32 streaming);
  // Appends len bytes from `from`, or len zero bytes when from is null.
  void put(const u8 *from, u32 len);
  // Writes the gathered rest of the last line; in streaming mode, fences.
  void end();
};
