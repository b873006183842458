#include "base/settings.h"
#include "freecam/record.h"
#include "presets/presets.h"
#include "rewind/keys.h"
#include "rewind/ring.h"
#include "tests/kit/kit.h"

namespace kit {

void fresh_module() {
  zp_reset_settings();
  zp[0] = zp[1] = freecam_record{};
  zp_ring_reset();
  zp_keys_reset();
  g_pending_preset = -1;
  for (u32 &f : g_prev_num) f = 0;
}

bool oldest_by_headers(u32 *oldest) {
  bool found = false;
  for (u32 k = 0; k < zp_ring_count; ++k) {
    const u8 *slot = zp_ring + k * zp_slot_size;
    if (zp_slot_word(slot, slot_off_cars) != zp_car_count) continue;
    const u32 tick = zp_slot_word(slot, slot_off_tick);
    if (!found || tick < *oldest) *oldest = tick;
    found = true;
  }
  return found;
}

}  // namespace kit
