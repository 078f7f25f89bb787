#include "src/frame/pickling.hpp"

#include <string_view>

#include "src/frame/once.hpp"

namespace quorvane::frame {
namespace {

// A dotted path, "module.attribute.attribute", held as a view of a string with static storage
// (the paths are the classes' own constants, and every prefix of one is one too).
struct ClassReference {
    PyObject_HEAD
    const char* path;
    Py_ssize_t length;
};

std::string_view path_of(PyObject* self) {
    auto* reference = reinterpret_cast<ClassReference*>(self);
    return {reference->path, static_cast<std::size_t>(reference->length)};
}

PyObject* new_reference(const char* path, std::size_t length);

Owned text(std::string_view part) {
    return Owned(check(PyUnicode_FromStringAndSize(part.data(), static_cast<Py_ssize_t>(part.size()))));
}

// Imports the first segment, then follows the attributes.
PyObject* resolve(std::string_view path) {
    std::size_t dot = path.find('.');
    Owned object(check(PyImport_Import(text(path.substr(0, dot)).get())));
    while (dot != std::string_view::npos) {
        path.remove_prefix(dot + 1);
        dot = path.find('.');
        object = Owned(check(PyObject_GetAttr(object.get(), text(path.substr(0, dot)).get())));
    }
    return object.release();
}

// Called by copy (and by pickle after loading it): builds the class's object.
PyObject* call_reference(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        Owned target(resolve(path_of(self)));
        return check(PyObject_Call(target.get(), args, kwargs));
    });
}

OnceCell<PyObject> import_module_cell;
OnceCell<PyObject> getattr_cell;

PyObject* function_of(OnceCell<PyObject>& cell, const char* module, const char* name) {
    return check(cell.get_or_create([&] {
        Owned imported(PyImport_ImportModule(module));
        return imported.get() ? PyObject_GetAttrString(imported.get(), name) : nullptr;
    }));
}

// Pickles as import_module("quorvane") for the root and getattr(parent, name) below it.
PyObject* reduce_reference(PyObject* self, PyObject*) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        const std::string_view path = path_of(self);
        const auto dot = path.rfind('.');
        if (dot == std::string_view::npos) {
            PyObject* import_module = function_of(import_module_cell, "importlib", "import_module");
            return check(Py_BuildValue("(O(N))", import_module, text(path).release()));
        }
        PyObject* getattr = function_of(getattr_cell, "builtins", "getattr");
        Owned parent(new_reference(reinterpret_cast<ClassReference*>(self)->path, dot));
        Owned attribute = text(path.substr(dot + 1));
        return check(Py_BuildValue("(O(OO))", getattr, parent.get(), attribute.get()));
    });
}

void deallocate_reference(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyMethodDef reference_methods[] = {
    {"__reduce__", reduce_reference, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot reference_slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(call_reference)},
    {Py_tp_methods, reference_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate_reference)},
    {0, nullptr},
};

PyType_Spec reference_spec{"quorvane.ClassReference", sizeof(ClassReference), 0,
                           class_flags | Py_TPFLAGS_DISALLOW_INSTANTIATION, reference_slots};

ClassType reference_type{reference_spec};

PyObject* new_reference(const char* path, std::size_t length) {
    PyTypeObject* type = reference_type.get();
    PyObject* object = check(type->tp_alloc(type, 0));
    reinterpret_cast<ClassReference*>(object)->path = path;
    reinterpret_cast<ClassReference*>(object)->length = static_cast<Py_ssize_t>(length);
    return object;
}

}  // namespace

PyObject* new_class_reference(const char* path) { return new_reference(path, std::string_view(path).size()); }

}  // namespace quorvane::frame
