// The game's words and object fields as the tests name them, written out here
// on their own so that a wrong address in the plug-in shows as a failing
// test. Use: word(at::ga_car_count) = 2, word(cam + at::cam_off_target).
#pragma once

#include "platform/types.h"

namespace at {

// The replay.
constexpr u32 ga_mode = 0x8290a0;       // mode_replay in replay playback
constexpr u32 mode_replay = 2, mode_menu = 1;
constexpr u32 ga_pause = 0x8290ac;          // bit 0: the replay stands
constexpr u32 ga_control = 0x8290bc;         // 5 with every pause or resume
constexpr u32 ga_cam_current = 0x8290b8;   // the replay camera shown, 0..8
constexpr u32 ga_cam_request = 0x8290c4, ga_cam_request_flag = 0x8290c0;
constexpr u32 ga_tick = 0x853b5c, ga_tick_alt = 0x853b34, ga_half_tick = 0x5bf268;
constexpr u32 filed_word = 0x7c3c04;      // the first word a snapshot keeps

// Replay camera 0's hand-over.
constexpr u32 ga_cam0_timer = 0x8290c8, ga_cam0_request = 0x5c3aec, ga_cam0_state = 0x81ac5c;  // request, state: bytes

// Cars and mark sections.
constexpr u32 ga_car_count = 0x661a60, ga_car_table = 0x661a88;  // 64 slots of car objects
constexpr u32 ga_mark_index = 0x655b9c, ga_mark_array = 0x867504, mark_record_size = 13844;

// The game's mouse rectangle and pointer.
constexpr u32 ga_mouse_left = 0x689500, ga_mouse_top = 0x689504, ga_mouse_right = 0x689508, ga_mouse_bottom = 0x68950c;
constexpr u32 ga_mouse_x = 0x689510, ga_mouse_y = 0x689514;

// The camera shown in view v: the word at ga_view_cam_override + 4v, else at ga_view_cam_base + 4v.
constexpr u32 ga_view_cam_base = 0x661950, ga_view_cam_override = 0x661958;
constexpr u32 ga_cam_driven = 0x829060;   // the free camera writes 0 on every call it drives

// The track's folder: a string, and a table of names by track number.
constexpr u32 ga_track_dir = 0x5bd2e4, ga_track_number = 0x7c4ce4, ga_track_names = 0x5ba21c;

// A camera object.
constexpr u32 cam_off_type = 0x00, cam_off_target = 0x04, cam_off_target2 = 0x08, cam_off_view = 0x0c;
constexpr u32 cam_off_pos = 0x14, cam_off_orient = 0x2c;                   // f32[3], f32[9]
constexpr u32 cam_off_cc = 0xcc, cam_off_d0 = 0xd0, cam_off_e4 = 0xe4;          // held at 0 while flown
constexpr u32 cam_type_free = 7;

// A car object.
constexpr u32 car_off_pos = 0x08, car_off_basis = 0x34, car_block_size = 2772;  // f32[3], f32[9], bytes filed

// Windows virtual keys the tests press.
constexpr int shift = 0x10, ctrl = 0x11, space = 0x20, comma = 0xbc, period = 0xbe;
constexpr int digit(int n) { return 0x30 + n; }

}  // namespace at
