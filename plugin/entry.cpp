// The module's face to the Z9 loader: the manifest, the definition table and
// the one entry. Nothing of the plug-in's own runs before Z9_Apply; after it
// returns, the game's patched code drives every handler.
#include "base/game_memory.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/version.h"
#include "patches/hooks.h"
#include "presets/presets.h"
#include "z9sdk/apply.h"

// In writable data, as the loader expects; the strings are fixed up with the
// module like every pointer of ours.
ZP_EXPORT z9_manifest z9_manifest_data;
z9_manifest z9_manifest_data = {
    1,
    "zephal.freecam",
    "Zephal: manual free camera (type 7) with car bind",
    ZEPHAL_VERSION,
    90,               // read by the loader only
    "e8 02 dd ff ff", // the unpatched call at 0x4415b9: this game build fits
    0x415b9,
    {0, 0, 0, 0, 0, 0, 0, 0},
};

ZP_EXPORT const u32 z9_def_count;
const u32 z9_def_count = zp_def_count;

ZP_EXPORT const z9_def *const z9_def_table;
const z9_def *const z9_def_table = defs;

ZP_EXPORT u32 Z9_Apply(const z9_ctx *ctx) {
  if (!ctx || ctx->version != 1 || ctx->image_base != game_link_base) return 0;
  game = game_link_base;
  g_pending_preset = -1;
  logger = ctx->log;
  // Settings first: a handler reached through a freshly written patch must
  // already see them.
  zp_load_settings();
  return z9sdk_apply_defs(ctx, defs, zp_def_count);
}
