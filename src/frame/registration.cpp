#include "src/frame/registration.hpp"

#include "src/frame/args.hpp"
#include "src/frame/results.hpp"

namespace quorvane::frame {

void add_name(PyObject* module, const char* name, PyObject* object) {
    PyObject* namespace_dict = check(PyModule_GetDict(module));  // borrowed
    PyObject* all = nullptr;
    if (PyDict_GetItemStringRef(namespace_dict, "__all__", &all) < 0) throw ErrorAlreadySet{};
    Owned all_owned(all);
    if (!all) {
        all_owned = Owned(check(PyList_New(0)));
        if (PyDict_SetItemString(namespace_dict, "__all__", all_owned.get()) < 0) throw ErrorAlreadySet{};
    } else if (!PyList_Check(all)) {
        raise_not_an_instance(all, "list");
    }
    Owned name_text(check(PyUnicode_FromString(name)));
    if (PyList_Append(all_owned.get(), name_text.get()) < 0) throw ErrorAlreadySet{};
    if (PyObject_SetAttr(module, name_text.get(), object) < 0) throw ErrorAlreadySet{};
}

void add_importable_submodule(PyObject* module, const char* name, PyObject* submodule) {
    if (PyObject_SetAttrString(module, name, submodule) < 0) throw ErrorAlreadySet{};
    Owned submodule_name(check(PyModule_GetNameObject(submodule)));
    PyObject* modules = check(PyImport_GetModuleDict());  // borrowed
    if (PyDict_SetItem(modules, submodule_name.get(), submodule) < 0) throw ErrorAlreadySet{};
}

void add_function(PyObject* module, PyMethodDef& definition) {
    Owned module_name(check(PyModule_GetNameObject(module)));
    Owned function(check(PyCMethod_New(&definition, module, module_name.get(), nullptr)));
    add_name(module, definition.ml_name, function.get());
}

}  // namespace quorvane::frame
