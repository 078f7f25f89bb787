#pragma once
// One declaration per member.
//
// A class unit (or any file that adds members to a class) writes one row per member; the row
// names the member, its parameters and the C++ function, and yields everything the interpreter
// needs: the argument matching (`Parameters`, with the callable's full name for the error
// texts), the entry point (bind.hpp), the method-table or property-table row, and the text
// signature, built at compile time from the same names.
//
//   using def = frame::MembersOf<core::Vec3d>;
//   PyMethodDef methods[] = {
//       def::static_method<"zero()", &core::Vec3d::zero>(),     // text signature "zero()\n--\n\n"
//       def::method<"dot(other)", &core::dot>(),                // "dot($self, other)\n--\n\n",
//   };                                                          // errors name "Vec3d.dot()"
//   PyGetSetDef properties[] = {
//       def::property<"x", &core::Vec3d::x>(),                  // a data member: read and write
//   };
//   frame::ClassRows own_rows() { return {methods, properties}; }
//   constexpr frame::RowSource rows[] = {own_rows, vec3d_quat_rows};   // this file's, then quat.cpp's
//   using New = def::constructor<"Vec3d(x, y, z)", &make>;     // New::doc, New::new_slot
//   ClassType Class<core::Vec3d>::type{spec, New::install_vectorcall, rows};
//
// Other forms: a mutating method takes `V&` (`def::method<"append(vec)", &append>()` on
// VecList), an optional parameter is written with its default
// (`def::method<"__array__(dtype=None, copy=None)", &to_numpy>()`), a read-only property is a
// function of the value (`def::property<"area", &core::area>()`), and a module function has no
// class (`frame::module_function<"plane_line(plane, a, b)", &core::plane_line>()`, errors name
// "plane_line()"). A row written before this header, such as
//   {"sum", frame::as_c_function<frame::method<sum_parameters, &sum>>(), frame::fastcall, "sum($self)\n--\n\n"}
// with its `Parameters` line becomes `def::method<"sum()", &sum>()`.
//
// The signature is written as Python shows it, without the receiver. A method's receiver is
// taken by the function's first parameter: `const V&` (or `V`) is shared access, `V&` exclusive
// access taken before any argument is examined, `PyObject*` the object itself, unborrowed.
// A parameter written `name=None` may be left out; its C++ parameter is a `std::optional`, empty
// when it was. The class is put together from its rows by `ClassType` (types.hpp): each file
// exports its rows as a `ClassRows` function and the class unit lists those functions.
#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "src/frame/args.hpp"
#include "src/frame/bind.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {

// A string literal as a template argument.
template <std::size_t N>
struct Text {
    char chars[N]{};
    constexpr Text(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
    }
    constexpr std::string_view view() const { return {chars, N - 1}; }
};

namespace detail {

// A text put together at compile time. Not std::string: clang cannot evaluate libstdc++'s
// string in a constant expression, and the sanitizer builds use clang.
class TextBuilder {
public:
    constexpr TextBuilder() = default;
    constexpr explicit TextBuilder(std::string_view text) { *this += text; }
    constexpr TextBuilder& operator+=(std::string_view text) {
        for (char c : text) {
            if (size_ == capacity) throw "a compile-time text is longer than its builder holds";
            chars_[size_++] = c;
        }
        return *this;
    }
    constexpr std::size_t size() const { return size_; }
    constexpr char operator[](std::size_t i) const { return chars_[i]; }

private:
    static constexpr std::size_t capacity = 256;
    char chars_[capacity]{};
    std::size_t size_ = 0;
};

// A text computed at compile time (by `Build::text()`), kept as a NUL-terminated constant.
template <class Build>
struct StaticText {
    static constexpr std::size_t size = Build::text().size();
    static constexpr std::array<char, size + 1> chars = [] {
        std::array<char, size + 1> out{};
        const TextBuilder text = Build::text();
        for (std::size_t i = 0; i < size; ++i) out[i] = text[i];
        return out;
    }();
};

// "name(a, b=None)": the parts of a declared signature.
template <Text Signature>
struct Declared {
    static constexpr std::string_view text = Signature.view();
    static constexpr std::size_t open = text.find('(');
    static_assert(open != std::string_view::npos && text.back() == ')', "a signature is written name(parameters)");
    static constexpr std::string_view name = text.substr(0, open);
    static constexpr std::string_view list = text.substr(open + 1, text.size() - open - 2);

    static constexpr std::size_t count = [] {
        if (list.empty()) return std::size_t{0};
        std::size_t commas = 0;
        for (char c : list) commas += c == ',';
        return commas + 1;
    }();

    // The parameter names, each ended by a NUL (what follows '=' is left out), in one array.
    static constexpr std::array<char, list.size() + 1> name_chars = [] {
        std::array<char, list.size() + 1> out{};
        std::size_t written = 0;
        bool in_default = false;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const char c = list[i];
            if (c == ',') {
                out[written++] = '\0';
                in_default = false;
                while (i + 1 < list.size() && list[i + 1] == ' ') ++i;
            } else if (c == '=') {
                in_default = true;
            } else if (!in_default) {
                out[written++] = c;
            }
        }
        return out;
    }();

    static constexpr std::array<const char*, count> names = [] {
        std::array<const char*, count> out{};
        std::size_t start = 0;
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = name_chars.data() + start;
            while (name_chars[start] != '\0') ++start;
            ++start;
        }
        return out;
    }();

    // Parameters with a default come after every required one.
    static constexpr std::size_t required = [] {
        std::size_t index = 0;
        std::size_t first_default = count;
        for (char c : list) {
            if (c == ',') ++index;
            if (c == '=' && first_default == count) first_default = index;
        }
        return first_default;
    }();
    static constexpr bool defaults_last = [] {
        std::size_t index = 0;
        bool seen_default = false;
        bool current_default = false;
        for (char c : list) {
            if (c == ',') {
                if (seen_default && !current_default) return false;
                ++index;
                current_default = false;
            }
            if (c == '=') seen_default = current_default = true;
        }
        return !seen_default || current_default;
    }();
    static_assert(defaults_last, "parameters with a default come last");

    struct NameBuild {
        static constexpr TextBuilder text() { return TextBuilder(name); }
    };
    static constexpr const char* name_text = StaticText<NameBuild>::chars.data();
};

enum class Receiver { none, self };

// The text signature: "dot($self, other)\n--\n\n", "zero()\n--\n\n".
template <Text Signature, Receiver With>
struct TextSignature {
    static constexpr TextBuilder text() {
        using D = Declared<Signature>;
        TextBuilder out(D::name);
        out += "(";
        if (With == Receiver::self) out += D::count ? "$self, " : "$self";
        out += D::list;
        out += ")\n--\n\n";
        return out;
    }
};

constexpr std::size_t length_of(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

template <class Build, Text Signature>
struct ParametersOf {
    using D = Declared<Signature>;
    static constinit inline Parameters<D::count> parameters{StaticText<Build>::chars.data(), D::names, {},
                                                            D::required};
};

template <class Function>
using parameter_types = typename FunctionTraits<Function>::parameters;

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};

// Every parameter that may be left out is taken as a std::optional.
template <class Function, std::size_t Skip, std::size_t Required>
constexpr bool optional_where_defaulted() {
    using All = parameter_types<Function>;
    return []<std::size_t... I>(std::index_sequence<I...>) {
        return ((I < Required || is_optional<std::remove_cvref_t<std::tuple_element_t<I + Skip, All>>>::value) && ...);
    }(std::make_index_sequence<std::tuple_size_v<All> - Skip>{});
}

template <auto Entry, Text Signature, Receiver With, int Flags>
PyMethodDef method_row() {
    return {Declared<Signature>::name_text, as_c_function<Entry>(), Flags,
            StaticText<TextSignature<Signature, With>>::chars.data()};
}

}  // namespace detail

// The rows of one class's members.
template <HasClass Value>
struct MembersOf {
    template <Text Signature>
    struct CallableText {
        static constexpr detail::TextBuilder text() {
            detail::TextBuilder out(std::string_view(Class<Value>::name, detail::length_of(Class<Value>::name)));
            out += ".";
            out += detail::Declared<Signature>::name;
            out += "()";
            return out;
        }
    };
    template <Text Signature>
    using Params = detail::ParametersOf<CallableText<Signature>, Signature>;

    // A method: Function(receiver, parameters...), the receiver's access chosen by its type.
    template <Text Signature, auto Function>
    static PyMethodDef method() {
        using First = std::remove_cvref_t<std::tuple_element_t<0, detail::parameter_types<decltype(Function)>>>;
        static_assert(std::is_same_v<First, Value> || std::is_same_v<First, PyObject*>,
                      "a method's first parameter is its receiver");
        static_assert(detail::optional_where_defaulted<decltype(Function), 1, detail::Declared<Signature>::required>(),
                      "a parameter with a default is taken as a std::optional");
        return detail::method_row<frame::method<Params<Signature>::parameters, Function>, Signature,
                                  detail::Receiver::self, fastcall>();
    }

    // A static method: Function(parameters...).
    template <Text Signature, auto Function>
    static PyMethodDef static_method() {
        static_assert(detail::optional_where_defaulted<decltype(Function), 0, detail::Declared<Signature>::required>(),
                      "a parameter with a default is taken as a std::optional");
        return detail::method_row<frame::function<Params<Signature>::parameters, Function>, Signature,
                                  detail::Receiver::none, static_fastcall>();
    }

    // A property from a data member (read and write) or from a function of the value (read only).
    template <Text Name, auto Member>
    static PyGetSetDef property() {
        if constexpr (std::is_member_object_pointer_v<decltype(Member)>) {
            return {Name.chars, get_member<Member>, set_member<Member>, nullptr, nullptr};
        } else {
            return {Name.chars, get_member<Member>, nullptr, nullptr, nullptr};
        }
    }

    // The class call: "Vec3d(x, y, z)" gives the class documentation (its text signature), the
    // tp_new slot, and the vectorcall form installed once the type exists.
    template <Text Signature, auto Make>
    struct constructor {
        using Parameters = detail::ParametersOf<CallableText<"__new__()">, Signature>;
        static_assert(detail::Declared<Signature>::name == std::string_view(Class<Value>::name),
                      "the constructor's signature names its class");
        static_assert(detail::Declared<Signature>::required == detail::Declared<Signature>::count,
                      "a constructor's parameters are all required");
        using Doc = detail::TextSignature<Signature, detail::Receiver::none>;
        static constexpr const char* doc = detail::StaticText<Doc>::chars.data();
        static constexpr auto new_slot = &construct<Parameters::parameters, Make>;
        static void install_vectorcall(PyTypeObject* type) {
            type->tp_vectorcall = construct_vectorcall<Parameters::parameters, Make>;
        }
    };
};

// A module function: Function(parameters...), named "plane_line()" in its errors.
template <Text Signature, auto Function>
PyMethodDef module_function() {
    static_assert(detail::optional_where_defaulted<decltype(Function), 0, detail::Declared<Signature>::required>(),
                  "a parameter with a default is taken as a std::optional");
    struct Name {
        static constexpr detail::TextBuilder text() {
            detail::TextBuilder out(detail::Declared<Signature>::name);
            out += "()";
            return out;
        }
    };
    using Params = detail::ParametersOf<Name, Signature>;
    return detail::method_row<frame::function<Params::parameters, Function>, Signature, detail::Receiver::none,
                              fastcall>();
}

}  // namespace quorvane::frame
