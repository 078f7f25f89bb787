#pragma once
// The batch operations of VecList whose results come in two shapes: a list of Python objects
// (dot, magnitude, ...) and a memoryview of the output array (dot_array, magnitude_array, ...).
// Each computation is written once, here; the two members differ only in the result they wrap.
// The member rows are exported to VecList's class (vec_list.cpp).
#include <cstdint>

#include "core/vec3d.hpp"
#include "src/frame/types.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

// One byte per flag: a bit-packed vector<bool> cannot be written by several threads at once.
using Flags = BatchArray<std::uint8_t>;

// out[i] = the Vec3d method of the same name applied to element i, as one pool step.
BatchArray<double> dot_each(const VecListValue& list, const core::Vec3d& other);
BatchArray<double> distance_to_each(const VecListValue& list, const core::Vec3d& other);
BatchArray<double> distance_squared_each(const VecListValue& list, const core::Vec3d& other);
BatchArray<double> magnitude_each(const VecListValue& list);
Flags is_unit_each(const VecListValue& list);

// The rows of the members, by file: batch.cpp (results as Python objects, and the operators'
// number slots), array_members.cpp (results as buffers) and elementwise.cpp (two lists).
frame::ClassRows batch_rows();
frame::ClassRows array_rows();
frame::ClassRows elementwise_rows();

namespace batch {
// Number slots: v + w, v - w (w a Vec3d), v * s and s * v, v / s (s a float).
PyObject* add(PyObject* left, PyObject* right);
PyObject* subtract(PyObject* left, PyObject* right);
PyObject* multiply(PyObject* left, PyObject* right);
PyObject* divide(PyObject* left, PyObject* right);
}  // namespace batch

}  // namespace quorvane::binding
