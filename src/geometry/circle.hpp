#pragma once
// The Python class Circle of quorvane.geometry, wrapping core::Circle.
#include "core/circle.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {
template <>
struct Class<core::Circle> {
    static constexpr const char* name = "Circle";
    static ClassType type;
};
}  // namespace quorvane::frame
