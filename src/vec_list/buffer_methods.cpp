// The scalar batch results as memoryviews: dot_array, distance_to_array,
// distance_squared_array, magnitude_array and is_unit_array compute what dot, distance_to,
// distance_squared, magnitude and is_unit compute, element for element through the same core
// functions, but hand the output array itself to Python instead of a list of new floats.
#include <cstdint>
#include <span>

#include "core/vec3d.hpp"
#include "src/frame/bind.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/array_batch.hpp"
#include "src/vec_list/buffer_results.hpp"
#include "src/vec_list/steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;

// out[i] = f(element i), as one pool step over the whole list.
template <class Out, class F>
BatchArray<Out> each(const VecListValue& list, F f) {
    return map_step<Out>(std::span<const Vec3d>(list.items), f);
}

DoubleBuffer dot_array(const VecListValue& list, const Vec3d& other) {
    return {each<double>(list, [other](const Vec3d& v) { return core::dot(v, other); })};
}
DoubleBuffer distance_to_array(const VecListValue& list, const Vec3d& other) {
    return {each<double>(list, [other](const Vec3d& v) { return core::distance_to(v, other); })};
}
DoubleBuffer distance_squared_array(const VecListValue& list, const Vec3d& other) {
    return {each<double>(list, [other](const Vec3d& v) { return core::distance_squared(v, other); })};
}
DoubleBuffer magnitude_array(const VecListValue& list) {
    return {each<double>(list, [](const Vec3d& v) { return core::magnitude(v); })};
}
FlagBuffer is_unit_array(const VecListValue& list) {
    return {each<std::uint8_t>(list, [](const Vec3d& v) { return static_cast<std::uint8_t>(core::is_unit(v)); })};
}

using frame::Parameters;
constinit Parameters<1> dot_array_parameters{"VecList.dot_array()", {"other"}};
constinit Parameters<1> distance_to_array_parameters{"VecList.distance_to_array()", {"other"}};
constinit Parameters<1> distance_squared_array_parameters{"VecList.distance_squared_array()", {"other"}};
constinit Parameters<0> magnitude_array_parameters{"VecList.magnitude_array()", {}};
constinit Parameters<0> is_unit_array_parameters{"VecList.is_unit_array()", {}};

}  // namespace

namespace array_batch {

PyObject* dot_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<dot_array_parameters, &binding::dot_array>(self, args, nargs, kwnames);
}
PyObject* distance_to_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_to_array_parameters, &binding::distance_to_array>(self, args, nargs, kwnames);
}
PyObject* distance_squared_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_squared_array_parameters, &binding::distance_squared_array>(self, args, nargs,
                                                                                               kwnames);
}
PyObject* magnitude_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<magnitude_array_parameters, &binding::magnitude_array>(self, args, nargs, kwnames);
}
PyObject* is_unit_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<is_unit_array_parameters, &binding::is_unit_array>(self, args, nargs, kwnames);
}

}  // namespace array_batch
}  // namespace quorvane::binding
