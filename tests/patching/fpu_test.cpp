// The plug-in's handlers behind the two stubs that save no FPU state (the
// replay interface's arm stub and the frame stub): whatever they do, the game
// gets its x87 control word, its x87 stack and its MXCSR back as it left them,
// for those stubs restore none of these.
#include "host/cpu.h"
#include "patches/hooks.h"
#include "tests/support.h"

namespace {

using host::word;

// A game that computes in single precision rounding toward zero, with SSE
// rounding up and flushing to zero: nothing like the defaults. The handler
// runs under these; the x87 control word, stack top and MXCSR it leaves.
constexpr u16 game_fcw = 0x0c7f;
constexpr u32 game_mxcsr = 0xdf80, defaults = 0x1f80;
template <class F> std::tuple<int, int, u32> across(F &&handler) {
  asm volatile("fninit\n\tfldcw %0\n\tldmxcsr %1" : : "m"(game_fcw), "m"(game_mxcsr));
  handler();
  const host::fx_image left = host::fx_now();
  asm volatile("fninit\n\tldmxcsr %0" : : "m"(defaults));
  return {left.fcw(), left.top(), left.mxcsr()};
}
const std::tuple<int, int, u32> as_left = {game_fcw, 0, game_mxcsr};
using NoFpuSave = test::on_track;

// Each frame pass with the keys that make the frame handler rewind, seek,
// pause, save and recall a preset; the arm handler with the free camera flown
// (held back) and not.
TEST_F(NoFpuSave, TheHandlersLeaveTheGamesFpuStateAsTheyFoundIt) {
  word(cam + at::cam_off_target) = word(cam + at::cam_off_target2) = cars[0];
  word(at::ga_view_cam_base) = cam;
  for (u32 t = 0; t < 300; ++t) word(at::ga_tick) = t, z9_zp_capture();
  const struct { const char *what; std::vector<int> keys; } passes[] = {
      {"nothing held", {}}, {"back", {at::comma}}, {"back 64", {at::shift, at::comma}}, {"forward", {at::period}},
      {"pause", {at::space}}, {"save preset 4", {at::ctrl, at::digit(4)}}, {"recall preset 4", {at::digit(4)}}};
  u32 ms = 0;
  for (auto &p : passes) {
    host::release_all_keys();
    for (int k : p.keys) host::set_key(k, true);
    host::set_tick(ms += 20);
    EXPECT_EQ(across([] { z9_zp_frame(); }), as_left) << p.what;
  }
  host::release_all_keys();
  for (int flown : {0, 1}) {
    if (flown) z9_zp_freecam_tick(cam);
    i32 held = -1;
    EXPECT_EQ(across([&] { held = z9_zp_ui_suppressed(); }), as_left) << "free camera flown " << flown;
    EXPECT_EQ(held, flown);
  }
  EXPECT_NE(test::log, std::vector<std::string>{});  // the keys did act
}

}  // namespace
