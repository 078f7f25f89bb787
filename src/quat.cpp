#include "src/quat.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/quat.hpp"
#include "core/quat_algebra.hpp"
#include "src/angle.hpp"
#include "src/frame/bind.hpp"
#include "src/frame/float_text.hpp"
#include "src/frame/operators.hpp"
#include "src/frame/pickling.hpp"
#include "src/vec3d.hpp"

namespace quorvane::frame {
template <>
struct Pickled<core::Quat> {
    static constexpr const char* path = "quorvane.Quat";
    static PyObject* placeholder_arguments() { return Py_BuildValue("(dddd)", 1.0, 0.0, 0.0, 0.0); }
};
}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

using core::Quat;
using core::Vec3d;
using frame::as_c_function;
using frame::fastcall;
using frame::Parameters;
using frame::static_fastcall;

Quat make(double w, double i, double j, double k) { return {w, i, j, k}; }

constinit Parameters<4> new_parameters{"Quat.__new__()", {"w", "i", "j", "k"}};
constinit Parameters<0> identity_parameters{"Quat.identity()", {}};
constinit Parameters<2> from_axis_angle_parameters{"Quat.from_axis_angle()", {"axis", "angle"}};
constinit Parameters<0> conjugate_parameters{"Quat.conjugate()", {}};
constinit Parameters<0> magnitude_parameters{"Quat.magnitude()", {}};
constinit Parameters<0> normalize_parameters{"Quat.normalize()", {}};
constinit Parameters<0> to_vec3d_parameters{"Quat.to_vec3d()", {}};
constinit Parameters<0> is_unit_parameters{"Quat.is_unit()", {}};
constinit Parameters<0> to_axis_angle_parameters{"Quat.to_axis_angle()", {}};
constinit Parameters<0> to_rotation_matrix_parameters{"Quat.to_rotation_matrix()", {}};
constinit Parameters<1> rotate_parameters{"Quat.rotate()", {"v"}};
constinit Parameters<0> vec3d_to_quat_parameters{"Vec3d.to_quat()", {}};
constinit Parameters<4> from_active_parameters{"Quat.from_active()", {"w", "x", "y", "z"}};
constinit Parameters<0> to_active_parameters{"Quat.to_active()", {}};
constinit Parameters<1> then_parameters{"Quat.then()", {"other"}};
constinit Parameters<0> inverse_parameters{"Quat.inverse()", {}};
constinit Parameters<2> slerp_parameters{"Quat.slerp()", {"other", "t"}};
constinit Parameters<1> from_rotation_matrix_parameters{"Quat.from_rotation_matrix()", {"matrix"}};
constinit Parameters<4> from_euler_parameters{"Quat.from_euler()", {"seq", "a", "b", "c"}};
constinit Parameters<1> to_euler_parameters{"Quat.to_euler()", {"seq"}};
constinit Parameters<2> rotation_between_parameters{"Quat.rotation_between()", {"a", "b"}};

// The overloads of the core for Quat, picked out of their overload sets for the method table.
double magnitude(const Quat& q) { return core::magnitude(q); }
Quat normalize(const Quat& q) { return core::normalize(q); }
bool is_unit(const Quat& q) { return core::is_unit(q); }

// Python sees the vector part as a plain tuple, not as a Vec3d.
std::tuple<double, double, double> to_vec3d(const Quat& q) { return {q.i, q.j, q.k}; }

std::pair<Vec3d, core::AngleRadians> to_axis_angle(const Quat& q) {
    const core::AxisAngle decomposed = core::to_axis_angle(q);
    return {decomposed.axis, decomposed.angle};
}

std::tuple<double, double, double, double> to_active(const Quat& q) {
    const core::ActiveQuat active = core::to_active(q);
    return {active.w, active.x, active.y, active.z};
}

core::EulerSequence euler_sequence(std::string_view seq) {
    if (auto parsed = core::parse_euler_sequence(seq)) return *parsed;
    const std::string text = "seq must be three of the axes x, y, z, all lower case (extrinsic) or all upper "
                             "case (intrinsic), with no axis twice in a row; got " + frame::quoted_text(seq);
    frame::raise(PyExc_ValueError, std::string_view(text));
}

Quat from_euler(std::string_view seq, core::AngleRadians a, core::AngleRadians b, core::AngleRadians c) {
    return core::from_euler(euler_sequence(seq), a, b, c);
}

std::tuple<core::AngleRadians, core::AngleRadians, core::AngleRadians> to_euler(const Quat& q, std::string_view seq) {
    const core::EulerAngles angles = core::to_euler(q, euler_sequence(seq));
    return {angles.a, angles.b, angles.c};
}

// Tolerance equality; Quat has no ordering.
std::optional<bool> compare(const Quat& a, const Quat& b, int op) {
    if (op == Py_EQ) return a == b;
    if (op == Py_NE) return !(a == b);
    return std::nullopt;
}

PyObject* repr(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto q = frame::borrow_receiver<Quat>(self);
        std::string text;
        frame::append_call_text(text, "Quat", {q->w, q->i, q->j, q->k});
        return frame::to_str(text);
    });
}

PyMethodDef methods[] = {
    {"identity", as_c_function<frame::function<identity_parameters, &Quat::identity>>(), static_fastcall,
     "identity()\n--\n\n"},
    {"from_axis_angle", as_c_function<frame::function<from_axis_angle_parameters, &Quat::from_axis_angle>>(),
     static_fastcall, "from_axis_angle(axis, angle)\n--\n\n"},
    {"conjugate", as_c_function<frame::method<conjugate_parameters, &core::conjugate>>(), fastcall,
     "conjugate($self)\n--\n\n"},
    {"magnitude", as_c_function<frame::method<magnitude_parameters, &magnitude>>(), fastcall,
     "magnitude($self)\n--\n\n"},
    {"normalize", as_c_function<frame::method<normalize_parameters, &normalize>>(), fastcall,
     "normalize($self)\n--\n\n"},
    {"to_vec3d", as_c_function<frame::method<to_vec3d_parameters, &to_vec3d>>(), fastcall,
     "to_vec3d($self)\n--\n\n"},
    {"is_unit", as_c_function<frame::method<is_unit_parameters, &is_unit>>(), fastcall, "is_unit($self)\n--\n\n"},
    {"to_axis_angle", as_c_function<frame::method<to_axis_angle_parameters, &to_axis_angle>>(), fastcall,
     "to_axis_angle($self)\n--\n\n"},
    {"to_rotation_matrix", as_c_function<frame::method<to_rotation_matrix_parameters, &core::to_rotation_matrix>>(),
     fastcall, "to_rotation_matrix($self)\n--\n\n"},
    {"rotate", as_c_function<frame::method<rotate_parameters, &core::rotate>>(), fastcall,
     "rotate($self, v)\n--\n\n"},
    {"from_active", as_c_function<frame::function<from_active_parameters, &core::from_active>>(), static_fastcall,
     "from_active(w, x, y, z)\n--\n\n"},
    {"to_active", as_c_function<frame::method<to_active_parameters, &to_active>>(), fastcall,
     "to_active($self)\n--\n\n"},
    {"then", as_c_function<frame::method<then_parameters, &core::then>>(), fastcall, "then($self, other)\n--\n\n"},
    {"inverse", as_c_function<frame::method<inverse_parameters, &core::inverse>>(), fastcall,
     "inverse($self)\n--\n\n"},
    {"slerp", as_c_function<frame::method<slerp_parameters, &core::slerp>>(), fastcall,
     "slerp($self, other, t)\n--\n\n"},
    {"from_rotation_matrix",
     as_c_function<frame::function<from_rotation_matrix_parameters, &core::from_rotation_matrix>>(), static_fastcall,
     "from_rotation_matrix(matrix)\n--\n\n"},
    {"from_euler", as_c_function<frame::function<from_euler_parameters, &from_euler>>(), static_fastcall,
     "from_euler(seq, a, b, c)\n--\n\n"},
    {"to_euler", as_c_function<frame::method<to_euler_parameters, &to_euler>>(), fastcall,
     "to_euler($self, seq)\n--\n\n"},
    {"rotation_between", as_c_function<frame::function<rotation_between_parameters, &core::rotation_between>>(),
     static_fastcall, "rotation_between(a, b)\n--\n\n"},
    frame::reduce_ex_definition<core::Quat>(),
    frame::set_state_definition<core::Quat>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"w", frame::get_member<&Quat::w>, frame::set_member<&Quat::w>, nullptr, nullptr},
    {"i", frame::get_member<&Quat::i>, frame::set_member<&Quat::i>, nullptr, nullptr},
    {"j", frame::get_member<&Quat::j>, frame::set_member<&Quat::j>, nullptr, nullptr},
    {"k", frame::get_member<&Quat::k>, frame::set_member<&Quat::k>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// No number slots and no hash: Quat has no operators, and rich comparison without a hash makes
// it unhashable.
PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Quat(w, i, j, k)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<new_parameters, &make>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Quat>)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_instances<Quat, &compare, frame::WhenOtherIsBusy::panic>)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Quat", sizeof(frame::Instance<Quat>), 0, frame::class_flags, slots};

void install_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<new_parameters, &make>;
}

}  // namespace

PyObject* vec3d_to_quat(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return frame::method<vec3d_to_quat_parameters, &core::to_quat>(self, args, nargs, kwnames);
}

}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Quat>::type{binding::spec, binding::install_vectorcall};
}
