#pragma once
// Batch steps that address their arrays by index: element i of the output from element i of
// one list, or of two lists of one length (zipped). Each element goes through the core's own
// vector operation, so the bits are those of the Vec3d method or operator.
#include <cstddef>

#include "core/vec3d.hpp"
#include "src/vec_list/steps.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

// out[i] = f(items[i]).
template <class Out, class F>
BatchArray<Out> map_indexed(const Vec3dArray& items, F f) {
    BatchArray<Out> out(items.size());
    const core::Vec3d* in = items.data();
    Out* result = out.data();
    range_step(items.size(), [in, result, f](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) result[i] = f(in[i]);
    });
    return out;
}

// out[i] = f(left[i], right[i]), for two arrays of one length.
template <class Out, class F>
BatchArray<Out> zip_indexed(const Vec3dArray& left, const Vec3dArray& right, F f) {
    BatchArray<Out> out(left.size());
    const core::Vec3d* a = left.data();
    const core::Vec3d* b = right.data();
    Out* result = out.data();
    range_step(left.size(), [a, b, result, f](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) result[i] = f(a[i], b[i]);
    });
    return out;
}

}  // namespace quorvane::binding
