#include "src/frame/owned_buffer.hpp"

#include <utility>

#include "src/frame/results.hpp"
#include "src/frame/types.hpp"

namespace quorvane::frame {
namespace {

// The object behind a result memoryview (its `obj`): it owns the array and exports it as a
// C-contiguous buffer of one or two dimensions.
struct OwnedArray {
    std::unique_ptr<OwnedStorage> storage;
    void* data;
    const char* format;
    int dimensions;
    Py_ssize_t shape[2];
    Py_ssize_t strides[2];  // C-contiguous: the last is one item
};

}  // namespace

template <>
struct Class<OwnedArray> {
    static constexpr const char* name = "BatchBuffer";
    static ClassType type;
};

namespace {

int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    OwnedArray& exported = as_instance<OwnedArray>(self)->value;
    view->buf = exported.data ? exported.data : static_cast<void*>(no_items);
    view->obj = Py_NewRef(self);
    view->itemsize = exported.strides[exported.dimensions - 1];
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
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate<OwnedArray>)},
    /* buffer */
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
    {0, nullptr},
};

PyType_Spec spec{"builtins.BatchBuffer", sizeof(Instance<OwnedArray>), 0,
                 class_flags | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};

}  // namespace

ClassType Class<OwnedArray>::type{spec};

PyObject* memoryview_owning(std::unique_ptr<OwnedStorage> storage, void* data, std::size_t count,
                            std::size_t item_size, const char* format, std::size_t columns) {
    const auto items = static_cast<Py_ssize_t>(count);
    const auto size = static_cast<Py_ssize_t>(item_size);
    const auto width = static_cast<Py_ssize_t>(columns);
    OwnedArray exported = columns == 0
                              ? OwnedArray{std::move(storage), data, format, 1, {items, 0}, {size, 0}}
                              : OwnedArray{std::move(storage), data, format, 2, {items / width, width}, {width * size, size}};
    Owned exporter(new_instance(std::move(exported)));
    return check(PyMemoryView_FromObject(exporter.get()));
}

}  // namespace quorvane::frame
