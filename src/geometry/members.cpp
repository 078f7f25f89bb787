#include "src/geometry/members.hpp"

namespace quorvane::binding {

void add_geometry_members(PyObject*) {}

}  // namespace quorvane::binding
