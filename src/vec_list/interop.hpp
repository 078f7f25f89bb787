#pragma once
// VecList and the rest of the Python world: the buffer protocol (numpy, memoryview), building
// from a buffer of numbers, and pickling as one block of doubles.
#include <Python.h>

#include <optional>

#include "src/frame/pickling.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

// A read-only (n, 3) view of the elements. While a view is alive the list is borrowed for
// reading, so append, extend and rotate cannot free the memory under it.
int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept;
void release_buffer(PyObject* self, Py_buffer* view) noexcept;

// VecList.__array__(dtype=None, copy=None): numpy's last way in, through the buffer export
// again, so that a list that cannot be exported fails instead of becoming an array of objects.
frame::Owned to_numpy(PyObject* self, std::optional<PyObject*> dtype, std::optional<PyObject*> copy);

// VecList.from_array(a): a copy of any buffer of shape (n, 3) or length 3n holding float64 (either
// byte order), float32 or integers of 1, 2, 4 or 8 bytes.
VecListValue from_array(PyObject* a);

// Pickle state: the elements as little-endian doubles; from protocol 5 on, an out-of-band
// capable PickleBuffer over the list itself instead of a copy.
PyObject* state_of(const VecListValue& list, PyObject* self, int protocol);
void restore_state(VecListValue& list, PyObject* state);

}  // namespace quorvane::binding

namespace quorvane::frame {
template <>
struct Pickled<binding::VecListValue> {
    static constexpr const char* path = "quorvane.VecList";
    static PyObject* placeholder_arguments() { return Py_BuildValue("([])"); }
};
}  // namespace quorvane::frame
