// Both builds of the plug-in loaded for real and flown through the same
// camera calls: the shared object by dlopen, the DLL by the host's PE loader.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "host/game_image.h"
#include "host/loader.h"
#include "host/win32.h"
#include "host/pe_module.h"
#include "tests/game_words.h"
#include "z9sdk/z9.h"

namespace {

using host::word;
using V3 = std::array<double, 3>;
using M3 = std::array<double, 9>;

M3 yaw(double a) { return {cos(a), 0, -sin(a), 0, 1, 0, sin(a), 0, cos(a)}; }
template <size_t N> void put(u32 addr, const std::array<double, N> &v) {
  for (size_t k = 0; k < N; ++k) host::fword(addr + 4 * k) = (f32)v[k];
}

using apply_fn = u32 (*)(const z9_ctx *);

// 300 calls of the game's patched camera call: the mouse swinging, keys with
// both boosts, from call 100 on both binds to a car driving a curve.
std::vector<u32> fly(apply_fn apply) {
  EXPECT_TRUE(host::game_reset());
  host::loader_reset();
  host::release_all_keys();
  const z9_ctx ctx = host::loader_context();
  EXPECT_EQ(apply(&ctx), 1u);
  word(at::ga_mode) = at::mode_replay;
  word(at::ga_mouse_right) = 1024;
  word(at::ga_mouse_bottom) = 768;
  word(at::ga_car_count) = 1;
  const u32 car = host::make_car(0, 3, 0, 4), cam = host::make_camera(at::cam_type_free, 0);
  word(cam + at::cam_off_target) = word(cam + at::cam_off_target2) = car;
  std::vector<u32> poses;  // bit patterns
  for (int t = 0; t < 300; ++t) {
    const int held[][2] = {{'W', t % 7 < 4},  {'D', t % 11 < 3},         {'R', t % 13 < 2}, {'Q', t % 17 < 5},
                           {at::shift, t % 19 < 9}, {at::ctrl, t % 23 < 4}, {'V', t == 100}, {'C', t == 101}};
    for (auto &k : held) host::set_key(k[0], k[1]);
    word(at::ga_mouse_x) = 512 + (t * 37) % 61 - 30;
    word(at::ga_mouse_y) = 384 + (t * 53) % 41 - 20;
    const f64 a = t * 0.02;
    put(car + at::car_off_basis, yaw(a));
    put(car + at::car_off_pos, V3{3 + 40 * sin(a), 0, 4 + 40 * cos(a)});
    host::camera_case7(cam);
    for (u32 off = at::cam_off_pos; off < at::cam_off_orient + 36; off += 4) poses.push_back(word(cam + off));
  }
  return poses;
}

TEST(DllAndSharedObject, FlyTheSamePathBitForBit) {
  void *so = dlopen(ZEPHAL_SO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  host::pe_module dll;
  std::string error;
  ASSERT_TRUE(host::pe_load(ZEPHAL_Z9P_PATH, dll, error)) << error;
  const std::vector<u32> elf = fly((apply_fn)dlsym(so, "Z9_Apply"));
  const std::vector<u32> pe = fly((apply_fn)dll.symbol("Z9_Apply"));
  EXPECT_EQ(elf, pe);
  EXPECT_NE(elf[elf.size() - 15], 0u) << "it never moved";
  EXPECT_NE(elf.back(), 0x3f800000u) << "it never turned";
}

}  // namespace
