#pragma once
// Batch outputs handed to Python as memoryviews of the output array itself. The array moves
// into a small exporter object that the memoryview keeps alive, so nothing is copied after the
// step, the result is writable, and it keeps no list borrowed.
#include <Python.h>

#include <cstdint>

#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

// One double per element: a memoryview of format "d" and shape (n,).
struct DoubleBuffer {
    BatchArray<double> values;
    PyObject* into_python() &&;
};

// One truth value per element, a byte holding 0 or 1: a memoryview of format "?" and shape (n,).
struct FlagBuffer {
    BatchArray<std::uint8_t> flags;
    PyObject* into_python() &&;
};

// One 64-bit integer per element: a memoryview of format "q" and shape (n,).
struct IndexBuffer {
    BatchArray<std::int64_t> indices;
    PyObject* into_python() &&;
};

// Tables stored row after row, `columns` entries per row (at least 1): memoryviews of shape
// (size / columns, columns), format "d" and "q".
struct DoubleTable {
    BatchArray<double> values;
    std::size_t columns;
    PyObject* into_python() &&;
};
struct IndexTable {
    BatchArray<std::int64_t> indices;
    std::size_t columns;
    PyObject* into_python() &&;
};

}  // namespace quorvane::binding
