#pragma once
// The Python classes AngleRadians and AngleDegrees, wrapping the core angle types one to one.
#include "core/angle.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {
template <>
struct Class<core::AngleRadians> {
    static constexpr const char* name = "AngleRadians";
    static ClassType type;
};

template <>
struct Class<core::AngleDegrees> {
    static constexpr const char* name = "AngleDegrees";
    static ClassType type;
};
}  // namespace quorvane::frame
