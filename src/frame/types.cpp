#include "src/frame/types.hpp"

#include <cstdint>

namespace quorvane::frame {

PyTypeObject* ClassType::create() {
#ifdef Py_GIL_DISABLED
    // The reference-count fields of this thread's candidate as they were before it was made
    // immortal; both callbacks below run on this thread, within this call.
    struct MortalCounts {
        std::uintptr_t owner;
        std::uint32_t local;
        Py_ssize_t shared;
    } mortal{};
#endif
    PyTypeObject* type = cell_.get_or_create([&]() -> PyTypeObject* {
        auto* created = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec_));
        if (!created) return nullptr;
        if (finish_) finish_(created);
#ifdef Py_GIL_DISABLED
        // Every instance holds a reference to its type. With a mortal type, threads creating
        // instances of one class contend on the type's shared reference count; the types live
        // for the whole process anyway, so make them immortal (done while this thread still
        // owns the object, before it is published).
        auto* object = reinterpret_cast<PyObject*>(created);
        mortal = {object->ob_tid, object->ob_ref_local, object->ob_ref_shared};
        Py_SET_REFCNT(object, static_cast<Py_ssize_t>(UINT32_MAX) + 1);
#endif
        return created;
    }, [&](PyTypeObject* lost) {
        auto* object = reinterpret_cast<PyObject*>(lost);
#ifdef Py_GIL_DISABLED
        // Nobody else has seen the losing candidate, so its immortality can be undone (which
        // Py_SET_REFCNT refuses for immortal objects) and the candidate freed like any object.
        object->ob_tid = mortal.owner;
        object->ob_ref_local = mortal.local;
        object->ob_ref_shared = mortal.shared;
#endif
        Py_DECREF(object);
    });
    if (!type) throw ErrorAlreadySet{};
    return type;
}

}  // namespace quorvane::frame
