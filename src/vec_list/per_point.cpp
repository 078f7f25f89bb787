// Per-point operations whose operand is an array or a plane: scaled_elementwise and the
// distances to a plane, each element computed by the core formula of the scalar operation.
#include <utility>

#include "core/plane.hpp"
#include "core/vec3d.hpp"
#include "src/frame/buffer_args.hpp"
#include "src/frame/members.hpp"
#include "src/frame/owned_buffer.hpp"
#include "src/geometry/plane.hpp"
#include "src/vec_list/point_steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;
using Doubles = frame::OwnedBuffer<BatchArray<double>>;

// Element i times factors[i], with the products of Vec3d's `v * s`.
VecListValue scaled_elementwise(const VecListValue& list, const frame::FactorArgument& factors) {
    const frame::NumberGrid& grid = factors.grid();
    require_length(list, grid.rows, "factors");
    Vec3dArray out(list.items.size());
    frame::with_float_type(grid.kind, [&](auto type) {
        using T = typename decltype(type)::type;
        const frame::GridItems<T> items(grid);
        const Vec3d* source = list.items.data();
        Vec3d* target = out.data();
        block_step(out.size(), [&](std::size_t begin, std::size_t end) {
            frame::with_item_reader(items, [&](const auto& factors) {
                for (std::size_t i = begin; i < end; ++i) target[i] = source[i] * static_cast<double>(factors.at(i));
            });
        });
    });
    return {std::move(out)};
}

// out[i] = f(element i), block by block.
template <class F>
Doubles each_point(const VecListValue& list, F f) {
    BatchArray<double> out(list.items.size());
    const Vec3d* source = list.items.data();
    double* target = out.data();
    block_step(out.size(), [source, target, f](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) target[i] = f(source[i]);
    });
    return {std::move(out)};
}

// As Plane.distance_to_point: |distance + normal . p|.
Doubles distance_to_plane_array(const VecListValue& list, const core::Plane& plane) {
    return each_point(list, [plane](const Vec3d& v) { return core::distance_to_point(plane, v); });
}

// The same sum without the absolute value: positive on the side the normal points to.
Doubles signed_distance_to_plane_array(const VecListValue& list, const core::Plane& plane) {
    return each_point(list, [plane](const Vec3d& v) { return core::signed_offset(plane, v); });
}

using def = frame::MembersOf<VecListValue>;

PyMethodDef methods[] = {
    def::method<"scaled_elementwise(factors)", &scaled_elementwise>(),
    def::method<"distance_to_plane_array(plane)", &distance_to_plane_array>(),
    def::method<"signed_distance_to_plane_array(plane)", &signed_distance_to_plane_array>(),
};

}  // namespace

frame::ClassRows per_point_rows() { return {methods}; }
}  // namespace quorvane::binding
