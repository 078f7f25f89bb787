#include "src/frame/types.hpp"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace quorvane::frame {

PyTypeObject* ClassType::create() {
    // Made exactly once: an immortal candidate that lost a race could never be freed.
    PyTypeObject* type = cell_.get_or_create_once([this]() -> PyTypeObject* {
        // Nothing may be thrown out of here: the cell stays claimed until this returns.
        PyTypeObject* created = nullptr;
        try {
            created = create_from_rows();
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return nullptr;
        }
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

// The tables stay for the life of the process, as the type does: its method and property
// descriptors point into them.
PyTypeObject* ClassType::create_from_rows() {
    std::vector<PyType_Slot> slots;
    for (const PyType_Slot* slot = spec_.slots; slot->slot != 0; ++slot) slots.push_back(*slot);
    if (!rows_.empty()) {
        std::vector<PyMethodDef> methods;
        std::vector<PyGetSetDef> properties;
        for (RowSource source : rows_) {
            const ClassRows rows = source();
            methods.insert(methods.end(), rows.methods.begin(), rows.methods.end());
            properties.insert(properties.end(), rows.properties.begin(), rows.properties.end());
        }
        methods.push_back({nullptr, nullptr, 0, nullptr});
        properties.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
        auto* method_table = new PyMethodDef[methods.size()];
        std::copy(methods.begin(), methods.end(), method_table);
        slots.push_back({Py_tp_methods, method_table});
        if (properties.size() > 1) {
            auto* property_table = new PyGetSetDef[properties.size()];
            std::copy(properties.begin(), properties.end(), property_table);
            slots.push_back({Py_tp_getset, property_table});
        }
    }
    slots.push_back({0, nullptr});
    PyType_Spec spec = spec_;
    spec.slots = slots.data();
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

}  // namespace quorvane::frame
