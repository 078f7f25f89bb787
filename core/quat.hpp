#pragma once
// Quaternions (w, i, j, k) as rotations of Vec3d values. The conventions (what is stored, which
// side the conjugate goes) are written down once, in docs/numerics.md; the comments below give
// evaluation orders.
//
// Nothing here normalises implicitly: every operation works on the four stored doubles as they
// are, so a quaternion of magnitude m scales what it rotates by m * m. Every expression is
// written in evaluation order and the build never fuses a product into a sum.
#include <array>
#include <cmath>

#include "core/angle.hpp"
#include "core/vec3d.hpp"

namespace quorvane::core {

struct AxisAngle;

struct Quat {
    double w;  // scalar part
    double i;
    double j;
    double k;

    static constexpr Quat identity() { return {1.0, 0.0, 0.0, 0.0}; }

    // h = angle * -0.5, then (cos h, sin h * axis) with sine and cosine from one sincos call.
    // The axis is used as given: an axis of length L gives a magnitude of sqrt(c*c + s*s*L*L).
    static Quat from_axis_angle(const Vec3d& axis, AngleRadians angle);
};

struct AxisAngle {
    Vec3d axis;
    AngleRadians angle;
};

using RotationMatrix = std::array<std::array<double, 3>, 3>;  // row by row

// A sign-bit flip of the vector part.
inline Quat conjugate(const Quat& q) { return {q.w, -q.i, -q.j, -q.k}; }

// ((w-term + i-term) + j-term) + k-term; never fused.
inline double magnitude(const Quat& q) { return std::sqrt(((q.w * q.w + q.i * q.i) + q.j * q.j) + q.k * q.k); }

// Four divisions; the zero quaternion gives four NaN.
inline Quat normalize(const Quat& q) {
    const double m = magnitude(q);
    return {q.w / m, q.i / m, q.j / m, q.k / m};
}

inline bool is_unit(const Quat& q) { return is_unit_magnitude(magnitude(q)); }

// Absolute tolerance per component, tested w, i, j, k in turn; not transitive, NaN never equal.
inline bool operator==(const Quat& a, const Quat& b) {
    return within_epsilon(a.w - b.w) && within_epsilon(a.i - b.i) && within_epsilon(a.j - b.j) &&
           within_epsilon(a.k - b.k);
}

// Two paths. w within epsilon of 1 (only 1.0 and 1 - 2^-53) is the null rotation: axis (1, 0, 0),
// angle 0.0. Otherwise a = acos(w), angle a + a, and the vector part divided by sin(angle * 0.5).
// No guard: w = -1 with a zero vector part divides by sin(pi) = 1.2246467991473532e-16 and gives
// the zero axis with angle 2 pi; |w| > 1 gives NaN throughout.
AxisAngle to_axis_angle(const Quat& q);

// The components of a rotated vector.
template <class T>
struct RotatedComponents {
    T x, y, z;
};

// The vector part of conj(q) * (0, v) * q, in two stages and in exactly this order. The terms
// with v's zero scalar part (w * 0.0, i * 0.0, ...) stay: they turn -0.0 inputs into +0.0 and
// carry infinities into NaN. T is double, or a vector of doubles (a compiler vector type whose
// +, - and * act lane by lane) that rotates several vectors at once, each lane to the same bits
// as one call with doubles. Inline because the batch rotation of a vector list runs it per element.
template <class T>
inline RotatedComponents<T> rotate_components(const Quat& q, T x, T y, T z) {
    const double w = q.w, i = q.i, j = q.j, k = q.k;
    // p = conj(q) * (0, x, y, z)
    const T pw = ((x * i + w * 0.0) + y * j) + z * k;
    const T pi = ((x * w - i * 0.0) - z * j) + y * k;
    const T pj = ((y * w - j * 0.0) - x * k) + z * i;
    const T pk = ((z * w - k * 0.0) - y * i) + x * j;
    // the vector part of p * q
    return {((i * pw + w * pi) + k * pj) - j * pk,
            ((w * pj + j * pw) + i * pk) - k * pi,
            ((w * pk + k * pw) + j * pi) - i * pj};
}

inline Vec3d rotate(const Quat& q, const Vec3d& v) {
    const RotatedComponents<double> r = rotate_components(q, v.x, v.y, v.z);
    return {r.x, r.y, r.z};
}

// The matrix of q * (0, v) * conj(q): the transpose of what `rotate` applies. Each entry is its
// bracket (two products, then their sum or difference), then doubled (exact), then on the
// diagonal subtracted from 1.0.
inline RotationMatrix to_rotation_matrix(const Quat& q) {
    const double w = q.w, i = q.i, j = q.j, k = q.k;
    return {{{1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j)},
             {2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i)},
             {2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)}}};
}

inline Vec3d to_vec3d(const Quat& q) { return {q.i, q.j, q.k}; }

// The pure quaternion of a vector; its scalar part is +0.0.
inline Quat to_quat(const Vec3d& v) { return {0.0, v.x, v.y, v.z}; }

}  // namespace quorvane::core
