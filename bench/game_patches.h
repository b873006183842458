// The plug-in's seven patches switched off and on in a running game, so that
// a benchmark can alternate the patched and the unpatched game in short
// stretches of one run instead of in separate runs. Off writes the game's
// own bytes back through the loader's write; on applies the definitions
// again, as Z9_Apply does.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/game_image.h"
#include "host/loader.h"
#include "patches/hooks.h"
#include "z9sdk/apply.h"

namespace bench {

struct game_patches {
  std::vector<std::vector<u8>> original;

  // Keeps the game's bytes at every patched place; call before patching.
  void keep() {
    original.clear();
    for (const z9_def &d : defs) original.push_back(host::bytes_at(host::image_base + d.rva, d.len));
  }
  void off() {
    host::loader_reset();  // the loader's records would only grow
    for (u32 i = 0; i < zp_def_count; ++i) host::loader_write(defs[i].rva, original[i].data(), defs[i].len, defs[i].name);
  }
  void on() {
    host::loader_reset();
    z9_ctx ctx = host::loader_context();
    if (!z9sdk_apply_defs(&ctx, defs, zp_def_count)) {
      fprintf(stderr, "bench: the patches did not apply:\n%s", host::loader_log_text().c_str());
      exit(1);
    }
  }
};

}  // namespace bench
