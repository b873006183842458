// The free camera's own sine and cosine against the C library's, and the
// matrix operations' aliasing and exactness rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "freecam/orient.h"

namespace {

void expect_close(f64 x) {
  auto ulp = [](f64 v) { return std::nextafter(std::fabs(v), INFINITY) - std::fabs(v); };
  f64 s, c;
  zp_sincos(x, &s, &c);
  EXPECT_NEAR(s, std::sin(x), 2 * ulp(std::sin(x))) << std::hexfloat << x;
  EXPECT_NEAR(c, std::cos(x), 2 * ulp(std::cos(x))) << std::hexfloat << x;
}

const f32 sample[9] = {0.8f, -0.1f, 0.59f, 0.2f, 0.97f, -0.13f, -0.56f, 0.2f, 0.8f};

}  // namespace

TEST(SinCos, ExactAtZeroAndWithinTwoUlpsOfTheLibrary) {
  f64 s, c;
  zp_sincos(0.0, &s, &c);
  EXPECT_TRUE(s == 0.0 && !std::signbit(s) && c == 1.0);
  zp_sincos(-0.0, &s, &c);
  EXPECT_TRUE(std::signbit(s));
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<f64> wide(-4000.0, 4000.0), narrow(-2.0, 2.0);
  for (int i = 0; i < 20000; ++i) expect_close(wide(rng)), expect_close(narrow(rng));
  for (int k = -2600; k <= 2600; ++k) {  // near multiples of pi/2 nearly all bits cancel
    expect_close(k * M_PI_2);
    expect_close(std::nextafter(k * M_PI_2, 1e9));
  }
  for (f64 x : {M_PI_4, std::nextafter(M_PI_4, 1.0), 1e-9, 0x1p-27, 1024 * 0.0015}) expect_close(x);
}

TEST(Matrix, ProductAndTransposeInPlace) {
  f32 b[9], ref[9], left[9], right[9], t[9];
  mat_transpose(sample, b);
  b[4] = 0.5f;
  mat_mul(sample, b, ref);
  for (int i = 0; i < 9; ++i) {  // the product a b, not b a
    f64 sum = 0;
    for (int k = 0; k < 3; ++k) sum += (f64)sample[i / 3 * 3 + k] * b[3 * k + i % 3];
    EXPECT_NEAR(ref[i], sum, 1e-7);
  }
  memcpy(left, sample, sizeof left);
  mat_mul(left, b, left);
  memcpy(right, b, sizeof right);
  mat_mul(sample, right, right);
  EXPECT_EQ(0, memcmp(left, ref, sizeof ref));
  EXPECT_EQ(0, memcmp(right, ref, sizeof ref));
  memcpy(t, sample, sizeof t);
  mat_transpose(t, t);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t[i], sample[i % 3 * 3 + i / 3]);
}

TEST(Rotation, ZeroAnglesAreExactlyTheIdentity) {
  f32 r[9], m[9];
  mat_rotation(0.0f, 0.0f, 0.0f, r);
  const f32 id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(0, memcmp(r, id, sizeof id));
  mat_mul(r, sample, m);
  EXPECT_EQ(0, memcmp(m, sample, sizeof m));
}
