// A harness that runs one piece of game code on the processor with every
// register and flag chosen by the caller, and records what the code left
// behind: the general registers, EFLAGS (the direction flag included), the
// stack pointer, and optionally the whole x87/MMX/SSE state as FXSAVE stores
// it. The hook stubs promise the game exact machine states; this is how a
// test holds them to it. Host code only: -m32, not position independent.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/types.h"

namespace host {

// EFLAGS bits a test may load and compare: the six status flags and DF. The
// others are not for user code to toy with (TF traps, AC makes every
// unaligned access fault, IF cannot be changed).
constexpr u32 fl_cf = 1u << 0, fl_pf = 1u << 2, fl_af = 1u << 4, fl_zf = 1u << 6;
constexpr u32 fl_sf = 1u << 7, fl_df = 1u << 10, fl_of = 1u << 11;
constexpr u32 fl_status = fl_cf | fl_pf | fl_af | fl_zf | fl_sf | fl_of;
constexpr u32 fl_testable = fl_status | fl_df;

struct cpu_regs {
  u32 eax, ecx, edx, ebx;
  u32 esp;  // never loaded (the harness runs the code on its own stack); recorded on the way out
  u32 ebp, esi, edi;
  u32 eflags;
};
static_assert(sizeof(cpu_regs) == 36);

// The 512-byte FXSAVE image of 32-bit mode: x87 control, status and
// abridged tag words, the eight x87 registers in stack order (ST(0) first,
// 10 bytes used of each 16), MXCSR and XMM0..XMM7.
struct alignas(16) fx_image {
  u8 raw[512];

  u16 fcw() const { return get<u16>(0); }
  u16 fsw() const { return get<u16>(2); }
  u8 ftw() const { return raw[4]; }  // bit i set: physical register i holds a value
  u32 mxcsr() const { return get<u32>(24); }
  int top() const { return (fsw() >> 11) & 7; }
  int depth() const { return __builtin_popcount(ftw()); }  // values on the x87 stack
  const u8 *st(int i) const { return raw + 32 + 16 * i; }
  long double st_value(int i) const {
    long double v = 0;
    memcpy(&v, st(i), 10);
    return v;
  }
  const u8 *xmm(int i) const { return raw + 160 + 16 * i; }

  void set_fcw(u16 v) { put(0, v); }
  void set_mxcsr(u32 v) { put(24, v); }
  void set_xmm(int i, const void *bytes16) { memcpy(raw + 160 + 16 * i, bytes16, 16); }
  // Pushes v as FLD would: TOP moves down, the new ST(0) is tagged valid.
  void push(long double v);

  // The same architectural state: control, status and tag words, MXCSR,
  // every x87 register (valid or not) and every XMM register. The last
  // instruction and operand pointers are not compared.
  bool same_state(const fx_image &o) const;

 private:
  template <class T> T get(u32 off) const {
    T v;
    memcpy(&v, raw + off, sizeof v);
    return v;
  }
  template <class T> void put(u32 off, T v) { memcpy(raw + off, &v, sizeof v); }
};
static_assert(sizeof(fx_image) == 512);

// The calling thread's floating-point state now, for a test to edit and load.
fx_image fx_now();

// One call of `target`: the harness saves its caller's floating-point state,
// loads fx_load (if set) with FXRSTOR, stores fx_before (if set), loads
// EFLAGS and the seven general registers of `in`, and CALLs target on its own
// stack. Right after the return it stores every register and EFLAGS into
// `out` (out.esp is the stack pointer the code returned with) and fx_after
// (if set), then clears DF and puts its caller's floating-point state back.
struct cpu_call {
  u32 target = 0;
  cpu_regs in{};
  cpu_regs out{};
  u32 esp_at_call = 0;  // ESP as the CALL executes: the code is entered with esp_at_call - 4
  const fx_image *fx_load = nullptr;
  fx_image *fx_before = nullptr;
  fx_image *fx_after = nullptr;
};
static_assert(offsetof(cpu_call, in) == 4 && offsetof(cpu_call, out) == 40);
static_assert(offsetof(cpu_call, esp_at_call) == 76 && offsetof(cpu_call, fx_load) == 80);
static_assert(offsetof(cpu_call, fx_before) == 84 && offsetof(cpu_call, fx_after) == 88);

extern "C" void host_cpu_run(cpu_call *call);  // cpu.S; not re-entrant
// The return address the harness's CALL pushes: [ESP] as the code is entered.
extern "C" const u8 host_cpu_return_address[];

inline void cpu_run(cpu_call &call) { host_cpu_run(&call); }

}  // namespace host
