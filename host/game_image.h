// The stand-in game: its image mapped where the real one is linked, at
// 0x400000, reaching past the last game word the plug-in uses (0x8b1bcf).
// The code part holds the game's original bytes at the patched places and
// small real routines behind them; the data part holds the game's words, and
// a heap area where the stand-in keeps its cars and camera objects.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/cpu.h"
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
// position and is entered in car table entry `entry` (the car count is left to
// the caller); a camera object gets its type and view index.
u32 make_car(u32 entry, f32 x, f32 y, f32 z);
u32 make_camera(u32 type, u32 view);

// Typed access for the host's own code and tests; addresses are absolute.
inline u32 &word(u32 addr) { return *(u32 *)(uintptr_t)addr; }
inline u8 &byte(u32 addr) { return *(u8 *)(uintptr_t)addr; }
inline f32 &fword(u32 addr) { return *(f32 *)(uintptr_t)addr; }
std::vector<u8> bytes_at(u32 addr, u32 n);
// The protection of the page holding addr as the process map shows it
// ("r-x", "rw-", ...), or "unmapped".
std::string protection(u32 addr);

// ---------------------------------------------------------------------------
// The game's code. game_reset() lays real x86 code into the code part and
// seals it read and execute, so that only the loader's write can patch it; a
// later reset lays it again, which undoes every patch.
//
// The places the plug-in patches hold the game's original instructions:
//   0x4415b9  e8 02 dd ff ff            call 0x43f2c0   camera case 7
//   0x44143c  e8 7f de ff ff            call 0x43f2c0   camera case 30
//   0x5112dc  e8 5f ff ff ff            call 0x511240   replay interface 1
//   0x512310  e8 2b ef ff ff            call 0x511240   replay interface 2
//   0x5124dd  e8 5e ed ff ff            call 0x511240   replay interface 3
//   0x511328  e8 33 90 00 00            call 0x51a360   frame pass
//   0x51bbe0  53 51 52 56 57 55 89 e5   prologue of the replay tick routine
// Each call site is directly followed by a RET, so the site itself can be
// CALLed (by the CPU harness) as "do this one call of the game and return".

constexpr u32 site_case7 = 0x4415b9;    // EAX: the camera object
constexpr u32 site_case30 = 0x44143c;   // EAX: the camera object
constexpr u32 site_arm1 = 0x5112dc;
constexpr u32 site_arm2 = 0x512310;
constexpr u32 site_arm3 = 0x5124dd;
constexpr u32 site_frame = 0x511328;

// The game's routines behind those sites.
constexpr u32 freecam_routine = 0x43f2c0;     // updates the camera object in EAX
constexpr u32 arm_routine = 0x511240;  // the replay interface
constexpr u32 aux_routine = 0x51a360;      // once per frame pass; returns a value in EAX
constexpr u32 tick_routine = 0x51bbe0;       // once per replay tick
constexpr u32 tick_resume = 0x51bbe8;          // just past its 8-byte prologue

// Every routine records how it was entered (below), calls its service, and
// returns with every register and the flags as it found them except EAX:
// the camera, replay-interface and tick routines leave their call count in
// EAX, the frame routine its service's result (its call count when no frame
// service is set). The tick routine's epilogue pops EBP, EDI, ESI, EDX, ECX,
// EBX and returns.

// Entry points into the game's own code, for the simulator and tests: each
// runs the game's path through one patched place, on the processor.
void camera_case7(u32 cam);   // reaches the call at 0x4415b9 with EAX = cam
void camera_case30(u32 cam);  // reaches the call at 0x44143c with EAX = cam
void arm_call(int n);    // n = 1, 2, 3: reaches the call at 0x5112dc, 0x512310, 0x5124dd
void frame_pass();            // reaches the call at 0x511328
void replay_ticks(u32 n);     // calls 0x51bbe0 n times, one replay tick each

// What the game's routines do besides recording their entry: the host plugs
// in the game's behaviour here (the simulator drives cars, moves the chase
// camera, advances the replay). Services run in ordinary C++ on a realigned
// stack with DF clear; an empty one does nothing. game_reset() empties all.
struct game_services {
  std::function<void(u32 cam)> freecam;  // 0x43f2c0, with the camera object
  std::function<void()> arm;      // 0x511240
  std::function<u32()> aux;           // 0x51a360; the result becomes the routine's EAX
  std::function<void()> tick;           // 0x51bbe0, after its prologue
};
game_services &services();

// Where the routines keep their observations: the host's own page at
// 0x5b0000..0x5b0fff, just past the code part, which no game word of the
// plug-in's uses and no snapshot copies. 0x5b0000..0x5b000f holds the four
// service words the routines call through (call dword ptr [addr]).
constexpr u32 host_page = 0x5b0000;

// The state a routine saw at its first instruction (for the tick routine:
// at 0x51bbe8, with its prologue done). The middle eight words are in PUSHAD
// order; stack[0] is [ESP] at entry, the return address (for the tick body,
// stack[0..5] are the saved EBP, EDI, ESI, EDX, ECX, EBX and stack[6] the
// return address).
struct routine_entry {
  u32 calls;       // entries since the last reset
  u32 esp;         // ESP at entry
  u32 edi, esi, ebp, esp_pushad, ebx, edx, ecx, eax;  // esp_pushad = esp - 4
  u32 eflags;
  u32 stack[8];
};
static_assert(sizeof(routine_entry) == 76);

enum class routine { freecam, arm, aux, tick };
routine_entry &entry_of(routine r);
// The floating-point state at the routine's last entry (FXSAVE).
const fx_image &fx_of(routine r);

}  // namespace host
