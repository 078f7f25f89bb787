#include "core/intersection.hpp"

#include <cmath>

namespace quorvane::core {
namespace {

// The distance test shared by both point tests, with l = r - |point - c|: on the circle when
// |l| < epsilon, inside when l > epsilon; everything else (l <= -epsilon, l exactly epsilon,
// NaN) is outside.
std::optional<IntersectionError> point_by_distance(const Circle& circle, const Vec3d& point, bool inner) {
    const double l = circle.radius - distance_to(point, circle.center);
    if (within_epsilon(l)) return std::nullopt;
    if (l > epsilon) return inner ? std::nullopt : std::optional{IntersectionError::Contained};
    return IntersectionError::TooFarApart;
}

}  // namespace

std::string_view error_text(IntersectionError error) {
    switch (error) {
    case IntersectionError::TooFarApart:
        return "The given geometries are too far apart and do not intersect at all.";
    case IntersectionError::Contained:
        return "One of the given geometries is contained entirely within the other. The surfaces do not intersect.";
    case IntersectionError::Identical: return "The given geometries are identical.";
    case IntersectionError::OutOfPlane: return "The given geometries are out of plane from each other";
    }
    return {};  // not reached: the switch names every kind
}

std::variant<std::pair<Vec3d, Vec3d>, IntersectionError> circle_circle(const Circle& circle1, const Circle& circle2) {
    if (circle1 == circle2) return IntersectionError::Identical;
    if (!in_same_plane(circle1, circle2)) return IntersectionError::OutOfPlane;

    const double r1 = circle1.radius;
    const double r2 = circle2.radius;
    const double w = distance_to(circle1.center, circle2.center);
    if (w > r1 + r2) return IntersectionError::TooFarApart;
    if (w < std::fabs(r1 - r2)) return IntersectionError::Contained;

    // The foot of the common chord on the line of centres: c1 + d * u, with u measured from c1.
    const Vec3d d = circle2.center - circle1.center;
    const double w_squared = w * w;
    const double u = (r1 * r1 - r2 * r2) / (w_squared + w_squared) + 0.5;
    const Vec3d foot = circle1.center + d * u;
    // In the plane and perpendicular to the line of centres; its sign follows circle2's normal.
    const Vec3d along_chord = normalize(cross(d, circle2.normal));
    // Half the chord; the two squares multiplied together, then subtracted. Not clamped: a
    // radicand rounded below zero gives NaN.
    const double h = std::sqrt(r1 * r1 - w_squared * (u * u));
    return std::pair{foot + along_chord * h, foot - along_chord * h};
}

std::optional<IntersectionError> circle_point(const Circle& circle, const Vec3d& point, bool inner) {
    // The same test as get_plane(circle).contains_point(point), a NaN normal failing it.
    const Vec3d n = normalize(circle.normal);
    if (!within_epsilon(dot(n, point) - dot(n, circle.center))) return IntersectionError::OutOfPlane;
    return point_by_distance(circle, point, inner);
}

bool circle_point_unchecked(const Circle& circle, const Vec3d& point, bool inner) {
    return !point_by_distance(circle, point, inner).has_value();
}

Vec3d plane_line(const Plane& plane, const Vec3d& a, const Vec3d& b) {
    const Vec3d direction = b - a;
    const double t = -(plane.distance + dot(plane.normal, a)) / dot(plane.normal, direction);
    return a + direction * t;
}

}  // namespace quorvane::core
