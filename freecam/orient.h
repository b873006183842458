// The 3x3 matrix operations the free camera turns and binds with. A matrix is
// nine f32 stored row by row, element (i, j) at 3i + j; an orientation holds
// the object's own axes as rows in world coordinates: right, up, forward.
// Camera objects (+0x2c) and car objects (+0x34) store theirs the same way.
//
// Every element is summed in double and rounded to f32 once, in a fixed
// order, so that the PE and the ELF build give the same bits for a pose.
#pragma once

#include "platform/types.h"

// Sine and cosine of x together, in double precision, computed by the
// plug-in itself: within about 1 ulp for |x| up to 2^19 pi/2, exact at 0.
// Beyond 2^30 radians (no input of ours comes near) both are NaN.
void zp_sincos(f64 x, f64 *s, f64 *c);

// dst = transpose of src; dst may be src.
void mat_transpose(const f32 *src, f32 *dst);
// out = a b; out may be a or b.
void mat_mul(const f32 *a, const f32 *b, f32 *out);
// The nine floats of a car object's basis.
void car_basis(u32 car, f32 *out);
// The car object's world position.
void car_position(u32 car, f32 *out);

// The incremental rotation R = (Y P) Q. Applied from the left (R M) it turns
// an orientation about its own current axes: positive yaw turns forward
// towards right, positive pitch turns forward towards minus up, positive roll
// turns right towards up. All three 0 give exactly the identity.
void mat_rotation(f32 yaw, f32 pitch, f32 roll, f32 *out);

// A car with basis c and position pos:
// world point p as an offset in the car's frame, o = c (p - pos);
void world_to_car(const f32 *c, const f32 *pos, const f32 *p, f32 *o);
// and back, p = transpose(c) o + pos, with the car's position added after
// the first term (the order fixes the last bit of a bound camera's position).
void car_to_world(const f32 *c, const f32 *pos, const f32 *o, f32 *p);
// World orientation m relative to the car, r = m transpose(c);
void orient_to_car(const f32 *m, const f32 *c, f32 *r);
// and back, m = r c.
void orient_to_world(const f32 *r, const f32 *c, f32 *m);
