// Two lists of one length combined element by element: element i of the receiver (on the left)
// with element i of `other`, by the core function of the Vec3d operation of the same name.
// Both lists are borrowed for reading for the whole step, so one list may be both.
#include "core/vec3d.hpp"
#include "src/frame/members.hpp"
#include "src/frame/owned_buffer.hpp"
#include "src/vec_list/batch.hpp"
#include "src/vec_list/indexed_steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;
using Doubles = frame::OwnedBuffer<BatchArray<double>>;

// out[i] = combine(list[i], other[i]), as one pool step over the receiver's elements.
template <class Out, class Combine>
BatchArray<Out> zip_lists(const VecListValue& list, const VecListValue& other, Combine combine) {
    if (list.items.size() != other.items.size()) {
        PyErr_Format(PyExc_ValueError, "the lists differ in length: this list has %zu elements, other has %zu",
                     list.items.size(), other.items.size());
        throw frame::ErrorAlreadySet{};
    }
    return zip_indexed<Out>(list.items, other.items, combine);
}

VecListValue add_elementwise(const VecListValue& list, const VecListValue& other) {
    return {zip_lists<Vec3d>(list, other, [](const Vec3d& a, const Vec3d& b) { return a + b; })};
}
VecListValue sub_elementwise(const VecListValue& list, const VecListValue& other) {
    return {zip_lists<Vec3d>(list, other, [](const Vec3d& a, const Vec3d& b) { return a - b; })};
}
VecListValue cross_elementwise(const VecListValue& list, const VecListValue& other) {
    return {zip_lists<Vec3d>(list, other, [](const Vec3d& a, const Vec3d& b) { return core::cross(a, b); })};
}
Doubles dot_elementwise(const VecListValue& list, const VecListValue& other) {
    return {zip_lists<double>(list, other, [](const Vec3d& a, const Vec3d& b) { return core::dot(a, b); })};
}
Doubles distance_to_elementwise(const VecListValue& list, const VecListValue& other) {
    return {zip_lists<double>(list, other, [](const Vec3d& a, const Vec3d& b) { return core::distance_to(a, b); })};
}
Doubles distance_squared_elementwise(const VecListValue& list, const VecListValue& other) {
    return {zip_lists<double>(list, other,
                              [](const Vec3d& a, const Vec3d& b) { return core::distance_squared(a, b); })};
}

using def = frame::MembersOf<VecListValue>;

PyMethodDef methods[] = {
    def::method<"add_elementwise(other)", &add_elementwise>(),
    def::method<"sub_elementwise(other)", &sub_elementwise>(),
    def::method<"cross_elementwise(other)", &cross_elementwise>(),
    def::method<"dot_elementwise(other)", &dot_elementwise>(),
    def::method<"distance_to_elementwise(other)", &distance_to_elementwise>(),
    def::method<"distance_squared_elementwise(other)", &distance_squared_elementwise>(),
};

}  // namespace

frame::ClassRows elementwise_rows() { return {methods}; }

}  // namespace quorvane::binding
