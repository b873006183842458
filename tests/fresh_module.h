// The plug-in's own state put back to what a freshly loaded module starts
// with. The tests and the soak link the plug-in's sources into one program
// and so cannot unload it between games; this is what an unload and a new
// load would do to its globals.
#pragma once

#include "base/settings.h"
#include "freecam/record.h"
#include "presets/presets.h"
#include "rewind/keys.h"
#include "rewind/ring.h"

inline void fresh_module() {
  zp_reset_settings();
  zp[0] = zp[1] = freecam_record{};
  zp_ring_reset();
  zp_keys_reset();
  g_pending_preset = -1;
  for (u32 &f : g_prev_num) f = 0;
}
