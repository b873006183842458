// Placeholder until the preset subsystem lands: no preset is ever pending.
#include "presets/presets.h"

constinit i32 g_pending_preset = -1;

void zp_digit_pass(bool) {}
void zp_pending_preset_step(u32) {}
void zp_preset_apply(int) {}
