#pragma once
#include <Python.h>

namespace quorvane::binding {
// The execution step of quorvane.geometry: adds its classes and functions in their order.
void add_geometry_members(PyObject* submodule);
}  // namespace quorvane::binding
