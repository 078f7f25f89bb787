#include "src/frame/types.hpp"

#include <cstdint>

namespace quorvane::frame {

PyTypeObject* ClassType::create() {
    // Made exactly once: an immortal candidate that lost a race could never be freed.
    PyTypeObject* type = cell_.get_or_create_once([this]() -> PyTypeObject* {
        auto* created = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec_));
        if (!created) {
            // CPython 3.13 can fail an allocation inside type creation without setting an
            // exception; the caller must still see one.
            if (!PyErr_Occurred()) PyErr_NoMemory();
            return nullptr;
        }
        if (finish_) finish_(created);
#ifdef Py_GIL_DISABLED
        // Every instance holds a reference to its type. With a mortal type, threads creating
        // instances of one class contend on the type's shared reference count; the types live
        // for the whole process anyway, so make them immortal (done while this thread still
        // owns the object, before it is published).
        Py_SET_REFCNT(reinterpret_cast<PyObject*>(created), static_cast<Py_ssize_t>(UINT32_MAX) + 1);
#endif
        return created;
    });
    if (!type) throw ErrorAlreadySet{};
    return type;
}

}  // namespace quorvane::frame
