#pragma once
// The submodule quorvane.spatial: its module definition, filled with KdTree when executed.
#include <Python.h>

namespace quorvane::binding {

PyModuleDef& spatial_definition();

}  // namespace quorvane::binding
