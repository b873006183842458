// The game's words and object fields as the tests name them, written out here
// on their own so that a wrong address in the plug-in shows as a failing
// test. Use: word(at::car_count) = 2, word(cam + at::cam_target).
#pragma once

#include "platform/types.h"

namespace at {

// The replay.
constexpr u32 game_mode = 0x8290a0;       // replay_mode in replay playback
constexpr u32 replay_mode = 2, menu_mode = 1;
constexpr u32 paused = 0x8290ac;          // bit 0: the replay stands
constexpr u32 control = 0x8290bc;         // 5 with every pause or resume
constexpr u32 replay_camera = 0x8290b8;   // the replay camera shown, 0..8
constexpr u32 camera_request = 0x8290c4, camera_request_flag = 0x8290c0;
constexpr u32 tick = 0x853b5c, tick_alt = 0x853b34, half_tick = 0x5bf268;
constexpr u32 filed_word = 0x7c3c04;      // the first word a snapshot keeps

// Replay camera 0's hand-over.
constexpr u32 cam0_timer = 0x8290c8, cam0_request = 0x5c3aec, cam0_state = 0x81ac5c;  // request, state: bytes

// Cars and mark sections.
constexpr u32 car_count = 0x661a60, car_table = 0x661a88;  // 64 slots of car objects
constexpr u32 mark_index = 0x655b9c, mark_array = 0x867504, mark_record = 13844;

// The game's mouse rectangle and pointer.
constexpr u32 mouse_left = 0x689500, mouse_top = 0x689504, mouse_right = 0x689508, mouse_bottom = 0x68950c;
constexpr u32 mouse_x = 0x689510, mouse_y = 0x689514;

// The camera shown in view v: the word at view_camera_override + 4v, else at view_camera_base + 4v.
constexpr u32 view_camera_base = 0x661950, view_camera_override = 0x661958;
constexpr u32 camera_driven = 0x829060;   // the free camera writes 0 on every call it drives

// The track's folder: a string, and a table of names by track number.
constexpr u32 track_dir = 0x5bd2e4, track_number = 0x7c4ce4, track_names = 0x5ba21c;

// A camera object.
constexpr u32 cam_type = 0x00, cam_target = 0x04, cam_target2 = 0x08, cam_view = 0x0c;
constexpr u32 cam_pos = 0x14, cam_orient = 0x2c;                   // f32[3], f32[9]
constexpr u32 cam_cc = 0xcc, cam_d0 = 0xd0, cam_e4 = 0xe4;          // held at 0 while flown
constexpr u32 free_camera = 7;

// A car object.
constexpr u32 car_pos = 0x08, car_basis = 0x34, car_block = 2772;  // f32[3], f32[9], bytes filed

// Windows virtual keys the tests press.
constexpr int shift = 0x10, ctrl = 0x11, space = 0x20, comma = 0xbc, period = 0xbe;
constexpr int digit(int n) { return 0x30 + n; }

}  // namespace at
