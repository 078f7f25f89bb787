#pragma once
// The Python class KdTree of quorvane.spatial, wrapping spatial::KdTree.
#include "src/frame/types.hpp"
#include "src/spatial/kd_tree.hpp"

namespace quorvane::frame {
template <>
struct Class<spatial::KdTree> {
    static constexpr const char* name = "KdTree";
    static ClassType type;
};
}  // namespace quorvane::frame
