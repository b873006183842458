#include "host/cpu.h"

namespace host {

fx_image fx_now() {
  fx_image img;
  asm volatile("fxsave %0" : "=m"(img.raw));
  return img;
}

void fx_image::push(long double v) {
  // The image keeps the registers in stack order, so every older value
  // moves one slot down; the tag bits belong to physical registers.
  memmove(raw + 32 + 16, raw + 32, 16 * 7);
  memset(raw + 32, 0, 16);
  memcpy(raw + 32, &v, 10);
  int t = (top() + 7) & 7;
  put<u16>(2, (u16)((fsw() & ~0x3800u) | (u32)t << 11));
  raw[4] = (u8)(raw[4] | 1u << t);
}

bool fx_image::same_state(const fx_image &o) const {
  if (fcw() != o.fcw() || fsw() != o.fsw() || ftw() != o.ftw() || mxcsr() != o.mxcsr()) return false;
  for (int i = 0; i < 8; ++i)
    if (memcmp(st(i), o.st(i), 10) != 0 || memcmp(xmm(i), o.xmm(i), 16) != 0) return false;
  return true;
}

}  // namespace host
