#pragma once
// The number formats VecList.from_array reads, and the reading itself: float64 in either byte
// order, float32, and signed and unsigned integers of 1, 2, 4 and 8 bytes, each turned into a
// double as Python's float() turns the same number (exactly for float32, correctly rounded with
// ties to even for integers wider than a double's 53 bits).
#include <Python.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

struct ItemFormat {
    enum class Kind { floating, signed_integer, unsigned_integer };
    Kind kind;
    std::size_t size;  // bytes per item
    bool swapped;      // stored in the other byte order than this machine's
};

// The item format of a buffer, from its struct-module format text and item size, or nothing
// for a format that from_array does not read (bool, complex, objects, records, half floats).
std::optional<ItemFormat> item_format_of(std::string_view format, Py_ssize_t itemsize);

// Element k of the result is (item(k, 0), item(k, 1), item(k, 2)), item (row, column) being
// read at `base + row * row_stride + column * column_stride`.
struct ItemGrid {
    const char* base;
    Py_ssize_t row_stride;
    Py_ssize_t column_stride;
};
Vec3dArray read_vectors(const ItemGrid& grid, std::size_t count, const ItemFormat& format);

}  // namespace quorvane::binding
