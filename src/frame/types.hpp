#pragma once
// Python classes: the instance layout every class shares and its type object, built from a
// PyType_Spec once per process.
//
// Each class unit specialises `Class<Value>` for its core value type, naming the class and
// giving its `ClassType`; everything generic (conversions, results, operators) finds the type
// through it.
#include <Python.h>

#include <new>
#include <span>
#include <utility>

#include "src/frame/borrow.hpp"
#include "src/frame/errors.hpp"
#include "src/frame/once.hpp"

namespace quorvane::frame {

// The interpreter's object header, then the stored value, then its borrow flag.
template <class Value>
struct Instance {
    PyObject_HEAD
    Value value;
    BorrowFlag borrow;
};

// The member rows one file adds to a class (members.hpp makes them).
struct ClassRows {
    std::span<const PyMethodDef> methods;
    std::span<const PyGetSetDef> properties = {};
};
using RowSource = ClassRows (*)();

// One class's type object, created from its spec on first use and kept for the whole process.
// The method and property tables are put together from the class's row sources, in their
// order, when the type is created; the PyType_Spec itself lists neither.
class ClassType {
public:
    using Finish = void (*)(PyTypeObject*);
    constexpr ClassType(PyType_Spec& spec, Finish finish = nullptr, std::span<const RowSource> rows = {})
        : spec_(spec), finish_(finish), rows_(rows) {}

    // Throws ErrorAlreadySet when the type cannot be created.
    PyTypeObject* get() {
        if (PyTypeObject* type = cell_.get()) return type;
        return create();
    }

private:
    PyTypeObject* create();
    PyTypeObject* create_from_rows();
    PyType_Spec& spec_;
    Finish finish_;
    std::span<const RowSource> rows_;
    OnceCell<PyTypeObject> cell_;
};

// Specialised by every class unit:
//   template <> struct Class<core::Vec3d> {
//       static constexpr const char* name = "Vec3d";
//       static ClassType type;
//   };
template <class Value>
struct Class;

template <class Value>
concept HasClass = requires { Class<Value>::name; Class<Value>::type; };

template <class Value>
PyTypeObject* type_of() {
    return Class<Value>::type.get();
}

template <class Value>
Instance<Value>* as_instance(PyObject* object) {
    return reinterpret_cast<Instance<Value>*>(object);
}

// Whether `object` is an instance of the class: the type pointer first, then a subtype check.
template <class Value>
bool is_instance(PyObject* object) {
    PyTypeObject* type = type_of<Value>();
    return Py_TYPE(object) == type || PyType_IsSubtype(Py_TYPE(object), type);
}

// A new instance of `type` holding `value`.
template <class Value>
PyObject* new_instance_of(PyTypeObject* type, Value&& value) {
    // The classes are not collected and hold no references, so the object needs no zeroing
    // and no collector header: the value and the flag are constructed in place below.
    PyObject* object = static_cast<PyObject*>(PyObject_Malloc(static_cast<std::size_t>(type->tp_basicsize)));
    if (!object) throw std::bad_alloc();
    PyObject_Init(object, type);
    auto* instance = as_instance<std::remove_cvref_t<Value>>(object);
    new (&instance->value) std::remove_cvref_t<Value>(std::forward<Value>(value));
    new (&instance->borrow) BorrowFlag();
    return object;
}

template <HasClass Value>
PyObject* new_instance(Value value) {
    return new_instance_of(type_of<Value>(), std::move(value));
}

// tp_dealloc of every class: releases what the value owns, frees the object, drops the type.
template <class Value>
void deallocate(PyObject* object) {
    guarded_or_abort([object] {
        PyTypeObject* type = Py_TYPE(object);
        as_instance<Value>(object)->value.~Value();
        type->tp_free(object);
        Py_DECREF(type);
    });
}

// The flags every class shares: final (no base-type flag), no __dict__, no weak references,
// not tracked by the cyclic collector.
inline constexpr unsigned int class_flags = Py_TPFLAGS_DEFAULT;

}  // namespace quorvane::frame
