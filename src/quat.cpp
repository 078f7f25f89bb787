#include "src/quat.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/quat.hpp"
#include "core/quat_algebra.hpp"
#include "src/angle.hpp"
#include "src/frame/members.hpp"
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

Quat make(double w, double i, double j, double k) { return {w, i, j, k}; }

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

using def = frame::MembersOf<Quat>;
using New = def::constructor<"Quat(w, i, j, k)", &make>;

PyMethodDef methods[] = {
    def::static_method<"identity()", &Quat::identity>(),
    def::static_method<"from_axis_angle(axis, angle)", &Quat::from_axis_angle>(),
    def::method<"conjugate()", &core::conjugate>(),
    def::method<"magnitude()", &magnitude>(),
    def::method<"normalize()", &normalize>(),
    def::method<"to_vec3d()", &to_vec3d>(),
    def::method<"is_unit()", &is_unit>(),
    def::method<"to_axis_angle()", &to_axis_angle>(),
    def::method<"to_rotation_matrix()", &core::to_rotation_matrix>(),
    def::method<"rotate(v)", &core::rotate>(),
    def::static_method<"from_active(w, x, y, z)", &core::from_active>(),
    def::method<"to_active()", &to_active>(),
    def::method<"then(other)", &core::then>(),
    def::method<"inverse()", &core::inverse>(),
    def::method<"slerp(other, t)", &core::slerp>(),
    def::static_method<"from_rotation_matrix(matrix)", &core::from_rotation_matrix>(),
    def::static_method<"from_euler(seq, a, b, c)", &from_euler>(),
    def::method<"to_euler(seq)", &to_euler>(),
    def::static_method<"rotation_between(a, b)", &core::rotation_between>(),
    frame::reduce_ex_definition<core::Quat>(),
    frame::set_state_definition<core::Quat>(),
};

PyGetSetDef properties[] = {
    def::property<"w", &Quat::w>(),
    def::property<"i", &Quat::i>(),
    def::property<"j", &Quat::j>(),
    def::property<"k", &Quat::k>(),
};

frame::ClassRows own_rows() { return {methods, properties}; }
constexpr frame::RowSource rows[] = {own_rows};

PyMethodDef vec3d_methods[] = {
    frame::MembersOf<Vec3d>::method<"to_quat()", &core::to_quat>(),
};

// No number slots and no hash: Quat has no operators, and rich comparison without a hash makes
// it unhashable.
PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(New::doc)},
    {Py_tp_new, reinterpret_cast<void*>(New::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Quat>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_instances<Quat, &compare, frame::WhenOtherIsBusy::panic>)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Quat", sizeof(frame::Instance<Quat>), 0, frame::class_flags, slots};

}  // namespace

frame::ClassRows vec3d_quat_rows() { return {vec3d_methods}; }

}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Quat>::type{binding::spec, binding::New::install_vectorcall, binding::rows};
}
