// The simulated game's tracks: closed loops with some height, driven by
// distance along the centre line. World axes as in the game: y is up, and an
// object's basis holds its right, up and forward axes as rows.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "platform/types.h"

namespace sim {

struct vec3 {
  double x = 0, y = 0, z = 0;
};
inline vec3 operator+(vec3 a, vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vec3 operator-(vec3 a, vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vec3 operator*(vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(vec3 a, vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline vec3 cross(vec3 a, vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(vec3 a) { return std::sqrt(dot(a, a)); }
inline vec3 normalize(vec3 a) {
  double l = length(a);
  return l > 0 ? a * (1.0 / l) : vec3{0, 0, 1};
}

// An orientation in the game's form: rows right, up, forward.
struct basis {
  vec3 right{1, 0, 0}, up{0, 1, 0}, forward{0, 0, 1};
};
// Looking along forward with the world's up as near as possible to up.
basis look_along(vec3 forward);

struct track {
  std::string name;
  double length = 0;     // of the centre line, world units
  double width = 14;     // of the road
  std::vector<vec3> centre;  // evenly spaced by distance, closed (last joins first)

  std::vector<double> bend30;              // turn(d, 30) at each sample
  std::vector<double> bank_cos, bank_sin;  // the road's bank at each sample

  // The centre line at a distance along it (any distance: laps wrap).
  vec3 at(double dist) const;
  // The road's frame there: forward along the road, banked in the curves.
  basis frame(double dist) const;
  // How much the road turns over the next `ahead` units, radians.
  double turn(double dist, double ahead) const;
  // turn(dist, 30), from the samples: what a driver looks ahead for.
  double bend_ahead(double dist) const;

 private:
  void locate(double dist, size_t &i, size_t &k, double &f) const;
};

// The loop of a track by its name: alpine, harbour, desert and oval are laid
// out by hand; any other name gets a loop derived from the name.
track make_track(const std::string &name);

}  // namespace sim
