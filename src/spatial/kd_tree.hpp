#pragma once
// A k-d tree over a fixed cloud of points: nearest, k nearest and fixed-radius searches.
//
// Layout. The points are copied once, in tree order (each leaf's points side by side), with a
// 32-bit array giving each one's original index. The tree itself is implicit: a complete
// binary tree of `depth` levels whose node i has children 2i + 1 and 2i + 2; a node over the
// points [begin, end) gives its left child [begin, middle) and its right child [middle, end),
// middle = begin + (end - begin) / 2, so node ranges are never stored. Each inner node keeps
// only its split: the axis and the coordinate of the point at `middle`, every point left of it
// being at most that coordinate and every point right of it at least. Leaves hold at most
// `leaf_capacity` points. The upper nodes (all but the two lowest inner levels) also keep the
// bounding box of their points. Beyond its copy of the points the tree takes 4 bytes per point
// for the original indices and about 3 more for the splits and boxes (7 in all, 24 for a point).
//
// Exactness. Every distance is core::distance_to's own formula, so results are those bits.
// The pruning is exact too: the distance from the query to the query clamped into a node's box,
// by the same formula, is never larger than the computed distance to any point of the box,
// since subtraction, multiplication, addition and square root each round monotonically. A node
// is skipped only when that bound is strictly beyond the current limit, so points at the same
// distance are all seen and the lowest original index wins a tie. Results therefore depend on
// the points and the query only, not on the tree's shape or on how the work is divided.
//
// Comparisons are made on squared distances against `largest_square_within(d)`, the largest
// double whose square root is at most d, which is exactly "distance <= d" without a square root
// per point.
//
// No Python here: the build takes a `run_for(n, f(begin, end))` that spreads work over threads.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/vec3d.hpp"

namespace quorvane::spatial {

using core::Vec3d;

// The most points a tree holds: original indices are stored in 32 bits.
inline constexpr std::size_t max_points = std::numeric_limits<std::uint32_t>::max();

// A point found by a search: its original index and its distance from the query.
struct Neighbour {
    std::size_t index;
    double distance;
};

// The largest double t with sqrt(t) <= distance (for distance >= 0; infinity for infinity).
double largest_square_within(double distance);

// The index of the first point with a component that is not finite, if any.
std::optional<std::size_t> first_non_finite(std::span<const Vec3d> points);

class KdTree {
public:
    static constexpr std::size_t leaf_capacity = 8;

    KdTree() = default;

    // The tree over `points` (all finite, at most max_points of them). `run_for(n, f)` calls
    // f(begin, end) over ranges covering [0, n) exactly once, possibly on several threads.
    template <class RunFor>
    static KdTree build(std::span<const Vec3d> points, RunFor&& run_for);

    std::size_t size() const { return points_.size(); }
    bool empty() const { return points_.empty(); }

    // The points in their original order, written into `out` (of size()) for i in [begin, end)
    // of tree order: each call writes only the entries of its own range's points.
    void copy_points_in_original_order(std::span<Vec3d> out, std::size_t begin, std::size_t end) const;

    // The nearest point to `query` (finite); the tree is not empty.
    Neighbour nearest(const Vec3d& query) const;
    // The k nearest points (1 <= k <= size()) by distance, then index, written to out[0 .. k).
    void k_nearest(const Vec3d& query, std::span<Neighbour> out) const;
    // The original indices of every point with distance <= radius (radius >= 0), ascending.
    std::vector<std::uint32_t> within(const Vec3d& query, double radius) const;
    std::size_t count_within(const Vec3d& query, double radius) const;

    // An order in which to answer many queries: each query's search reads much the same part of
    // the tree as the one before it (they follow a space-filling curve over the tree's box), so
    // far fewer reads miss the cache than in the callers' order. The results do not depend on it.
    std::vector<std::size_t> query_order(std::span<const Vec3d> queries) const;

    // Bytes held beyond the copy of the points.
    std::size_t index_bytes() const {
        return original_.capacity() * sizeof(std::uint32_t) + splits_.capacity() * sizeof(double) +
               axes_.capacity() * sizeof(std::uint8_t) + node_boxes_.capacity() * sizeof(Box);
    }

    // The arrays a search reads.
    struct Layout {
        const Vec3d* points;
        const std::uint32_t* original;
        const double* splits;
        const std::uint8_t* axes;
        std::size_t depth;
        const Vec3d* boxes;  // low, high of each node that keeps its points' bounding box
        std::size_t boxed_nodes;
    };

private:
    struct Box {
        Vec3d low;
        Vec3d high;
    };
    struct Pending {  // a node still to be split during the build
        std::size_t node;
        std::size_t begin;
        std::size_t end;
        Box box;
    };

    static std::size_t depth_for(std::size_t count);
    static Box bounding_box(std::span<const Vec3d> points);
    // Splits one node's points by its box's widest axis; returns the children's boxes.
    std::pair<Box, Box> split_node(const Pending& node);
    // The points [begin, end) of `node` at `level`, by the halving rule.
    std::pair<std::size_t, std::size_t> range_of(std::size_t node, std::size_t level) const;
    // The bounding box of a node on the deepest boxed level, and then of every node above.
    void fit_box(std::size_t node);
    void join_upper_boxes();
    Layout layout() const;
    // Builds the whole subtree under `node`, on this thread.
    void build_subtree(const Pending& node, std::size_t level);

    std::vector<Vec3d> points_;          // tree order
    std::vector<std::uint32_t> original_;  // original index of each point in tree order
    std::vector<double> splits_;         // per inner node, in heap order
    std::vector<std::uint8_t> axes_;     // per inner node: 0, 1 or 2
    std::size_t depth_ = 0;              // levels of inner nodes; leaves sit at level depth_
    Box box_{};                          // the bounding box of every point
    // The bounding boxes of the nodes on the upper levels, in heap order: far tighter than the
    // splits alone where the cloud leaves space empty (a scanned surface), and small, since the
    // two lowest inner levels, which hold most nodes, go without.
    std::vector<Box> node_boxes_;
    std::size_t boxed_levels_ = 0;
};

template <class RunFor>
KdTree KdTree::build(std::span<const Vec3d> points, RunFor&& run_for) {
    KdTree tree;
    const std::size_t n = points.size();
    if (n == 0) return tree;
    // The points are put in tree order in place, their original indices moving with them.
    tree.points_.resize(n);
    tree.original_.resize(n);
    run_for(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            tree.points_[i] = points[i];
            tree.original_[i] = static_cast<std::uint32_t>(i);
        }
    });
    tree.depth_ = depth_for(n);
    tree.box_ = bounding_box(points);
    const std::size_t inner = (std::size_t{1} << tree.depth_) - 1;
    tree.splits_.resize(inner);
    tree.axes_.resize(inner);

    // The upper levels one level at a time, each node of a level on the pool; once a level has
    // enough nodes to share out, every node's whole subtree is one piece of work.
    constexpr std::size_t shared_out_at = 64;
    std::vector<Pending> level_nodes{{0, 0, n, tree.box_}};
    std::size_t level = 0;
    while (level < tree.depth_ && level_nodes.size() < shared_out_at) {
        std::vector<Pending> next(level_nodes.size() * 2);
        run_for(level_nodes.size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j) {
                const Pending& node = level_nodes[j];
                const auto [left, right] = tree.split_node(node);
                const std::size_t middle = node.begin + (node.end - node.begin) / 2;
                next[2 * j] = {2 * node.node + 1, node.begin, middle, left};
                next[2 * j + 1] = {2 * node.node + 2, middle, node.end, right};
            }
        });
        level_nodes = std::move(next);
        ++level;
    }
    if (level < tree.depth_) {
        run_for(level_nodes.size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j) tree.build_subtree(level_nodes[j], level);
        });
    }

    tree.boxed_levels_ = tree.depth_ > 2 ? tree.depth_ - 2 : 0;
    if (tree.boxed_levels_ > 0) {
        tree.node_boxes_.resize((std::size_t{1} << tree.boxed_levels_) - 1);
        const std::size_t deepest = (std::size_t{1} << (tree.boxed_levels_ - 1)) - 1;
        run_for(tree.node_boxes_.size() - deepest, [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j) tree.fit_box(deepest + j);
        });
        tree.join_upper_boxes();
    }
    return tree;
}

}  // namespace quorvane::spatial
