// The seven places of the game's code that the plug-in has patched, in the
// order the walk writes them. Each call site is a 5-byte relative call of the
// game whose callee the stub later runs or skips; the snapshot entry replaces
// the 8-byte prologue of the replay tick routine, which the stub re-enacts.
#include "patches/hooks.h"

// A stub's address as the definition's u32 target. The compiler lays the table
// out as constant data with load-time fix-ups; no start-up code fills it.
#define STUB(f) ((u32)(uintptr_t)&f)

const z9_def defs[zp_def_count] = {
    // call 0x43f2c0 (camera routine): 0x4415be - 0x22fe
    {z9_kind_call_abs, 0x415b9, 5, "e8 02 dd ff ff", STUB(z9_zp_freecam_hook), nullptr, 0, "zephal.freecam.case7"},
    // call 0x43f2c0 from the second camera case: 0x441441 - 0x2181
    {z9_kind_call_abs, 0x4143c, 5, "e8 7f de ff ff", STUB(z9_zp_freecam_hook), nullptr, 0, "zephal.freecam.case30"},
    // call 0x511240 (replay interface) from three places
    {z9_kind_call_abs, 0x1112dc, 5, "e8 5f ff ff ff", STUB(z9_zp_arm_hook), nullptr, 0, "zephal.ui.arm1"},
    {z9_kind_call_abs, 0x112310, 5, "e8 2b ef ff ff", STUB(z9_zp_arm_hook), nullptr, 0, "zephal.ui.arm2"},
    {z9_kind_call_abs, 0x1124dd, 5, "e8 5e ed ff ff", STUB(z9_zp_arm_hook), nullptr, 0, "zephal.ui.arm3"},
    // push ebx/ecx/edx/esi/edi/ebp; mov ebp,esp: entry of the replay tick routine
    {z9_kind_jmp_abs, 0x11bbe0, 8, "53 51 52 56 57 55 89 e5", STUB(z9_zp_capture_hook), nullptr, 0, "zephal.snapshot"},
    // call 0x51a360, once per frame pass
    {z9_kind_call_abs, 0x111328, 5, "e8 33 90 00 00", STUB(z9_zp_frame_hook), nullptr, 0, "zephal.frame"},
};
