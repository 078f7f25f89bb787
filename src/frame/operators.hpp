#pragma once
// Number-protocol slots and rich comparison.
//
// Operator slots never raise for an unsuitable operand: a wrong type, a failed float
// conversion or a borrow conflict all give NotImplemented, so the interpreter tries the other
// operand and finally raises its own TypeError. What is not a failure of the operand goes on up:
// an interrupt, an exit request or MemoryError raised while converting it.
#include <Python.h>

#include <optional>

#include "src/frame/args.hpp"
#include "src/frame/errors.hpp"
#include "src/frame/results.hpp"

namespace quorvane::frame {

// An operand that may or may not be usable: a double, or a class value borrowed for reading.
template <class T>
struct Operand;

template <>
struct Operand<double> {
    double value;
    static std::optional<Operand> take(PyObject* object) {
        double value;
        if (!try_double(object, value)) return std::nullopt;
        return Operand{value};
    }
    double get() const { return value; }
};

template <HasClass Value>
struct Operand<Value> {
    SharedBorrow<Value> borrow;
    static std::optional<Operand> take(PyObject* object) {
        auto borrow = try_borrow<Value>(object);
        if (!borrow) return std::nullopt;
        return Operand{std::move(*borrow)};
    }
    const Value& get() const { return *borrow; }
};

// left OP right with `left` an instance of Left and `right` usable as Right:
// Function(const Left&, Right) -> result.
template <class Left, class Right, auto Function>
PyObject* binary_operator(PyObject* left, PyObject* right) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        auto a = Operand<Left>::take(left);
        if (!a) return Py_NewRef(Py_NotImplemented);
        auto b = Operand<Right>::take(right);
        if (!b) return Py_NewRef(Py_NotImplemented);
        return to_python(Function(a->get(), b->get()));
    });
}

// Scaling by a number, tried as value * number, then as number * value.
template <class Value, auto Function>
PyObject* scaling_operator(PyObject* left, PyObject* right) {
    PyObject* result = binary_operator<Value, double, Function>(left, right);
    if (result != Py_NotImplemented) return result;
    Py_DECREF(result);
    return binary_operator<Value, double, Function>(right, left);
}

// -value: Function(const Value&) -> result. The interpreter does not treat NotImplemented
// from a unary slot as a refusal, so a busy operand raises the borrow error as a method would.
template <class Value, auto Function>
PyObject* unary_operator(PyObject* operand) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        auto a = borrow_receiver<Value>(operand);
        return to_python(Function(*a));
    });
}

// What a comparison does when the other operand is held exclusively by another thread.
enum class WhenOtherIsBusy {
    not_implemented,
    // A comparison that cannot be answered is an internal failure, not "no answer".
    panic,
};

// Rich comparison of two instances of one class. Compare(const V&, const V&, op) gives the
// answer, or nullopt for NotImplemented.
template <class Value, auto Compare, WhenOtherIsBusy busy>
PyObject* compare_instances(PyObject* self, PyObject* other, int op) noexcept {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        auto a = try_borrow<Value>(self);
        if (!a) return Py_NewRef(Py_NotImplemented);
        if (!is_instance<Value>(other)) return Py_NewRef(Py_NotImplemented);
        auto b = try_borrow<Value>(other);
        if (!b) {
            if constexpr (busy == WhenOtherIsBusy::panic)
                throw InternalFailure("Already mutably borrowed: PyBorrowError");
            return Py_NewRef(Py_NotImplemented);
        }
        std::optional<bool> answer = Compare(**a, **b, op);
        if (!answer) return Py_NewRef(Py_NotImplemented);
        return to_python(*answer);
    });
}

// `a != b` as `not (a == b)` through the interpreter's full protocol (reflected attempt and
// identity fallback included); an exception raised on the way propagates.
inline PyObject* negated_equality(PyObject* self, PyObject* other) noexcept {
    PyObject* equal = PyObject_RichCompare(self, other, Py_EQ);
    if (!equal) return nullptr;
    int truth = PyObject_IsTrue(equal);
    Py_DECREF(equal);
    if (truth < 0) return nullptr;
    return Py_NewRef(truth ? Py_False : Py_True);
}

// Rich comparison for classes whose `!=` is not their own answer but `not (a == b)` through
// the interpreter's full protocol; the other five operators go to `compare_instances`.
template <class Value, auto Compare, WhenOtherIsBusy busy>
PyObject* compare_with_negated_equality(PyObject* self, PyObject* other, int op) noexcept {
    if (op == Py_NE) return negated_equality(self, other);
    return compare_instances<Value, Compare, busy>(self, other, op);
}

}  // namespace quorvane::frame
