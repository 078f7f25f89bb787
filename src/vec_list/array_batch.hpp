#pragma once
// The batch operations of VecList for array users: the scalar results as memoryviews
// (buffer_methods.cpp) and the element-by-element combinations of two lists of one length
// (elementwise.cpp). The entries are listed in VecList's method table.
#include <Python.h>

namespace quorvane::binding::array_batch {

// All METH_FASTCALL | METH_KEYWORDS.
#define QUORVANE_ARRAY_BATCH_METHOD(name) \
    PyObject* name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
QUORVANE_ARRAY_BATCH_METHOD(dot_array);
QUORVANE_ARRAY_BATCH_METHOD(distance_to_array);
QUORVANE_ARRAY_BATCH_METHOD(distance_squared_array);
QUORVANE_ARRAY_BATCH_METHOD(magnitude_array);
QUORVANE_ARRAY_BATCH_METHOD(is_unit_array);
QUORVANE_ARRAY_BATCH_METHOD(add_elementwise);
QUORVANE_ARRAY_BATCH_METHOD(sub_elementwise);
QUORVANE_ARRAY_BATCH_METHOD(cross_elementwise);
QUORVANE_ARRAY_BATCH_METHOD(dot_elementwise);
QUORVANE_ARRAY_BATCH_METHOD(distance_to_elementwise);
QUORVANE_ARRAY_BATCH_METHOD(distance_squared_elementwise);
#undef QUORVANE_ARRAY_BATCH_METHOD

}  // namespace quorvane::binding::array_batch
