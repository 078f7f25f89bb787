#include "src/angle.hpp"

#include <optional>
#include <string>

#include "src/frame/bind.hpp"
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
using frame::as_c_function;
using frame::fastcall;
using frame::Parameters;
using frame::static_fastcall;

AngleRadians make_radians(double angle) { return {angle}; }
AngleDegrees make_degrees(double angle) { return {angle}; }

constinit Parameters<1> radians_new_parameters{"AngleRadians.__new__()", {"angle"}};
constinit Parameters<0> zero_parameters{"AngleRadians.zero()", {}};
constinit Parameters<0> pi_parameters{"AngleRadians.pi()", {}};
constinit Parameters<0> two_pi_parameters{"AngleRadians.two_pi()", {}};
constinit Parameters<0> half_pi_parameters{"AngleRadians.half_pi()", {}};
constinit Parameters<0> third_pi_parameters{"AngleRadians.third_pi()", {}};
constinit Parameters<0> quarter_pi_parameters{"AngleRadians.quarter_pi()", {}};
constinit Parameters<0> sixth_pi_parameters{"AngleRadians.sixth_pi()", {}};
constinit Parameters<0> sin_parameters{"AngleRadians.sin()", {}};
constinit Parameters<0> cos_parameters{"AngleRadians.cos()", {}};
constinit Parameters<0> tan_parameters{"AngleRadians.tan()", {}};
constinit Parameters<0> sec_parameters{"AngleRadians.sec()", {}};
constinit Parameters<0> csc_parameters{"AngleRadians.csc()", {}};
constinit Parameters<0> cot_parameters{"AngleRadians.cot()", {}};
constinit Parameters<0> to_degrees_parameters{"AngleRadians.to_degrees()", {}};

constinit Parameters<1> degrees_new_parameters{"AngleDegrees.__new__()", {"angle"}};
constinit Parameters<0> to_radians_parameters{"AngleDegrees.to_radians()", {}};

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

PyMethodDef radians_methods[] = {
    {"zero", as_c_function<frame::function<zero_parameters, &AngleRadians::zero>>(), static_fastcall,
     "zero()\n--\n\n"},
    {"pi", as_c_function<frame::function<pi_parameters, &AngleRadians::pi>>(), static_fastcall, "pi()\n--\n\n"},
    {"two_pi", as_c_function<frame::function<two_pi_parameters, &AngleRadians::two_pi>>(), static_fastcall,
     "two_pi()\n--\n\n"},
    {"half_pi", as_c_function<frame::function<half_pi_parameters, &AngleRadians::half_pi>>(), static_fastcall,
     "half_pi()\n--\n\n"},
    {"third_pi", as_c_function<frame::function<third_pi_parameters, &AngleRadians::third_pi>>(), static_fastcall,
     "third_pi()\n--\n\n"},
    {"quarter_pi", as_c_function<frame::function<quarter_pi_parameters, &AngleRadians::quarter_pi>>(),
     static_fastcall, "quarter_pi()\n--\n\n"},
    {"sixth_pi", as_c_function<frame::function<sixth_pi_parameters, &AngleRadians::sixth_pi>>(), static_fastcall,
     "sixth_pi()\n--\n\n"},
    {"sin", as_c_function<frame::method<sin_parameters, &sin>>(), fastcall, "sin($self)\n--\n\n"},
    {"cos", as_c_function<frame::method<cos_parameters, &cos>>(), fastcall, "cos($self)\n--\n\n"},
    {"tan", as_c_function<frame::method<tan_parameters, &tan>>(), fastcall, "tan($self)\n--\n\n"},
    {"sec", as_c_function<frame::method<sec_parameters, &sec>>(), fastcall, "sec($self)\n--\n\n"},
    {"csc", as_c_function<frame::method<csc_parameters, &csc>>(), fastcall, "csc($self)\n--\n\n"},
    {"cot", as_c_function<frame::method<cot_parameters, &cot>>(), fastcall, "cot($self)\n--\n\n"},
    {"to_degrees", as_c_function<frame::method<to_degrees_parameters, &to_degrees>>(), fastcall,
     "to_degrees($self)\n--\n\n"},
    frame::reduce_ex_definition<core::AngleRadians>(),
    frame::set_state_definition<core::AngleRadians>(),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef degrees_methods[] = {
    {"to_radians", as_c_function<frame::method<to_radians_parameters, &to_radians>>(), fastcall,
     "to_radians($self)\n--\n\n"},
    frame::reduce_ex_definition<core::AngleDegrees>(),
    frame::set_state_definition<core::AngleDegrees>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef radians_properties[] = {
    {"angle", frame::get_member<&AngleRadians::angle>, frame::set_member<&AngleRadians::angle>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef degrees_properties[] = {
    {"angle", frame::get_member<&AngleDegrees::angle>, frame::set_member<&AngleDegrees::angle>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// No hash slot: with rich comparison defined, the interpreter makes both classes unhashable.
PyType_Slot radians_slots[] = {
    {Py_tp_doc, const_cast<char*>("AngleRadians(angle)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<radians_new_parameters, &make_radians>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<AngleRadians>)},
    {Py_tp_methods, radians_methods},
    {Py_tp_getset, radians_properties},
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
    {Py_tp_doc, const_cast<char*>("AngleDegrees(angle)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<degrees_new_parameters, &make_degrees>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<AngleDegrees>)},
    {Py_tp_methods, degrees_methods},
    {Py_tp_getset, degrees_properties},
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

void install_radians_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<radians_new_parameters, &make_radians>;
}

void install_degrees_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<degrees_new_parameters, &make_degrees>;
}

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::AngleRadians>::type{binding::radians_spec, binding::install_radians_vectorcall};
ClassType Class<core::AngleDegrees>::type{binding::degrees_spec, binding::install_degrees_vectorcall};
}  // namespace quorvane::frame
