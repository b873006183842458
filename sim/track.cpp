#include "sim/track.h"

#include <algorithm>

namespace sim {
namespace {

constexpr double two_pi = 6.283185307179586;

// A loop as radius and height over the angle around its middle: a star-shaped
// curve (the radius never reaches 0), so it never crosses itself.
struct shape {
  double radius;
  double squash;                 // z is scaled by this: ovals
  int k1; double a1, p1;         // two waves on the radius
  int k2; double a2, p2;
  double height;                 // hills: two waves on y
  int h1; double hp1;
  int h2; double hp2;
};

shape shape_of(const std::string &name) {
  if (name == "alpine") return {150, 1.0, 3, 0.22, 0.4, 5, 0.08, 1.3, 16, 2, 0.3, 3, 1.1};
  if (name == "harbour") return {170, 0.7, 2, 0.18, 0.0, 4, 0.06, 0.9, 4, 1, 0.0, 2, 0.5};
  if (name == "desert") return {190, 0.8, 1, 0.15, 0.2, 3, 0.10, 2.0, 8, 2, 1.0, 5, 0.2};
  if (name == "oval") return {140, 0.55, 2, 0.0, 0.0, 2, 0.0, 0.0, 0, 1, 0.0, 1, 0.0};
  // Any other name: FNV-1a of the name picks the waves.
  u32 h = 2166136261u;
  for (char c : name) h = (h ^ (u8)c) * 16777619u;
  auto pick = [&h](double lo, double hi) {
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    return lo + (hi - lo) * (double)(h & 0xffff) / 65535.0;
  };
  return {pick(130, 200), pick(0.6, 1.0), 2 + (int)pick(0, 3.99), pick(0.08, 0.24), pick(0, 6),
          4 + (int)pick(0, 2.99), pick(0.02, 0.08), pick(0, 6), pick(0, 20), 1 + (int)pick(0, 2.99),
          pick(0, 6), 3, pick(0, 6)};
}

vec3 loop_point(const shape &s, double t) {
  double r = s.radius * (1 + s.a1 * std::cos(s.k1 * t + s.p1) + s.a2 * std::sin(s.k2 * t + s.p2));
  double y = s.height * (0.7 * std::sin(s.h1 * t + s.hp1) + 0.3 * std::sin(s.h2 * t + s.hp2));
  return {r * std::cos(t), y, r * std::sin(t) * s.squash};
}

}  // namespace

basis look_along(vec3 forward) {
  basis b;
  b.forward = normalize(forward);
  vec3 right = cross(vec3{0, 1, 0}, b.forward);
  b.right = length(right) > 1e-9 ? normalize(right) : vec3{1, 0, 0};
  b.up = cross(b.forward, b.right);
  return b;
}

track make_track(const std::string &name) {
  const shape s = shape_of(name);
  // Dense samples by angle, then resampled by distance so that a car's
  // distance maps linearly onto the road.
  constexpr int dense = 8192, even = 2048;
  std::vector<vec3> p(dense + 1);
  std::vector<double> d(dense + 1, 0.0);
  for (int i = 0; i <= dense; ++i) p[i] = loop_point(s, two_pi * i / dense);
  for (int i = 1; i <= dense; ++i) d[i] = d[i - 1] + length(p[i] - p[i - 1]);

  track t;
  t.name = name;
  t.length = d[dense];
  t.centre.resize(even);
  int j = 0;
  for (int i = 0; i < even; ++i) {
    double want = t.length * i / even;
    while (j + 1 < dense && d[j + 1] < want) ++j;
    double f = (want - d[j]) / std::max(1e-12, d[j + 1] - d[j]);
    t.centre[i] = p[j] + (p[j + 1] - p[j]) * f;
  }
  // What the drivers and the road's bank need of the bends, once a sample.
  t.bend30.resize(even);
  t.bank_cos.resize(even);
  t.bank_sin.resize(even);
  for (int i = 0; i < even; ++i) {
    const double d = t.length * i / even;
    t.bend30[i] = t.turn(d, 30);
    const double bank = std::clamp(t.turn(d - 10, 20) * 0.35, -0.15, 0.15);
    t.bank_cos[i] = std::cos(bank);
    t.bank_sin[i] = std::sin(bank);
  }
  return t;
}

// Whole samples by an integer cut rather than fmod and floor: the cars ask
// for places along the road some ten times a frame each, and both are slow
// in the emulated 32-bit maths.
void track::locate(double dist, size_t &i, size_t &k, double &f) const {
  const double pos = dist / length * (double)centre.size();
  i64 whole = (i64)pos;
  if ((double)whole > pos) --whole;
  f = pos - (double)whole;
  const i64 n = (i64)centre.size();
  i = (size_t)(((whole % n) + n) % n);
  k = (i + 1) % centre.size();
}

vec3 track::at(double dist) const {
  size_t i, k;
  double f;
  locate(dist, i, k, f);
  return centre[i] + (centre[k] - centre[i]) * f;
}

double track::bend_ahead(double dist) const {
  size_t i, k;
  double f;
  locate(dist, i, k, f);
  return bend30[i] + (bend30[k] - bend30[i]) * f;
}

double track::turn(double dist, double ahead) const {
  vec3 a = normalize(at(dist + 1) - at(dist - 1));
  vec3 b = normalize(at(dist + ahead + 1) - at(dist + ahead - 1));
  // Signed, in the ground plane: positive turns right.
  double c = a.x * b.x + a.z * b.z, s = a.z * b.x - a.x * b.z;
  return std::atan2(s, c);
}

basis track::frame(double dist) const {
  basis b = look_along(at(dist + 2) - at(dist - 2));
  // Bank into the curve: the right axis dips in a right-hand turn.
  size_t i, k;
  double f;
  locate(dist, i, k, f);
  const double c = bank_cos[i] + (bank_cos[k] - bank_cos[i]) * f;
  const double s = bank_sin[i] + (bank_sin[k] - bank_sin[i]) * f;
  vec3 right = b.right * c - b.up * s;
  vec3 up = b.right * s + b.up * c;
  b.right = right;
  b.up = up;
  return b;
}

}  // namespace sim
