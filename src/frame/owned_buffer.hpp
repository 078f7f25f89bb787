#pragma once
// A memoryview that owns a C++ array: results handed to Python (and numpy) without a copy.
//
// The array moves into a small exporter object that the memoryview keeps alive, so nothing is
// copied after it is computed, the view is writable, and it refers to no other Python object.
// The exporter's class shows as "BatchBuffer"; it is not an attribute of the module, and
// Python cannot make one.
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace quorvane::frame {

// Where a buffer of no items points: it still needs a valid address (three doubles, for a
// view of no rows of three).
inline double no_items[3];

// What the exporter keeps alive; the array itself, behind a type it need not know.
struct OwnedStorage {
    virtual ~OwnedStorage() = default;
};

// A new memoryview of `count` items of `item_size` bytes at `data`, C-contiguous, in the struct
// format `format`, owning `storage`: one-dimensional when `columns` is 0, else of shape
// (count / columns, columns), the items stored row after row.
PyObject* memoryview_owning(std::unique_ptr<OwnedStorage> storage, void* data, std::size_t count,
                            std::size_t item_size, const char* format, std::size_t columns = 0);

template <class Item>
constexpr const char* buffer_format();
template <>
constexpr const char* buffer_format<double>() { return "d"; }
// A truth value: one byte holding 0 or 1.
template <>
constexpr const char* buffer_format<std::uint8_t>() { return "?"; }
template <>
constexpr const char* buffer_format<std::int64_t>() { return "q"; }

// A result returned as such a memoryview: `Array` is a contiguous container (a std::vector
// with any allocator) of doubles, truth bytes or 64-bit integers; `columns` (at least 1) makes
// it a table of that many items per row, 0 a one-dimensional view.
template <class Array>
struct OwnedBuffer {
    Array items;
    std::size_t columns = 0;

    PyObject* into_python() && {
        struct Held : OwnedStorage {
            explicit Held(Array&& moved) : items(std::move(moved)) {}
            Array items;
        };
        using Item = typename Array::value_type;
        auto held = std::make_unique<Held>(std::move(items));
        void* data = held->items.data();
        const std::size_t count = held->items.size();
        return memoryview_owning(std::move(held), data, count, sizeof(Item), buffer_format<Item>(), columns);
    }
};

}  // namespace quorvane::frame
