#include "src/vec3d.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/siphash.hpp"
#include "src/angle.hpp"
#include "src/frame/bind.hpp"
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
using frame::Parameters;

core::Vec3d make(double x, double y, double z) { return {x, y, z}; }

constinit Parameters<3> new_parameters{"Vec3d.__new__()", {"x", "y", "z"}};
constinit Parameters<0> zero_parameters{"Vec3d.zero()", {}};
constinit Parameters<0> i_parameters{"Vec3d.i()", {}};
constinit Parameters<0> j_parameters{"Vec3d.j()", {}};
constinit Parameters<0> k_parameters{"Vec3d.k()", {}};
constinit Parameters<2> new_from_to_parameters{"Vec3d.new_from_to()", {"from", "to"}};
constinit Parameters<1> dot_parameters{"Vec3d.dot()", {"other"}};
constinit Parameters<1> cross_parameters{"Vec3d.cross()", {"other"}};
constinit Parameters<0> magnitude_parameters{"Vec3d.magnitude()", {}};
constinit Parameters<0> normalize_parameters{"Vec3d.normalize()", {}};
constinit Parameters<0> is_unit_parameters{"Vec3d.is_unit()", {}};
constinit Parameters<1> distance_to_parameters{"Vec3d.distance_to()", {"other"}};
constinit Parameters<1> distance_squared_parameters{"Vec3d.distance_squared()", {"other"}};
constinit Parameters<2> distance_to_line_parameters{"Vec3d.distance_to_line()", {"a", "b"}};
constinit Parameters<2> project_onto_line_parameters{"Vec3d.project_onto_line()", {"line_r", "line_q"}};
constinit Parameters<1> project_onto_plane_parameters{"Vec3d.project_onto_plane()", {"normal"}};
constinit Parameters<2> scalar_triple_product_parameters{"Vec3d.scalar_triple_product()", {"b", "c"}};
constinit Parameters<0> to_array_parameters{"Vec3d.to_array()", {}};
constinit Parameters<1> angle_to_parameters{"Vec3d.angle_to()", {"other"}};

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

using frame::as_c_function;
using frame::fastcall;
using frame::static_fastcall;

PyMethodDef methods[] = {
    {"zero", as_c_function<frame::function<zero_parameters, &Vec3d::zero>>(), static_fastcall, "zero()\n--\n\n"},
    {"i", as_c_function<frame::function<i_parameters, &Vec3d::i>>(), static_fastcall, "i()\n--\n\n"},
    {"j", as_c_function<frame::function<j_parameters, &Vec3d::j>>(), static_fastcall, "j()\n--\n\n"},
    {"k", as_c_function<frame::function<k_parameters, &Vec3d::k>>(), static_fastcall, "k()\n--\n\n"},
    {"new_from_to", as_c_function<frame::function<new_from_to_parameters, &core::new_from_to>>(), static_fastcall,
     "new_from_to(from, to)\n--\n\n"},
    {"dot", as_c_function<frame::method<dot_parameters, &core::dot>>(), fastcall, "dot($self, other)\n--\n\n"},
    {"cross", as_c_function<frame::method<cross_parameters, &core::cross>>(), fastcall, "cross($self, other)\n--\n\n"},
    {"magnitude", as_c_function<frame::method<magnitude_parameters, &core::magnitude>>(), fastcall,
     "magnitude($self)\n--\n\n"},
    {"normalize", as_c_function<frame::method<normalize_parameters, &core::normalize>>(), fastcall,
     "normalize($self)\n--\n\n"},
    {"is_unit", as_c_function<frame::method<is_unit_parameters, &core::is_unit>>(), fastcall,
     "is_unit($self)\n--\n\n"},
    {"distance_to", as_c_function<frame::method<distance_to_parameters, &core::distance_to>>(), fastcall,
     "distance_to($self, other)\n--\n\n"},
    {"distance_squared", as_c_function<frame::method<distance_squared_parameters, &core::distance_squared>>(),
     fastcall, "distance_squared($self, other)\n--\n\n"},
    {"distance_to_line", as_c_function<frame::method<distance_to_line_parameters, &core::distance_to_line>>(),
     fastcall, "distance_to_line($self, a, b)\n--\n\n"},
    {"project_onto_line", as_c_function<frame::method<project_onto_line_parameters, &core::project_onto_line>>(),
     fastcall, "project_onto_line($self, line_r, line_q)\n--\n\n"},
    {"project_onto_plane",
     as_c_function<frame::method<project_onto_plane_parameters, &core::project_onto_plane>>(), fastcall,
     "project_onto_plane($self, normal)\n--\n\n"},
    {"scalar_triple_product",
     as_c_function<frame::method<scalar_triple_product_parameters, &core::scalar_triple_product>>(), fastcall,
     "scalar_triple_product($self, b, c)\n--\n\n"},
    {"to_array", as_c_function<frame::method<to_array_parameters, &to_array>>(), fastcall,
     "to_array($self)\n--\n\n"},
    {"angle_to", as_c_function<frame::method<angle_to_parameters, &core::angle_to>>(), fastcall,
     "angle_to($self, other)\n--\n\n"},
    {"to_quat", as_c_function<vec3d_to_quat>(), fastcall, "to_quat($self)\n--\n\n"},
    frame::reduce_ex_definition<Vec3d>(),
    frame::set_state_definition<Vec3d>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"x", frame::get_member<&Vec3d::x>, frame::set_member<&Vec3d::x>, nullptr, nullptr},
    {"y", frame::get_member<&Vec3d::y>, frame::set_member<&Vec3d::y>, nullptr, nullptr},
    {"z", frame::get_member<&Vec3d::z>, frame::set_member<&Vec3d::z>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Vec3d(x, y, z)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<new_parameters, &make>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<Vec3d>)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
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

void install_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<new_parameters, &make>;
}

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<core::Vec3d>::type{binding::spec, binding::install_vectorcall};
}
