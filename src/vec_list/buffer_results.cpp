#include "src/vec_list/buffer_results.hpp"

#include <utility>
#include <variant>

#include "src/frame/results.hpp"
#include "src/frame/types.hpp"

namespace quorvane::binding {
namespace {

// The object behind a result memoryview (its `obj`): it owns the output array and exports it
// as a C-contiguous buffer of one or two dimensions. It is not an attribute of the module, and Python
// cannot make one.
struct ExportedArray {
    std::variant<BatchArray<double>, BatchArray<std::uint8_t>, BatchArray<std::int64_t>> storage;
    const char* format;
    int dimensions;          // 1 or 2
    Py_ssize_t shape[2];
    Py_ssize_t strides[2];   // C-contiguous: the last is one item
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
    const int last = exported.dimensions - 1;
    view->itemsize = exported.strides[last];
    view->len = exported.shape[0] * exported.strides[0];
    view->readonly = 0;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(exported.format) : nullptr;
    view->ndim = exported.dimensions;
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

// `columns` 0 gives a one-dimensional view; otherwise rows of `columns` items.
template <class Item>
PyObject* memoryview_owning(BatchArray<Item>&& items, const char* format, std::size_t columns = 0) {
    const auto count = static_cast<Py_ssize_t>(items.size());
    constexpr auto item_size = static_cast<Py_ssize_t>(sizeof(Item));
    const auto width = static_cast<Py_ssize_t>(columns);
    ExportedArray exported =
        columns == 0 ? ExportedArray{std::move(items), format, 1, {count, 0}, {item_size, 0}}
                     : ExportedArray{std::move(items), format, 2, {count / width, width}, {width * item_size, item_size}};
    frame::Owned exporter(frame::new_instance(std::move(exported)));
    return frame::check(PyMemoryView_FromObject(exporter.get()));
}

}  // namespace

PyObject* DoubleBuffer::into_python() && { return memoryview_owning(std::move(values), "d"); }

PyObject* FlagBuffer::into_python() && { return memoryview_owning(std::move(flags), "?"); }

PyObject* IndexBuffer::into_python() && { return memoryview_owning(std::move(indices), "q"); }

PyObject* DoubleTable::into_python() && { return memoryview_owning(std::move(values), "d", columns); }

PyObject* IndexTable::into_python() && { return memoryview_owning(std::move(indices), "q", columns); }

}  // namespace quorvane::binding

namespace quorvane::frame {
ClassType Class<binding::ExportedArray>::type{binding::spec};
}  // namespace quorvane::frame
