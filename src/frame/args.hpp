#pragma once
// Matching a call's arguments to a callable's parameters, and converting them.
//
// Every callable has one static `Parameters` description (its full name as errors show it and
// its parameter names), made from its declaration row (members.hpp). All parameters are
// positional-or-keyword; the first `required` of them must be given, the rest may be left out
// (they reach the callable as null). One routine serves every method, constructor and
// function, and every error text is built in args.cpp.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "src/frame/errors.hpp"
#include "src/frame/results.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {

namespace detail {
struct ParameterList {
    const char* callable;                     // "Vec3d.dot()", "plane_line()"
    const char* const* names;                 // declaration order
    std::atomic<PyObject*>* interned;         // the names as interned str, made on first need
    std::size_t count;
    std::size_t required;                     // the first `required` names must be given
};
void match(const ParameterList& list, PyObject* const* positional, Py_ssize_t positional_count,
           PyObject* const* keyword_names, PyObject* const* keyword_values,
           Py_ssize_t keyword_count, PyObject** out);
}  // namespace detail

template <std::size_t N>
struct Parameters {
    const char* callable;
    std::array<const char*, N> names;
    mutable std::array<std::atomic<PyObject*>, N> interned{};
    std::size_t required = N;

    // Vectorcall form: `kwnames` is null or a tuple of the keyword names, whose values follow
    // the positional ones in `args`. Throws ErrorAlreadySet with TypeError set on a mismatch.
    std::array<PyObject*, N> match(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
        std::array<PyObject*, N> out{};
        Py_ssize_t keyword_count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
        PyObject* const* keyword_names =
            keyword_count ? &PyTuple_GET_ITEM(kwnames, 0) : nullptr;
        detail::match(list(), args, nargs, keyword_names, args + nargs, keyword_count, out.data());
        return out;
    }

    // tp_new form: a tuple of positional arguments and an optional dict of keywords.
    std::array<PyObject*, N> match_tuple(PyObject* args, PyObject* kwargs) const;

private:
    detail::ParameterList list() const {
        return {callable, names.data(), const_cast<std::atomic<PyObject*>*>(interned.data()), N, required};
    }
};

// Replaces a TypeError just raised while converting parameter `name` by
// "argument '{name}': {message}", keeping the original's cause; other errors pass unchanged.
void rewrap_argument_error(const char* name);

// Conversions. Each throws ErrorAlreadySet with the exception set; `name` is the parameter
// whose TypeError gets the "argument '...': " prefix.
double to_double(PyObject* object, const char* name);
std::size_t to_index(PyObject* object, const char* name);
bool to_bool(PyObject* object, const char* name);

// A str argument as UTF-8. `kept` holds what the view points into when the str has no UTF-8
// form of its own (a lone surrogate, written as the escape \udc80): such a text still reaches the
// callable, which refuses it by its content like any other text it does not know.
std::string_view to_text(PyObject* object, const char* name, Owned& kept);

// A sequence of `rows` sequences of `columns` floats (lists, tuples), or a two-dimensional buffer
// of that shape (numpy arrays and matrices, memoryviews; float64 is read in place), into `out`
// row by row. A non-sequence is a TypeError, a wrong count or shape a ValueError; both texts say
// what was expected and what came.
void to_float_rows(PyObject* object, const char* name, std::size_t rows, std::size_t columns, double* out);

// A text for an error message: the repr of its first 40 characters, "..." after a longer one.
std::string quoted_text(std::string_view text);

// The class-instance conversion's error, "'{T}' object is not an instance of '{C}'" (or
// "'None' is not an instance of '{C}'"), set as TypeError without a prefix.
[[noreturn]] void raise_not_an_instance(PyObject* object, const char* class_name);

// Operator slots swallow conversion failures: these answer "no" with no exception left set.
// An interrupt, an exit request or MemoryError raised by the conversion is not swallowed: it is
// thrown on as ErrorAlreadySet.
bool try_double(PyObject* object, double& out);

// Shared access to the value of a class instance argument, held for the rest of the call.
template <HasClass Value>
SharedBorrow<Value> borrow_argument(PyObject* object, const char* name) {
    if (!is_instance<Value>(object)) {
        try {
            raise_not_an_instance(object, Class<Value>::name);
        } catch (const ErrorAlreadySet&) {
            rewrap_argument_error(name);
            throw;
        }
    }
    auto* instance = as_instance<Value>(object);
    return SharedBorrow<Value>(instance->value, instance->borrow);
}

// The receiver: the same check without the prefix.
template <HasClass Value>
SharedBorrow<Value> borrow_receiver(PyObject* object) {
    if (!is_instance<Value>(object)) raise_not_an_instance(object, Class<Value>::name);
    auto* instance = as_instance<Value>(object);
    return SharedBorrow<Value>(instance->value, instance->borrow);
}

template <HasClass Value>
ExclusiveBorrow<Value> own_receiver(PyObject* object) {
    if (!is_instance<Value>(object)) raise_not_an_instance(object, Class<Value>::name);
    auto* instance = as_instance<Value>(object);
    return ExclusiveBorrow<Value>(instance->value, instance->borrow);
}

// For operator slots: shared access when `object` is an instance that can be borrowed now.
template <HasClass Value>
std::optional<SharedBorrow<Value>> try_borrow(PyObject* object) {
    if (!is_instance<Value>(object)) return std::nullopt;
    auto* instance = as_instance<Value>(object);
    return SharedBorrow<Value>::try_take(instance->value, instance->borrow);
}

template <std::size_t N>
std::array<PyObject*, N> Parameters<N>::match_tuple(PyObject* args, PyObject* kwargs) const {
    std::array<PyObject*, N> out{};
    // Keyword dicts of a call are small: copy the pairs out in the caller's order.
    constexpr std::size_t room = N + 8;
    PyObject* keyword_names[room];
    PyObject* keyword_values[room];
    Py_ssize_t keyword_count = 0;
    if (kwargs) {
        Py_ssize_t position = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (keyword_count == static_cast<Py_ssize_t>(room)) break;  // surplus: reported below
            keyword_names[keyword_count] = key;
            keyword_values[keyword_count] = value;
            ++keyword_count;
        }
    }
    detail::match(list(), &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), keyword_names,
                  keyword_values, keyword_count, out.data());
    return out;
}

}  // namespace quorvane::frame
