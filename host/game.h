// The stand-in game: its image mapped where the real one is linked, at
// 0x400000, reaching past the last game word the plug-in uses (0x8b1bcf).
// The code part holds the game's original bytes at the patched places and
// small real routines behind them; the data part holds the game's words, and
// a heap area where the stand-in keeps its cars and camera objects.
#pragma once

#include "platform/types.h"

namespace host {

constexpr u32 image_base = 0x400000;
constexpr u32 code_end = 0x5b0000;    // [image_base, code_end): code, read and execute only
constexpr u32 image_end = 0x8b2000;   // [code_end, image_end): data, read and write
constexpr u32 heap_base = 0x690000;   // game objects live in [heap_base, heap_end)
constexpr u32 heap_end = 0x7c0000;

constexpr u32 car_object_size = 0xc00;  // more than the 2772 bytes a snapshot keeps
constexpr u32 camera_object_size = 0x100;

// Maps the image on first use; afterwards puts it back to a freshly loaded
// game: data zeroed, the heap empty, the game's code as shipped (any patch
// undone). Returns false, with a message on stderr, when 0x400000 is taken.
bool game_reset();

// Zeroed memory from the game's heap (aborts when the heap is exhausted).
u32 game_alloc(u32 size);

// Game objects in the heap. A car gets the identity basis at the given
// position and is entered in car table slot `slot` (the car count is left to
// the caller); a camera object gets its type and view index.
u32 make_car(u32 slot, f32 x, f32 y, f32 z);
u32 make_camera(u32 type, u32 view);

// Typed access for the host's own code and tests; addresses are absolute.
inline u32 &word(u32 addr) { return *(u32 *)(uintptr_t)addr; }
inline u8 &byte(u32 addr) { return *(u8 *)(uintptr_t)addr; }
inline f32 &fword(u32 addr) { return *(f32 *)(uintptr_t)addr; }

}  // namespace host
