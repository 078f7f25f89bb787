#include "core/quat_algebra.hpp"

#include <cmath>
#include <numbers>

namespace quorvane::core {

namespace {

Quat scaled(const Quat& q, double s) { return {s * q.w, s * q.i, s * q.j, s * q.k}; }

double length(double w, double i, double j, double k) { return std::sqrt(((w * w + i * i) + j * j) + k * k); }

}  // namespace

Quat slerp(const Quat& a, const Quat& b_given, double t) {
    const double dot = ((a.w * b_given.w + a.i * b_given.i) + a.j * b_given.j) + a.k * b_given.k;
    const Quat b = dot < 0.0 ? Quat{-b_given.w, -b_given.i, -b_given.j, -b_given.k} : b_given;
    const double apart = length(a.w - b.w, a.i - b.i, a.j - b.j, a.k - b.k);
    const double together = length(a.w + b.w, a.i + b.i, a.j + b.j, a.k + b.k);
    const double angle = 2.0 * std::atan2(apart, together);
    double weight_a = 1.0 - t;
    double weight_b = t;
    if (angle != 0.0) {
        const double s = std::sin(angle);
        weight_a = std::sin((1.0 - t) * angle) / s;
        weight_b = std::sin(t * angle) / s;
    }
    const Quat from_a = scaled(a, weight_a);
    const Quat from_b = scaled(b, weight_b);
    return {from_a.w + from_b.w, from_a.i + from_b.i, from_a.j + from_b.j, from_a.k + from_b.k};
}

Quat from_rotation_matrix(const RotationMatrix& m) {
    const double trace = (m[0][0] + m[1][1]) + m[2][2];
    // 4w², 4i², 4j², 4k² of the quaternion whose matrix m is; the first largest wins.
    const double squares[4] = {1.0 + trace, ((1.0 + m[0][0]) - m[1][1]) - m[2][2],
                               ((1.0 - m[0][0]) + m[1][1]) - m[2][2], ((1.0 - m[0][0]) - m[1][1]) + m[2][2]};
    int largest = 0;
    for (int n = 1; n < 4; ++n)
        if (squares[n] > squares[largest]) largest = n;
    const double root = std::sqrt(squares[largest]);  // 2 |component|
    const double half = root * 0.5;
    const double quarter_over = 0.5 / root;           // so that (sum or difference) * it = value / (4 |component|)
    const double w_i = m[2][1] - m[1][2];             // 4wi
    const double w_j = m[0][2] - m[2][0];             // 4wj
    const double w_k = m[1][0] - m[0][1];             // 4wk
    const double i_j = m[0][1] + m[1][0];             // 4ij
    const double i_k = m[0][2] + m[2][0];             // 4ik
    const double j_k = m[1][2] + m[2][1];             // 4jk
    switch (largest) {
        case 0: return {half, w_i * quarter_over, w_j * quarter_over, w_k * quarter_over};
        case 1: return {w_i * quarter_over, half, i_j * quarter_over, i_k * quarter_over};
        case 2: return {w_j * quarter_over, i_j * quarter_over, half, j_k * quarter_over};
        default: return {w_k * quarter_over, i_k * quarter_over, j_k * quarter_over, half};
    }
}

std::optional<EulerSequence> parse_euler_sequence(std::string_view text) {
    if (text.size() != 3) return std::nullopt;
    EulerSequence sequence{{}, text[0] >= 'X' && text[0] <= 'Z'};
    const char first = sequence.intrinsic ? 'X' : 'x';
    for (std::size_t n = 0; n < 3; ++n) {
        if (text[n] < first || text[n] > first + 2) return std::nullopt;
        sequence.axes[n] = static_cast<std::uint8_t>(text[n] - first);
    }
    if (sequence.axes[0] == sequence.axes[1] || sequence.axes[1] == sequence.axes[2]) return std::nullopt;
    return sequence;
}

namespace {

Quat about_axis(std::uint8_t axis, AngleRadians angle) {
    const Vec3d unit{axis == 0 ? 1.0 : 0.0, axis == 1 ? 1.0 : 0.0, axis == 2 ? 1.0 : 0.0};
    return Quat::from_axis_angle(unit, angle);
}

}  // namespace

// Extrinsic: the rotation about the first axis comes first. Intrinsic: the same rotations in the
// opposite order, since turning about an axis that earlier rotations moved is turning about the
// fixed axis before them.
Quat from_euler(const EulerSequence& sequence, AngleRadians a, AngleRadians b, AngleRadians c) {
    const Quat first = about_axis(sequence.axes[0], a);
    const Quat second = about_axis(sequence.axes[1], b);
    const Quat third = about_axis(sequence.axes[2], c);
    if (sequence.intrinsic) return then(then(third, second), first);
    return then(then(first, second), third);
}

namespace {

// q times the power of two that brings its largest component into [0.5, 1): exact, so the angles
// do not change, and no sum of two components can overflow afterwards.
Quat at_unit_scale(const Quat& q) {
    const double largest = std::fmax(std::fmax(std::fabs(q.w), std::fabs(q.i)), std::fmax(std::fabs(q.j), std::fabs(q.k)));
    if (largest == 0.0 || !std::isfinite(largest)) return q;
    int exponent = 0;
    std::frexp(largest, &exponent);
    return {std::ldexp(q.w, -exponent), std::ldexp(q.i, -exponent), std::ldexp(q.j, -exponent), std::ldexp(q.k, -exponent)};
}

double wrapped(double angle) {
    constexpr double pi = std::numbers::pi;
    if (angle > pi) return angle - 2.0 * pi;
    if (angle < -pi) return angle + 2.0 * pi;
    return angle;
}

}  // namespace

// On the active quaternion p, for the extrinsic form of the sequence (an intrinsic sequence is
// the extrinsic one reversed, with its angles reversed). A sequence of three different axes
// (Tait-Bryan) is turned into one whose first and third axes agree by rotating the frame, which
// mixes p's components into (a, b, c, d); from those the middle angle is 2 atan2(|(c, d)|,
// |(a, b)|), and the outer angles are the sum and difference of atan2(b, a) and atan2(d, c),
// which stay accurate up to gimbal lock. At gimbal lock one of the two atan2 is free: it is
// chosen so that the angle applied last (the third returned) is zero.
EulerAngles to_euler(const Quat& q, const EulerSequence& sequence) {
    const ActiveQuat p = to_active(at_unit_scale(q));
    const double vector[3] = {p.x, p.y, p.z};
    const bool reversed = sequence.intrinsic;
    const int first = sequence.axes[reversed ? 2 : 0];
    const int middle = sequence.axes[1];
    const int last_given = sequence.axes[reversed ? 0 : 2];
    const bool proper = first == last_given;
    const int last = proper ? 3 - first - middle : last_given;
    const double handedness = static_cast<double>((first - middle) * (middle - last) * (last - first) / 2);
    double a, b, c, d;
    if (proper) {
        a = p.w;
        b = vector[first];
        c = vector[middle];
        d = vector[last] * handedness;
    } else {
        a = p.w - vector[middle];
        b = vector[first] + vector[last] * handedness;
        c = vector[middle] + p.w;
        d = vector[last] * handedness - vector[first];
    }
    const double ab = std::hypot(a, b);
    const double cd = std::hypot(c, d);
    double middle_angle = 2.0 * std::atan2(cd, ab);
    double plus = std::atan2(b, a);
    double minus = std::atan2(d, c);
    // Lock is where one length is rounding noise next to the other: from_euler with the middle
    // angle half_pi(), 0 or pi leaves a few units in the last place of the other length, never
    // 2^-46 of it. Forcing the split there moves the rotation by about that ratio, far less than
    // the outer angles' own error just outside it. The free half-angle makes the angle applied
    // last (the third returned: the third extrinsic rotation, the last intrinsic one) zero.
    constexpr double lock_ratio = 0x1p-46;
    if (cd <= ab * lock_ratio) minus = reversed ? plus : -plus;
    else if (ab <= cd * lock_ratio) plus = reversed ? minus : -minus;
    double outer_first = plus - minus;
    double outer_last = plus + minus;
    if (!proper) {
        outer_last = outer_last * handedness;
        middle_angle = middle_angle - std::numbers::pi / 2.0;
    }
    outer_first = wrapped(outer_first);
    outer_last = wrapped(outer_last);
    if (reversed) return {{outer_last}, {middle_angle}, {outer_first}};
    return {{outer_first}, {middle_angle}, {outer_last}};
}

namespace {

// Divides by the largest absolute component first, so the squares neither overflow nor vanish.
Vec3d direction(const Vec3d& v) {
    const double largest = std::fmax(std::fmax(std::fabs(v.x), std::fabs(v.y)), std::fabs(v.z));
    return normalize(Vec3d{v.x / largest, v.y / largest, v.z / largest});
}

// The coordinate axis least aligned with u, crossed with u: never parallel to it.
Vec3d perpendicular(const Vec3d& u) {
    const double ax = std::fabs(u.x), ay = std::fabs(u.y), az = std::fabs(u.z);
    const Vec3d axis = ax <= ay && ax <= az ? Vec3d{1.0, 0.0, 0.0} : ay <= az ? Vec3d{0.0, 1.0, 0.0} : Vec3d{0.0, 0.0, 1.0};
    return normalize(cross(u, axis));
}

}  // namespace

// The angle is 2 atan2(|u - v|, |u + v|) of the unit directions, accurate from equal to opposite
// ones. The axis is u x v with any part along u taken out again (near opposite directions the
// cross product is mostly rounding, and only an axis perpendicular to u turns u onto -u). Below
// 2^-969 that axis is not usable: its components are subnormal or products of subnormals,
// rounded to a grid so coarse that what is left can lean far towards u. The directions are then
// equal or opposite to within that size, and any perpendicular axis turns u onto v to within it.
Quat rotation_between(const Vec3d& from, const Vec3d& to) {
    const Vec3d u = direction(from);
    const Vec3d v = direction(to);
    const double angle = 2.0 * std::atan2(magnitude(u - v), magnitude(u + v));
    const Vec3d normal = cross(u, v);
    const Vec3d across = normal - u * dot(normal, u);
    constexpr double smallest_usable = 0x1p-969;  // the smallest normal double times 2^53
    const double left = std::fmax(std::fmax(std::fabs(across.x), std::fabs(across.y)), std::fabs(across.z));
    const Vec3d axis = left < smallest_usable ? perpendicular(u) : direction(across);
    // from_axis_angle stores sin(-angle / 2): the stored form of the active (cos, sin * axis).
    return Quat::from_axis_angle(axis, AngleRadians{angle});
}

}  // namespace quorvane::core
