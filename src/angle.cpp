#include "src/angle.hpp"

#include <optional>
#include <string>

#include "src/frame/members.hpp"
#include "src/frame/float_text.hpp"
#include "src/frame/operators.hpp"
#include "src/frame/pickling.hpp"

namespace quorvane::frame {
template <>
struct Pickled<core::AngleRadians> {
    static constexpr const char* path = "quorvane.AngleRadians";
    static PyObject* placeholder_arguments() { return Py_BuildValue("(d)", 0.0); }
};
template <>
struct Pickled<core::AngleDegrees> {
    static constexpr const char* path = "quorvane.AngleDegrees";
    static PyObject* placeholder_arguments() { return Py_BuildValue("(d)", 0.0); }
};
}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

using core::AngleDegrees;
using core::AngleRadians;

AngleRadians make_radians(double angle) { return {angle}; }
AngleDegrees make_degrees(double angle) { return {angle}; }

// The core keeps the trigonometry as members; the frame binds functions of the value.
double sin(const AngleRadians& a) { return a.sin(); }
double cos(const AngleRadians& a) { return a.cos(); }
double tan(const AngleRadians& a) { return a.tan(); }
double sec(const AngleRadians& a) { return a.sec(); }
double csc(const AngleRadians& a) { return a.csc(); }
double cot(const AngleRadians& a) { return a.cot(); }
AngleDegrees to_degrees(const AngleRadians& a) { return a.to_degrees(); }
AngleRadians to_radians(const AngleDegrees& d) { return d.to_radians(); }

AngleRadians add(const AngleRadians& a, const AngleRadians& b) { return a + b; }
AngleRadians subtract(const AngleRadians& a, const AngleRadians& b) { return a - b; }
AngleRadians scale(const AngleRadians& a, double k) { return a * k; }
AngleRadians divide(const AngleRadians& a, double k) { return a / k; }
template <class Angle>
Angle negate(const Angle& a) {
    return -a;
}

// Exact comparison of the stored doubles; `!=` never gets here (it is negated equality).
template <class Angle>
std::optional<bool> compare(const Angle& a, const Angle& b, int op) {
    switch (op) {
    case Py_EQ: return a == b;
    case Py_LT: return a < b;
    case Py_LE: return a <= b;
    case Py_GT: return a > b;
    case Py_GE: return a >= b;
    default: return std::nullopt;
    }
}

template <class Angle>
PyObject* repr(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto angle = frame::borrow_receiver<Angle>(self);
        return frame::to_str(core::to_text(*angle));
    });
}

using radians = frame::MembersOf<AngleRadians>;
using degrees = frame::MembersOf<AngleDegrees>;
using NewRadians = radians::constructor<"AngleRadians(angle)", &make_radians>;
using NewDegrees = degrees::constructor<"AngleDegrees(angle)", &make_degrees>;

PyMethodDef radians_methods[] = {
    radians::static_method<"zero()", &AngleRadians::zero>(),
    radians::static_method<"pi()", &AngleRadians::pi>(),
    radians::static_method<"two_pi()", &AngleRadians::two_pi>(),
    radians::static_method<"half_pi()", &AngleRadians::half_pi>(),
    radians::static_method<"third_pi()", &AngleRadians::third_pi>(),
    radians::static_method<"quarter_pi()", &AngleRadians::quarter_pi>(),
    radians::static_method<"sixth_pi()", &AngleRadians::sixth_pi>(),
    radians::method<"sin()", &sin>(),
    radians::method<"cos()", &cos>(),
    radians::method<"tan()", &tan>(),
    radians::method<"sec()", &sec>(),
    radians::method<"csc()", &csc>(),
    radians::method<"cot()", &cot>(),
    radians::method<"to_degrees()", &to_degrees>(),
    frame::reduce_ex_definition<AngleRadians>(),
    frame::set_state_definition<AngleRadians>(),
};

PyMethodDef degrees_methods[] = {
    degrees::method<"to_radians()", &to_radians>(),
    frame::reduce_ex_definition<AngleDegrees>(),
    frame::set_state_definition<AngleDegrees>(),
};

PyGetSetDef radians_properties[] = {radians::property<"angle", &AngleRadians::angle>()};
PyGetSetDef degrees_properties[] = {degrees::property<"angle", &AngleDegrees::angle>()};

frame::ClassRows radians_rows() { return {radians_methods, radians_properties}; }
frame::ClassRows degrees_rows() { return {degrees_methods, degrees_properties}; }
constexpr frame::RowSource radians_sources[] = {radians_rows};
constexpr frame::RowSource degrees_sources[] = {degrees_rows};

// No hash slot: with rich comparison defined, the interpreter makes both classes unhashable.
PyType_Slot radians_slots[] = {
    {Py_tp_doc, const_cast<char*>(NewRadians::doc)},
    {Py_tp_new, reinterpret_cast<void*>(NewRadians::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<AngleRadians>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr<AngleRadians>)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_with_negated_equality<AngleRadians, &compare<AngleRadians>,
                                                                  frame::WhenOtherIsBusy::not_implemented>)},
    /* number */
    {Py_nb_add, reinterpret_cast<void*>(frame::binary_operator<AngleRadians, AngleRadians, &add>)},
    {Py_nb_subtract, reinterpret_cast<void*>(frame::binary_operator<AngleRadians, AngleRadians, &subtract>)},
    {Py_nb_multiply, reinterpret_cast<void*>(frame::binary_operator<AngleRadians, double, &scale>)},
    {Py_nb_true_divide, reinterpret_cast<void*>(frame::binary_operator<AngleRadians, double, &divide>)},
    {Py_nb_negative, reinterpret_cast<void*>(frame::unary_operator<AngleRadians, &negate<AngleRadians>>)},
    {0, nullptr},
};

PyType_Slot degrees_slots[] = {
    {Py_tp_doc, const_cast<char*>(NewDegrees::doc)},
    {Py_tp_new, reinterpret_cast<void*>(NewDegrees::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<AngleDegrees>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr<AngleDegrees>)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_with_negated_equality<AngleDegrees, &compare<AngleDegrees>,
                                                                  frame::WhenOtherIsBusy::not_implemented>)},
    /* number */
    {Py_nb_negative, reinterpret_cast<void*>(frame::unary_operator<AngleDegrees, &negate<AngleDegrees>>)},
    {0, nullptr},
};

PyType_Spec radians_spec{"builtins.AngleRadians", sizeof(frame::Instance<AngleRadians>), 0, frame::class_flags,
                         radians_slots};
PyType_Spec degrees_spec{"builtins.AngleDegrees", sizeof(frame::Instance<AngleDegrees>), 0, frame::class_flags,
                         degrees_slots};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::AngleRadians>::type{binding::radians_spec, binding::NewRadians::install_vectorcall,
                                          binding::radians_sources};
ClassType Class<core::AngleDegrees>::type{binding::degrees_spec, binding::NewDegrees::install_vectorcall,
                                          binding::degrees_sources};
}  // namespace quorvane::frame
