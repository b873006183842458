// The four hook stubs executed for real at the game's patched places, with
// handlers of this test's own, and every register, flag and floating-point
// register the game hands over compared with what it gets back. Also the
// stand-in game itself, unpatched: its code, its routines, its services.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/cpu.h"
#include "host/game.h"
#include "host/loader.h"
#include "patches/hooks.h"
#include "plugin/applier.h"

using host::cpu_call;
using host::entry_of;
using host::fx_image;
using host::fx_of;
using host::routine;
using host::routine_entry;

// --- handlers the stubs call --------------------------------------------

namespace {

// What a handler saw as it was entered, and what it should do.
struct handler {
  int calls = 0;
  u32 arg = 0;
  u32 eflags = 0;
  fx_image fx{};
  u32 callee_calls = 0;  // the game routine's entry count at the handler's call
  i32 result = 0;
  bool mess = false;  // leave the floating-point unit in a mess
};
handler freecam_h, arm_h, capture_h, frame_h;

// Three values left on the x87 stack, round-to-zero at 24-bit precision,
// MXCSR rounding up with every exception unmasked but precision, XMM1 and
// XMM2 overwritten.
void mess_up_fpu() {
  static const u16 cw = 0x0c7f;
  static const u32 mx = 0x5000 | 0x1000;
  asm volatile("fldcw %0\n\tfld1\n\tfldpi\n\tfldz\n\tldmxcsr %1\n\tpcmpeqd %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2"
               :
               : "m"(cw), "m"(mx)
               : "xmm1", "xmm2");
}

// The first thing each handler does: the state it was entered with.
#define SEE(h)                                                                \
  asm volatile("fxsave %0\n\tpushfl\n\tpopl %1" : "=m"((h).fx.raw), "=r"((h).eflags)); \
  ++(h).calls

}  // namespace

#define HANDLER extern "C" __attribute__((force_align_arg_pointer, noinline))

HANDLER i32 z9_zp_freecam_tick(u32 cam) {
  SEE(freecam_h);
  freecam_h.arg = cam;
  freecam_h.callee_calls = entry_of(routine::camera).calls;
  if (freecam_h.mess) mess_up_fpu();
  return freecam_h.result;
}

HANDLER i32 z9_zp_ui_suppressed() {
  SEE(arm_h);
  arm_h.callee_calls = entry_of(routine::replay_ui).calls;
  return arm_h.result;
}

HANDLER void z9_zp_capture() {
  SEE(capture_h);
  capture_h.callee_calls = entry_of(routine::tick).calls;
  if (capture_h.mess) mess_up_fpu();
}

HANDLER void z9_zp_frame() {
  SEE(frame_h);
  frame_h.callee_calls = entry_of(routine::frame).calls;
}

namespace {

constexpr u16 fninit_fcw = 0x037f;
constexpr u32 game_fcw = 0x007f;     // 24-bit precision, as games under Direct3D run
constexpr u32 game_mxcsr = 0x7f80;   // round toward zero, all masked

u32 return_address() { return (u32)(uintptr_t)host::host_cpu_return_address; }

// A floating-point state no handler would start with.
fx_image game_fpu() {
  fx_image f = host::fx_now();
  f.set_fcw(game_fcw);
  f.set_mxcsr(game_mxcsr);
  f.push(1.5L);
  f.push(-2.25L);
  f.push(1e300L);
  for (int i = 0; i < 8; ++i) {
    u8 x[16];
    for (int b = 0; b < 16; ++b) x[b] = (u8)(0x10 * i + b + 1);
    f.set_xmm(i, x);
  }
  return f;
}

// Register sets for the game's side of a call: every register distinct,
// once with every status flag and DF set, once with all clear.
constexpr u32 all_flags = 0x2 | host::fl_testable;
constexpr u32 no_flags = 0x2;

cpu_call game_call(u32 target, u32 eax, u32 flags) {
  cpu_call c;
  c.target = target;
  c.in = {eax, 0x11111111, 0x22222222, 0x33333333, 0, 0x55555555, 0x66666666, 0x77777777, flags};
  return c;
}

// Runs c with the game's floating-point state and keeps before and after.
struct run {
  cpu_call c;
  fx_image load = game_fpu(), before{}, after{};
  explicit run(cpu_call call) : c(call) {
    c.fx_load = &load;
    c.fx_before = &before;
    c.fx_after = &after;
    host::cpu_run(c);
  }
};

// Every register but EAX, the flags and the stack as they were at the call.
void expect_kept_but_eax(const cpu_call &c) {
  EXPECT_EQ(c.out.ecx, c.in.ecx);
  EXPECT_EQ(c.out.edx, c.in.edx);
  EXPECT_EQ(c.out.ebx, c.in.ebx);
  EXPECT_EQ(c.out.ebp, c.in.ebp);
  EXPECT_EQ(c.out.esi, c.in.esi);
  EXPECT_EQ(c.out.edi, c.in.edi);
  EXPECT_EQ(c.out.eflags & host::fl_testable, c.in.eflags & host::fl_testable);
  EXPECT_EQ(c.out.esp, c.esp_at_call);
}

void expect_all_kept(const cpu_call &c) {
  EXPECT_EQ(c.out.eax, c.in.eax);
  expect_kept_but_eax(c);
}

// The routine was entered with the registers and flags of the call.
void expect_entered_with(const routine_entry &e, const cpu_call &c) {
  EXPECT_EQ(e.eax, c.in.eax);
  EXPECT_EQ(e.ecx, c.in.ecx);
  EXPECT_EQ(e.edx, c.in.edx);
  EXPECT_EQ(e.ebx, c.in.ebx);
  EXPECT_EQ(e.esi, c.in.esi);
  EXPECT_EQ(e.edi, c.in.edi);
  EXPECT_EQ(e.eflags & host::fl_testable, c.in.eflags & host::fl_testable);
}

// What a full-save stub promises its handler: FNINIT state, DF clear, the
// game's MXCSR.
void expect_clean_start(const handler &h) {
  EXPECT_EQ(h.fx.fcw(), fninit_fcw);
  EXPECT_EQ(h.fx.fsw(), 0);
  EXPECT_EQ(h.fx.ftw(), 0);
  EXPECT_EQ(h.fx.mxcsr(), game_mxcsr);
  EXPECT_EQ(h.eflags & host::fl_df, 0u);
}

class Stubs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    host::loader_reset();
    freecam_h = arm_h = capture_h = frame_h = handler{};
    zp_handled = 0;
    z9_ctx ctx = host::loader_context();
    ASSERT_EQ(z9sdk_apply_defs(&ctx, defs, zp_def_count), 1u) << host::loader_log_text();
    cam = host::make_camera(7, 0);
  }
  u32 cam = 0;
};

// --- free-camera and replay-interface stubs -------------------------------

// The five patched calls whose callee a handler may skip.
struct skippable {
  u32 site;
  routine callee;
  handler *h;
};
const skippable skippable_calls[] = {
    {host::site_case7, routine::camera, &freecam_h},    {host::site_case30, routine::camera, &freecam_h},
    {host::site_arm1, routine::replay_ui, &arm_h},      {host::site_arm2, routine::replay_ui, &arm_h},
    {host::site_arm3, routine::replay_ui, &arm_h},
};

TEST_F(Stubs, NonzeroResultSkipsTheCalleeAndKeepsEverything) {
  for (const skippable &k : skippable_calls)
    for (u32 flags : {all_flags, no_flags}) {
      SCOPED_TRACE(testing::Message() << std::hex << k.site << " flags " << flags);
      k.h->result = 1;
      run r(game_call(k.site, cam, flags));
      EXPECT_EQ(entry_of(k.callee).calls, 0u);
      expect_all_kept(r.c);  // EAX included: there is no callee result
      EXPECT_TRUE(r.after.same_state(r.before));
      EXPECT_EQ(zp_handled, 1u);
    }
  EXPECT_EQ(freecam_h.calls, 4);
  EXPECT_EQ(arm_h.calls, 6);
  // Any nonzero 32-bit result skips, and is kept as it came.
  for (i32 result : {0x100, (i32)0x80000000, -1})
    for (const skippable &k : {skippable_calls[0], skippable_calls[2]}) {
      k.h->result = result;
      run r(game_call(k.site, cam, no_flags));
      EXPECT_EQ(entry_of(k.callee).calls, 0u) << std::hex << k.site << " " << result;
      EXPECT_EQ(zp_handled, (u32)result);
    }
}

TEST_F(Stubs, ZeroResultRunsTheCalleeAsTheGameCalledIt) {
  for (const skippable &k : skippable_calls)
    for (u32 flags : {all_flags, no_flags}) {
      SCOPED_TRACE(testing::Message() << std::hex << k.site << " flags " << flags);
      u32 before_calls = entry_of(k.callee).calls;
      k.h->result = 0;
      freecam_h.mess = true;
      run r(game_call(k.site, cam, flags));
      const routine_entry &e = entry_of(k.callee);
      ASSERT_EQ(e.calls, before_calls + 1);
      EXPECT_EQ(k.h->callee_calls, before_calls);  // handler first
      // Entered on the game's own return address, the stub's frame gone:
      // below the harness's return address only the game's.
      EXPECT_EQ(e.esp, r.c.esp_at_call - 8);
      EXPECT_EQ(e.stack[0], k.site + 5);
      EXPECT_EQ(e.stack[1], return_address());
      expect_entered_with(e, r.c);
      EXPECT_TRUE(fx_of(k.callee).same_state(r.before));
      // What the routine leaves: its call count in EAX, the rest as it came.
      EXPECT_EQ(r.c.out.eax, e.calls);
      expect_kept_but_eax(r.c);
      EXPECT_EQ(zp_handled, 0u);
    }
}

TEST_F(Stubs, FreecamHandlerStartsCleanOnTheCameraAndCannotDisturbTheGame) {
  freecam_h.mess = true;
  for (i32 result : {1, 0}) {
    freecam_h.result = result;
    run r(game_call(host::site_case30, cam, all_flags));
    EXPECT_EQ(freecam_h.arg, cam);
    expect_clean_start(freecam_h);
    EXPECT_TRUE(r.after.same_state(r.before)) << result;
    EXPECT_EQ(r.after.depth(), 3);
  }
}

TEST_F(Stubs, LightStubsRunTheirHandlersOnTheGamesFloatingPointSettings) {
  run a(game_call(host::site_arm2, 0, no_flags));
  run f(game_call(host::site_frame, 0, no_flags));
  for (const handler *h : {&arm_h, &frame_h}) {
    EXPECT_EQ(h->calls, 1);
    EXPECT_EQ(h->fx.fcw(), game_fcw);
    EXPECT_EQ(h->fx.depth(), 3);
    EXPECT_EQ(h->fx.mxcsr(), game_mxcsr);
  }
}

// --- capture stub ----------------------------------------------------------

TEST_F(Stubs, CaptureRunsBeforeTheTickBodyWhichFindsItsPrologueDone) {
  for (u32 flags : {all_flags, no_flags}) {
    SCOPED_TRACE(testing::Message() << "flags " << std::hex << flags);
    u32 before_calls = entry_of(routine::tick).calls;
    capture_h.mess = true;
    run r(game_call(host::tick_routine, 0xabcdef01, flags));
    const routine_entry &e = entry_of(routine::tick);
    ASSERT_EQ(e.calls, before_calls + 1);
    EXPECT_EQ(capture_h.callee_calls, before_calls);
    expect_clean_start(capture_h);

    // At 0x51bbe8: EBX, ECX, EDX, ESI, EDI, EBP pushed in that order below
    // the caller's return address, and EBP = ESP.
    EXPECT_EQ(e.esp, r.c.esp_at_call - 4 - 24);
    EXPECT_EQ(e.ebp, e.esp);
    const u32 saved[7] = {r.c.in.ebp, r.c.in.edi, r.c.in.esi, r.c.in.edx, r.c.in.ecx, r.c.in.ebx,
                          return_address()};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(e.stack[i], saved[i]) << "stack word " << i;
    expect_entered_with(e, r.c);
    EXPECT_TRUE(fx_of(routine::tick).same_state(r.before));

    EXPECT_EQ(r.c.out.eax, e.calls);
    expect_kept_but_eax(r.c);
    EXPECT_TRUE(r.after.same_state(r.before));
  }
}

// --- frame stub ------------------------------------------------------------

TEST_F(Stubs, FrameRunsTheRoutineThenTheHandlerAndDropsTheResult) {
  host::services().frame = [] { return 0xc0ffee01u; };
  for (u32 flags : {all_flags, no_flags}) {
    SCOPED_TRACE(testing::Message() << "flags " << std::hex << flags);
    u32 before_calls = entry_of(routine::frame).calls;
    run r(game_call(host::site_frame, 0x5eed5eed, flags));
    const routine_entry &e = entry_of(routine::frame);
    ASSERT_EQ(e.calls, before_calls + 1);
    EXPECT_EQ(frame_h.callee_calls, before_calls + 1);  // the routine ran first
    expect_entered_with(e, r.c);
    expect_all_kept(r.c);  // EAX too: 0xc0ffee01 is dropped
  }
  EXPECT_EQ(frame_h.calls, 2);
}

TEST_F(Stubs, TheGamesOwnPathsReachTheHandlers) {
  u32 other = host::make_camera(2, 1);
  host::camera_case7(cam);
  EXPECT_EQ(freecam_h.arg, cam);
  host::camera_case30(other);
  EXPECT_EQ(freecam_h.arg, other);
  EXPECT_EQ(entry_of(routine::camera).calls, 2u);
  for (int n = 1; n <= 3; ++n) host::replay_ui_arm(n);
  EXPECT_EQ(arm_h.calls, 3);
  EXPECT_EQ(entry_of(routine::replay_ui).calls, 3u);
  host::frame_pass();
  EXPECT_EQ(frame_h.calls, 1);
  EXPECT_EQ(entry_of(routine::frame).calls, 1u);
  host::replay_ticks(5);
  EXPECT_EQ(capture_h.calls, 5);
  EXPECT_EQ(entry_of(routine::tick).calls, 5u);
  EXPECT_EQ(entry_of(routine::tick).stack[6], 0x51bb0eu);  // back into the game's loop
}

// --- the stand-in game, unpatched ---------------------------------------

class Game : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    freecam_h = arm_h = capture_h = frame_h = handler{};
  }
};

TEST_F(Game, ShipsTheOriginalBytesReadAndExecuteOnly) {
  struct {
    u32 at;
    std::vector<u8> bytes;
  } sites[] = {
      {0x4415b9, {0xe8, 0x02, 0xdd, 0xff, 0xff}}, {0x44143c, {0xe8, 0x7f, 0xde, 0xff, 0xff}},
      {0x5112dc, {0xe8, 0x5f, 0xff, 0xff, 0xff}}, {0x512310, {0xe8, 0x2b, 0xef, 0xff, 0xff}},
      {0x5124dd, {0xe8, 0x5e, 0xed, 0xff, 0xff}}, {0x511328, {0xe8, 0x33, 0x90, 0x00, 0x00}},
      {0x51bbe0, {0x53, 0x51, 0x52, 0x56, 0x57, 0x55, 0x89, 0xe5}},
  };
  for (auto &s : sites) {
    EXPECT_EQ(host::bytes_at(s.at, (u32)s.bytes.size()), s.bytes) << std::hex << s.at;
    EXPECT_EQ(host::protection(s.at), "r-x") << std::hex << s.at;
  }
  EXPECT_EQ(host::protection(0x4fffff), "r-x");
  EXPECT_EQ(host::protection(host::code_end), "rw-");
  EXPECT_EQ(host::protection(0x8b1bcf), "rw-");
}

TEST_F(Game, ResetUndoesEveryPatch) {
  z9_ctx ctx = host::loader_context();
  host::loader_reset();
  ASSERT_EQ(z9sdk_apply_defs(&ctx, defs, zp_def_count), 1u);
  ASSERT_EQ(host::byte(host::tick_routine), 0xe9);
  ASSERT_TRUE(host::game_reset());
  EXPECT_EQ(host::bytes_at(host::tick_routine, 8), (std::vector<u8>{0x53, 0x51, 0x52, 0x56, 0x57, 0x55, 0x89, 0xe5}));
  EXPECT_EQ(host::bytes_at(host::site_case7, 5), (std::vector<u8>{0xe8, 0x02, 0xdd, 0xff, 0xff}));
  EXPECT_EQ(host::protection(host::site_case7), "r-x");
  // And the processor runs the original code again, not a stale patch.
  host::camera_case7(0x1234);
  host::replay_ticks(1);
  EXPECT_EQ(freecam_h.calls, 0);
  EXPECT_EQ(capture_h.calls, 0);
  EXPECT_EQ(entry_of(routine::camera).calls, 1u);
  EXPECT_EQ(entry_of(routine::tick).calls, 1u);
}

TEST_F(Game, ServicesSeeWhatTheRoutinesWereGiven) {
  std::vector<u32> cams;
  int ui = 0, ticks = 0;
  host::services().camera = [&](u32 c) { cams.push_back(c); };
  host::services().replay_ui = [&] { ++ui; };
  host::services().tick = [&] { ++ticks; };
  host::services().frame = [] { return 77u; };
  host::camera_case7(0x111);
  host::camera_case30(0x222);
  for (int n = 1; n <= 3; ++n) host::replay_ui_arm(n);
  host::replay_ticks(4);
  host::replay_ticks(0);
  run r(game_call(host::site_frame, 0, no_flags));
  EXPECT_EQ(cams, (std::vector<u32>{0x111, 0x222}));
  EXPECT_EQ(ui, 3);
  EXPECT_EQ(ticks, 4);
  EXPECT_EQ(r.c.out.eax, 77u);
  // A reset empties them: the routines run on without.
  ASSERT_TRUE(host::game_reset());
  host::camera_case7(0x333);
  EXPECT_EQ(cams.size(), 2u);
  run again(game_call(host::site_frame, 0, no_flags));
  EXPECT_EQ(again.c.out.eax, 1u);  // the frame routine's own count
}

// --- the harness itself ------------------------------------------------------

TEST(Harness, CarriesEveryRegisterFlagAndFpuStateThroughAReturn) {
  ASSERT_TRUE(host::game_reset());
  for (u32 flags : {all_flags, no_flags}) {
    run r(game_call(host::site_case7 + 5, 0x9abcdef0, flags));  // the RET behind the call
    expect_all_kept(r.c);
    EXPECT_EQ(r.c.out.eflags & host::fl_testable, flags & host::fl_testable);
    EXPECT_TRUE(r.before.same_state(r.load));
    EXPECT_TRUE(r.after.same_state(r.load));
    EXPECT_EQ(r.before.depth(), 3);
    EXPECT_EQ(r.before.st_value(0), 1e300L);
    EXPECT_EQ(r.before.st_value(2), 1.5L);
  }
  // Its caller gets its own floating-point state back.
  u16 cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  EXPECT_EQ(cw, fninit_fcw);
}

}  // namespace
