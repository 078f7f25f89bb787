#pragma once
// Where circles, points, planes and lines meet.
//
// The failures are returned, never thrown: `circle_circle` gives either its two points or an
// IntersectionError, `circle_point` gives std::nullopt for success or the kind of failure.
// Degenerate input (NaN components, zero normals or radii, a zero-length line) flows through
// IEEE arithmetic and is not reported.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "core/circle.hpp"
#include "core/plane.hpp"
#include "core/vec3d.hpp"

namespace quorvane::core {

enum class IntersectionError : std::uint8_t {
    TooFarApart,  // circles farther apart than their radii reach, or a point outside the circle
    Contained,    // one circle inside the other, or a point inside when inside points are refused
    Identical,    // the two circles are equal
    OutOfPlane,   // the shapes do not lie in one plane
};

// The display text of each kind (the last one has no final full stop).
std::string_view error_text(IntersectionError error);

// The crossing points (first, second) of two circles, or why there are none. Tested in order:
// Identical, OutOfPlane, TooFarApart (centre distance > r1 + r2), Contained (distance < |r1 - r2|).
// Touching circles give the same point twice; when rounding pushes the chord's radicand below
// zero (nearly touching circles) both points are (NaN, NaN, NaN). Swapping the circles with equal
// normals swaps the points.
std::variant<std::pair<Vec3d, Vec3d>, IntersectionError> circle_circle(const Circle& circle1, const Circle& circle2);

// std::nullopt when `point` lies on the circle, or inside it and `inner` is true. Otherwise
// OutOfPlane (off the circle's plane), Contained (inside, `inner` false) or TooFarApart.
std::optional<IntersectionError> circle_point(const Circle& circle, const Vec3d& point, bool inner);

// `circle_point` without the plane test: a point off the plane is judged by its distance from
// the centre alone.
bool circle_point_unchecked(const Circle& circle, const Vec3d& point, bool inner);

// Where the infinite line through a and b meets the plane; the stored normal is used as it is.
// A line parallel to the plane (or a == b) divides by zero: infinite or NaN components.
Vec3d plane_line(const Plane& plane, const Vec3d& a, const Vec3d& b);

}  // namespace quorvane::core
