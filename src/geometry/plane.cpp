#include "src/geometry/plane.hpp"

#include "src/frame/bind.hpp"
#include "src/frame/pickling.hpp"
#include "src/vec3d.hpp"

namespace quorvane::frame {
template <>
struct Pickled<core::Plane> {
    static constexpr const char* path = "quorvane.geometry.Plane";
    static PyObject* placeholder_arguments() { return Py_BuildValue("(Nd)", new_instance(core::Vec3d{0.0, 0.0, 1.0}), 0.0); }
};
}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

using core::Plane;
using frame::as_c_function;
using frame::Parameters;

constinit Parameters<2> new_parameters{"Plane.__new__()", {"normal", "distance"}};
constinit Parameters<0> xy_parameters{"Plane.xy()", {}};
constinit Parameters<0> xz_parameters{"Plane.xz()", {}};
constinit Parameters<0> yz_parameters{"Plane.yz()", {}};
constinit Parameters<2> from_point_parameters{"Plane.from_point()", {"normal", "point"}};
constinit Parameters<3> from_points_parameters{"Plane.from_points()", {"point1", "point2", "point3"}};
constinit Parameters<1> contains_point_parameters{"Plane.contains_point()", {"point"}};
constinit Parameters<1> distance_to_point_parameters{"Plane.distance_to_point()", {"point"}};

PyMethodDef methods[] = {
    {"xy", as_c_function<frame::function<xy_parameters, &Plane::xy>>(), frame::static_fastcall, "xy()\n--\n\n"},
    {"xz", as_c_function<frame::function<xz_parameters, &Plane::xz>>(), frame::static_fastcall, "xz()\n--\n\n"},
    {"yz", as_c_function<frame::function<yz_parameters, &Plane::yz>>(), frame::static_fastcall, "yz()\n--\n\n"},
    {"from_point", as_c_function<frame::function<from_point_parameters, &Plane::from_point>>(),
     frame::static_fastcall, "from_point(normal, point)\n--\n\n"},
    {"from_points", as_c_function<frame::function<from_points_parameters, &Plane::from_points>>(),
     frame::static_fastcall, "from_points(point1, point2, point3)\n--\n\n"},
    {"contains_point", as_c_function<frame::method<contains_point_parameters, &core::contains_point>>(),
     frame::fastcall, "contains_point($self, point)\n--\n\n"},
    {"distance_to_point", as_c_function<frame::method<distance_to_point_parameters, &core::distance_to_point>>(),
     frame::fastcall, "distance_to_point($self, point)\n--\n\n"},
    frame::reduce_ex_definition<core::Plane>(),
    frame::set_state_definition<core::Plane>(),
    {nullptr, nullptr, 0, nullptr},
};

// Setters store what they are given: a new normal is not normalised, a new distance not negated.
PyGetSetDef properties[] = {
    {"normal", frame::get_member<&Plane::normal>, frame::set_member<&Plane::normal>, nullptr, nullptr},
    {"distance", frame::get_member<&Plane::distance>, frame::set_member<&Plane::distance>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// No richcompare and no hash: planes compare and hash by identity.
PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Plane(normal, distance)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<new_parameters, &Plane::make>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Plane>)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Plane", sizeof(frame::Instance<Plane>), 0, frame::class_flags, slots};

void install_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<new_parameters, &Plane::make>;
}

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Plane>::type{binding::spec, binding::install_vectorcall};
}
