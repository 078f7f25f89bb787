#pragma once
// Adding classes, functions and submodules to a module, keeping its __all__ in step.
#include <Python.h>

#include "src/frame/types.hpp"

namespace quorvane::frame {

// Appends `name` to the module's __all__ (creating the list on first use), then sets the
// attribute. Throws ErrorAlreadySet; an __all__ that is not a list is a conversion error.
void add_name(PyObject* module, const char* name, PyObject* object);

template <HasClass Value>
void add_class(PyObject* module) {
    add_name(module, Class<Value>::name, reinterpret_cast<PyObject*>(type_of<Value>()));
}

// Sets `submodule` as the attribute `name` of `module` (not listed in __all__) and enters it
// into sys.modules under its own __name__, so that `import parent.name` and pickling by
// reference find it.
void add_importable_submodule(PyObject* module, const char* name, PyObject* submodule);

// A built-in function bound to `module`, whose __module__ is the module's name.
void add_function(PyObject* module, PyMethodDef& definition);

}  // namespace quorvane::frame
