#pragma once
// Turning C++ results into new Python objects.
//
// Every call returns new objects: a float for a double, the bool singletons, an int for an
// index, a str for text, a new instance for a core value (constants included), a new list for
// a sequence and a new tuple for a pair.
#include <Python.h>

#include <array>
#include <concepts>
#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "src/frame/errors.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {

// An owned reference, released on every path.
class Owned {
public:
    Owned() = default;
    explicit Owned(PyObject* object) : object_(object) {}
    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Owned() { Py_XDECREF(object_); }
    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    // As a call's result: the object itself is handed over.
    PyObject* into_python() && { return release(); }

private:
    PyObject* object_ = nullptr;
};

struct None {};

template <class T>
PyObject* to_python(const T& value);

// A class value that is a temporary moves into its new instance instead of being copied
// (a batch result owns a whole array).
template <HasClass T>
    requires(!std::is_lvalue_reference_v<T>)
PyObject* to_python(T&& value) {
    return new_instance(std::move(value));
}

// A result that makes its own Python object, handing over what it owns instead of copying it
// (a batch output exported as a buffer).
template <class T>
concept IntoPython = requires(T&& value) {
    { std::move(value).into_python() } -> std::same_as<PyObject*>;
};

template <IntoPython T>
    requires(!std::is_lvalue_reference_v<T>)
PyObject* to_python(T&& value) {
    return std::move(value).into_python();
}

namespace detail {

template <class T>
struct is_tuple : std::false_type {};
template <class A, class B>
struct is_tuple<std::pair<A, B>> : std::true_type {};
template <class... Items>
struct is_tuple<std::tuple<Items...>> : std::true_type {};

template <class T>
struct is_array : std::false_type {};
template <class T, std::size_t N>
struct is_array<std::array<T, N>> : std::true_type {};

template <class T>
struct is_vector : std::false_type {};
template <class T, class A>
struct is_vector<std::vector<T, A>> : std::true_type {};

// A new list of `count` items, each made by `item(i)`.
template <class Item>
PyObject* new_list(std::size_t count, Item&& item) {
    Owned list(check(PyList_New(static_cast<Py_ssize_t>(count))));
    for (std::size_t i = 0; i < count; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(item(i)));
    return list.release();
}

}  // namespace detail

template <class T>
PyObject* to_python(const T& value) {
    if constexpr (std::same_as<T, None>) {
        return Py_NewRef(Py_None);
    } else if constexpr (std::same_as<T, bool>) {
        return Py_NewRef(value ? Py_True : Py_False);
    } else if constexpr (std::same_as<T, double>) {
        return check(PyFloat_FromDouble(value));
    } else if constexpr (std::same_as<T, std::size_t>) {
        return check(PyLong_FromSize_t(value));
    } else if constexpr (std::same_as<T, std::string>) {
        return check(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
    } else if constexpr (detail::is_tuple<T>::value) {
        return std::apply(
            [](const auto&... items) {
                Owned converted[] = {Owned(to_python(items))...};
                Owned tuple(check(PyTuple_New(sizeof...(items))));
                for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(sizeof...(items)); ++i)
                    PyTuple_SET_ITEM(tuple.get(), i, converted[i].release());
                return tuple.release();
            },
            value);
    } else if constexpr (detail::is_array<T>::value || detail::is_vector<T>::value) {
        using Item = typename T::value_type;
        return detail::new_list(value.size(), [&](std::size_t i) -> Item { return value[i]; });
    } else {
        static_assert(HasClass<T>, "no Python form for this result type");
        return new_instance(T(value));
    }
}

}  // namespace quorvane::frame
