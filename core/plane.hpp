#pragma once
// Oriented planes: the points p with normal . p + distance = 0.
//
// The stored `distance` is therefore the negated offset from the origin along the normal (the
// plane z = 5 with normal (0, 0, 1) stores -5.0). Every constructor below stores a unit normal,
// but nothing keeps it so: a normal written later is used as it is, never re-normalised.
#include <cmath>

#include "core/vec3d.hpp"

namespace quorvane::core {

struct Plane {
    Vec3d normal;
    double distance;

    // `Plane{normal, distance}` stores both fields untouched (as the property setters do);
    // `make` is the construction of the Python class: the normal normalised, the distance stored
    // sign-flipped (0.0 becomes -0.0). A zero normal becomes (NaN, NaN, NaN).
    static Plane make(const Vec3d& normal, double distance) { return {normalize(normal), -distance}; }

    // The coordinate planes through the origin, each exactly what `make` gives for its unit
    // normal and distance 0.0 (so each stores -0.0).
    static Plane xy() { return make({0.0, 0.0, 1.0}, 0.0); }
    static Plane xz() { return make({0.0, 1.0, 0.0}, 0.0); }
    static Plane yz() { return make({1.0, 0.0, 0.0}, 0.0); }

    // The plane through `point` with `normal` normalised: distance = -(n . point).
    static Plane from_point(const Vec3d& normal, const Vec3d& point) {
        const Vec3d n = normalize(normal);
        return {n, -dot(n, point)};
    }

    // The normal is (point2 - point1) x (point3 - point1) normalised, so it follows the order of
    // the points. Collinear or coincident points give a zero cross product: all four numbers NaN.
    static Plane from_points(const Vec3d& point1, const Vec3d& point2, const Vec3d& point3) {
        return from_point(cross(point2 - point1, point3 - point1), point1);
    }
};

// s = distance + (normal . point): the dot product first, then the stored distance added.
inline double signed_offset(const Plane& plane, const Vec3d& point) { return plane.distance + dot(plane.normal, point); }

inline bool contains_point(const Plane& plane, const Vec3d& point) { return within_epsilon(signed_offset(plane, point)); }

// |s|, which does not tell the side; the Euclidean distance only while the normal has unit length.
inline double distance_to_point(const Plane& plane, const Vec3d& point) { return std::fabs(signed_offset(plane, point)); }

}  // namespace quorvane::core
