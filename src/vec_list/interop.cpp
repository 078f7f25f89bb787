#include "src/vec_list/interop.hpp"

#include <cstring>
#include <optional>
#include <string_view>

#include "src/frame/bind.hpp"
#include "src/frame/owned_buffer.hpp"
#include "src/frame/pickling.hpp"
#include "src/vec_list/buffer_formats.hpp"

namespace quorvane::binding {
namespace {

// Shape and strides live as long as the view.
struct ViewLayout {
    Py_ssize_t shape[2];
    Py_ssize_t strides[2];
};

constexpr Py_ssize_t vector_bytes = sizeof(core::Vec3d);
static_assert(vector_bytes == 3 * sizeof(double), "a vector is three packed doubles");

}  // namespace

int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    return frame::guarded<int>(-1, [&] {
        view->obj = nullptr;
        if (flags & PyBUF_WRITABLE) frame::raise(PyExc_BufferError, "VecList buffers are read-only");
        auto* instance = frame::as_instance<VecListValue>(self);
        if (!instance->borrow.try_share()) frame::raise_borrow_conflict(frame::already_mutably_borrowed);
        // The rows lie one after another: only a list of fewer than two elements is also in
        // column-major order. A refusal gives the borrow back.
        if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && instance->value.items.size() > 1) {
            instance->borrow.release_shared();
            frame::raise(PyExc_BufferError, "VecList buffers are in row-major (C) order, not Fortran order");
        }
        auto* layout = new (std::nothrow) ViewLayout;
        if (!layout) {
            instance->borrow.release_shared();
            throw std::bad_alloc();
        }
        const Vec3dArray& items = instance->value.items;
        const auto count = static_cast<Py_ssize_t>(items.size());
        *layout = {{count, 3}, {vector_bytes, sizeof(double)}};
        view->buf = count ? const_cast<core::Vec3d*>(items.data()) : static_cast<void*>(frame::no_items);
        view->obj = Py_NewRef(self);
        view->len = count * vector_bytes;
        view->readonly = 1;
        view->itemsize = sizeof(double);
        view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("d") : nullptr;
        view->ndim = 2;
        view->shape = (flags & PyBUF_ND) == PyBUF_ND ? layout->shape : nullptr;
        view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? layout->strides : nullptr;
        if (!view->shape) view->ndim = 1;
        view->suboffsets = nullptr;
        view->internal = layout;
        return 0;
    });
}

void release_buffer(PyObject* self, Py_buffer* view) noexcept {
    delete static_cast<ViewLayout*>(view->internal);
    frame::as_instance<VecListValue>(self)->borrow.release_shared();
}

// numpy tries the buffer export first and, should it fail, drops that error and tries
// __array_interface__, then __array__, before it falls back to reading the object as a nested
// sequence (which for a list held exclusively by another thread gave an array of objects).
// Exporting again here lets a borrow conflict reach the caller, and a success is the same view.
frame::Owned to_numpy(PyObject* self, std::optional<PyObject*> dtype, std::optional<PyObject*> copy) {
    frame::Owned view(frame::check(PyMemoryView_FromObject(self)));
    frame::Owned numpy(frame::check(PyImport_ImportModule("numpy")));
    frame::Owned asarray(frame::check(PyObject_GetAttrString(numpy.get(), "asarray")));
    frame::Owned options(frame::check(PyDict_New()));
    if (PyDict_SetItemString(options.get(), "dtype", dtype.value_or(Py_None)) < 0) throw frame::ErrorAlreadySet{};
    // numpy 1 has no `copy` and never passes one
    if (copy && PyDict_SetItemString(options.get(), "copy", *copy) < 0) throw frame::ErrorAlreadySet{};
    frame::Owned positional(frame::check(PyTuple_Pack(1, view.get())));
    return frame::Owned(frame::check(PyObject_Call(asarray.get(), positional.get(), options.get())));
}

namespace {

[[noreturn]] void raise_for_argument(PyObject* type, PyObject* text) {
    PyErr_Format(type, "argument 'a': %U", text);
    throw frame::ErrorAlreadySet{};
}

std::string_view format_of(const Py_buffer& view) { return view.format ? view.format : "B"; }

// An exporter may leave `shape` NULL for a one-dimensional buffer and `strides` NULL even when
// strides are asked for (ctypes arrays do): the items then lie packed in C order.
Py_ssize_t extent_of(const Py_buffer& view, int dimension) {
    return view.shape ? view.shape[dimension] : view.len / view.itemsize;
}

Py_ssize_t stride_of(const Py_buffer& view, int dimension) {
    if (view.strides) return view.strides[dimension];
    Py_ssize_t stride = view.itemsize;
    for (int later = view.ndim - 1; later > dimension; --later) stride *= extent_of(view, later);
    return stride;
}

frame::Owned shape_text(const Py_buffer& view) {
    if (view.ndim == 1) return frame::Owned(frame::check(PyUnicode_FromFormat("(%zd,)", extent_of(view, 0))));
    frame::Owned parts(frame::check(PyList_New(0)));
    for (int d = 0; d < view.ndim; ++d) {
        frame::Owned size(frame::check(PyUnicode_FromFormat("%zd", extent_of(view, d))));
        if (PyList_Append(parts.get(), size.get()) < 0) throw frame::ErrorAlreadySet{};
    }
    frame::Owned separator(frame::check(PyUnicode_FromString(", ")));
    frame::Owned joined(frame::check(PyUnicode_Join(separator.get(), parts.get())));
    return frame::Owned(frame::check(PyUnicode_FromFormat("(%U)", joined.get())));
}

VecListValue copy_from(PyObject* source) {
    if (!PyObject_CheckBuffer(source)) {
        frame::Owned text(frame::check(PyUnicode_FromFormat(
            "expected an object exporting a buffer of float64, got '%s'", Py_TYPE(source)->tp_name)));
        raise_for_argument(PyExc_TypeError, text.get());
    }
    Py_buffer view;
    if (PyObject_GetBuffer(source, &view, PyBUF_RECORDS_RO) < 0) throw frame::ErrorAlreadySet{};
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};

    const std::optional<ItemFormat> item_format = item_format_of(format_of(view), view.itemsize);
    if (!item_format) {
        const std::string_view format = format_of(view);
        frame::Owned text(frame::check(PyUnicode_FromFormat(
            "expected a buffer of float64 (format 'd'), got format '%.*s' with %zd-byte items",
            static_cast<int>(format.size()), format.data(), view.itemsize)));
        raise_for_argument(PyExc_TypeError, text.get());
    }
    const bool rows_of_three = view.ndim == 2 && extent_of(view, 1) == 3;
    const bool flat = view.ndim == 1 && extent_of(view, 0) % 3 == 0;
    if (!rows_of_three && !flat) {
        frame::Owned shape = view.ndim == 0 ? frame::Owned(frame::check(PyUnicode_FromString("()"))) : shape_text(view);
        frame::Owned text(frame::check(
            PyUnicode_FromFormat("expected a buffer of shape (n, 3) or of length 3n, got shape %U", shape.get())));
        raise_for_argument(PyExc_ValueError, text.get());
    }

    const std::size_t count = static_cast<std::size_t>(rows_of_three ? extent_of(view, 0) : extent_of(view, 0) / 3);
    const bool native_double = item_format->kind == ItemFormat::Kind::floating && item_format->size == sizeof(double) &&
                               !item_format->swapped;
    if (native_double && PyBuffer_IsContiguous(&view, 'C')) {
        VecListValue list{Vec3dArray(count)};
        if (count) std::memcpy(list.items.data(), view.buf, count * sizeof(core::Vec3d));
        return list;
    }
    // Item (row, column) of the two-dimensional form, or item 3 * row + column of the flat one.
    const char* base = static_cast<const char*>(view.buf);
    const ItemGrid grid = rows_of_three ? ItemGrid{base, stride_of(view, 0), stride_of(view, 1)}
                                        : ItemGrid{base, 3 * stride_of(view, 0), stride_of(view, 0)};
    return {read_vectors(grid, count, *item_format)};
}

}  // namespace

VecListValue from_array(PyObject* a) { return copy_from(a); }

PyObject* state_of(const VecListValue& list, PyObject* self, int protocol) {
    if (protocol >= 5) return frame::check(PyPickleBuffer_FromObject(self));
    return frame::check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(list.items.data()),
                                                  static_cast<Py_ssize_t>(list.items.size() * sizeof(core::Vec3d))));
}

void restore_state(VecListValue& list, PyObject* state) {
    frame::read_state(state, "VecList", [&](const char* bytes, std::size_t length) {
        if (length % sizeof(core::Vec3d) != 0) {
            PyErr_Format(PyExc_ValueError, "VecList state must be a whole number of %zu-byte vectors, got %zu bytes",
                         sizeof(core::Vec3d), length);
            throw frame::ErrorAlreadySet{};
        }
        Vec3dArray restored(length / sizeof(core::Vec3d));
        if (length) std::memcpy(restored.data(), bytes, length);
        list.items.swap(restored);
    });
}

}  // namespace quorvane::binding

