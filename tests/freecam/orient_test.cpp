// The plug-in's own arithmetic of orientations: its sine and cosine against
// the C library's, and a car's frame carried to the world.
#include <cmath>
#include <random>

#include "freecam/orient.h"
#include "tests/support.h"

namespace {

// The position is transpose(c) o + pos with pos added after the first term;
// on a nearly level car 1000 high with an offset 1000 down, the other order
// of the same sums rounds y to -0x1.ec9128p-17.
TEST(CarFrame, TheCarsPositionIsAddedAfterTheFirstTerm) {
  const f32 c[9] = {1, -0x1.15259ep-11f, 0, 0, 1, 0, 0, 0x1.00e22p-11f, 1}, pos[3] = {0, 1000, 0};
  const f32 o[3] = {0x1.03d1p+1f, -1000, 0x1.1479fap+1f};
  f32 p[3];
  car_to_world(c, pos, o, p);
  EXPECT_EQ(std::vector<f32>(p, p + 3), (std::vector<f32>{0x1.03d1p+1f, -0x1.ec912ap-17f, 0x1.1479fap+1f}));
}

// Near multiples of pi/2 too, where nearly all bits cancel, and at tiny angles.
TEST(SinCos, WithinOneUlpOfTheLibrary) {
  std::vector<f64> xs = {M_PI_4, std::nextafter(M_PI_4, 1.0), 1e-9, -1e-9, 0x1p-27};
  for (int k = -2600; k <= 2600; ++k) {
    xs.push_back(k * M_PI_2);
    xs.push_back(std::nextafter(k * M_PI_2, 1e9));
  }
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<f64> wide(-4000.0, 4000.0), narrow(-2.0, 2.0);
  for (int i = 0; i < 20000; ++i) {
    xs.push_back(wide(rng));
    xs.push_back(narrow(rng));
  }
  auto ulp = [](f64 v) { return std::nextafter(std::fabs(v), 2.0) - std::fabs(v); };
  size_t same_sin = 0, same_cos = 0;
  for (f64 x : xs) {
    f64 s, c;
    zp_sincos(x, &s, &c);
    ASSERT_NEAR(s, std::sin(x), ulp(std::sin(x))) << std::hexfloat << x;
    ASSERT_NEAR(c, std::cos(x), ulp(std::cos(x))) << std::hexfloat << x;
    same_sin += s == std::sin(x);
    same_cos += c == std::cos(x);
  }
  // and round as the library does nearly everywhere (97 %): a slip in the
  // reduction's tail costs a few percent long before it costs an ulp.
  EXPECT_GT(same_sin, xs.size() * 96 / 100);
  EXPECT_GT(same_cos, xs.size() * 96 / 100);
}

}  // namespace
