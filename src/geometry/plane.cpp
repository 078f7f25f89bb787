#include "src/geometry/plane.hpp"

#include "src/frame/members.hpp"
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
using def = frame::MembersOf<Plane>;
using New = def::constructor<"Plane(normal, distance)", &Plane::make>;

PyMethodDef methods[] = {
    def::static_method<"xy()", &Plane::xy>(),
    def::static_method<"xz()", &Plane::xz>(),
    def::static_method<"yz()", &Plane::yz>(),
    def::static_method<"from_point(normal, point)", &Plane::from_point>(),
    def::static_method<"from_points(point1, point2, point3)", &Plane::from_points>(),
    def::method<"contains_point(point)", &core::contains_point>(),
    def::method<"distance_to_point(point)", &core::distance_to_point>(),
    frame::reduce_ex_definition<Plane>(),
    frame::set_state_definition<Plane>(),
};

// Setters store what they are given: a new normal is not normalised, a new distance not negated.
PyGetSetDef properties[] = {
    def::property<"normal", &Plane::normal>(),
    def::property<"distance", &Plane::distance>(),
};

frame::ClassRows own_rows() { return {methods, properties}; }
constexpr frame::RowSource rows[] = {own_rows};

// No richcompare and no hash: planes compare and hash by identity.
PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(New::doc)},
    {Py_tp_new, reinterpret_cast<void*>(New::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Plane>)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Plane", sizeof(frame::Instance<Plane>), 0, frame::class_flags, slots};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Plane>::type{binding::spec, binding::New::install_vectorcall, binding::rows};
}
