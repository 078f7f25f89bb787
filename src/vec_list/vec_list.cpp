// VecList as a container (construction, length, items, growth, printed form) and its iterator.
// The batch operations are in batch.cpp, array_members.cpp and elementwise.cpp, the buffer and
// numpy interop in interop.cpp; each exports its member rows, and the class is put together
// from them here.
#include "src/vec_list/vec_list.hpp"

#include <algorithm>
#include <string>

#include "src/frame/float_text.hpp"
#include "src/frame/members.hpp"
#include "src/vec3d.hpp"
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

// The elements as a new list of new Vec3d, made while the list is borrowed.
struct ElementList {
    const Vec3dArray& items;
    PyObject* into_python() && {
        return frame::detail::new_list(items.size(), [&](std::size_t i) { return items[i]; });
    }
};

ElementList elements(const VecListValue& list) { return {list.items}; }

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

using def = frame::MembersOf<VecListValue>;
using New = def::constructor<"VecList(list)", &make>;

PyMethodDef container_methods[] = {
    def::static_method<"empty()", &empty>(),
    def::method<"append(vec)", &append>(),
    def::method<"extend(other)", &extend>(),
    def::method<"to_array()", &to_array>(),
    def::static_method<"from_array(a)", &from_array>(),
};

PyMethodDef interop_methods[] = {
    def::method<"__array__(dtype=None, copy=None)", &to_numpy>(),
    frame::reduce_ex_definition<VecListValue>(),
    frame::set_state_definition<VecListValue>(),
};

PyGetSetDef properties[] = {
    def::property<"list", &elements>(),
};

frame::ClassRows container_rows() { return {container_methods, properties}; }
frame::ClassRows interop_rows() { return {interop_methods}; }

// The order of the class's members: the container's, the batch operations', then the interop.
constexpr frame::RowSource rows[] = {container_rows, batch_rows,     array_rows,    elementwise_rows,
                                     reduction_rows, selection_rows, per_point_rows, interop_rows};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(New::doc)},
    {Py_tp_new, reinterpret_cast<void*>(New::new_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<VecListValue>)},
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
ClassType Class<binding::VecListValue>::type{binding::spec, binding::New::install_vectorcall, binding::rows};
ClassType Class<binding::VecListIteratorValue>::type{binding::iterator_spec};
}  // namespace quorvane::frame
