// Two lists of one length combined element by element: element i of the receiver (on the left)
// with element i of `other`, by the core function of the Vec3d operation of the same name.
// Both lists are borrowed for reading for the whole step, so one list may be both.
#include <span>

#include "core/vec3d.hpp"
#include "src/frame/bind.hpp"
#include "src/vec_list/array_batch.hpp"
#include "src/vec_list/buffer_results.hpp"
#include "src/vec_list/component_steps.hpp"
#include "src/vec_list/steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;

void require_same_length(const VecListValue& list, const VecListValue& other) {
    if (list.items.size() != other.items.size()) {
        PyErr_Format(PyExc_ValueError, "the lists differ in length: this list has %zu elements, other has %zu",
                     list.items.size(), other.items.size());
        throw frame::ErrorAlreadySet{};
    }
}

// out[i] = combine(list[i], other[i]), as one pool step over the receiver's elements.
template <class Out, class Combine>
BatchArray<Out> each_pair(const VecListValue& list, const VecListValue& other, Combine combine) {
    require_same_length(list, other);
    const Vec3d* left = list.items.data();
    const Vec3d* right = other.items.data();
    // The step hands each item over as a reference into the receiver's array; the item's place
    // there names its partner in `other`.
    return map_step<Out>(std::span<const Vec3d>(list.items),
                         [left, right, combine](const Vec3d& v) { return combine(v, right[&v - left]); });
}

// As Vec3d's `a + b` and `a - b`, component by component.
VecListValue add_elementwise(const VecListValue& list, const VecListValue& other) {
    require_same_length(list, other);
    return {each_component_pair(list.items, other.items, [](double a, double b) { return a + b; })};
}
VecListValue sub_elementwise(const VecListValue& list, const VecListValue& other) {
    require_same_length(list, other);
    return {each_component_pair(list.items, other.items, [](double a, double b) { return a - b; })};
}
VecListValue cross_elementwise(const VecListValue& list, const VecListValue& other) {
    return {each_pair<Vec3d>(list, other, [](const Vec3d& a, const Vec3d& b) { return core::cross(a, b); })};
}
DoubleBuffer dot_elementwise(const VecListValue& list, const VecListValue& other) {
    return {each_pair<double>(list, other, [](const Vec3d& a, const Vec3d& b) { return core::dot(a, b); })};
}
DoubleBuffer distance_to_elementwise(const VecListValue& list, const VecListValue& other) {
    return {each_pair<double>(list, other, [](const Vec3d& a, const Vec3d& b) { return core::distance_to(a, b); })};
}
DoubleBuffer distance_squared_elementwise(const VecListValue& list, const VecListValue& other) {
    return {each_pair<double>(list, other,
                              [](const Vec3d& a, const Vec3d& b) { return core::distance_squared(a, b); })};
}

using frame::Parameters;
constinit Parameters<1> add_parameters{"VecList.add_elementwise()", {"other"}};
constinit Parameters<1> sub_parameters{"VecList.sub_elementwise()", {"other"}};
constinit Parameters<1> cross_parameters{"VecList.cross_elementwise()", {"other"}};
constinit Parameters<1> dot_parameters{"VecList.dot_elementwise()", {"other"}};
constinit Parameters<1> distance_to_parameters{"VecList.distance_to_elementwise()", {"other"}};
constinit Parameters<1> distance_squared_parameters{"VecList.distance_squared_elementwise()", {"other"}};

}  // namespace

namespace array_batch {

PyObject* add_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<add_parameters, &binding::add_elementwise>(self, args, nargs, kwnames);
}
PyObject* sub_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<sub_parameters, &binding::sub_elementwise>(self, args, nargs, kwnames);
}
PyObject* cross_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<cross_parameters, &binding::cross_elementwise>(self, args, nargs, kwnames);
}
PyObject* dot_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<dot_parameters, &binding::dot_elementwise>(self, args, nargs, kwnames);
}
PyObject* distance_to_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_to_parameters, &binding::distance_to_elementwise>(self, args, nargs, kwnames);
}
PyObject* distance_squared_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_squared_parameters, &binding::distance_squared_elementwise>(self, args, nargs,
                                                                                              kwnames);
}

}  // namespace array_batch
}  // namespace quorvane::binding
