#pragma once
// Pickling and copying for every class, through __reduce_ex__ and __setstate__.
//
// An object is rebuilt as Class(*placeholder_arguments) followed by __setstate__(state), where
// the state is the stored value's raw little-endian doubles. Going through the constructor with
// the real values would not do: some constructors normalise, and pickle protocol 0 writes
// floats as text, which loses the sign and payload of a NaN. Bytes keep every bit.
//
// The classes report the module "builtins", where pickle cannot find them by name, so the
// reduction names its class through a small callable reference ("quorvane.geometry.Plane")
// that pickles as an import and attribute lookups, and that copy can call directly.
#include <Python.h>

#include <bit>
#include <cstring>
#include <type_traits>

#include "src/frame/args.hpp"
#include "src/frame/errors.hpp"
#include "src/frame/results.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {

static_assert(std::endian::native == std::endian::little, "the pickled state is the values' memory as it is");

// Specialised by each pickled class:
//   template <> struct Pickled<core::Vec3d> {
//       static constexpr const char* path = "quorvane.Vec3d";   // where Python finds the class
//       static PyObject* placeholder_arguments();                // valid constructor arguments
//   };
template <class Value>
struct Pickled;

// A new callable reference to the object at `path` (dotted: module, then attributes).
PyObject* new_class_reference(const char* path);

// Raw state for classes whose value is a fixed set of doubles.
template <class Value>
concept PlainDoubles = std::is_trivially_copyable_v<Value> && sizeof(Value) % sizeof(double) == 0;

// Accepts any object exporting a contiguous buffer; `take(pointer, length)` reads it.
template <class Take>
void read_state(PyObject* state, const char* class_name, Take&& take) {
    if (!PyObject_CheckBuffer(state)) {
        PyErr_Format(PyExc_TypeError, "%s state must be a bytes-like object, not '%s'", class_name,
                     Py_TYPE(state)->tp_name);
        throw ErrorAlreadySet{};
    }
    Py_buffer view;
    if (PyObject_GetBuffer(state, &view, PyBUF_C_CONTIGUOUS) < 0) throw ErrorAlreadySet{};
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    take(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
}

template <PlainDoubles Value>
PyObject* state_of(const Value& value) {
    return check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(&value), sizeof(Value)));
}

template <PlainDoubles Value>
void restore_state(Value& value, PyObject* state) {
    read_state(state, Class<Value>::name, [&](const char* bytes, std::size_t length) {
        if (length != sizeof(Value)) {
            PyErr_Format(PyExc_ValueError, "%s state must be %zu bytes, got %zu", Class<Value>::name, sizeof(Value),
                         length);
            throw ErrorAlreadySet{};
        }
        std::memcpy(&value, bytes, sizeof(Value));
    });
}

// The state for a given pickle protocol; classes with other storage overload it (and
// restore_state) in their own namespace.
template <PlainDoubles Value>
PyObject* state_of(const Value& value, PyObject*, int) {
    return state_of(value);
}

// __reduce_ex__(protocol): (type, placeholder arguments, state).
template <class Value>
PyObject* reduce_ex(PyObject* self, PyObject* protocol) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        const long protocol_number = PyLong_AsLong(protocol);
        if (protocol_number == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
        Owned state;
        {
            auto value = borrow_receiver<Value>(self);
            state = Owned(state_of(*value, self, static_cast<int>(protocol_number)));
        }
        Owned arguments(check(Pickled<Value>::placeholder_arguments()));
        Owned reconstructor(new_class_reference(Pickled<Value>::path));
        return check(PyTuple_Pack(3, reconstructor.get(), arguments.get(), state.get()));
    });
}

// __setstate__(state): restores the stored value, under exclusive access.
template <class Value>
PyObject* set_state(PyObject* self, PyObject* state) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        auto value = own_receiver<Value>(self);
        restore_state(*value, state);
        return Py_NewRef(Py_None);
    });
}

// The two method table rows of a pickled class.
template <class Value>
constexpr PyMethodDef reduce_ex_definition() {
    return {"__reduce_ex__", reinterpret_cast<PyCFunction>(reduce_ex<Value>), METH_O,
            "__reduce_ex__($self, protocol, /)\n--\n\nThe value and how to rebuild it, for pickle and copy."};
}
template <class Value>
constexpr PyMethodDef set_state_definition() {
    return {"__setstate__", reinterpret_cast<PyCFunction>(set_state<Value>), METH_O,
            "__setstate__($self, state, /)\n--\n\nRestores the value saved by __reduce_ex__."};
}

}  // namespace quorvane::frame
