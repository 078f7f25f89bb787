#include "src/frame/buffer_args.hpp"

#include <algorithm>
#include <bit>
#include <optional>
#include <string>
#include <string_view>

#include "src/frame/args.hpp"

namespace quorvane::frame {
namespace {

constexpr bool little_endian = std::endian::native == std::endian::little;

constexpr std::size_t largest_reservation_from_hint = std::size_t{1} << 24;

// The kind of a buffer's items from its struct-module format and item size, or nothing for a
// format no number argument reads (complex, half floats, records, the other byte order).
std::optional<NumberKind> kind_of(std::string_view format, Py_ssize_t itemsize) {
    if (!format.empty()) {
        const char order = format.front();
        if (order == '@' || order == '=' || (order == '<' && little_endian) ||
            ((order == '>' || order == '!') && !little_endian)) {
            format.remove_prefix(1);
        }
    }
    if (format.size() != 1) return std::nullopt;
    const char code = format.front();
    if (code == 'd' && itemsize == 8) return NumberKind::float64;
    if (code == 'f' && itemsize == 4) return NumberKind::float32;
    if (code == '?' && itemsize == 1) return NumberKind::truth;
    const bool is_signed = std::string_view("bhilqn").find(code) != std::string_view::npos;
    const bool is_unsigned = std::string_view("BHILQN").find(code) != std::string_view::npos;
    if (!is_signed && !is_unsigned) return std::nullopt;
    switch (itemsize) {
        case 1: return is_signed ? NumberKind::int8 : NumberKind::uint8;
        case 2: return is_signed ? NumberKind::int16 : NumberKind::uint16;
        case 4: return is_signed ? NumberKind::int32 : NumberKind::uint32;
        case 8: return is_signed ? NumberKind::int64 : NumberKind::uint64;
        default: return std::nullopt;
    }
}

bool is_integer_kind(NumberKind kind) { return kind <= NumberKind::uint64; }

bool accepts_kind(NumberRule rule, NumberKind kind) {
    switch (rule) {
        case NumberRule::integers: return is_integer_kind(kind);
        case NumberRule::truth_values: return is_integer_kind(kind) || kind == NumberKind::truth;
        case NumberRule::floats: return kind != NumberKind::truth;
    }
    return false;
}

// What each rule reads, as its error texts name it: from a buffer, and per sequence item.
struct RuleItems {
    const char* buffer;
    const char* sequence;
};
constexpr RuleItems rule_items[] = {
    {"integers", "int"},                          // NumberRule::integers
    {"bool or integers", "bool"},                 // NumberRule::truth_values
    {"float64, float32 or integers", "float"},    // NumberRule::floats
};
const char* buffer_items(NumberRule rule) { return rule_items[static_cast<std::size_t>(rule)].buffer; }
const char* sequence_items(NumberRule rule) { return rule_items[static_cast<std::size_t>(rule)].sequence; }

// "a sequence of int or a one-dimensional buffer of integers",
// "a sequence of rows of 3 int or a buffer of shape (m, 3) of integers"
std::string expected_text(NumberRule rule, std::size_t columns) {
    if (columns == 0) {
        return std::string("a sequence of ") + sequence_items(rule) + " or a one-dimensional buffer of " +
               buffer_items(rule);
    }
    const std::string width = std::to_string(columns);
    return "a sequence of rows of " + width + " " + sequence_items(rule) + " or a buffer of shape (m, " + width +
           ") of " + buffer_items(rule);
}

std::string type_name_of(PyObject* object) {
    Owned name(check(PyType_GetQualName(Py_TYPE(object))));
    const char* text = PyUnicode_AsUTF8(name.get());
    if (!text) throw ErrorAlreadySet{};
    return text;
}

// "(4,)", "(2, 3)", "()"
std::string shape_text(const Py_buffer& view) {
    std::string text = "(";
    for (int d = 0; d < view.ndim; ++d) {
        if (d > 0) text += ", ";
        text += std::to_string(view.shape[d]);
    }
    return text + (view.ndim == 1 ? ",)" : ")");
}

[[noreturn]] void raise_argument(PyObject* type, const char* name, const std::string& message) {
    raise(type, std::string("argument '") + name + "': " + message);
}

}  // namespace

void NumberArgument::ReleaseView::operator()(Py_buffer* view) const noexcept {
    PyBuffer_Release(view);
    delete view;
}

NumberArgument::NumberArgument(PyObject* object, const char* name, NumberRule rule, std::size_t columns) {
    if (PyObject_CheckBuffer(object)) {
        read_buffer(object, name, rule, columns);
    } else if (PySequence_Check(object)) {
        read_sequence(object, name, rule, columns);
    } else {
        raise_argument(PyExc_TypeError, name,
                       "expected " + expected_text(rule, columns) + ", got '" + type_name_of(object) + "'");
    }
}

NumberArgument::~NumberArgument() = default;

void NumberArgument::read_buffer(PyObject* object, const char* name, NumberRule rule, std::size_t columns) {
    view_.reset(new Py_buffer);
    if (PyObject_GetBuffer(object, view_.get(), PyBUF_RECORDS_RO) < 0) {
        delete view_.release();  // nothing to release: the export failed
        throw ErrorAlreadySet{};
    }
    const Py_buffer& view = *view_;
    const char* format = view.format ? view.format : "B";
    const std::optional<NumberKind> kind = kind_of(format, view.itemsize);
    if (!kind || !accepts_kind(rule, *kind)) {
        raise_argument(PyExc_TypeError, name,
                       std::string("expected a buffer of ") + buffer_items(rule) + ", got format '" + format +
                           "' with " + std::to_string(view.itemsize) + "-byte items");
    }
    const int dimensions = columns == 0 ? 1 : 2;
    if (view.ndim != dimensions || (columns != 0 && static_cast<std::size_t>(view.shape[1]) != columns)) {
        const std::string wanted =
            columns == 0 ? "a one-dimensional buffer" : "a buffer of shape (m, " + std::to_string(columns) + ")";
        raise_argument(PyExc_ValueError, name, "expected " + wanted + ", got shape " + shape_text(view));
    }
    // An exporter may leave the strides out for a C-contiguous buffer (ctypes arrays do).
    const Py_ssize_t row_stride = view.strides ? view.strides[0] : view.itemsize * (columns == 0 ? 1 : view.shape[1]);
    const Py_ssize_t column_stride = columns == 0 ? 0 : (view.strides ? view.strides[1] : view.itemsize);
    grid_ = {static_cast<const char*>(view.buf), row_stride, column_stride, static_cast<std::size_t>(view.shape[0]),
             columns == 0 ? 1 : columns, *kind};
}

void NumberArgument::convert_item(PyObject* item, const char* name, NumberRule rule, std::size_t position) {
    switch (rule) {
        case NumberRule::truth_values: truths_.push_back(to_bool(item, name) ? 1 : 0); return;
        case NumberRule::floats: floats_.push_back(to_double(item, name)); return;
        case NumberRule::integers: break;
    }
    Owned integer;
    if (PyLong_Check(item)) {
        integer = Owned(Py_NewRef(item));
    } else {
        integer = Owned(PyNumber_Index(item));
        if (!integer.get()) {
            rewrap_argument_error(name);
            throw ErrorAlreadySet{};
        }
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
    if (overflow != 0) {
        // Beyond 64 bits: out of range of any list. -1 stands in for it, and the first one is
        // kept so that an error can name it.
        if (!outsized_.get()) {
            outsized_ = std::move(integer);
            outsized_position_ = position;
        }
        integers_.push_back(-1);
        return;
    }
    integers_.push_back(value);
}

void NumberArgument::read_sequence(PyObject* object, const char* name, NumberRule rule, std::size_t columns) {
    // The length is only a hint: an ordinary failure of it is passed over (an interrupt is not),
    // and a length that lies cannot make the reservation fail.
    Py_ssize_t hint = PyObject_LengthHint(object, 0);
    if (hint < 0) {
        if (!clear_ordinary_error()) throw ErrorAlreadySet{};
        hint = 0;
    }
    const std::size_t width = columns == 0 ? 1 : columns;
    const std::size_t reserved = std::min(static_cast<std::size_t>(hint), largest_reservation_from_hint) * width;
    switch (rule) {
        case NumberRule::integers: integers_.reserve(reserved); break;
        case NumberRule::truth_values: truths_.reserve(reserved); break;
        case NumberRule::floats: floats_.reserve(reserved); break;
    }
    // Built only on failure: a conversion that succeeds allocates no text.
    const auto rows_of = [&] { return "expected rows of " + std::to_string(columns) + " " + sequence_items(rule); };
    std::size_t rows = 0;
    {
        Owned iterator(check(PyObject_GetIter(object)));
        while (PyObject* next = PyIter_Next(iterator.get())) {
            Owned item(next);
            if (columns == 0) {
                convert_item(item.get(), name, rule, rows);
            } else {
                if (!PySequence_Check(item.get())) {
                    raise_argument(PyExc_TypeError, name,
                                   rows_of() + ", but row " + std::to_string(rows) + " is '" + type_name_of(item.get()) + "'");
                }
                const Py_ssize_t count = PySequence_Size(item.get());
                if (count < 0) throw ErrorAlreadySet{};
                if (static_cast<std::size_t>(count) != columns) {
                    raise_argument(PyExc_ValueError, name,
                                   rows_of() + ", got " + std::to_string(count) + " in row " + std::to_string(rows));
                }
                for (std::size_t c = 0; c < columns; ++c) {
                    Owned value(check(PySequence_GetItem(item.get(), static_cast<Py_ssize_t>(c))));
                    convert_item(value.get(), name, rule, rows * columns + c);
                }
            }
            ++rows;
        }
        if (PyErr_Occurred()) throw ErrorAlreadySet{};
    }
    const auto row_bytes = [width](std::size_t item) { return static_cast<Py_ssize_t>(item * width); };
    switch (rule) {
        case NumberRule::integers:
            grid_ = {reinterpret_cast<const char*>(integers_.data()), row_bytes(sizeof(std::int64_t)),
                     sizeof(std::int64_t), rows, width, NumberKind::int64};
            break;
        case NumberRule::truth_values:
            grid_ = {reinterpret_cast<const char*>(truths_.data()), row_bytes(1), 1, rows, width, NumberKind::uint8};
            break;
        case NumberRule::floats:
            grid_ = {reinterpret_cast<const char*>(floats_.data()), row_bytes(sizeof(double)), sizeof(double), rows,
                     width, NumberKind::float64};
            break;
    }
}

PyObject* NumberArgument::integer_object(std::size_t row, std::size_t column) const {
    if (outsized_.get() && row * grid_.columns + column == outsized_position_) return Py_NewRef(outsized_.get());
    return with_integer_type(grid_.kind, [&](auto type) -> PyObject* {
        using T = typename decltype(type)::type;
        const T value = GridItems<T>(grid_).at(row, column);
        if constexpr (std::is_signed_v<T>) {
            return check(PyLong_FromLongLong(value));
        } else {
            return check(PyLong_FromUnsignedLongLong(value));
        }
    });
}

void raise_index_out_of_range(PyObject* index, std::size_t limit) {
    PyErr_Format(PyExc_IndexError, "index %S is out of range for a list of %zu element%s", index, limit,
                 limit == 1 ? "" : "s");
    throw ErrorAlreadySet{};
}

}  // namespace quorvane::frame
