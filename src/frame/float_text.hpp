#pragma once
// Printed forms as Python str, written with the library's float-to-text rule
// (core/float_text.hpp, which the core's own text forms use too).
#include <Python.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/float_text.hpp"
#include "src/frame/errors.hpp"

namespace quorvane::frame {

// "Name(a, b, c)" with each number written by the float-to-text rule.
inline void append_call_text(std::string& out, std::string_view name, std::initializer_list<double> values) {
    out += name;
    out += '(';
    bool first = true;
    for (double value : values) {
        if (!first) out += ", ";
        core::append_float_text(out, value);
        first = false;
    }
    out += ')';
}

inline PyObject* to_str(const std::string& text) {
    return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace quorvane::frame
