#include "src/geometry/intersection.hpp"

#include <string>
#include <utility>
#include <variant>

#include "core/intersection.hpp"
#include "src/frame/members.hpp"
#include "src/geometry/circle.hpp"
#include "src/geometry/plane.hpp"
#include "src/vec3d.hpp"

namespace quorvane::binding {
namespace {

using core::Circle;
using core::Vec3d;
// The only place a core intersection failure becomes a Python exception: a ValueError whose
// single argument is the kind's display text.
[[noreturn]] void raise_intersection_error(core::IntersectionError kind) {
    const std::string text(core::error_text(kind));
    frame::raise(PyExc_ValueError, text.c_str());
}

std::pair<Vec3d, Vec3d> circle_circle(const Circle& circle1, const Circle& circle2) {
    auto result = core::circle_circle(circle1, circle2);
    if (const auto* kind = std::get_if<core::IntersectionError>(&result)) raise_intersection_error(*kind);
    return std::get<std::pair<Vec3d, Vec3d>>(result);
}

// A yes-or-no question: every failure kind, OutOfPlane included, is "no", never an exception.
bool circle_point(const Circle& circle, const Vec3d& point, bool inner) {
    return !core::circle_point(circle, point, inner).has_value();
}

PyMethodDef functions[] = {
    frame::module_function<"circle_circle(circle1, circle2)", &circle_circle>(),
    frame::module_function<"circle_point(circle, point, inner)", &circle_point>(),
    frame::module_function<"circle_point_unchecked(circle, point, inner)", &core::circle_point_unchecked>(),
    frame::module_function<"plane_line(plane, a, b)", &core::plane_line>(),
};

}  // namespace

std::span<PyMethodDef> intersection_functions() { return functions; }

}  // namespace quorvane::binding
