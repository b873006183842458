#include "freecam/orient.h"

#include "base/game_memory.h"

// --- sine and cosine --------------------------------------------------------
//
// The C runtimes of the two builds disagree in the last bits of sin and cos
// (msvcrt has no sincos at all, mingw's falls back to the x87 fsincos, glibc
// has its own), and one differing bit in a rotation makes the PE and the ELF
// build fly the camera apart. So the plug-in carries its own: Cody-Waite
// reduction by pi/2 kept as a double-double, then the classic minimax
// polynomials on [-pi/4, pi/4]. Only IEEE additions and multiplications in
// SSE2 double, so both builds give the same bits.

namespace {

// pi/2 in four parts; the first three have 33 significant bits, so their
// products with a quadrant number below 2^20 are exact.
constexpr f64 pio2_1 = 0x1.921fb544p+0;
constexpr f64 pio2_2 = 0x1.0b4611a6p-34;
constexpr f64 pio2_3 = 0x1.3198a2ep-69;
constexpr f64 pio2_4 = 0x1.b839a252049c1p-104;
constexpr f64 inv_pio2 = 0x1.45f306dc9c883p-1;
constexpr f64 round_magic = 0x1.8p52;  // adding and removing it rounds to an integer

constexpr f64 s1 = -0x1.5555555555549p-3, s2 = 0x1.111111110f8a6p-7,
              s3 = -0x1.a01a019c161d5p-13, s4 = 0x1.71de357b1fe7dp-19,
              s5 = -0x1.ae5e68a2b9cebp-26, s6 = 0x1.5d93a5acfd57cp-33;
constexpr f64 c1 = 0x1.555555555554cp-5, c2 = -0x1.6c16c16c15177p-10,
              c3 = 0x1.a01a019cb1590p-16, c4 = -0x1.27e4f809c52adp-22,
              c5 = 0x1.1ee9ebdb4b1c4p-29, c6 = -0x1.8fae9be8838d4p-37;

// sin(x + y) for |x| <= pi/4, y a tail far below ulp(x).
f64 kernel_sin(f64 x, f64 y) {
  f64 z = x * x, w = z * z;
  f64 r = s2 + z * (s3 + z * s4) + z * w * (s5 + z * s6);
  f64 v = z * x;
  return x - ((z * (0.5 * y - v * r) - y) - v * s1);
}

// cos(x + y) for |x| <= pi/4: 1 - z/2 is formed with its rounding error
// carried along, which keeps the result within an ulp near the interval's end.
f64 kernel_cos(f64 x, f64 y) {
  f64 z = x * x, w = z * z;
  f64 r = z * (c1 + z * (c2 + z * c3)) + w * w * (c4 + z * (c5 + z * c6));
  f64 hz = 0.5 * z;
  f64 one_minus = 1.0 - hz;
  return one_minus + (((1.0 - one_minus) - hz) + (z * r - x * y));
}

// a + b = sum + returned error, exactly, whatever the magnitudes.
f64 two_sum_err(f64 a, f64 b, f64 sum) {
  f64 bb = sum - a;
  return (a - (sum - bb)) + (b - bb);
}

}  // namespace

void zp_sincos(f64 x, f64 *s, f64 *c) {
  f64 ax = x < 0 ? -x : x;
  if (ax < 0x1p-27) {  // sin x rounds to x and cos x to 1; keeps sin(-0) = -0
    *s = x;
    *c = 1.0;
    return;
  }
  if (!(ax <= 0x1p30)) {  // also NaN and infinities
    *s = *c = __builtin_nan("");
    return;
  }
  f64 hi = x, lo = 0.0;
  u32 quadrant = 0;
  if (ax > 0x1.921fb54442d18p-1) {  // beyond pi/4
    f64 fn = (x * inv_pio2 + round_magic) - round_magic;
    quadrant = (u32)(i32)fn;
    // x - fn pio2_1 is exact (both lie within a factor two of each other);
    // the remaining parts are taken off with their rounding errors kept in
    // lo, since near a multiple of pi/2 almost all leading bits cancel.
    f64 r = x - fn * pio2_1;
    f64 w = fn * pio2_2;
    f64 h = r - w;
    f64 e = two_sum_err(r, -w, h);
    w = fn * pio2_3;
    f64 h2 = h - w;
    e = e + two_sum_err(h, -w, h2);
    e = e - fn * pio2_4;
    hi = h2 + e;
    lo = e - (hi - h2);
  }
  f64 sv = kernel_sin(hi, lo), cv = kernel_cos(hi, lo);
  switch (quadrant & 3) {
    case 0: *s = sv;  *c = cv;  break;
    case 1: *s = cv;  *c = -sv; break;
    case 2: *s = -sv; *c = -cv; break;
    default: *s = -cv; *c = sv; break;
  }
}

// --- matrices ----------------------------------------------------------------

void mat_transpose(const f32 *src, f32 *dst) {
  f32 t[9];
  for (u32 i = 0; i < 3; ++i)
    for (u32 j = 0; j < 3; ++j) t[3 * i + j] = src[3 * j + i];
  for (u32 k = 0; k < 9; ++k) dst[k] = t[k];
}

// Products of two f32 are exact in double; the three are summed from the
// first and rounded to f32 once.
void mat_mul(const f32 *a, const f32 *b, f32 *out) {
  f32 t[9];
  for (u32 i = 0; i < 3; ++i)
    for (u32 j = 0; j < 3; ++j)
      t[3 * i + j] = (f32)((f64)a[3 * i] * b[j] + (f64)a[3 * i + 1] * b[3 + j] +
                           (f64)a[3 * i + 2] * b[6 + j]);
  for (u32 k = 0; k < 9; ++k) out[k] = t[k];
}

void car_basis(u32 car, f32 *out) {
  const f32 *b = obj_f32(car, car_off_basis);
  for (u32 k = 0; k < 9; ++k) out[k] = b[k];
}

void car_position(u32 car, f32 *out) {
  const f32 *p = obj_f32(car, car_off_pos);
  for (u32 k = 0; k < 3; ++k) out[k] = p[k];
}

void mat_rotation(f32 yaw, f32 pitch, f32 roll, f32 *out) {
  f64 s, c;
  zp_sincos(yaw, &s, &c);
  f32 sy = (f32)s, cy = (f32)c;
  zp_sincos(pitch, &s, &c);
  f32 sp = (f32)s, cp = (f32)c;
  zp_sincos(roll, &s, &c);
  f32 sq = (f32)s, cq = (f32)c;
  const f32 y[9] = {cy, 0, -sy, 0, 1, 0, sy, 0, cy};
  const f32 p[9] = {1, 0, 0, 0, cp, sp, 0, -sp, cp};
  const f32 q[9] = {cq, sq, 0, -sq, cq, 0, 0, 0, 1};
  mat_mul(y, p, out);
  mat_mul(out, q, out);
}

// --- a car's frame -------------------------------------------------------------

void world_to_car(const f32 *c, const f32 *pos, const f32 *p, f32 *o) {
  f64 d0 = (f64)p[0] - pos[0], d1 = (f64)p[1] - pos[1], d2 = (f64)p[2] - pos[2];
  for (u32 i = 0; i < 3; ++i)
    o[i] = (f32)(c[3 * i] * d0 + c[3 * i + 1] * d1 + c[3 * i + 2] * d2);
}

void car_to_world(const f32 *c, const f32 *pos, const f32 *o, f32 *p) {
  for (u32 k = 0; k < 3; ++k)
    p[k] = (f32)((((f64)c[k] * o[0] + pos[k]) + (f64)c[3 + k] * o[1]) + (f64)c[6 + k] * o[2]);
}

void orient_to_car(const f32 *m, const f32 *c, f32 *r) {
  f32 ct[9];
  mat_transpose(c, ct);
  mat_mul(m, ct, r);
}

void orient_to_world(const f32 *r, const f32 *c, f32 *m) { mat_mul(r, c, m); }
