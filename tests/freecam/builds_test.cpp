// The product (zephal.z9p, through the host's PE loader) and the ELF build
// (zephal.so) fly the same input through the game's patched camera call:
// their poses must agree bit for bit, or a camera flown on one would drift
// from the same flight on the other.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/game.h"
#include "host/loader.h"
#include "host/pe_module.h"
#include "host/win32.h"

namespace {

using host::word;
using apply_fn = u32 (*)(const z9_ctx *);

// 300 calls: the mouse swinging, movement and roll keys with both boosts, and
// from call 100 on both binds to a car that drives a curve.
std::vector<f32> fly(apply_fn apply) {
  EXPECT_TRUE(host::game_reset());
  host::loader_reset();
  host::release_all_keys();
  const z9_ctx ctx = host::loader_context();
  EXPECT_EQ(apply(&ctx), 1u);
  word(0x8290a0) = 2;
  word(0x689508) = 1024, word(0x68950c) = 768;
  word(0x661a60) = 1;
  const u32 car = host::make_car(0, 3, 0, 4), cam = host::make_camera(7, 0);
  word(cam + 4) = word(cam + 8) = car;
  std::vector<f32> poses;
  for (int t = 0; t < 300; ++t) {
    const int held[][2] = {{'W', t % 7 < 4}, {'D', t % 11 < 3}, {'R', t % 13 < 2}, {'Q', t % 17 < 5},
                           {0x10, t % 19 < 9}, {0x11, t % 23 < 4}, {'V', t == 100}, {'C', t == 101}};
    for (auto &k : held) host::set_key(k[0], k[1]);
    word(0x689510) = 512 + (t * 37) % 61 - 30, word(0x689514) = 384 + (t * 53) % 41 - 20;
    const f64 a = t * 0.02;
    const f32 basis[9] = {(f32)cos(a), 0, (f32)-sin(a), 0, 1, 0, (f32)sin(a), 0, (f32)cos(a)};
    for (int k = 0; k < 9; ++k) host::fword(car + 0x34 + 4 * k) = basis[k];
    host::fword(car + 0x08) = (f32)(3 + 40 * sin(a)), host::fword(car + 0x10) = (f32)(4 + 40 * cos(a));
    host::camera_case7(cam);
    for (u32 off = 0x14; off < 0x50; off += 4) poses.push_back(host::fword(cam + off));
  }
  return poses;
}

}  // namespace

TEST(Builds, ProductAndSharedObjectFlyTheSamePathBitForBit) {
  void *so = dlopen(ZEPHAL_SO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  host::pe_module dll;
  std::string error;
  ASSERT_TRUE(host::pe_load(ZEPHAL_Z9P_PATH, dll, error)) << error;
  const std::vector<f32> elf = fly((apply_fn)dlsym(so, "Z9_Apply"));
  const std::vector<f32> pe = fly((apply_fn)dll.symbol("Z9_Apply"));
  ASSERT_EQ(elf.size(), pe.size());
  EXPECT_EQ(0, memcmp(elf.data(), pe.data(), elf.size() * sizeof(f32)));
  // and the flight really moved and turned the camera
  EXPECT_NE(elf[elf.size() - 15], 0.0f);
  EXPECT_NE(elf[elf.size() - 1], 1.0f);
}
