#pragma once
// The Python class Plane of quorvane.geometry, wrapping core::Plane.
#include "core/plane.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {
template <>
struct Class<core::Plane> {
    static constexpr const char* name = "Plane";
    static ClassType type;
};
}  // namespace quorvane::frame
