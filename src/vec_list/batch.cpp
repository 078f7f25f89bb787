// The batch operations of VecList that apply one vector operation to every element as one step
// on the worker pool, with their results as Python objects.
#include "src/vec_list/batch.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "core/quat.hpp"
#include "src/frame/members.hpp"
#include "src/frame/operators.hpp"
#include "src/quat.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/indexed_steps.hpp"
#include "src/vec_list/steps.hpp"

namespace quorvane::binding {

using core::Vec3d;

// ---- the computations shared with the _array members ----

BatchArray<double> dot_each(const VecListValue& list, const Vec3d& other) {
    return map_indexed<double>(list.items, [other](const Vec3d& v) { return core::dot(v, other); });
}
BatchArray<double> distance_to_each(const VecListValue& list, const Vec3d& other) {
    return map_indexed<double>(list.items, [other](const Vec3d& v) { return core::distance_to(v, other); });
}
BatchArray<double> distance_squared_each(const VecListValue& list, const Vec3d& other) {
    return map_indexed<double>(list.items, [other](const Vec3d& v) { return core::distance_squared(v, other); });
}
BatchArray<double> magnitude_each(const VecListValue& list) {
    return map_indexed<double>(list.items, [](const Vec3d& v) { return core::magnitude(v); });
}
Flags is_unit_each(const VecListValue& list) {
    return map_indexed<std::uint8_t>(list.items,
                                     [](const Vec3d& v) { return static_cast<std::uint8_t>(core::is_unit(v)); });
}

namespace {

// The flags as a list of bools, made on the calling thread after the step.
struct FlagList {
    Flags flags;
    PyObject* into_python() && {
        return frame::detail::new_list(flags.size(), [&](std::size_t i) { return flags[i] != 0; });
    }
};

template <class F>
VecListValue map_vectors(const VecListValue& list, F&& f) {
    return {map_indexed<Vec3d>(list.items, std::forward<F>(f))};
}

// ---- operators: as Vec3d's ----

VecListValue plus(const VecListValue& list, const Vec3d& w) {
    return map_vectors(list, [w](const Vec3d& v) { return v + w; });
}
VecListValue minus(const VecListValue& list, const Vec3d& w) {
    return map_vectors(list, [w](const Vec3d& v) { return v - w; });
}
VecListValue times(const VecListValue& list, double s) {
    return map_vectors(list, [s](const Vec3d& v) { return v * s; });
}
VecListValue over(const VecListValue& list, double s) {
    return map_vectors(list, [s](const Vec3d& v) { return v / s; });
}

// ---- methods ----

VecListValue cross(const VecListValue& list, const Vec3d& other) {
    return map_vectors(list, [other](const Vec3d& v) { return core::cross(v, other); });
}
VecListValue normalize(const VecListValue& list) {
    return map_vectors(list, [](const Vec3d& v) { return core::normalize(v); });
}
FlagList is_unit(const VecListValue& list) { return {is_unit_each(list)}; }

VecListValue collapse(const VecListValue& list, std::size_t axis) {
    if (axis > 2) throw frame::InternalFailure("assertion failed: axis <= 2");
    return map_vectors(list, [axis](Vec3d v) {
        (axis == 0 ? v.x : axis == 1 ? v.y : v.z) = 0.0;
        return v;
    });
}

// Two doubles side by side, for rotating two vectors with one instruction per operation. Every
// x86-64 and ARMv8 processor has registers of this width.
using TwoLanes = double __attribute__((vector_size(2 * sizeof(double))));

// out[i] = rotate(quat, in[i]) for i in [begin, end): four vectors at a time, as two pairs whose
// lanes each take the same operations in the same order as the scalar formula, so the bits are
// those of one call per vector. Two independent pairs keep the processor's pipelines full.
void rotate_range(const core::Quat& quat, const Vec3d* in, Vec3d* out, std::size_t begin, std::size_t end) {
    std::size_t i = begin;
    for (; i + 4 <= end; i += 4) {
        const auto low = core::rotate_components(quat, TwoLanes{in[i].x, in[i + 1].x},
                                                 TwoLanes{in[i].y, in[i + 1].y}, TwoLanes{in[i].z, in[i + 1].z});
        const auto high = core::rotate_components(quat, TwoLanes{in[i + 2].x, in[i + 3].x},
                                                  TwoLanes{in[i + 2].y, in[i + 3].y},
                                                  TwoLanes{in[i + 2].z, in[i + 3].z});
        out[i] = {low.x[0], low.y[0], low.z[0]};
        out[i + 1] = {low.x[1], low.y[1], low.z[1]};
        out[i + 2] = {high.x[0], high.y[0], high.z[0]};
        out[i + 3] = {high.x[1], high.y[1], high.z[1]};
    }
    for (; i < end; ++i) out[i] = core::rotate(quat, in[i]);
}

// The quaternion is copied at the start, so it is free again while the pool works.
VecListValue rotated(const VecListValue& list, core::Quat quat) {
    BatchArray<Vec3d> out(list.items.size());
    const Vec3d* in = list.items.data();
    Vec3d* result = out.data();
    range_step(list.items.size(), [quat, in, result](std::size_t begin, std::size_t end) {
        rotate_range(quat, in, result, begin, end);
    });
    return {std::move(out)};
}

// The rotated elements go into a fresh array that replaces the old one only once all of them
// are computed, so a failure leaves the list as it was. Exclusive access to the list is taken
// before the quaternion is examined.
frame::None rotate(VecListValue& list, core::Quat quat) {
    VecListValue result = rotated(list, quat);
    list.items.swap(result.items);
    return {};
}

// IEEE 754 total order: -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
std::int64_t total_order_key(double value) {
    const auto bits = std::bit_cast<std::int64_t>(value);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// Ties keep the earlier index.
bool strictly_nearer(const double& candidate, const double& best) {
    return total_order_key(candidate) < total_order_key(best);
}

// A coarse pass over every stride-th element, then a fine pass over the window around the
// best coarse candidate: at most `stride` places before it and `stride` - 1 after.
std::pair<std::size_t, double> minimum_distance_to(const VecListValue& list, const Vec3d& other, std::size_t stride) {
    if (stride == 0) throw frame::InternalFailure("assertion failed: stride != 0");
    const Vec3dArray& items = list.items;
    const std::size_t n = items.size();
    auto squared_distance = [&items, other](std::size_t i) { return core::distance_squared(items[i], other); };
    auto coarse = reduce_step(n, stride, squared_distance, strictly_nearer);
    if (!coarse) throw frame::InternalFailure("called `Option::unwrap()` on a `None` value");
    const std::size_t candidate = coarse->first;
    const std::size_t begin = candidate >= stride ? candidate - stride : 0;
    const std::size_t end = n - candidate > stride ? candidate + stride : n;
    auto fine = reduce_window_step(begin, end, squared_distance, strictly_nearer);
    if (!fine) throw frame::InternalFailure("called `Option::unwrap()` on a `None` value");
    return {fine->first, std::sqrt(fine->second)};
}

using def = frame::MembersOf<VecListValue>;

PyMethodDef methods[] = {
    def::method<"dot(other)", &dot_each>(),
    def::method<"cross(other)", &cross>(),
    def::method<"distance_to(other)", &distance_to_each>(),
    def::method<"distance_squared(other)", &distance_squared_each>(),
    def::method<"magnitude()", &magnitude_each>(),
    def::method<"normalize()", &normalize>(),
    def::method<"is_unit()", &is_unit>(),
    def::method<"collapse(axis)", &collapse>(),
    def::method<"rotate(quat)", &rotate>(),
    def::method<"rotated(quat)", &rotated>(),
    def::method<"minimum_distance_to(other, stride)", &minimum_distance_to>(),
};

}  // namespace

frame::ClassRows batch_rows() { return {methods}; }

namespace batch {

PyObject* add(PyObject* left, PyObject* right) {
    return frame::binary_operator<VecListValue, Vec3d, &plus>(left, right);
}
PyObject* subtract(PyObject* left, PyObject* right) {
    return frame::binary_operator<VecListValue, Vec3d, &minus>(left, right);
}
PyObject* multiply(PyObject* left, PyObject* right) {
    return frame::scaling_operator<VecListValue, &times>(left, right);
}
PyObject* divide(PyObject* left, PyObject* right) {
    return frame::binary_operator<VecListValue, double, &over>(left, right);
}

}  // namespace batch
}  // namespace quorvane::binding
