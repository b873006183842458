// The hook stubs, their continuation words and the patch list.
#pragma once

#include "platform/types.h"
#include "z9sdk/z9.h"

extern "C" {
// Stubs: entered from patched game code, never called from C++.
void z9_zp_freecam_hook();
void z9_zp_arm_hook();
void z9_zp_capture_hook();
void z9_zp_frame_hook();

// Handlers the stubs call, in the default C calling convention.
i32 z9_zp_freecam_tick(u32 cam);
i32 z9_zp_ui_suppressed();
void z9_zp_capture();
void z9_zp_frame();

extern u32 zp_handled;        // last result of the freecam or arm handler
extern u32 zp_freecam_stock;  // 0x43f2c0
extern u32 zp_arm_stock;      // 0x511240
extern u32 zp_aux_stock;      // 0x51a360
extern u32 zp_tick_resume;    // 0x51bbe8
}

// The seven patched places, in the order the walk writes them.
constexpr u32 zp_def_count = 7;
extern const z9_def defs[zp_def_count];
