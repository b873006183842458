// The plug-in's view of the game's memory. The game image is linked at
// 0x400000; every game word is named by its linked address and reached through
// `game`, the running base, which the entry sets once it has checked the host.
// The game's own objects (cameras, cars, mark sections) are reached through
// the pointers the game keeps, as they stand.
#pragma once

#include "platform/types.h"

extern u32 game;  // 0 until Z9_Apply accepts a game image at 0x400000

constexpr u32 game_link_base = 0x400000;

// Aliasing-safe views of foreign memory: the compiler must not assume that
// a game word read through one type is unrelated to a write through another.
typedef u32 __attribute__((may_alias)) u32_g;
typedef f32 __attribute__((may_alias)) f32_g;

inline u8 *game_ptr(u32 addr) { return (u8 *)(uintptr_t)(game + addr - game_link_base); }
inline u32 rd32(u32 addr) { return *(volatile u32_g *)game_ptr(addr); }
inline void wr32(u32 addr, u32 v) { *(volatile u32_g *)game_ptr(addr) = v; }
inline u8 rd8(u32 addr) { return *(volatile u8 *)game_ptr(addr); }
inline void wr8(u32 addr, u8 v) { *(volatile u8 *)game_ptr(addr) = v; }

// Fields of the game's objects, reached through object pointers.
inline u8 *obj_ptr(u32 obj, u32 off) { return (u8 *)(uintptr_t)(obj + off); }
inline u32 obj_rd32(u32 obj, u32 off) { return *(u32_g *)obj_ptr(obj, off); }
inline void obj_wr32(u32 obj, u32 off, u32 v) { *(u32_g *)obj_ptr(obj, off) = v; }
inline f32 *obj_f32(u32 obj, u32 off) { return (f32 *)obj_ptr(obj, off); }

// Game words shared by several subsystems (linked addresses).
constexpr u32 ga_mode = 0x8290a0;          // 2 = replay playback
constexpr u32 ga_pause = 0x8290ac;         // 1 = replay paused
constexpr u32 ga_control = 0x8290bc;       // replay control word, 5 with every pause write
constexpr u32 ga_cam_current = 0x8290b8;   // current replay camera number
constexpr u32 ga_cam_request_flag = 0x8290c0;
constexpr u32 ga_cam_request = 0x8290c4;   // requested replay camera number
constexpr u32 ga_tick = 0x853b5c;          // replay tick counter
constexpr u32 ga_car_count = 0x661a60;     // signed
constexpr u32 ga_car_table = 0x661a88;     // 64 car object pointers, 0 = empty slot
constexpr u32 car_table_entries = 64;

constexpr u32 mode_replay = 2;
constexpr u32 cam_type_free = 7;

inline u32 game_mode() { return rd32(ga_mode); }
inline i32 game_car_count() { return (i32)rd32(ga_car_count); }
inline u32 car_entry(u32 i) { return rd32(ga_car_table + 4 * i); }

// Pause (1) or run (0) the replay. The game acts on the pause flag only
// with control word 5 written after it.
inline void set_replay_paused(u32 paused) {
  wr32(ga_pause, paused);
  wr32(ga_control, 5);
}

// Ask the game to show replay camera n: the number first, then the flag the
// game polls, so it never sees the flag with a stale number.
inline void request_replay_camera(u32 n) {
  wr32(ga_cam_request, n);
  wr32(ga_cam_request_flag, 1);
}

// Game camera object.
constexpr u32 cam_off_type = 0x00;
constexpr u32 cam_off_target = 0x04;   // target car, written together with its copy
constexpr u32 cam_off_target2 = 0x08;
constexpr u32 cam_off_view = 0x0c;     // 1 = view 1, anything else view 0
constexpr u32 cam_off_pos = 0x14;      // f32 x, y, z
constexpr u32 cam_off_orient = 0x2c;   // f32[9], rows right, up, forward
constexpr u32 cam_off_cc = 0xcc;       // three words the free camera holds at 0
constexpr u32 cam_off_d0 = 0xd0;
constexpr u32 cam_off_e4 = 0xe4;

inline void cam_set_target(u32 cam, u32 car) {
  obj_wr32(cam, cam_off_target, car);
  obj_wr32(cam, cam_off_target2, car);
}

// Car object.
constexpr u32 car_off_pos = 0x08;      // f32 x, y, z
constexpr u32 car_off_basis = 0x34;    // f32[9], rows right, up, forward
constexpr u32 car_block_size = 2772;   // what a snapshot keeps of each car
