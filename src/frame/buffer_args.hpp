#pragma once
// Arguments that carry one number per item: indices, a mask, factors, rows of indices.
//
// Such an argument is either a buffer (a numpy array, an `array.array`, a memoryview, a ctypes
// array) read in place, without a Python object per item, or any sequence of Python numbers,
// converted once by the frame's own rules (`__index__` for integers, the bool conversion for
// truth values, the float conversion for floats) into an array of this call. Either way the
// callable sees a `NumberGrid`: where item (row, column) lies and what type it has. The buffer
// stays exported until the call returns, so its memory can neither move nor be freed meanwhile.
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "src/frame/errors.hpp"
#include "src/frame/results.hpp"

namespace quorvane::frame {

enum class NumberKind : std::uint8_t {
    int8, int16, int32, int64, uint8, uint16, uint32, uint64, truth, float32, float64
};

// Item (row, column) is a `kind` stored at base + row * row_stride + column * column_stride.
// A one-dimensional argument has one column.
struct NumberGrid {
    const char* base = nullptr;
    Py_ssize_t row_stride = 0;
    Py_ssize_t column_stride = 0;
    std::size_t rows = 0;
    std::size_t columns = 1;
    NumberKind kind = NumberKind::int64;
};

// Items of type T as a grid lays them out. Items are copied out byte by byte, so a buffer
// needs no alignment; each item is read once, so a buffer another thread writes meanwhile
// gives some value, never one that changes between a check and its use.
template <class T>
struct GridItems {
    const char* base;
    Py_ssize_t row_stride;
    Py_ssize_t column_stride;

    explicit GridItems(const NumberGrid& grid)
        : base(grid.base), row_stride(grid.row_stride), column_stride(grid.column_stride) {}
    T at(std::size_t row, std::size_t column = 0) const {
        T value;
        std::memcpy(&value, base + static_cast<Py_ssize_t>(row) * row_stride + static_cast<Py_ssize_t>(column) * column_stride,
                    sizeof(T));
        return value;
    }
    // One column of items packed back to back, the common layout.
    bool packed_rows() const { return row_stride == static_cast<Py_ssize_t>(sizeof(T)); }
};

// The same reads for a one-column grid whose items are packed back to back (GridItems::
// packed_rows), with a stride the compiler knows, so that a loop over them can be vectorised.
template <class T>
struct PackedItems {
    const char* base;
    T at(std::size_t row) const {
        T value;
        std::memcpy(&value, base + row * sizeof(T), sizeof(T));
        return value;
    }
};

// f(items) with the faster reader where the layout allows it.
template <class T, class F>
decltype(auto) with_item_reader(const GridItems<T>& items, F&& f) {
    if (items.packed_rows()) return f(PackedItems<T>{items.base});
    return f(items);
}

// What a parameter accepts: the item kinds of a buffer, and the conversion of sequence items.
enum class NumberRule : std::uint8_t {
    integers,      // integer buffers; sequence items through __index__
    truth_values,  // bool or integer buffers (non-zero is true); sequence items by the bool conversion
    floats,        // float64, float32 or integer buffers; sequence items by the float conversion
};

// The argument as the callable reads it. Move-only: it owns the buffer export, if any.
class NumberArgument {
public:
    // `columns` is 0 for a one-dimensional argument, or the fixed width of each row (a buffer
    // of shape (m, columns), or a sequence of m sequences of that length).
    NumberArgument(PyObject* object, const char* name, NumberRule rule, std::size_t columns);
    NumberArgument(NumberArgument&&) noexcept = default;
    NumberArgument& operator=(NumberArgument&&) = delete;
    ~NumberArgument();

    const NumberGrid& grid() const { return grid_; }
    std::size_t rows() const { return grid_.rows; }

    // Item (row, column) as a new Python int, for an error that names it (an integer argument).
    PyObject* integer_object(std::size_t row, std::size_t column = 0) const;

private:
    void read_buffer(PyObject* object, const char* name, NumberRule rule, std::size_t columns);
    void read_sequence(PyObject* object, const char* name, NumberRule rule, std::size_t columns);
    void convert_item(PyObject* item, const char* name, NumberRule rule, std::size_t position);

    struct ReleaseView {
        void operator()(Py_buffer* view) const noexcept;
    };
    std::unique_ptr<Py_buffer, ReleaseView> view_;
    // A sequence's items, converted; one of these is used, by the rule.
    std::vector<std::int64_t> integers_;
    std::vector<std::uint8_t> truths_;
    std::vector<double> floats_;
    // An integer beyond 64 bits, kept to be named in an error (it is out of range anyway).
    std::size_t outsized_position_ = 0;
    Owned outsized_;
    NumberGrid grid_;
};

// The argument types a callable names among its parameters (see bind.hpp).
template <NumberRule Rule, std::size_t Columns>
struct NumberParameter : NumberArgument {
    NumberParameter(PyObject* object, const char* name) : NumberArgument(object, name, Rule, Columns) {}
};
using IndexArgument = NumberParameter<NumberRule::integers, 0>;
using IndexTriplesArgument = NumberParameter<NumberRule::integers, 3>;
using MaskArgument = NumberParameter<NumberRule::truth_values, 0>;
using FactorArgument = NumberParameter<NumberRule::floats, 0>;

template <class T>
struct ItemType {
    using type = T;
};

// Calls f(ItemType<T>{}) with the C++ type of the grid's items, one of the integer kinds.
template <class F>
decltype(auto) with_integer_type(NumberKind kind, F&& f) {
    switch (kind) {
        case NumberKind::int8: return f(ItemType<std::int8_t>{});
        case NumberKind::int16: return f(ItemType<std::int16_t>{});
        case NumberKind::int32: return f(ItemType<std::int32_t>{});
        case NumberKind::int64: return f(ItemType<std::int64_t>{});
        case NumberKind::uint8: return f(ItemType<std::uint8_t>{});
        case NumberKind::uint16: return f(ItemType<std::uint16_t>{});
        case NumberKind::uint32: return f(ItemType<std::uint32_t>{});
        case NumberKind::uint64: return f(ItemType<std::uint64_t>{});
        default: throw InternalFailure("an integer argument holds items of another kind");
    }
}

// The same for a truth-value argument: a bool buffer's bytes read as uint8.
template <class F>
decltype(auto) with_truth_type(NumberKind kind, F&& f) {
    if (kind == NumberKind::truth) return f(ItemType<std::uint8_t>{});
    return with_integer_type(kind, std::forward<F>(f));
}

// The same for a float argument.
template <class F>
decltype(auto) with_float_type(NumberKind kind, F&& f) {
    if (kind == NumberKind::float64) return f(ItemType<double>{});
    if (kind == NumberKind::float32) return f(ItemType<float>{});
    return with_integer_type(kind, std::forward<F>(f));
}

// An index is in range when 0 <= value < limit, whatever its type.
template <class T>
bool index_in_range(T value, std::size_t limit) {
    if constexpr (std::is_signed_v<T>) {
        return value >= 0 && static_cast<std::make_unsigned_t<T>>(value) < limit;
    } else {
        return value < limit;
    }
}

// IndexError "index {value} is out of range for a list of {limit} elements".
[[noreturn]] void raise_index_out_of_range(PyObject* index, std::size_t limit);

}  // namespace quorvane::frame

// Placed here rather than in bind.hpp so that the templates there stay independent of buffers.
#include "src/frame/bind.hpp"

namespace quorvane::frame {

template <NumberRule Rule, std::size_t Columns>
struct Argument<const NumberParameter<Rule, Columns>&> {
    NumberParameter<Rule, Columns> value;
    Argument(PyObject* object, const char* name) : value(object, name) {}
    const NumberParameter<Rule, Columns>& get() const { return value; }
};

}  // namespace quorvane::frame
