// VecList as a container (construction, length, items, growth, printed form) and its iterator.
// The batch operations are in batch.cpp.
#include "src/vec_list/vec_list.hpp"

#include <algorithm>
#include <string>

#include "src/frame/bind.hpp"
#include "src/frame/float_text.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/array_batch.hpp"
#include "src/vec_list/batch.hpp"
#include "src/vec_list/interop.hpp"
#include "src/vec_list/point_steps.hpp"
#include "src/vec_list/steps.hpp"

namespace quorvane::binding {

// The constructor's argument: any sequence of Vec3d (a str is refused before anything else).
struct Vec3dSequence {
    Vec3dArray items;
};

}  // namespace quorvane::binding

namespace quorvane::frame {

template <>
struct Argument<binding::Vec3dSequence> {
    mutable binding::Vec3dSequence value;
    Argument(PyObject* object, const char* name) {
        try {
            value = extract(object);
        } catch (const ErrorAlreadySet&) {
            rewrap_argument_error(name);
            throw;
        }
    }
    // The collected items move into the new list instead of being copied again.
    binding::Vec3dSequence&& get() const { return std::move(value); }

private:
    static binding::Vec3dSequence extract(PyObject* object);
};

}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

using core::Vec3d;
using frame::Parameters;

// collections.abc.Sequence, imported only to name it in an error, and kept.
frame::OnceCell<PyObject> sequence_class;

[[noreturn]] void raise_not_a_sequence(PyObject* object) {
    PyObject* sequence = sequence_class.get_or_create([]() -> PyObject* {
        frame::Owned abc(PyImport_ImportModule("collections.abc"));
        return abc.get() ? PyObject_GetAttrString(abc.get(), "Sequence") : nullptr;
    });
    if (!sequence) throw frame::ErrorAlreadySet{};
    frame::Owned name(frame::check(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence))));
    frame::Owned text(frame::check(PyUnicode_AsUTF8String(name.get())));
    frame::raise_not_an_instance(object, PyBytes_AS_STRING(text.get()));
}

// Reserving from a length hint that lies must not fail the call: the array still grows as
// items arrive.
constexpr std::size_t largest_reservation_from_hint = std::size_t{1} << 24;

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {

binding::Vec3dSequence Argument<binding::Vec3dSequence>::extract(PyObject* object) {
    if (PyUnicode_Check(object)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) binding::raise_not_a_sequence(object);

    binding::Vec3dArray collected;
    const Py_ssize_t hint = PySequence_Size(object);
    if (hint < 0) {
        // only a hint: an ordinary failure of len() is passed over, an interrupt is not
        if (!frame::clear_ordinary_error()) throw frame::ErrorAlreadySet{};
    } else {
        try {
            collected.reserve(std::min(static_cast<std::size_t>(hint), binding::largest_reservation_from_hint));
        } catch (const std::bad_alloc&) {
            // only a hint: the array grows as the items arrive
        }
    }

    {
        Owned iterator(check(PyObject_GetIter(object)));
        while (PyObject* item = PyIter_Next(iterator.get())) {
            Owned held(item);
            if (!is_instance<core::Vec3d>(item)) raise_not_an_instance(item, "Vec3d");
            auto* instance = as_instance<core::Vec3d>(item);
            collected.push_back(*SharedBorrow<core::Vec3d>(instance->value, instance->borrow));
        }
        if (PyErr_Occurred()) throw ErrorAlreadySet{};
    }  // no reference is held across the batch step below

    return {binding::map_step<core::Vec3d>(std::span<const core::Vec3d>(collected),
                                           [](const core::Vec3d& v) { return v; })};
}

}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

VecListValue make(Vec3dSequence sequence) { return {std::move(sequence.items)}; }
VecListValue empty() { return {}; }

constinit Parameters<1> new_parameters{"VecList.__new__()", {"list"}};
constinit Parameters<0> empty_parameters{"VecList.empty()", {}};
constinit Parameters<1> append_parameters{"VecList.append()", {"vec"}};
constinit Parameters<1> extend_parameters{"VecList.extend()", {"other"}};
constinit Parameters<0> to_array_parameters{"VecList.to_array()", {}};

frame::None append(VecListValue& list, Vec3d vec) {
    list.items.push_back(vec);
    return {};
}

frame::None extend(VecListValue& list, const VecListValue& other) {
    list.items.insert(list.items.end(), other.items.begin(), other.items.end());
    return {};
}

BatchArray<std::array<double, 3>> to_array(const VecListValue& list) {
    return map_step<std::array<double, 3>>(std::span<const Vec3d>(list.items),
                                           [](const Vec3d& v) { return std::array<double, 3>{v.x, v.y, v.z}; });
}

PyObject* list_of_vectors(const Vec3dArray& items) {
    return frame::detail::new_list(items.size(), [&](std::size_t i) { return items[i]; });
}

PyObject* get_list(PyObject* self, void*) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto list = frame::borrow_receiver<VecListValue>(self);
        return list_of_vectors(list->items);
    });
}

Py_ssize_t length(PyObject* self) noexcept {
    return frame::guarded<Py_ssize_t>(-1, [&] {
        auto list = frame::borrow_receiver<VecListValue>(self);
        return static_cast<Py_ssize_t>(list->items.size());
    });
}

PyObject* item_at(PyObject* self, PyObject* index_object) {
    auto list = frame::borrow_receiver<VecListValue>(self);
    const std::size_t index = frame::to_index(index_object, "index");
    if (index >= list->items.size()) frame::raise(PyExc_IndexError, "Index out of bounds");
    return frame::new_instance(list->items[index]);
}

PyObject* subscript(PyObject* self, PyObject* key) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] { return item_at(self, key); });
}

PyObject* sequence_item(PyObject* self, Py_ssize_t index) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        frame::Owned key(frame::check(PyLong_FromSsize_t(index)));
        return item_at(self, key.get());
    });
}

PyObject* iterate(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto list = frame::borrow_receiver<VecListValue>(self);
        return frame::new_instance(VecListIteratorValue{list->items, 0});
    });
}

PyObject* repr(PyObject* self) {
    return frame::guarded<PyObject*>(nullptr, [&] {
        auto list = frame::borrow_receiver<VecListValue>(self);
        const Vec3dArray& items = list->items;
        std::string text = "[";
        text += join_text_step(
            items.size(),
            [&items](std::size_t i, std::string& out) {
                frame::append_call_text(out, "Vec3d", {items[i].x, items[i].y, items[i].z});
            },
            "\n");
        text += "]";
        return frame::to_str(text);
    });
}

using frame::fastcall;
using frame::static_fastcall;

PyMethodDef methods[] = {
    {"empty", frame::as_c_function<frame::function<empty_parameters, &empty>>(), static_fastcall, "empty()\n--\n\n"},
    {"append", frame::as_c_function<frame::mutating_method<append_parameters, &append>>(), fastcall,
     "append($self, vec)\n--\n\n"},
    {"extend", frame::as_c_function<frame::mutating_method<extend_parameters, &extend>>(), fastcall,
     "extend($self, other)\n--\n\n"},
    {"to_array", frame::as_c_function<frame::method<to_array_parameters, &to_array>>(), fastcall, "to_array($self)\n--\n\n"},
    {"from_array", frame::as_c_function<binding::from_array>(), static_fastcall, "from_array(a)\n--\n\n"},
    {"dot", frame::as_c_function<batch::dot>(), fastcall, "dot($self, other)\n--\n\n"},
    {"cross", frame::as_c_function<batch::cross>(), fastcall, "cross($self, other)\n--\n\n"},
    {"distance_to", frame::as_c_function<batch::distance_to>(), fastcall, "distance_to($self, other)\n--\n\n"},
    {"distance_squared", frame::as_c_function<batch::distance_squared>(), fastcall, "distance_squared($self, other)\n--\n\n"},
    {"magnitude", frame::as_c_function<batch::magnitude>(), fastcall, "magnitude($self)\n--\n\n"},
    {"normalize", frame::as_c_function<batch::normalize>(), fastcall, "normalize($self)\n--\n\n"},
    {"is_unit", frame::as_c_function<batch::is_unit>(), fastcall, "is_unit($self)\n--\n\n"},
    {"collapse", frame::as_c_function<batch::collapse>(), fastcall, "collapse($self, axis)\n--\n\n"},
    {"rotate", frame::as_c_function<batch::rotate>(), fastcall, "rotate($self, quat)\n--\n\n"},
    {"rotated", frame::as_c_function<batch::rotated>(), fastcall, "rotated($self, quat)\n--\n\n"},
    {"minimum_distance_to", frame::as_c_function<batch::minimum_distance_to>(), fastcall,
     "minimum_distance_to($self, other, stride)\n--\n\n"},
    // for array users: scalar results as buffers, and two lists combined element by element
    {"dot_array", frame::as_c_function<array_batch::dot_array>(), fastcall, "dot_array($self, other)\n--\n\n"},
    {"distance_to_array", frame::as_c_function<array_batch::distance_to_array>(), fastcall,
     "distance_to_array($self, other)\n--\n\n"},
    {"distance_squared_array", frame::as_c_function<array_batch::distance_squared_array>(), fastcall,
     "distance_squared_array($self, other)\n--\n\n"},
    {"magnitude_array", frame::as_c_function<array_batch::magnitude_array>(), fastcall, "magnitude_array($self)\n--\n\n"},
    {"is_unit_array", frame::as_c_function<array_batch::is_unit_array>(), fastcall, "is_unit_array($self)\n--\n\n"},
    {"add_elementwise", frame::as_c_function<array_batch::add_elementwise>(), fastcall,
     "add_elementwise($self, other)\n--\n\n"},
    {"sub_elementwise", frame::as_c_function<array_batch::sub_elementwise>(), fastcall,
     "sub_elementwise($self, other)\n--\n\n"},
    {"cross_elementwise", frame::as_c_function<array_batch::cross_elementwise>(), fastcall,
     "cross_elementwise($self, other)\n--\n\n"},
    {"dot_elementwise", frame::as_c_function<array_batch::dot_elementwise>(), fastcall,
     "dot_elementwise($self, other)\n--\n\n"},
    {"distance_to_elementwise", frame::as_c_function<array_batch::distance_to_elementwise>(), fastcall,
     "distance_to_elementwise($self, other)\n--\n\n"},
    {"distance_squared_elementwise", frame::as_c_function<array_batch::distance_squared_elementwise>(), fastcall,
     "distance_squared_elementwise($self, other)\n--\n\n"},
    {"__array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(to_numpy)), METH_VARARGS | METH_KEYWORDS,
     "__array__($self, dtype=None, copy=None)\n--\n\n"},
    frame::reduce_ex_definition<VecListValue>(),
    frame::set_state_definition<VecListValue>(),
    // reductions, selection and per-point operations (point_steps.hpp)
    {"sum", frame::as_c_function<point_steps::sum>(), fastcall, "sum($self)\n--\n\n"},
    {"mean", frame::as_c_function<point_steps::mean>(), fastcall, "mean($self)\n--\n\n"},
    {"bounds", frame::as_c_function<point_steps::bounds>(), fastcall, "bounds($self)\n--\n\n"},
    {"take", frame::as_c_function<point_steps::take>(), fastcall, "take($self, indices)\n--\n\n"},
    {"take_triangles", frame::as_c_function<point_steps::take_triangles>(), fastcall,
     "take_triangles($self, faces)\n--\n\n"},
    {"select", frame::as_c_function<point_steps::select>(), fastcall, "select($self, mask)\n--\n\n"},
    {"scaled_elementwise", frame::as_c_function<point_steps::scaled_elementwise>(), fastcall,
     "scaled_elementwise($self, factors)\n--\n\n"},
    {"distance_to_plane_array", frame::as_c_function<point_steps::distance_to_plane_array>(), fastcall,
     "distance_to_plane_array($self, plane)\n--\n\n"},
    {"signed_distance_to_plane_array", frame::as_c_function<point_steps::signed_distance_to_plane_array>(), fastcall,
     "signed_distance_to_plane_array($self, plane)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"list", get_list, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("VecList(list)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(frame::construct<new_parameters, &make>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<VecListValue>)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_iter, reinterpret_cast<void*>(iterate)},
    /* buffer */
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
    {Py_bf_releasebuffer, reinterpret_cast<void*>(release_buffer)},
    /* number */
    {Py_nb_add, reinterpret_cast<void*>(batch::add)},
    {Py_nb_subtract, reinterpret_cast<void*>(batch::subtract)},
    {Py_nb_multiply, reinterpret_cast<void*>(batch::multiply)},
    {Py_nb_true_divide, reinterpret_cast<void*>(batch::divide)},
    /* mapping and sequence */
    {Py_mp_length, reinterpret_cast<void*>(length)},
    {Py_mp_subscript, reinterpret_cast<void*>(subscript)},
    {Py_sq_length, reinterpret_cast<void*>(length)},
    {Py_sq_item, reinterpret_cast<void*>(sequence_item)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.VecList", sizeof(frame::Instance<VecListValue>), 0, frame::class_flags, slots};

void install_vectorcall(PyTypeObject* type) {
    type->tp_vectorcall = frame::construct_vectorcall<new_parameters, &make>;
}

// ---- the iterator ----

PyObject* iterator_self(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&] {
        frame::borrow_receiver<VecListIteratorValue>(self);
        return Py_NewRef(self);
    });
}

// Exhaustion is reported by returning no object and setting no exception.
PyObject* iterator_next(PyObject* self) noexcept {
    return frame::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        auto iterator = frame::own_receiver<VecListIteratorValue>(self);
        if (iterator->cursor == iterator->items.size()) return nullptr;
        PyObject* next = frame::new_instance(iterator->items[iterator->cursor]);
        ++iterator->cursor;
        return next;
    });
}

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<VecListIteratorValue>)},
    {Py_tp_iter, reinterpret_cast<void*>(iterator_self)},
    {Py_tp_iternext, reinterpret_cast<void*>(iterator_next)},
    {0, nullptr},
};

PyType_Spec iterator_spec{"builtins.VecListIterator", sizeof(frame::Instance<VecListIteratorValue>), 0,
                          frame::class_flags | Py_TPFLAGS_DISALLOW_INSTANTIATION, iterator_slots};

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<binding::VecListValue>::type{binding::spec, binding::install_vectorcall};
ClassType Class<binding::VecListIteratorValue>::type{binding::iterator_spec};
}  // namespace quorvane::frame
