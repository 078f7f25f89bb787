#pragma once
// Composing, inverting, interpolating and converting rotations stored as core::Quat.
//
// A stored quaternion q rotates v as conj(q) * v * q (see quat.hpp). Other libraries store the
// "active" quaternion p of the same rotation, which rotates as p * v * conj(p): p = conj(q). The
// conversions below therefore flip the vector part's sign bits on the way in and out; everything
// else works on stored quaternions. Every expression is written in evaluation order, never fused.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/angle.hpp"
#include "core/quat.hpp"
#include "core/vec3d.hpp"

namespace quorvane::core {

// The stored quaternion of the active one (w, x, y, z): three sign-bit flips.
inline Quat from_active(double w, double x, double y, double z) { return {w, -x, -y, -z}; }

struct ActiveQuat {
    double w, x, y, z;
};
inline ActiveQuat to_active(const Quat& q) { return {q.w, -q.i, -q.j, -q.k}; }

// The Hamilton product a * b. For stored quaternions that is "a, then b":
// conj(a * b) * v * (a * b) = conj(b) * (conj(a) * v * a) * b.
inline Quat then(const Quat& a, const Quat& b) {
    return {((a.w * b.w - a.i * b.i) - a.j * b.j) - a.k * b.k,
            ((a.w * b.i + a.i * b.w) + a.j * b.k) - a.k * b.j,
            ((a.w * b.j - a.i * b.k) + a.j * b.w) + a.k * b.i,
            ((a.w * b.k + a.i * b.j) - a.j * b.i) + a.k * b.w};
}

// The conjugate over the squared magnitude; the vector part is negated before it is divided.
// A zero quaternion divides by zero and gives NaN, like every unguarded division here.
inline Quat inverse(const Quat& q) {
    const double n = ((q.w * q.w + q.i * q.i) + q.j * q.j) + q.k * q.k;
    return {q.w / n, -q.i / n, -q.j / n, -q.k / n};
}

// Spherical linear interpolation along the shorter arc: b is negated when the four-component
// dot product is negative. The arc's angle comes from atan2 of |a - b| and |a + b|, which stays
// accurate for nearly equal inputs (acos of the dot product would lose half the digits there),
// and equal inputs take the linear weights instead of dividing sin(0) by sin(0).
Quat slerp(const Quat& a, const Quat& b, double t);

// The inverse of to_rotation_matrix, by Shepperd's method: of 4w², 4i², 4j², 4k² (each read off
// the diagonal) the largest is square-rooted and the other three components come from
// off-diagonal sums and differences divided by it, so no division is by a small number. No check
// that the matrix is a rotation, and no normalisation of the result.
Quat from_rotation_matrix(const RotationMatrix& m);

// An Euler-angle sequence: three axes (0 = x, 1 = y, 2 = z), no axis twice in a row; extrinsic
// rotations turn about the fixed axes in the order written, intrinsic ones about the axes as
// the earlier rotations left them.
struct EulerSequence {
    std::array<std::uint8_t, 3> axes;
    bool intrinsic;
};

// "xyz", "zxz", ... (extrinsic) or "XYZ", "ZXZ", ... (intrinsic); nothing else.
std::optional<EulerSequence> parse_euler_sequence(std::string_view text);

Quat from_euler(const EulerSequence& sequence, AngleRadians a, AngleRadians b, AngleRadians c);

struct EulerAngles {
    AngleRadians a, b, c;
};

// Angles that from_euler turns back into the rotation of q (a unit q; the magnitude is ignored).
// The first and third lie in [-pi, pi]; the second in [-pi/2, pi/2] when the three axes differ
// and in [0, pi] when the first and third are the same. At gimbal lock the angle applied last is 0.
EulerAngles to_euler(const Quat& q, const EulerSequence& sequence);

// The unit quaternion of the shortest rotation taking the direction of `from` onto that of `to`.
// Opposite directions give a half turn about an axis perpendicular to `from`. Each vector is
// divided by its largest absolute component before it is normalised, so no finite non-zero
// vector overflows or underflows on the way.
Quat rotation_between(const Vec3d& from, const Vec3d& to);

}  // namespace quorvane::core
