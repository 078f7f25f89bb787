#include "src/vec_list/batch.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

#include "core/quat.hpp"
#include "src/frame/bind.hpp"
#include "src/frame/operators.hpp"
#include "src/quat.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/component_steps.hpp"
#include "src/vec_list/steps.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {
namespace {
namespace each_element {

using core::Vec3d;

// out[i] = f(element i), as one pool step over the whole list.
template <class Out, class F>
BatchArray<Out> each(const VecListValue& list, F&& f) {
    return map_step<Out>(std::span<const Vec3d>(list.items), std::forward<F>(f));
}

template <class F>
VecListValue each_vector(const VecListValue& list, F&& f) {
    return {each<Vec3d>(list, std::forward<F>(f))};
}

// ---- operators ----

VecListValue plus(const VecListValue& list, const Vec3d& w) {
    return each_vector(list, [w](const Vec3d& v) { return v + w; });
}
VecListValue minus(const VecListValue& list, const Vec3d& w) {
    return each_vector(list, [w](const Vec3d& v) { return v - w; });
}
// As Vec3d's `v * s` and `v / s`, component by component.
VecListValue times(const VecListValue& list, double s) {
    return {each_component(list.items, [s](double c) { return s * c; })};
}
VecListValue over(const VecListValue& list, double s) {
    return {each_component(list.items, [s](double c) { return c / s; })};
}

// ---- methods ----

BatchArray<double> dot(const VecListValue& list, const Vec3d& other) {
    return each<double>(list, [other](const Vec3d& v) { return core::dot(v, other); });
}
VecListValue cross(const VecListValue& list, const Vec3d& other) {
    return each_vector(list, [other](const Vec3d& v) { return core::cross(v, other); });
}
BatchArray<double> distance_to(const VecListValue& list, const Vec3d& other) {
    return each<double>(list, [other](const Vec3d& v) { return core::distance_to(v, other); });
}
BatchArray<double> distance_squared(const VecListValue& list, const Vec3d& other) {
    return each<double>(list, [other](const Vec3d& v) { return core::distance_squared(v, other); });
}
BatchArray<double> magnitude(const VecListValue& list) {
    return each<double>(list, [](const Vec3d& v) { return core::magnitude(v); });
}
VecListValue normalize(const VecListValue& list) {
    return each_vector(list, [](const Vec3d& v) { return core::normalize(v); });
}

// One byte per flag: a bit-packed vector<bool> cannot be written by several threads at once.
struct UnitFlags {
    BatchArray<std::uint8_t> flags;
};

UnitFlags is_unit(const VecListValue& list) {
    return {each<std::uint8_t>(list, [](const Vec3d& v) { return static_cast<std::uint8_t>(core::is_unit(v)); })};
}

VecListValue collapse(const VecListValue& list, std::size_t axis) {
    if (axis > 2) throw frame::InternalFailure("assertion failed: axis <= 2");
    return each_vector(list, [axis](Vec3d v) {
        (axis == 0 ? v.x : axis == 1 ? v.y : v.z) = 0.0;
        return v;
    });
}

// The quaternion is copied at the start, so it is free again while the pool works.
VecListValue rotated(const VecListValue& list, core::Quat quat) {
    return each_vector(list, [quat](const Vec3d& v) { return core::rotate(quat, v); });
}

// The rotated elements go into a fresh array that replaces the old one only once all of them
// are computed, so a failure leaves the list as it was.
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

}  // namespace each_element

using frame::Parameters;
constinit Parameters<1> dot_parameters{"VecList.dot()", {"other"}};
constinit Parameters<1> cross_parameters{"VecList.cross()", {"other"}};
constinit Parameters<1> distance_to_parameters{"VecList.distance_to()", {"other"}};
constinit Parameters<1> distance_squared_parameters{"VecList.distance_squared()", {"other"}};
constinit Parameters<0> magnitude_parameters{"VecList.magnitude()", {}};
constinit Parameters<0> normalize_parameters{"VecList.normalize()", {}};
constinit Parameters<0> is_unit_parameters{"VecList.is_unit()", {}};
constinit Parameters<1> collapse_parameters{"VecList.collapse()", {"axis"}};
constinit Parameters<1> rotate_parameters{"VecList.rotate()", {"quat"}};
constinit Parameters<1> rotated_parameters{"VecList.rotated()", {"quat"}};
constinit Parameters<2> minimum_distance_to_parameters{"VecList.minimum_distance_to()", {"other", "stride"}};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
// A list of bools, made on the calling thread after the step.
template <>
inline PyObject* to_python(const binding::each_element::UnitFlags& result) {
    return detail::new_list(result.flags.size(), [&](std::size_t i) { return result.flags[i] != 0; });
}
}  // namespace quorvane::frame

namespace quorvane::binding::batch {

using core::Vec3d;

PyObject* add(PyObject* left, PyObject* right) {
    return frame::binary_operator<VecListValue, Vec3d, &each_element::plus>(left, right);
}
PyObject* subtract(PyObject* left, PyObject* right) {
    return frame::binary_operator<VecListValue, Vec3d, &each_element::minus>(left, right);
}
PyObject* multiply(PyObject* left, PyObject* right) {
    return frame::scaling_operator<VecListValue, &each_element::times>(left, right);
}
PyObject* divide(PyObject* left, PyObject* right) {
    return frame::binary_operator<VecListValue, double, &each_element::over>(left, right);
}

PyObject* dot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<dot_parameters, &each_element::dot>(self, args, nargs, kwnames);
}
PyObject* cross(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<cross_parameters, &each_element::cross>(self, args, nargs, kwnames);
}
PyObject* distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_to_parameters, &each_element::distance_to>(self, args, nargs, kwnames);
}
PyObject* distance_squared(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_squared_parameters, &each_element::distance_squared>(self, args, nargs, kwnames);
}
PyObject* magnitude(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<magnitude_parameters, &each_element::magnitude>(self, args, nargs, kwnames);
}
PyObject* normalize(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<normalize_parameters, &each_element::normalize>(self, args, nargs, kwnames);
}
PyObject* is_unit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<is_unit_parameters, &each_element::is_unit>(self, args, nargs, kwnames);
}
PyObject* collapse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<collapse_parameters, &each_element::collapse>(self, args, nargs, kwnames);
}
PyObject* minimum_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<minimum_distance_to_parameters, &each_element::minimum_distance_to>(self, args, nargs, kwnames);
}
PyObject* rotated(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<rotated_parameters, &each_element::rotated>(self, args, nargs, kwnames);
}
// Exclusive access to the list is taken before the quaternion is examined.
PyObject* rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::mutating_method<rotate_parameters, &each_element::rotate>(self, args, nargs, kwnames);
}

}  // namespace quorvane::binding::batch
