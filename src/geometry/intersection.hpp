#pragma once
// The module functions of quorvane.geometry: circle_circle, circle_point,
// circle_point_unchecked and plane_line.
#include <Python.h>

#include <span>

namespace quorvane::binding {
// Their method definitions, in the order the submodule adds them.
std::span<PyMethodDef> intersection_functions();
}  // namespace quorvane::binding
