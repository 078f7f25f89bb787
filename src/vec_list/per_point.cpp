// Per-point operations whose operand is an array or a plane: scaled_elementwise and the
// distances to a plane, each element computed by the core formula of the scalar operation.
#include <utility>

#include "core/plane.hpp"
#include "core/vec3d.hpp"
#include "src/frame/buffer_args.hpp"
#include "src/geometry/plane.hpp"
#include "src/vec_list/buffer_results.hpp"
#include "src/vec_list/point_steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;

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
DoubleBuffer each_point(const VecListValue& list, F f) {
    BatchArray<double> out(list.items.size());
    const Vec3d* source = list.items.data();
    double* target = out.data();
    block_step(out.size(), [source, target, f](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) target[i] = f(source[i]);
    });
    return {std::move(out)};
}

// As Plane.distance_to_point: |distance + normal . p|.
DoubleBuffer distance_to_plane_array(const VecListValue& list, const core::Plane& plane) {
    return each_point(list, [plane](const Vec3d& v) { return core::distance_to_point(plane, v); });
}

// The same sum without the absolute value: positive on the side the normal points to.
DoubleBuffer signed_distance_to_plane_array(const VecListValue& list, const core::Plane& plane) {
    return each_point(list, [plane](const Vec3d& v) { return core::signed_offset(plane, v); });
}

using frame::Parameters;
constinit Parameters<1> scaled_elementwise_parameters{"VecList.scaled_elementwise()", {"factors"}};
constinit Parameters<1> distance_to_plane_array_parameters{"VecList.distance_to_plane_array()", {"plane"}};
constinit Parameters<1> signed_distance_to_plane_array_parameters{"VecList.signed_distance_to_plane_array()",
                                                                   {"plane"}};

}  // namespace

namespace point_steps {

PyObject* scaled_elementwise(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<scaled_elementwise_parameters, &binding::scaled_elementwise>(self, args, nargs, kwnames);
}
PyObject* distance_to_plane_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<distance_to_plane_array_parameters, &binding::distance_to_plane_array>(self, args, nargs,
                                                                                                 kwnames);
}
PyObject* signed_distance_to_plane_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame::method<signed_distance_to_plane_array_parameters, &binding::signed_distance_to_plane_array>(
        self, args, nargs, kwnames);
}

}  // namespace point_steps
}  // namespace quorvane::binding
