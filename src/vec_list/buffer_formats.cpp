#include "src/vec_list/buffer_formats.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

namespace quorvane::binding {

std::optional<ItemFormat> item_format_of(std::string_view format, Py_ssize_t itemsize) {
    // An optional byte-order mark: '@' and '=' (or none) are this machine's order, '<' little
    // and '>' or '!' big endian.
    bool big_endian = std::endian::native == std::endian::big;
    if (!format.empty() && std::string_view("@=<>!").find(format.front()) != std::string_view::npos) {
        if (format.front() == '<') big_endian = false;
        if (format.front() == '>' || format.front() == '!') big_endian = true;
        format.remove_prefix(1);
    }
    if (format.size() != 1) return std::nullopt;
    const bool swapped = big_endian != (std::endian::native == std::endian::big);
    const auto size = static_cast<std::size_t>(itemsize);
    const char code = format.front();
    if ((code == 'd' && size == 8) || (code == 'f' && size == 4)) return ItemFormat{ItemFormat::Kind::floating, size, swapped};
    if (size != 1 && size != 2 && size != 4 && size != 8) return std::nullopt;
    if (std::string_view("bhilqn").find(code) != std::string_view::npos)
        return ItemFormat{ItemFormat::Kind::signed_integer, size, swapped};
    if (std::string_view("BHILQN").find(code) != std::string_view::npos)
        return ItemFormat{ItemFormat::Kind::unsigned_integer, size, swapped};
    return std::nullopt;
}

namespace {

// One item as a double. The conversion is the language's: exact for float and for integers of
// up to 53 significant bits, otherwise rounded to nearest with ties to even (the default
// rounding mode, which nothing in the module changes), as Python's float() of an int rounds.
template <class Raw, bool Swapped>
double read_item(const char* at) {
    unsigned char bytes[sizeof(Raw)];
    std::memcpy(bytes, at, sizeof(Raw));
    if constexpr (Swapped) {
        for (std::size_t k = 0; k < sizeof(Raw) / 2; ++k) std::swap(bytes[k], bytes[sizeof(Raw) - 1 - k]);
    }
    Raw raw;
    std::memcpy(&raw, bytes, sizeof(Raw));
    return static_cast<double>(raw);
}

template <class Raw, bool Swapped>
void read_rows(const char* base, Py_ssize_t row_stride, Py_ssize_t column_stride, Vec3dArray& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const char* row = base + static_cast<Py_ssize_t>(i) * row_stride;
        items[i] = {read_item<Raw, Swapped>(row), read_item<Raw, Swapped>(row + column_stride),
                    read_item<Raw, Swapped>(row + 2 * column_stride)};
    }
}

template <class Raw, bool Swapped>
Vec3dArray read_all(const ItemGrid& grid, std::size_t count) {
    Vec3dArray items(count);
    constexpr auto item = static_cast<Py_ssize_t>(sizeof(Raw));
    // Packed rows get strides the compiler knows, so that it can vectorise the conversion.
    if (grid.column_stride == item && grid.row_stride == 3 * item)
        read_rows<Raw, Swapped>(grid.base, 3 * item, item, items);
    else
        read_rows<Raw, Swapped>(grid.base, grid.row_stride, grid.column_stride, items);
    return items;
}

template <class Raw>
Vec3dArray read_in_order(const ItemGrid& grid, std::size_t count, bool swapped) {
    return swapped ? read_all<Raw, true>(grid, count) : read_all<Raw, false>(grid, count);
}

template <class Signed, class Unsigned>
Vec3dArray read_integers(const ItemGrid& grid, std::size_t count, const ItemFormat& format) {
    return format.kind == ItemFormat::Kind::signed_integer ? read_in_order<Signed>(grid, count, format.swapped)
                                                           : read_in_order<Unsigned>(grid, count, format.swapped);
}

}  // namespace

Vec3dArray read_vectors(const ItemGrid& grid, std::size_t count, const ItemFormat& format) {
    if (format.kind == ItemFormat::Kind::floating) {
        return format.size == 4 ? read_in_order<float>(grid, count, format.swapped)
                                : read_in_order<double>(grid, count, format.swapped);
    }
    switch (format.size) {
        case 1: return read_integers<std::int8_t, std::uint8_t>(grid, count, format);
        case 2: return read_integers<std::int16_t, std::uint16_t>(grid, count, format);
        case 4: return read_integers<std::int32_t, std::uint32_t>(grid, count, format);
        default: return read_integers<std::int64_t, std::uint64_t>(grid, count, format);
    }
}

}  // namespace quorvane::binding
