#include "src/geometry/members.hpp"

#include "src/frame/registration.hpp"
#include "src/geometry/circle.hpp"
#include "src/geometry/intersection.hpp"
#include "src/geometry/plane.hpp"

namespace quorvane::binding {

// The order of addition is the order of __all__: Circle, the functions, then Plane.
void add_geometry_members(PyObject* submodule) {
    frame::add_class<core::Circle>(submodule);
    for (PyMethodDef& definition : intersection_functions()) frame::add_function(submodule, definition);
    frame::add_class<core::Plane>(submodule);
}

}  // namespace quorvane::binding
