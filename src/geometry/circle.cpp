#include "src/geometry/circle.hpp"

#include <optional>

#include "src/frame/members.hpp"
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
using def = frame::MembersOf<Circle>;
using New = def::constructor<"Circle(center, radius, normal)", &Circle::make>;

// Only == is answered here; != is the negation of the interpreter's whole == protocol, and
// ordering is left to the interpreter's TypeError.
std::optional<bool> equality(const Circle& a, const Circle& b, int op) {
    if (op == Py_EQ) return a == b;
    return std::nullopt;
}

PyMethodDef methods[] = {
    def::static_method<"none()", &Circle::none>(),
    def::method<"get_plane()", &core::get_plane>(),
    def::method<"in_same_plane(other)", &core::in_same_plane>(),
    def::method<"is_degenerate()", &core::is_degenerate>(),
    frame::reduce_ex_definition<Circle>(),
    frame::set_state_definition<Circle>(),
};

// Setters store what they are given (a negative radius, a normal of any length); `area` has no
// setter, so the interpreter reports it as read-only.
PyGetSetDef properties[] = {
    def::property<"center", &Circle::center>(),
    def::property<"radius", &Circle::radius>(),
    def::property<"normal", &Circle::normal>(),
    def::property<"area", &core::area>(),
};

frame::ClassRows own_rows() { return {methods, properties}; }
constexpr frame::RowSource rows[] = {own_rows};

// Equality without a hash slot: the interpreter makes circles unhashable.
PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(New::doc)},
    {Py_tp_new, reinterpret_cast<void*>(New::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Circle>)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_with_negated_equality<Circle, &equality,
                                                                  frame::WhenOtherIsBusy::not_implemented>)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Circle", sizeof(frame::Instance<Circle>), 0, frame::class_flags, slots};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Circle>::type{binding::spec, binding::New::install_vectorcall, binding::rows};
}
