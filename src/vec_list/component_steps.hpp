#pragma once
// Batch steps whose every result component comes from the same component of the inputs alone:
// v * s, v / s and the element-by-element sum and difference of two lists. The loop runs over
// the arrays' doubles in a row, which the compiler turns into vector instructions; each
// component is still the one IEEE operation of the element-by-element formula, so the bits are
// those of the Vec3d operators. The step's items are still the vectors (the split and the
// one-vector case are those of every other step).
#include <cstddef>
#include <type_traits>

#include "core/vec3d.hpp"
#include "src/vec_list/steps.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

static_assert(std::is_standard_layout_v<core::Vec3d> && sizeof(core::Vec3d) == 3 * sizeof(double),
              "a Vec3d array must read as three doubles per vector");

// out = f(component) for every component of `items`.
template <class F>
Vec3dArray each_component(const Vec3dArray& items, F f) {
    Vec3dArray out(items.size());
    const auto* in = reinterpret_cast<const double*>(items.data());
    auto* result = reinterpret_cast<double*>(out.data());
    range_step(items.size(), [in, result, f](std::size_t begin, std::size_t end) {
        for (std::size_t k = 3 * begin; k < 3 * end; ++k) result[k] = f(in[k]);
    });
    return out;
}

// out = f(left component, right component), for two arrays of one length.
template <class F>
Vec3dArray each_component_pair(const Vec3dArray& left, const Vec3dArray& right, F f) {
    Vec3dArray out(left.size());
    const auto* a = reinterpret_cast<const double*>(left.data());
    const auto* b = reinterpret_cast<const double*>(right.data());
    auto* result = reinterpret_cast<double*>(out.data());
    range_step(left.size(), [a, b, result, f](std::size_t begin, std::size_t end) {
        for (std::size_t k = 3 * begin; k < 3 * end; ++k) result[k] = f(a[k], b[k]);
    });
    return out;
}

}  // namespace quorvane::binding
