#pragma once
// Entry points generated from plain C++ functions. Members are declared through members.hpp,
// whose one row per member names the function and its parameters and instantiates these.
//
// A class unit names a core function and its `Parameters`; these templates match the call,
// borrow the receiver, convert each argument by its C++ parameter type (in declaration order),
// call the function and turn its result into a new Python object, all under the entry guard.
//
//   double         the float conversion
//   std::size_t    the unsigned machine-word conversion
//   bool           the bool conversion
//   const V&       a class instance, borrowed for reading until the call returns
//   V              a class instance whose value is copied and released at once
//   std::string_view  a str, as UTF-8
//   std::array<std::array<double, C>, R>  R sequences of C floats
//   PyObject*      any object, examined by the function itself
//   std::optional<T>  a parameter that may be left out (empty then), otherwise as T
#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "src/frame/args.hpp"
#include "src/frame/errors.hpp"
#include "src/frame/results.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {

template <class Parameter>
struct Argument;

template <>
struct Argument<double> {
    double value;
    Argument(PyObject* object, const char* name) : value(to_double(object, name)) {}
    double get() const { return value; }
};

template <>
struct Argument<std::size_t> {
    std::size_t value;
    Argument(PyObject* object, const char* name) : value(to_index(object, name)) {}
    std::size_t get() const { return value; }
};

template <>
struct Argument<bool> {
    bool value;
    Argument(PyObject* object, const char* name) : value(to_bool(object, name)) {}
    bool get() const { return value; }
};

template <>
struct Argument<std::string_view> {
    Owned kept;  // the escaped UTF-8 of a str that has none of its own
    std::string_view value;
    Argument(PyObject* object, const char* name) : value(to_text(object, name, kept)) {}
    std::string_view get() const { return value; }
};

template <std::size_t Rows, std::size_t Columns>
struct Argument<std::array<std::array<double, Columns>, Rows>> {
    std::array<std::array<double, Columns>, Rows> value;
    Argument(PyObject* object, const char* name) {
        // Read as one flat run of doubles, then laid out row by row: the rows are separate arrays.
        std::array<double, Rows * Columns> flat;
        to_float_rows(object, name, Rows, Columns, flat.data());
        for (std::size_t r = 0; r < Rows; ++r)
            for (std::size_t c = 0; c < Columns; ++c) value[r][c] = flat[r * Columns + c];
    }
    const std::array<std::array<double, Columns>, Rows>& get() const { return value; }
};

template <std::size_t Rows, std::size_t Columns>
struct Argument<const std::array<std::array<double, Columns>, Rows>&>
    : Argument<std::array<std::array<double, Columns>, Rows>> {
    using Argument<std::array<std::array<double, Columns>, Rows>>::Argument;
};

// A parameter that may be left out: empty when it was, otherwise converted as `T`.
template <class T>
struct Argument<std::optional<T>> {
    std::optional<Argument<T>> converted;
    Argument(PyObject* object, const char* name) {
        if (object) converted.emplace(object, name);
    }
    std::optional<std::remove_cvref_t<decltype(std::declval<const Argument<T>&>().get())>> get() const {
        if (!converted) return std::nullopt;
        return converted->get();
    }
};

// Any object, for a callable that examines its argument itself (borrowed for the call).
template <>
struct Argument<PyObject*> {
    PyObject* value;
    Argument(PyObject* object, const char*) : value(object) {}
    PyObject* get() const { return value; }
};

template <HasClass Value>
struct Argument<const Value&> {
    SharedBorrow<Value> borrow;
    Argument(PyObject* object, const char* name) : borrow(borrow_argument<Value>(object, name)) {}
    const Value& get() const { return *borrow; }
};

template <HasClass Value>
struct Argument<Value> {
    Value value;
    Argument(PyObject* object, const char* name) : value(*borrow_argument<Value>(object, name)) {}
    const Value& get() const { return value; }
};

namespace detail {

template <class Function>
struct FunctionTraits;
template <class Result, class... Parameters>
struct FunctionTraits<Result (*)(Parameters...)> {
    using result = Result;
    using parameters = std::tuple<Parameters...>;
};

template <class Tuple>
struct Arguments;
template <class... Parameters>
struct Arguments<std::tuple<Parameters...>> {
    // Braced initialisation runs the conversions left to right.
    std::tuple<Argument<Parameters>...> held;
    template <std::size_t N, std::size_t... I>
    Arguments(const std::array<PyObject*, N>& objects, const std::array<const char*, N>& names,
              std::index_sequence<I...>)
        : held{Argument<Parameters>(objects[I], names[I])...} {}
};

template <class Result, class Call>
PyObject* call_and_convert(Call&& call) {
    if constexpr (std::is_void_v<Result>) {
        call();
        return to_python(None{});
    } else {
        return to_python(call());
    }
}

template <class Member>
struct MemberClass;
template <class Value, class Field>
struct MemberClass<Field Value::*> {
    using type = Value;
    using field = Field;
};

template <class Function>
using receiver_value_t =
    std::remove_cvref_t<std::tuple_element_t<0, typename FunctionTraits<Function>::parameters>>;

struct NoReceiver {
    template <class F, class... A>
    decltype(auto) call(F function, A&&... arguments) const {
        return function(std::forward<A>(arguments)...);
    }
};

template <class Borrow>
struct BorrowedReceiver {
    Borrow borrow;
    template <class F, class... A>
    decltype(auto) call(F function, A&&... arguments) {
        return function(*borrow, std::forward<A>(arguments)...);
    }
};

template <>
struct BorrowedReceiver<PyObject*> {
    PyObject* object;
    template <class F, class... A>
    decltype(auto) call(F function, A&&... arguments) {
        return function(object, std::forward<A>(arguments)...);
    }
};

template <class All, std::size_t Skip, std::size_t... I>
std::tuple<std::tuple_element_t<I + Skip, All>...> drop_front(std::index_sequence<I...>);

// Matches the call, then converts the arguments (the receiver, if any, is already borrowed),
// calls `Function` and converts its result.
template <auto& Params, auto Function, std::size_t Skip, class Receiver>
PyObject* invoke(Receiver& receiver, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Traits = FunctionTraits<decltype(Function)>;
    using All = typename Traits::parameters;
    constexpr std::size_t count = std::tuple_size_v<All> - Skip;
    using Tail = decltype(drop_front<All, Skip>(std::make_index_sequence<count>{}));
    static_assert(std::tuple_size_v<decltype(Params.names)> == count,
                  "the parameter names do not match the function");
    auto objects = Params.match(args, nargs, kwnames);
    Arguments<Tail> arguments(objects, Params.names, std::make_index_sequence<count>{});
    return call_and_convert<typename Traits::result>([&]() -> decltype(auto) {
        return std::apply(
            [&](const auto&... held) -> decltype(auto) { return receiver.call(Function, held.get()...); },
            arguments.held);
    });
}

}  // namespace detail

// A method: Function(self, arguments...). The receiver's access follows the first parameter's
// type: `const V&` (or `V`) is shared access, `V&` exclusive access taken before any argument is
// examined, `PyObject*` the receiver object itself, not borrowed.
template <auto& Params, auto Function>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded<PyObject*>(nullptr, [&] {
        using First = std::tuple_element_t<0, typename detail::FunctionTraits<decltype(Function)>::parameters>;
        using Value = std::remove_cvref_t<First>;
        if constexpr (std::is_same_v<Value, PyObject*>) {
            detail::BorrowedReceiver<PyObject*> receiver{self};
            return detail::invoke<Params, Function, 1>(receiver, args, nargs, kwnames);
        } else if constexpr (std::is_lvalue_reference_v<First> && !std::is_const_v<std::remove_reference_t<First>>) {
            detail::BorrowedReceiver<ExclusiveBorrow<Value>> receiver{own_receiver<Value>(self)};
            return detail::invoke<Params, Function, 1>(receiver, args, nargs, kwnames);
        } else {
            detail::BorrowedReceiver<SharedBorrow<Value>> receiver{borrow_receiver<Value>(self)};
            return detail::invoke<Params, Function, 1>(receiver, args, nargs, kwnames);
        }
    });
}

// The same entry for a receiver taken as `V&`, under the name rows written before members.hpp use.
template <auto& Params, auto Function>
PyObject* mutating_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return method<Params, Function>(self, args, nargs, kwnames);
}

// A static method or module function: Function(arguments...).
template <auto& Params, auto Function>
PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded<PyObject*>(nullptr, [&] {
        detail::NoReceiver receiver;
        return detail::invoke<Params, Function, 0>(receiver, args, nargs, kwnames);
    });
}

// The class call. tp_new receives a tuple and a dict; the vectorcall form (installed on the
// type object by `install_vectorcall`) skips building them.
template <auto& Params, auto Make>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&] {
        using Traits = detail::FunctionTraits<decltype(Make)>;
        auto objects = Params.match_tuple(args, kwargs);
        detail::Arguments<typename Traits::parameters> arguments(objects, Params.names,
                                                                 std::make_index_sequence<objects.size()>{});
        return std::apply([&](const auto&... held) { return new_instance_of(type, Make(held.get()...)); },
                          arguments.held);
    });
}

template <auto& Params, auto Make>
PyObject* construct_vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return guarded<PyObject*>(nullptr, [&] {
        using Traits = detail::FunctionTraits<decltype(Make)>;
        auto objects = Params.match(args, PyVectorcall_NARGS(nargsf), kwnames);
        detail::Arguments<typename Traits::parameters> arguments(objects, Params.names,
                                                                 std::make_index_sequence<objects.size()>{});
        return std::apply(
            [&](const auto&... held) {
                return new_instance_of(reinterpret_cast<PyTypeObject*>(type), Make(held.get()...));
            },
            arguments.held);
    });
}

// Property getter from a data member (`&core::Vec3d::x`) or a function of the value.
template <auto Member>
PyObject* get_member(PyObject* self, void*) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        if constexpr (std::is_member_object_pointer_v<decltype(Member)>) {
            using Value = typename detail::MemberClass<decltype(Member)>::type;
            auto value = borrow_receiver<Value>(self);
            return to_python((*value).*Member);
        } else {
            using Value = detail::receiver_value_t<decltype(Member)>;
            auto value = borrow_receiver<Value>(self);
            return to_python(Member(*value));
        }
    });
}

// Property setter: the new value is converted (as parameter `value`) before the receiver is
// taken exclusively, so a bad value is reported even while the object is busy.
template <auto Member>
int set_member(PyObject* self, PyObject* value, void*) noexcept {
    return guarded<int>(-1, [&] {
        if (!value) raise(PyExc_AttributeError, "property has no deleter");
        using Value = typename detail::MemberClass<decltype(Member)>::type;
        using Field = typename detail::MemberClass<decltype(Member)>::field;
        Argument<Field> converted(value, "value");
        auto owned = own_receiver<Value>(self);
        (*owned).*Member = converted.get();
        return 0;
    });
}

// Method-table flags of the entry points above: vectorcall arguments with keywords.
inline constexpr int fastcall = METH_FASTCALL | METH_KEYWORDS;
inline constexpr int static_fastcall = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

// PyMethodDef holds every entry point as a PyCFunction; the interpreter casts it back by the
// flags above.
template <auto Entry>
PyCFunction as_c_function() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry));
}

}  // namespace quorvane::frame
