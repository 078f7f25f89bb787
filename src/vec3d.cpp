#include "src/vec3d.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/siphash.hpp"
#include "src/angle.hpp"
#include "src/frame/members.hpp"
#include "src/frame/float_text.hpp"
#include "src/frame/operators.hpp"
#include "src/frame/pickling.hpp"
#include "src/quat.hpp"

namespace quorvane::frame {
template <>
struct Pickled<core::Vec3d> {
    static constexpr const char* path = "quorvane.Vec3d";
    static PyObject* placeholder_arguments() { return Py_BuildValue("(ddd)", 0.0, 0.0, 0.0); }
};
}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

using core::Vec3d;

core::Vec3d make(double x, double y, double z) { return {x, y, z}; }

std::array<double, 3> to_array(const Vec3d& v) { return {v.x, v.y, v.z}; }

Vec3d add(const Vec3d& a, const Vec3d& b) { return a + b; }
Vec3d subtract(const Vec3d& a, const Vec3d& b) { return a - b; }
Vec3d negate(const Vec3d& a) { return -a; }
Vec3d scale(const Vec3d& a, double s) { return a * s; }
Vec3d divide(const Vec3d& a, double s) { return a / s; }

std::optional<bool> compare(const Vec3d& a, const Vec3d& b, int op) {
    if (op == Py_EQ) return a == b;
    if (op == Py_NE) return !(a == b);
    return std::nullopt;
}

// NaN (any sign or payload) hashes as one quiet NaN; adding +0.0 turns -0.0 into +0.0, so
// values that are exactly equal hash alike.
std::uint64_t hash_word(double component) {
    if (std::isnan(component)) return 0x7FF8000000000000ULL;
    return std::bit_cast<std::uint64_t>(component + 0.0);
}

Py_hash_t hash(PyObject* self) noexcept {
    return frame::guarded<Py_hash_t>(-1, [&] {
        auto v = frame::borrow_receiver<Vec3d>(self);
        const std::uint64_t words[3] = {hash_word(v->x), hash_word(v->y), hash_word(v->z)};
        const auto hash = static_cast<Py_hash_t>(core::siphash13(words));
        return hash == -1 ? Py_hash_t{-2} : hash;
    });
}

PyObject* repr(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto v = frame::borrow_receiver<Vec3d>(self);
        std::string text;
        frame::append_call_text(text, "Vec3d", {v->x, v->y, v->z});
        return frame::to_str(text);
    });
}

PyObject* component_at(PyObject* self, PyObject* index_object) {
    auto v = frame::borrow_receiver<Vec3d>(self);
    const std::size_t index = frame::to_index(index_object, "index");
    if (index > 2) frame::raise(PyExc_IndexError, "Index out of bounds");
    return frame::to_python(core::component(*v, index));
}

PyObject* subscript(PyObject* self, PyObject* key) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] { return component_at(self, key); });
}

// The sequence item slot hands over a C integer; it goes through the same rule as v[i].
PyObject* sequence_item(PyObject* self, Py_ssize_t index) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        frame::Owned key(frame::check(PyLong_FromSsize_t(index)));
        return component_at(self, key.get());
    });
}

using def = frame::MembersOf<Vec3d>;
using New = def::constructor<"Vec3d(x, y, z)", &make>;

PyMethodDef methods[] = {
    def::static_method<"zero()", &Vec3d::zero>(),
    def::static_method<"i()", &Vec3d::i>(),
    def::static_method<"j()", &Vec3d::j>(),
    def::static_method<"k()", &Vec3d::k>(),
    def::static_method<"new_from_to(from, to)", &core::new_from_to>(),
    def::method<"dot(other)", &core::dot>(),
    def::method<"cross(other)", &core::cross>(),
    def::method<"magnitude()", &core::magnitude>(),
    def::method<"normalize()", &core::normalize>(),
    def::method<"is_unit()", &core::is_unit>(),
    def::method<"distance_to(other)", &core::distance_to>(),
    def::method<"distance_squared(other)", &core::distance_squared>(),
    def::method<"distance_to_line(a, b)", &core::distance_to_line>(),
    def::method<"project_onto_line(line_r, line_q)", &core::project_onto_line>(),
    def::method<"project_onto_plane(normal)", &core::project_onto_plane>(),
    def::method<"scalar_triple_product(b, c)", &core::scalar_triple_product>(),
    def::method<"to_array()", &to_array>(),
    def::method<"angle_to(other)", &core::angle_to>(),
};

// to_quat, a Vec3d method, is declared beside the type it returns (quat.cpp); the pickling
// pair comes last.
PyMethodDef pickling[] = {
    frame::reduce_ex_definition<Vec3d>(),
    frame::set_state_definition<Vec3d>(),
};

PyGetSetDef properties[] = {
    def::property<"x", &Vec3d::x>(),
    def::property<"y", &Vec3d::y>(),
    def::property<"z", &Vec3d::z>(),
};

frame::ClassRows own_rows() { return {methods, properties}; }
frame::ClassRows pickling_rows() { return {pickling}; }
constexpr frame::RowSource rows[] = {own_rows, vec3d_quat_rows, pickling_rows};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(New::doc)},
    {Py_tp_new, reinterpret_cast<void*>(New::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Vec3d>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_hash, reinterpret_cast<void*>(hash)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(frame::compare_instances<Vec3d, &compare, frame::WhenOtherIsBusy::panic>)},
    /* number */
    {Py_nb_add, reinterpret_cast<void*>(frame::binary_operator<Vec3d, Vec3d, &add>)},
    {Py_nb_subtract, reinterpret_cast<void*>(frame::binary_operator<Vec3d, Vec3d, &subtract>)},
    {Py_nb_multiply, reinterpret_cast<void*>(frame::scaling_operator<Vec3d, &scale>)},
    {Py_nb_true_divide, reinterpret_cast<void*>(frame::binary_operator<Vec3d, double, &divide>)},
    {Py_nb_negative, reinterpret_cast<void*>(frame::unary_operator<Vec3d, &negate>)},
    /* mapping and sequence */
    {Py_mp_subscript, reinterpret_cast<void*>(subscript)},
    {Py_sq_item, reinterpret_cast<void*>(sequence_item)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.Vec3d", sizeof(frame::Instance<Vec3d>), 0, frame::class_flags, slots};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Vec3d>::type{binding::spec, binding::New::install_vectorcall, binding::rows};
}
