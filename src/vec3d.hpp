#pragma once
// The Python class Vec3d, wrapping core::Vec3d.
#include "core/vec3d.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {
template <>
struct Class<core::Vec3d> {
    static constexpr const char* name = "Vec3d";
    static ClassType type;
};
}  // namespace quorvane::frame
