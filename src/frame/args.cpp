#include "src/frame/args.hpp"

#include <bit>
#include <cstring>
#include <string>

namespace quorvane::frame {
namespace detail {
namespace {

PyObject* interned_name(const ParameterList& list, std::size_t index) {
    PyObject* name = list.interned[index].load(std::memory_order_acquire);
    if (name) return name;
    // Kept for the life of the process; racing threads may each intern once, which is harmless
    // (interning returns the same str) apart from one extra reference.
    name = check(PyUnicode_InternFromString(list.names[index]));
    PyObject* expected = nullptr;
    if (!list.interned[index].compare_exchange_strong(expected, name, std::memory_order_acq_rel))
        return expected;
    return name;
}

// Keyword names at a call site are interned, so a pointer comparison usually decides.
Py_ssize_t find_parameter(const ParameterList& list, PyObject* keyword) {
    for (std::size_t i = 0; i < list.count; ++i)
        if (interned_name(list, i) == keyword) return static_cast<Py_ssize_t>(i);
    if (!PyUnicode_Check(keyword)) return -1;
    for (std::size_t i = 0; i < list.count; ++i)
        if (PyUnicode_CompareWithASCIIString(keyword, list.names[i]) == 0) return static_cast<Py_ssize_t>(i);
    return -1;
}

[[noreturn]] void raise_too_many_positional(const ParameterList& list, Py_ssize_t given) {
    const char* was = given == 1 ? "was" : "were";
    if (list.required == list.count) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", list.callable,
                     list.count, given, was);
    } else {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
                     list.callable, list.required, list.count, given, was);
    }
    throw ErrorAlreadySet{};
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
[[noreturn]] void raise_missing(const ParameterList& list, PyObject** out) {
    std::string names;
    std::size_t missing = 0;
    for (std::size_t i = 0; i < list.required; ++i) missing += out[i] == nullptr;
    std::size_t written = 0;
    for (std::size_t i = 0; i < list.required; ++i) {
        if (out[i]) continue;
        if (written > 0) {
            if (missing > 2) names += ",";
            names += written + 1 == missing ? " and " : " ";
        }
        names += "'";
        names += list.names[i];
        names += "'";
        ++written;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", list.callable, missing,
                 missing == 1 ? "argument" : "arguments", names.c_str());
    throw ErrorAlreadySet{};
}

}  // namespace

void match(const ParameterList& list, PyObject* const* positional, Py_ssize_t positional_count,
           PyObject* const* keyword_names, PyObject* const* keyword_values, Py_ssize_t keyword_count,
           PyObject** out) {
    if (positional_count > static_cast<Py_ssize_t>(list.count))
        raise_too_many_positional(list, positional_count);
    for (Py_ssize_t i = 0; i < positional_count; ++i) out[i] = positional[i];
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = keyword_names[k];
        Py_ssize_t index = find_parameter(list, keyword);
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", list.callable, keyword);
            throw ErrorAlreadySet{};
        }
        if (out[index]) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%S'", list.callable, keyword);
            throw ErrorAlreadySet{};
        }
        out[index] = keyword_values[k];
    }
    for (std::size_t i = 0; i < list.required; ++i)
        if (!out[i]) raise_missing(list, out);
}

}  // namespace detail

void rewrap_argument_error(const char* name) {
    PyObject* error = PyErr_GetRaisedException();
    if (!error) return;
    if (Py_TYPE(error) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(error);
        return;
    }
    PyObject* wrapped = PyUnicode_FromFormat("argument '%s': %S", name, error);
    PyObject* replacement = wrapped ? PyObject_CallOneArg(PyExc_TypeError, wrapped) : nullptr;
    Py_XDECREF(wrapped);
    if (!replacement) {
        Py_DECREF(error);
        return;
    }
    PyException_SetCause(replacement, PyException_GetCause(error));  // steals the new reference
    Py_DECREF(error);
    PyErr_SetRaisedException(replacement);
}

namespace {

// Runs a conversion step; on failure applies the argument prefix and rethrows.
template <class Step>
auto converting(const char* name, Step&& step) {
    try {
        return step();
    } catch (const ErrorAlreadySet&) {
        rewrap_argument_error(name);
        throw;
    }
}

}  // namespace

double to_double(PyObject* object, const char* name) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    return converting(name, [object] {
        double value = PyFloat_AsDouble(object);
        if (value == -1.0 && PyErr_Occurred()) throw ErrorAlreadySet{};
        return value;
    });
}

bool try_double(PyObject* object, double& out) {
    if (PyFloat_CheckExact(object)) {
        out = PyFloat_AS_DOUBLE(object);
        return true;
    }
    out = PyFloat_AsDouble(object);
    if (out == -1.0 && PyErr_Occurred()) {
        if (!clear_ordinary_error()) throw ErrorAlreadySet{};
        return false;
    }
    return true;
}

std::size_t to_index(PyObject* object, const char* name) {
    return converting(name, [object]() -> std::size_t {
        PyObject* integer = PyLong_Check(object) ? Py_NewRef(object) : check(PyNumber_Index(object));
        unsigned long long value = PyLong_AsUnsignedLongLong(integer);
        Py_DECREF(integer);
        if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw ErrorAlreadySet{};
        if constexpr (sizeof(std::size_t) < sizeof(unsigned long long)) {
            if (value > SIZE_MAX) raise(PyExc_OverflowError, "out of range integral type conversion attempted");
        }
        return static_cast<std::size_t>(value);
    });
}

namespace {

// The boolean scalars of numpy ("numpy.bool_" before numpy 2, "numpy.bool" since).
bool is_numpy_bool(PyTypeObject* type) {
    PyObject* module = PyType_GetModuleName(type);
    if (!module) {
        PyErr_Clear();
        return false;
    }
    bool from_numpy = PyUnicode_Check(module) && PyUnicode_CompareWithASCIIString(module, "numpy") == 0;
    Py_DECREF(module);
    if (!from_numpy) return false;
    PyObject* name = PyType_GetName(type);
    if (!name) {
        PyErr_Clear();
        return false;
    }
    bool is_bool = PyUnicode_CompareWithASCIIString(name, "bool_") == 0 ||
                   PyUnicode_CompareWithASCIIString(name, "bool") == 0;
    Py_DECREF(name);
    return is_bool;
}

}  // namespace

bool to_bool(PyObject* object, const char* name) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    return converting(name, [object] {
        PyTypeObject* type = Py_TYPE(object);
        if (!is_numpy_bool(type)) raise_not_an_instance(object, "bool");
        inquiry truth = type->tp_as_number ? type->tp_as_number->nb_bool : nullptr;
        if (!truth) {
            PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                         reinterpret_cast<PyObject*>(type));
            throw ErrorAlreadySet{};
        }
        int value = truth(object);
        if (value < 0) throw ErrorAlreadySet{};
        return value != 0;
    });
}

std::string_view to_text(PyObject* object, const char* name, Owned& kept) {
    if (!PyUnicode_Check(object)) converting(name, [object] { raise_not_an_instance(object, "str"); });
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size)) return {utf8, static_cast<std::size_t>(size)};
    // Only a text without a UTF-8 form takes the escaped way; MemoryError goes on to the caller.
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw ErrorAlreadySet{};
    PyErr_Clear();
    kept = Owned(check(PyUnicode_AsEncodedString(object, "utf-8", "backslashreplace")));
    return {PyBytes_AS_STRING(kept.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(kept.get()))};
}

std::string quoted_text(std::string_view text) {
    constexpr Py_ssize_t most_shown = 40;
    Owned whole(check(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace")));
    const bool cut = PyUnicode_GET_LENGTH(whole.get()) > most_shown;
    Owned shown(check(cut ? PyUnicode_Substring(whole.get(), 0, most_shown) : Py_NewRef(whole.get())));
    Owned quoted(check(PyObject_Repr(shown.get())));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(quoted.get(), &size);  // a repr escapes lone surrogates
    if (!utf8) throw ErrorAlreadySet{};
    return std::string(utf8, static_cast<std::size_t>(size)) + (cut ? "..." : "");
}

namespace {

// "1 row", "2 rows"
std::string counted(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The qualified name of the object's type, for a message: a name without a UTF-8 form (a lone
// surrogate) is shown escaped rather than failing the message.
std::string type_name_of(PyObject* object) {
    Owned name(check(PyType_GetQualName(Py_TYPE(object))));
    Owned utf8(check(PyUnicode_AsEncodedString(name.get(), "utf-8", "backslashreplace")));
    return {PyBytes_AS_STRING(utf8.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.get()))};
}

// "(3, 3, 1)"
std::string shape_text(const Py_buffer& view) {
    std::string text = "(";
    for (int d = 0; d < view.ndim; ++d) text += (d ? ", " : "") + std::to_string(view.shape[d]);
    return text + (view.ndim == 1 ? ",)" : ")");
}

// The texts are built only on failure: a successful conversion allocates nothing.
struct RowsExpected {
    const char* name;
    std::size_t rows;
    std::size_t columns;

    std::string expected() const {
        return "expected a sequence of " + std::to_string(rows) + " rows of " + std::to_string(columns) + " floats";
    }
    [[noreturn]] void not_a_sequence(const std::string& instead) const {
        converting(name, [&] { raise(PyExc_TypeError, (expected() + ", " + instead).c_str()); });
        throw ErrorAlreadySet{};
    }
    [[noreturn]] void wrong_count(const std::string& got) const {
        raise(PyExc_ValueError, (std::string("argument '") + name + "': " + expected() + ", got " + got).c_str());
    }
    // The length of a sequence; a length that fails is reported as an error of the argument.
    std::size_t length(PyObject* sequence) const {
        const Py_ssize_t length = PySequence_Size(sequence);
        if (length < 0) {
            rewrap_argument_error(name);
            throw ErrorAlreadySet{};
        }
        return static_cast<std::size_t>(length);
    }
    // Item `index` of a sequence whose length was read before: one that shrank meanwhile (an
    // IndexError) is a wrong count, said with the length it has now.
    Owned item(PyObject* sequence, std::size_t index, const char* noun, const std::string& where) const {
        PyObject* item = PySequence_GetItem(sequence, static_cast<Py_ssize_t>(index));
        if (item) return Owned(item);
        if (!PyErr_ExceptionMatches(PyExc_IndexError)) throw ErrorAlreadySet{};
        PyErr_Clear();
        wrong_count(counted(length(sequence), noun) + where + " (it changed while being read)");
    }
};

// A buffer of two or more dimensions: its items are read through the buffer (a memoryview
// cannot hand out rows), float64 in place and any other format element by element. False for
// anything else, which the sequence path reads.
bool read_float_buffer(PyObject* object, const RowsExpected& shape, double* out) {
    if (!PyObject_CheckBuffer(object)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) < 0) {
        if (!clear_ordinary_error()) throw ErrorAlreadySet{};
        return false;  // numpy arrays of objects, for one: read as sequences
    }
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    if (view.ndim < 2) return false;
    if (view.ndim > 2) shape.wrong_count("a buffer of shape " + shape_text(view));
    if (static_cast<std::size_t>(view.shape[0]) != shape.rows) shape.wrong_count(counted(static_cast<std::size_t>(view.shape[0]), "row"));
    if (static_cast<std::size_t>(view.shape[1]) != shape.columns)
        shape.wrong_count(counted(static_cast<std::size_t>(view.shape[1]), "item") + " in row 0");
    const std::string_view format = view.format ? view.format : "B";
    const bool native_double = view.itemsize == sizeof(double) &&
                               (format == "d" || format == "@d" || format == "=d" ||
                                format == (std::endian::native == std::endian::little ? "<d" : ">d"));
    // A NULL `strides` means packed rows in C order.
    const Py_ssize_t column_stride = view.strides ? view.strides[1] : view.itemsize;
    const Py_ssize_t row_stride = view.strides ? view.strides[0] : view.itemsize * view.shape[1];
    for (std::size_t r = 0; r < shape.rows; ++r) {
        for (std::size_t c = 0; c < shape.columns; ++c) {
            double& value = out[r * shape.columns + c];
            if (native_double) {
                const char* at = static_cast<const char*>(view.buf) + static_cast<Py_ssize_t>(r) * row_stride +
                                 static_cast<Py_ssize_t>(c) * column_stride;
                std::memcpy(&value, at, sizeof(double));
                continue;
            }
            Owned index(check(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(r), static_cast<Py_ssize_t>(c))));
            Owned item(check(PyObject_GetItem(object, index.get())));
            value = to_double(item.get(), shape.name);
        }
    }
    return true;
}

// The n items of an exact list or tuple of that length as new references; false, holding
// nothing, for anything else. A list is read under its own lock, so that another thread cannot
// resize it meanwhile.
bool exact_items(PyObject* sequence, std::size_t n, Owned* items) {
    bool taken = false;
    if (PyTuple_CheckExact(sequence)) {
        if (static_cast<std::size_t>(PyTuple_GET_SIZE(sequence)) == n) {
            for (std::size_t i = 0; i < n; ++i)
                items[i] = Owned(Py_NewRef(PyTuple_GET_ITEM(sequence, static_cast<Py_ssize_t>(i))));
            taken = true;
        }
    } else if (PyList_CheckExact(sequence)) {
        Py_BEGIN_CRITICAL_SECTION(sequence);
        if (static_cast<std::size_t>(PyList_GET_SIZE(sequence)) == n) {
            for (std::size_t i = 0; i < n; ++i)
                items[i] = Owned(Py_NewRef(PyList_GET_ITEM(sequence, static_cast<Py_ssize_t>(i))));
            taken = true;
        }
        Py_END_CRITICAL_SECTION();
    }
    return taken;
}

// Lists and tuples of exact floats, the common case, without the sequence protocol's calls;
// false for anything else, which the general path then reads (and reports on).
constexpr std::size_t most_read_in_place = 4;
bool read_exact_float_rows(PyObject* object, std::size_t rows, std::size_t columns, double* out) {
    if (rows > most_read_in_place || columns > most_read_in_place) return false;
    Owned row_items[most_read_in_place];
    if (!exact_items(object, rows, row_items)) return false;
    for (std::size_t r = 0; r < rows; ++r) {
        Owned items[most_read_in_place];
        if (!exact_items(row_items[r].get(), columns, items)) return false;
        for (std::size_t c = 0; c < columns; ++c) {
            if (!PyFloat_CheckExact(items[c].get())) return false;
            out[r * columns + c] = PyFloat_AS_DOUBLE(items[c].get());
        }
    }
    return true;
}

}  // namespace

void to_float_rows(PyObject* object, const char* name, std::size_t rows, std::size_t columns, double* out) {
    if (read_exact_float_rows(object, rows, columns, out)) return;
    const RowsExpected shape{name, rows, columns};
    if (read_float_buffer(object, shape, out)) return;
    if (!PySequence_Check(object)) shape.not_a_sequence("not '" + type_name_of(object) + "'");
    const std::size_t row_count = shape.length(object);
    if (row_count != rows) shape.wrong_count(counted(row_count, "row"));
    for (std::size_t r = 0; r < rows; ++r) {
        Owned row = shape.item(object, r, "row", "");
        if (!PySequence_Check(row.get()))
            shape.not_a_sequence("but row " + std::to_string(r) + " is '" + type_name_of(row.get()) + "'");
        const std::size_t count = shape.length(row.get());
        if (count != columns) shape.wrong_count(counted(count, "item") + " in row " + std::to_string(r));
        for (std::size_t c = 0; c < columns; ++c) {
            Owned item = shape.item(row.get(), c, "item", " in row " + std::to_string(r));
            out[r * columns + c] = to_double(item.get(), name);
        }
    }
}

void raise_not_an_instance(PyObject* object, const char* class_name) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", class_name);
        throw ErrorAlreadySet{};
    }
    PyObject* type_name = PyType_GetQualName(Py_TYPE(object));
    if (!type_name) throw ErrorAlreadySet{};
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type_name, class_name);
    Py_DECREF(type_name);
    throw ErrorAlreadySet{};
}

}  // namespace quorvane::frame
