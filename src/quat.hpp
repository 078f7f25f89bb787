#pragma once
// The Python class Quat, wrapping core::Quat, and the Vec3d method that builds one.
#include <Python.h>

#include "src/frame/types.hpp"

// Only declared: core/quat.hpp overloads magnitude, normalize and is_unit for Quat, and a unit
// that names `&core::magnitude` for Vec3d must not see those overloads just to register a class.
namespace quorvane::core {
struct Quat;
}

namespace quorvane::frame {
template <>
struct Class<core::Quat> {
    static constexpr const char* name = "Quat";
    static ClassType type;
};
}  // namespace quorvane::frame

namespace quorvane::binding {
// The row of Vec3d.to_quat(), a method of Vec3d declared beside the type it returns.
frame::ClassRows vec3d_quat_rows();
}  // namespace quorvane::binding
