#pragma once
// Circles in space: the points of the plane through `center` perpendicular to `normal` at
// distance `radius` from `center`.
//
// `Circle{center, radius, normal}` stores the fields untouched (as the property setters do);
// `make` is the construction of the Python class and is the only place that cleans them up.
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "core/plane.hpp"
#include "core/vec3d.hpp"

namespace quorvane::core {

struct Circle {
    Vec3d center;
    double radius;
    Vec3d normal;

    // The radius's sign bit cleared (-0.0 becomes 0.0), the normal normalised.
    static Circle make(const Vec3d& center, double radius, const Vec3d& normal) {
        return {center, std::fabs(radius), normalize(normal)};
    }

    // The placeholder circle: centre and radius +0.0, normal three quiet NaNs. The NaN is built
    // from its bits so that every none circle carries exactly 0x7FF8000000000000.
    static constexpr Circle none() {
        constexpr double quiet_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
        return {{0.0, 0.0, 0.0}, 0.0, {quiet_nan, quiet_nan, quiet_nan}};
    }
};

// How two normals relate under the tolerance: equal component by component, or else each the
// negation of the other. Any NaN component makes them unrelated.
enum class NormalRelation { Same, Opposite, Unrelated };

inline NormalRelation normal_relation(const Vec3d& a, const Vec3d& b) {
    if (a == b) return NormalRelation::Same;
    if (within_epsilon(a.x + b.x) && within_epsilon(a.y + b.y) && within_epsilon(a.z + b.z))
        return NormalRelation::Opposite;
    return NormalRelation::Unrelated;
}

// IEEE comparison: true for 0.0 and -0.0, false for NaN.
inline bool is_degenerate(const Circle& c) { return c.radius == 0.0; }

// (r * r) * pi: the square first.
inline double area(const Circle& c) { return (c.radius * c.radius) * std::numbers::pi; }

inline Plane get_plane(const Circle& c) { return Plane::from_point(c.normal, c.center); }

// Whether both circles lie in one plane. The offsets n . c use the stored normals as they are.
// With equal normals the same plane has equal offsets; with opposite normals it has offsets of
// opposite sign, so those are compared by their sum.
inline bool in_same_plane(const Circle& self, const Circle& other) {
    const NormalRelation relation = normal_relation(self.normal, other.normal);
    if (relation == NormalRelation::Unrelated) return false;
    const double offset_self = dot(self.normal, self.center);
    const double offset_other = dot(other.normal, other.center);
    if (relation == NormalRelation::Same) return within_epsilon(offset_other - offset_self);
    return within_epsilon(offset_other + offset_self);
}

// Centres within tolerance (x, y, z in turn), radii exactly equal, normals equal or opposite:
// a circle equals itself with its normal reversed, and a NaN normal never equals anything.
inline bool operator==(const Circle& a, const Circle& b) {
    return a.center == b.center && a.radius == b.radius && normal_relation(a.normal, b.normal) != NormalRelation::Unrelated;
}

}  // namespace quorvane::core
