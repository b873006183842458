// The four hook stubs run at the game's patched places with this test's handlers: every register,
// flag and floating-point register the game hands over compared with what it gets back.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "host/cpu.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "patches/hooks.h"
#include "z9sdk/apply.h"

using host::entry_of;
using host::routine;

namespace {

// What a handler saw as it was entered, and what it should do.
struct handler {
  int calls = 0;
  u32 arg = 0, eflags = 0;
  host::fx_image fx{};
  u32 callee_calls = 0;  // the game routine's entry count at the handler's call
  i32 result = 0;
};
handler freecam_h, arm_h, capture_h, frame_h;

// Three values left on the x87 stack, round-to-zero at 24 bits, MXCSR rounding
// up with exceptions unmasked, XMM1 and XMM2 overwritten.
void mess_up_fpu() {
  static const u16 cw = 0x0c7f;
  static const u32 mx = 0x5000 | 0x1000;
  asm volatile("fldcw %0\n\tfld1\n\tfldpi\n\tfldz\n\tldmxcsr %1\n\tpcmpeqd %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2"
               : : "m"(cw), "m"(mx) : "xmm1", "xmm2");
}

// The first thing each handler does: keep the state it was entered with.
#define SEE(h, r)                                                                          \
  asm volatile("fxsave %0\n\tpushfl\n\tpopl %1" : "=m"((h).fx.raw), "=r"((h).eflags)); \
  ++(h).calls;                                                                             \
  (h).callee_calls = entry_of(r).calls

}  // namespace

#define HANDLER extern "C" __attribute__((force_align_arg_pointer, noinline))

HANDLER i32 z9_zp_freecam_tick(u32 cam) {
  SEE(freecam_h, routine::freecam);
  freecam_h.arg = cam;
  mess_up_fpu();
  return freecam_h.result;
}
HANDLER i32 z9_zp_ui_suppressed() {
  SEE(arm_h, routine::arm);
  return arm_h.result;
}
HANDLER void z9_zp_capture() {
  SEE(capture_h, routine::tick);
  mess_up_fpu();
}
HANDLER void z9_zp_frame() { SEE(frame_h, routine::aux); }

namespace {

constexpr u32 game_fcw = 0x007f;    // 24-bit precision, as games under Direct3D run
constexpr u32 game_mxcsr = 0x7f80;  // round toward zero, all masked
// Every status flag and DF set, or all clear.
constexpr u32 all_flags = 0x2 | host::fl_testable, no_flags = 0x2;

// One call of the game's code at target, every register distinct, on a
// floating-point state no handler would start with; keeps it before and after.
struct run {
  host::cpu_call c;
  host::fx_image load = host::fx_now(), before{}, after{};
  run(u32 target, u32 eax, u32 flags) {
    load.set_fcw(game_fcw);
    load.set_mxcsr(game_mxcsr);
    for (long double v : {1.5L, -2.25L, 1e300L}) load.push(v);
    for (int i = 0; i < 8; ++i) load.set_xmm(i, std::string(16, (char)(0x11 * i + 1)).data());
    c = {target, {eax, 0x11111111, 0x22222222, 0x33333333, 0, 0x55555555, 0x66666666, 0x77777777, flags}, {}, 0,
         &load, &before, &after};
    host::cpu_run(c);
    EXPECT_TRUE(before.same_state(load));  // the harness really handed the game's state over
  }
};
const u32 harness_return = (u32)(uintptr_t)host::host_cpu_return_address;

// The registers but EBP and ESP, and the flags, of the game or of a routine's entry.
template <class R> auto regs(const R &r) {
  return std::make_tuple(r.eax, r.ecx, r.edx, r.ebx, r.esi, r.edi, r.eflags & host::fl_testable);
}
// The game continues as at its call, its stack included, with eax in EAX.
void expect_kept(const host::cpu_call &c, u32 eax) {
  host::cpu_regs want = c.in;
  want.eax = eax;
  EXPECT_EQ(regs(c.out), regs(want));
  EXPECT_EQ(std::make_tuple(c.out.ebp, c.out.esp), std::make_tuple(c.in.ebp, c.esp_at_call));
}

// The full-save stubs start their handler on FNINIT's x87 state with DF
// clear and the game's MXCSR; the light ones on the game's state as it is.
void expect_full_save_start(const handler &h) {
  EXPECT_EQ(std::make_tuple((u32)h.fx.fcw(), (u32)h.fx.fsw(), (u32)h.fx.ftw(), h.fx.mxcsr(), h.eflags & host::fl_df),
            std::make_tuple(0x037fu, 0u, 0u, game_mxcsr, 0u));
}
void expect_light_start(const handler &h) {
  EXPECT_EQ(std::make_tuple((u32)h.fx.fcw(), h.fx.depth(), h.fx.mxcsr()), std::make_tuple(game_fcw, 3, game_mxcsr));
}

struct Stubs : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());  // which also undoes the previous test's patches
    host::loader_reset();
    freecam_h = arm_h = capture_h = frame_h = handler{};
    zp_handled = 0;
    z9_ctx ctx = host::loader_context();
    ASSERT_EQ(z9sdk_apply_defs(&ctx, defs, zp_def_count), 1u) << host::loader_log_text();
    cam = host::make_camera(7, 0);
  }
  u32 cam = 0;
};

TEST_F(Stubs, CallSitesSkipOrRunTheCalleeAsTheHandlerSays) {
  const struct { u32 site; routine callee; handler *h; } sites[] = {
      {host::site_case7, routine::freecam, &freecam_h}, {host::site_case30, routine::freecam, &freecam_h},
      {host::site_arm1, routine::arm, &arm_h}, {host::site_arm2, routine::arm, &arm_h}, {host::site_arm3, routine::arm, &arm_h}};
  for (auto &k : sites)
    for (u32 flags : {all_flags, no_flags})
      for (i32 result : {1, (i32)0x80000000, 0}) {  // any nonzero word skips, not just its low bits
        SCOPED_TRACE(testing::Message() << std::hex << k.site << " flags " << flags << " result " << result);
        const u32 calls = entry_of(k.callee).calls;
        k.h->result = result;
        run r(k.site, cam, flags);
        const host::routine_entry &e = entry_of(k.callee);
        EXPECT_EQ(zp_handled, (u32)result);
        EXPECT_TRUE(r.after.same_state(r.before));  // whatever the handler did to the FPU
        if (k.h == &freecam_h) EXPECT_EQ(freecam_h.arg, cam);
        k.h == &freecam_h ? expect_full_save_start(freecam_h) : expect_light_start(arm_h);
        if (result) {
          EXPECT_EQ(e.calls, calls);
          expect_kept(r.c, r.c.in.eax);  // there is no callee result
          continue;
        }
        ASSERT_EQ(e.calls, calls + 1);
        EXPECT_EQ(k.h->callee_calls, calls);  // handler first
        // Entered as from the game's call, on its own return address, the stub's frame gone.
        EXPECT_EQ(regs(e), regs(r.c.in));
        EXPECT_EQ(std::make_tuple(e.esp, e.stack[0], e.stack[1]), std::make_tuple(r.c.esp_at_call - 8, k.site + 5, harness_return));
        EXPECT_TRUE(host::fx_of(k.callee).same_state(r.before));
        expect_kept(r.c, e.calls);  // the routine leaves its count in EAX
      }
}

// The capture runs before the tick body, which finds its prologue done; the
// frame stub runs the routine, then the handler, and drops the result.
TEST_F(Stubs, CaptureRunsBeforeTheTickBodyFrameAfterItsRoutine) {
  int served = 0;
  host::services().aux = [&] { return ++served, 0xc0ffee01u; };
  for (u32 flags : {all_flags, no_flags}) {
    SCOPED_TRACE(testing::Message() << "flags " << std::hex << flags);
    u32 calls = entry_of(routine::tick).calls;
    run r(host::tick_routine, 0xabcdef01, flags);
    const host::routine_entry &e = entry_of(routine::tick);
    ASSERT_EQ(e.calls, calls + 1);
    EXPECT_EQ(capture_h.callee_calls, calls);
    expect_full_save_start(capture_h);
    // At 0x51bbe8: EBX, ECX, EDX, ESI, EDI, EBP pushed in that order below
    // the caller's return address, and EBP = ESP.
    const host::cpu_regs &in = r.c.in;
    EXPECT_EQ(std::vector<u32>(e.stack, e.stack + 7),
              (std::vector<u32>{in.ebp, in.edi, in.esi, in.edx, in.ecx, in.ebx, harness_return}));
    EXPECT_EQ(std::make_tuple(e.esp, e.ebp), std::make_tuple(r.c.esp_at_call - 4 - 24, r.c.esp_at_call - 4 - 24));
    EXPECT_EQ(regs(e), regs(in));
    EXPECT_TRUE(host::fx_of(routine::tick).same_state(r.before));
    EXPECT_TRUE(r.after.same_state(r.before));
    expect_kept(r.c, e.calls);

    calls = entry_of(routine::aux).calls;
    run f(host::site_frame, 0x5eed5eed, flags);
    const host::routine_entry &a = entry_of(routine::aux);
    ASSERT_EQ(a.calls, calls + 1);
    EXPECT_EQ(frame_h.callee_calls, calls + 1);  // the routine ran first
    EXPECT_EQ(regs(a), regs(f.c.in));
    expect_light_start(frame_h);
    expect_kept(f.c, f.c.in.eax);  // the routine's 0xc0ffee01 is dropped
  }
  EXPECT_EQ(std::make_tuple(served, frame_h.calls), std::make_tuple(2, 2));
}

}  // namespace
