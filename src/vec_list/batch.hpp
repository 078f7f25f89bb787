#pragma once
// The batch operations of VecList: each applies one vector operation to every element as one
// step on the worker pool. The entries are listed in VecList's method and number tables.
#include <Python.h>

namespace quorvane::binding::batch {

// Number slots: v + w, v - w (w a Vec3d), v * s and s * v, v / s (s a float).
PyObject* add(PyObject* left, PyObject* right);
PyObject* subtract(PyObject* left, PyObject* right);
PyObject* multiply(PyObject* left, PyObject* right);
PyObject* divide(PyObject* left, PyObject* right);

// Methods, all METH_FASTCALL | METH_KEYWORDS.
#define QUORVANE_BATCH_METHOD(name) \
    PyObject* name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
QUORVANE_BATCH_METHOD(dot);
QUORVANE_BATCH_METHOD(cross);
QUORVANE_BATCH_METHOD(distance_to);
QUORVANE_BATCH_METHOD(distance_squared);
QUORVANE_BATCH_METHOD(magnitude);
QUORVANE_BATCH_METHOD(normalize);
QUORVANE_BATCH_METHOD(is_unit);
QUORVANE_BATCH_METHOD(collapse);
QUORVANE_BATCH_METHOD(rotate);
QUORVANE_BATCH_METHOD(rotated);
QUORVANE_BATCH_METHOD(minimum_distance_to);
#undef QUORVANE_BATCH_METHOD

}  // namespace quorvane::binding::batch
