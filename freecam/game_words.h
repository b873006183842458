// Game words only the free camera touches (linked addresses). What the game
// itself does with most of them is its own business; we need only the reads
// and writes listed beside them.
#pragma once

#include "platform/types.h"

// The game keeps its own mouse pointer inside a rectangle; the free camera
// reads the pointer's movement and puts it back in the middle every call.
constexpr u32 ga_mouse_left = 0x689500;
constexpr u32 ga_mouse_top = 0x689504;
constexpr u32 ga_mouse_right = 0x689508;
constexpr u32 ga_mouse_bottom = 0x68950c;
constexpr u32 ga_mouse_x = 0x689510;
constexpr u32 ga_mouse_y = 0x689514;

// Replay camera 0 cannot be asked for through the request pair: the game is
// handed it by restarting the hand-over's timer and raising its request byte,
// and its state byte says when the game is done.
constexpr u32 ga_cam0_timer = 0x8290c8;    // u32, the hand-over's timer; written 0 to start it
constexpr u32 ga_cam0_request = 0x5c3aec;  // u8, 1 while the hand-over runs
constexpr u32 ga_cam0_state = 0x81ac5c;    // u8, 0xFF once the game is done with it

// Written 0 on every call in which the free camera drives the camera.
constexpr u32 ga_cam_driven = 0x829060;

// The current camera object of view v (v = 0, 1; one word per view in each
// pair): the override word when it is not zero, else the view's base camera.
constexpr u32 ga_view_cam_base = 0x661950;
constexpr u32 ga_view_cam_override = 0x661958;
