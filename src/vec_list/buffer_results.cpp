#include "src/vec_list/buffer_results.hpp"

#include <utility>
#include <variant>

#include "src/frame/results.hpp"
#include "src/frame/types.hpp"

namespace quorvane::binding {
namespace {

// The object behind a result memoryview (its `obj`): it owns the output array and exports it
// as a one-dimensional C-contiguous buffer. It is not an attribute of the module, and Python
// cannot make one.
struct ExportedArray {
    std::variant<BatchArray<double>, BatchArray<std::uint8_t>> storage;
    const char* format;
    Py_ssize_t shape[1];
    Py_ssize_t strides[1];  // one item: the export is always C-contiguous
};

// A buffer of no items still needs a valid address.
double empty_storage[1];

}  // namespace
}  // namespace quorvane::binding

namespace quorvane::frame {
template <>
struct Class<binding::ExportedArray> {
    static constexpr const char* name = "BatchBuffer";
    static ClassType type;
};
}  // namespace quorvane::frame

namespace quorvane::binding {
namespace {

int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    ExportedArray& exported = frame::as_instance<ExportedArray>(self)->value;
    void* data = std::visit([](auto& array) -> void* { return array.data(); }, exported.storage);
    view->buf = data ? data : static_cast<void*>(empty_storage);
    view->obj = Py_NewRef(self);
    view->itemsize = exported.strides[0];
    view->len = exported.shape[0] * exported.strides[0];
    view->readonly = 0;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(exported.format) : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? exported.shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? exported.strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::deallocate<ExportedArray>)},
    /* buffer */
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.BatchBuffer", sizeof(frame::Instance<ExportedArray>), 0,
                 frame::class_flags | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};

template <class Item>
PyObject* memoryview_owning(BatchArray<Item>&& items, const char* format) {
    const auto count = static_cast<Py_ssize_t>(items.size());
    constexpr auto item_size = static_cast<Py_ssize_t>(sizeof(Item));
    frame::Owned exporter(frame::new_instance(ExportedArray{std::move(items), format, {count}, {item_size}}));
    return frame::check(PyMemoryView_FromObject(exporter.get()));
}

}  // namespace

PyObject* DoubleBuffer::into_python() && { return memoryview_owning(std::move(values), "d"); }

PyObject* FlagBuffer::into_python() && { return memoryview_owning(std::move(flags), "?"); }

}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<binding::ExportedArray>::type{binding::spec};
}  // namespace quorvane::frame
