// The module quorvane: its initialisation export, its execution step and its submodules, each
// created once per process: geometry, reached as an attribute only, and spatial, which is also
// entered into sys.modules so that it can be imported by its own name.
#include <Python.h>

#include "src/angle.hpp"
#include "src/frame/errors.hpp"
#include "src/frame/once.hpp"
#include "src/frame/registration.hpp"
#include "src/frame/results.hpp"
#include "src/geometry/members.hpp"
#include "src/quat.hpp"
#include "src/spatial/submodule.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {
namespace {

int execute_geometry(PyObject* submodule) noexcept {
    return frame::guarded<int>(-1, [&] {
        add_geometry_members(submodule);
        return 0;
    });
}

PyModuleDef_Slot geometry_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute_geometry)},
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef geometry_definition = {
    PyModuleDef_HEAD_INIT, "quorvane.geometry", "", 0, nullptr, geometry_slots, nullptr, nullptr, nullptr,
};

// The type objects and the submodule are shared by every module object of the process, so
// they cannot serve a second interpreter: only the main interpreter may import the module, and
// this is checked before anything process-wide is made, so that a sub-interpreter that tries
// first leaves nothing behind. (An isolated sub-interpreter is already turned away by the
// interpreter itself, since the module does not declare a GIL of its own per interpreter; a
// legacy one, which shares the main GIL, reaches this check.)
void refuse_sub_interpreters() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main())
        frame::raise(PyExc_ImportError, "quorvane does not support sub-interpreters");
}

frame::OnceCell<PyObject> types_module;
frame::OnceCell<PyObject> geometry_module;
frame::OnceCell<PyObject> spatial_module;

PyObject* create_submodule(PyModuleDef& definition) {
    PyObject* types = types_module.get_or_create([] { return PyImport_ImportModule("types"); });
    if (!types) return nullptr;
    frame::Owned namespace_type(PyObject_GetAttrString(types, "SimpleNamespace"));
    if (!namespace_type.get()) return nullptr;
    frame::Owned arguments(PyTuple_New(0));
    frame::Owned keywords(Py_BuildValue("{s:s}", "name", definition.m_name));
    if (!arguments.get() || !keywords.get()) return nullptr;
    frame::Owned spec(PyObject_Call(namespace_type.get(), arguments.get(), keywords.get()));
    if (!spec.get()) return nullptr;
    frame::Owned submodule(PyModule_FromDefAndSpec(&definition, spec.get()));
    if (!submodule.get()) return nullptr;
    if (PyModule_ExecDef(submodule.get(), &definition) < 0) return nullptr;
    return submodule.release();
}

void add_geometry(PyObject* module) {
    PyObject* submodule =
        frame::check(geometry_module.get_or_create([] { return create_submodule(geometry_definition); }));
    frame::add_name(module, "geometry", submodule);
}

// Not in quorvane's __all__, which lists what the module has always had.
void add_spatial(PyObject* module) {
    PyObject* submodule =
        frame::check(spatial_module.get_or_create([] { return create_submodule(spatial_definition()); }));
    frame::add_importable_submodule(module, "spatial", submodule);
}

int execute(PyObject* module) noexcept {
    return frame::guarded<int>(-1, [&] {
        refuse_sub_interpreters();
        frame::add_class<core::AngleDegrees>(module);
        frame::add_class<core::AngleRadians>(module);
        frame::add_class<core::Quat>(module);
        frame::add_class<binding::VecListValue>(module);
        frame::add_class<core::Vec3d>(module);
        add_geometry(module);
        add_spatial(module);
        return 0;
    });
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "quorvane", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quorvane::binding

PyMODINIT_FUNC PyInit_quorvane(void) { return PyModuleDef_Init(&quorvane::binding::definition); }
