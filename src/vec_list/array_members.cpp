// The batch members of VecList for array users: dot_array, distance_to_array,
// distance_squared_array, magnitude_array and is_unit_array compute what dot, distance_to,
// distance_squared, magnitude and is_unit compute (the same function, batch.cpp), but hand the
// output array itself to Python as a memoryview instead of a list of new objects.
#include "core/vec3d.hpp"
#include "src/frame/members.hpp"
#include "src/frame/owned_buffer.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/batch.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;
using Doubles = frame::OwnedBuffer<BatchArray<double>>;

Doubles dot_array(const VecListValue& list, const Vec3d& other) { return {dot_each(list, other)}; }
Doubles distance_to_array(const VecListValue& list, const Vec3d& other) { return {distance_to_each(list, other)}; }
Doubles distance_squared_array(const VecListValue& list, const Vec3d& other) {
    return {distance_squared_each(list, other)};
}
Doubles magnitude_array(const VecListValue& list) { return {magnitude_each(list)}; }
frame::OwnedBuffer<Flags> is_unit_array(const VecListValue& list) { return {is_unit_each(list)}; }

using def = frame::MembersOf<VecListValue>;

PyMethodDef methods[] = {
    def::method<"dot_array(other)", &dot_array>(),
    def::method<"distance_to_array(other)", &distance_to_array>(),
    def::method<"distance_squared_array(other)", &distance_squared_array>(),
    def::method<"magnitude_array()", &magnitude_array>(),
    def::method<"is_unit_array()", &is_unit_array>(),
};

}  // namespace

frame::ClassRows array_rows() { return {methods}; }

}  // namespace quorvane::binding
