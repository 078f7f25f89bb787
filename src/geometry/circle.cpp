#include "src/geometry/circle.hpp"

#include <optional>

#include "src/frame/bind.hpp"
#include "src/frame/operators.hpp"
#include "src/frame/pickling.hpp"
#include "src/geometry/plane.hpp"
#include "src/vec3d.hpp"

namespace quorvane::frame {
template <>
struct Pickled<core::Circle> {
    static constexpr const char* path = "quorvane.geometry.Circle";
    // Each vector is owned as soon as it exists: should the second allocation fail, the first
    // is released.
    static PyObject* placeholder_arguments() {
        Owned center(new_instance(core::Vec3d{0.0, 0.0, 0.0}));
        Owned normal(new_instance(core::Vec3d{0.0, 0.0, 1.0}));
        return Py_BuildValue("(OdO)", center.get(), 1.0, normal.get());
    }
};
}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

using core::Circle;
using frame::as_c_function;
using frame::Parameters;

constinit Parameters<3> new_parameters{"Circle.__new__()", {"center", "radius", "normal"}};
constinit Parameters<0> none_parameters{"Circle.none()", {}};
constinit Parameters<0> get_plane_parameters{"Circle.get_plane()", {}};
constinit Parameters<1> in_same_plane_parameters{"Circle.in_same_plane()", {"other"}};
constinit Parameters<0> is_degenerate_parameters{"Circle.is_degenerate()", {}};

// Only == is answered here; != is the negation of the interpreter's whole == protocol, and
// ordering is left to the interpreter's TypeError.
std::optional<bool> equality(const Circle& a, const Circle& b, int op) {
    if (op == Py_EQ) return a == b;
    return std::nullopt;
}

PyMethodDef methods[] = {
    {"none", as_c_function<frame::function<none_parameters, &Circle::none>>(), frame::static_fastcall,
     "none()\n--\n\n"},
    {"get_plane", as_c_function<frame::method<get_plane_parameters, &core::get_plane>>(), frame::fastcall,
     "get_plane($self)\n--\n\n"},
    {"in_same_plane", as_c_function<frame::method<in_same_plane_parameters, &core::in_same_plane>>(),
     frame::fastcall, "in_same_plane($self, other)\n--\n\n"},
    {"is_degenerate", as_c_function<frame::method<is_degenerate_parameters, &core::is_degenerate>>(),
     frame::fastcall, "is_degenerate($self)\n--\n\n"},
    frame::reduce_ex_definition<core::Circle>(),
    frame::set_state_definition<core::Circle>(),
    {nullptr, nullptr, 0, nullptr},
};

// Setters store what they are given (a negative radius, a normal of any length); `area` has no
// setter, so the interpreter reports it as read-only.
PyGetSetDef properties[] = {
    {"center", frame::get_member<&Circle::center>, frame::set_member<&Circle::center>, nullptr, nullptr},
    {"radius", frame::get_member<&Circle::radius>, frame::set_member<&Circle::radius>, nullptr, nullptr},
    {"normal", frame::get_member<&Circle::normal>, frame::set_member<&Circle::normal>, nullptr, nullptr},
    {"area", frame::get_member<&core::area>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Equality without a hash slot: the interpreter makes circles unhashable.
PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Circle(center, radius, normal)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<new_parameters, &Circle::make>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Circle>)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_with_negated_equality<Circle, &equality,
                                                                  frame::WhenOtherIsBusy::not_implemented>)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Circle", sizeof(frame::Instance<Circle>), 0, frame::class_flags, slots};

void install_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<new_parameters, &Circle::make>;
}

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Circle>::type{binding::spec, binding::install_vectorcall};
}
