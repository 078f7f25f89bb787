#include "src/spatial/submodule.hpp"

#include "src/frame/errors.hpp"
#include "src/frame/registration.hpp"
#include "src/spatial/kd_tree_class.hpp"

namespace quorvane::binding {
namespace {

int execute_spatial(PyObject* submodule) noexcept {
    return frame::guarded<int>(-1, [&] {
        frame::add_class<spatial::KdTree>(submodule);
        return 0;
    });
}

PyModuleDef_Slot spatial_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute_spatial)},
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "quorvane.spatial", "Spatial indexes over point clouds.", 0, nullptr, spatial_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyModuleDef& spatial_definition() { return definition; }

}  // namespace quorvane::binding
