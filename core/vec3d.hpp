#pragma once
// The three-dimensional vector of doubles that every other value is built from.
//
// Every expression below is written in the order it is evaluated, and the whole project is
// compiled with -ffp-contract=off: a product is rounded before it is added, three-term sums
// are (x-term + y-term) + z-term, nothing is reassociated. That is what makes results
// bit-identical between the scalar methods and the batch operations.
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace quorvane::core {

// The gap between 1.0 and the next larger double. Every approximate test in the library has
// the form |x| < epsilon: absolute, strict, never scaled, so a NaN never passes.
inline constexpr double epsilon = 2.220446049250313e-16;

inline bool within_epsilon(double x) { return std::fabs(x) < epsilon; }

struct Vec3d {
    double x;
    double y;
    double z;

    static constexpr Vec3d zero() { return {0.0, 0.0, 0.0}; }
    static constexpr Vec3d i() { return {1.0, 0.0, 0.0}; }
    static constexpr Vec3d j() { return {0.0, 1.0, 0.0}; }
    static constexpr Vec3d k() { return {0.0, 0.0, 1.0}; }
};

// The vector from `from` to `to`.
inline Vec3d new_from_to(const Vec3d& from, const Vec3d& to) {
    return {to.x - from.x, to.y - from.y, to.z - from.z};
}

inline Vec3d operator+(const Vec3d& a, const Vec3d& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3d operator-(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
// A sign-bit flip, not 0 - x: negative zero and NaN payloads come out mirrored.
inline Vec3d operator-(const Vec3d& a) { return {-a.x, -a.y, -a.z}; }
// The scalar on the left of each product, for both operand orders, so both give the same bits.
inline Vec3d operator*(const Vec3d& a, double s) { return {s * a.x, s * a.y, s * a.z}; }
inline Vec3d operator*(double s, const Vec3d& a) { return a * s; }
// Three divisions, never a multiplication by 1/s (that would round differently).
inline Vec3d operator/(const Vec3d& a, double s) { return {a.x / s, a.y / s, a.z / s}; }

inline double dot(const Vec3d& a, const Vec3d& b) { return (a.x * b.x + a.y * b.y) + a.z * b.z; }

inline Vec3d cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double magnitude(const Vec3d& a) { return std::sqrt(dot(a, a)); }

inline double distance_squared(const Vec3d& a, const Vec3d& b) {
    const Vec3d d = a - b;
    return dot(d, d);
}

inline double distance_to(const Vec3d& a, const Vec3d& b) { return std::sqrt(distance_squared(a, b)); }

// No guard for the zero vector: it normalises to (NaN, NaN, NaN) by plain IEEE arithmetic.
inline Vec3d normalize(const Vec3d& a) { return a / magnitude(a); }

// |m + (-1.0)| < epsilon: only a magnitude of exactly 1.0 or of 1 - 2^-53 passes.
inline bool is_unit_magnitude(double m) { return within_epsilon(m + -1.0); }
inline bool is_unit(const Vec3d& a) { return is_unit_magnitude(magnitude(a)); }

inline double scalar_triple_product(const Vec3d& a, const Vec3d& b, const Vec3d& c) {
    return dot(a, cross(b, c));
}

// Component-wise absolute tolerance, tested x, then y, then z; not transitive.
inline bool operator==(const Vec3d& a, const Vec3d& b) {
    return within_epsilon(a.x - b.x) && within_epsilon(a.y - b.y) && within_epsilon(a.z - b.z);
}

// Component by index; the bindings check the range first, so a throw here is an internal failure.
inline double component(const Vec3d& a, std::size_t index) {
    switch (index) {
    case 0: return a.x;
    case 1: return a.y;
    case 2: return a.z;
    default: throw std::out_of_range("Index out of bounds");
    }
}

// Distance to the infinite line through a and b (t is not clamped to the segment).
// a == b divides 0 by 0 and gives NaN.
inline double distance_to_line(const Vec3d& s, const Vec3d& a, const Vec3d& b) {
    const Vec3d d = b - a;
    const double t = ((d.x * (s.x - a.x) + d.y * (s.y - a.y)) + d.z * (s.z - a.z)) / dot(d, d);
    const Vec3d closest{a.x + d.x * t, a.y + d.y * t, a.z + d.z * t};
    return magnitude(s - closest);
}

// The point of the infinite line through r and q closest to s; NaN when r == q.
inline Vec3d project_onto_line(const Vec3d& s, const Vec3d& r, const Vec3d& q) {
    const Vec3d d = r - q;
    const double t = ((d.x * (q.x - s.x) + d.y * (q.y - s.y)) + d.z * (q.z - s.z)) / dot(d, d);
    return {q.x - d.x * t, q.y - d.y * t, q.z - d.z * t};
}

// Projection onto the plane through the origin with normal n, used as given (not normalised).
inline Vec3d project_onto_plane(const Vec3d& s, const Vec3d& n) {
    const double k = dot(s, n);
    return {s.x - n.x * k, s.y - n.y * k, s.z - n.z * k};
}

}  // namespace quorvane::core
