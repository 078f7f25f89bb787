#include "src/spatial/kd_tree.hpp"

#include <cmath>

namespace quorvane::spatial {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

double coordinate(const Vec3d& v, std::size_t axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }
double& coordinate_of(Vec3d& v, std::size_t axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// distance_squared's formula from the query to the query clamped into the box: at most the
// squared distance of any point in it, as every step rounds monotonically.
double nearest_in_box_squared(const Vec3d& q, const Vec3d& low, const Vec3d& high) {
    const Vec3d clamped{std::clamp(q.x, low.x, high.x), std::clamp(q.y, low.y, high.y),
                        std::clamp(q.z, low.z, high.z)};
    return core::distance_squared(q, clamped);
}

// The same formula to the box's farthest corner: at least the squared distance of any point in it.
double farthest_in_box_squared(const Vec3d& q, const Vec3d& low, const Vec3d& high) {
    const auto reach = [](double query, double lo, double hi) {
        return std::max(std::fabs(query - lo), std::fabs(query - hi));
    };
    const double x = reach(q.x, low.x, high.x);
    const double y = reach(q.y, low.y, high.y);
    const double z = reach(q.z, low.z, high.z);
    return (x * x + y * y) + z * z;  // core::dot's order
}

// Ordered by distance, then original index: a heap of these keeps the worst on top.
bool closer(const Neighbour& a, const Neighbour& b) {
    return a.distance < b.distance || (a.distance == b.distance && a.index < b.index);
}

// The points being put in tree order, and their original indices, which move with them.
struct Arrangement {
    Vec3d* points;
    std::uint32_t* original;

    void swap(std::ptrdiff_t i, std::ptrdiff_t j) const {
        std::swap(points[i], points[j]);
        std::swap(original[i], original[j]);
    }
};

// Sorts items[left .. right] (at most sort_at_most of them) by `key`, equal keys keeping their
// order: each item's rank is counted against every other without a branch on the data, then the
// items are placed by rank. For the few points of the lowest nodes this beats any selection,
// whose comparisons mispredict about every other time.
constexpr std::ptrdiff_t sort_at_most = 16;

template <double Vec3d::*Key>
void sort_few(const Arrangement& items, std::ptrdiff_t left, std::ptrdiff_t right) {
    const std::ptrdiff_t count = right - left + 1;
    double keys[sort_at_most];
    Vec3d sorted_points[sort_at_most];
    std::uint32_t sorted_original[sort_at_most];
    for (std::ptrdiff_t i = 0; i < count; ++i) keys[i] = items.points[left + i].*Key;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        std::ptrdiff_t rank = 0;
        for (std::ptrdiff_t j = 0; j < i; ++j) rank += keys[j] <= keys[i];
        for (std::ptrdiff_t j = i + 1; j < count; ++j) rank += keys[j] < keys[i];
        sorted_points[rank] = items.points[left + i];
        sorted_original[rank] = items.original[left + i];
    }
    std::copy(sorted_points, sorted_points + count, items.points + left);
    std::copy(sorted_original, sorted_original + count, items.original + left);
}

// With the pivot at items[left], rearranges items[left .. right] so that no key before the
// returned position is larger than the pivot's, none after it smaller, and the pivot sits at it.
// Items equal to the pivot are taken as out of place on both sides, so that many equal keys
// still split near the middle. Blocks of keys are first compared without branching, recording
// which are out of place, and only those are then swapped: on unordered keys each comparison
// would otherwise mispredict about every other time.
template <double Vec3d::*Key>
std::ptrdiff_t partition_around(const Arrangement& items, std::ptrdiff_t left, std::ptrdiff_t right) {
    constexpr std::ptrdiff_t block = 16;
    const auto key = [&items](std::ptrdiff_t i) { return items.points[i].*Key; };
    const double t = key(left);
    std::ptrdiff_t i = left + 1;  // items before i are at most t
    std::ptrdiff_t j = right;     // items after j are at least t
    std::uint8_t low_offsets[block];
    std::uint8_t high_offsets[block];
    std::ptrdiff_t low_count = 0;
    std::ptrdiff_t high_count = 0;
    std::ptrdiff_t low_start = 0;
    std::ptrdiff_t high_start = 0;
    while (j - i + 1 >= 2 * block) {
        if (low_count == 0) {
            low_start = 0;
            for (std::ptrdiff_t c = 0; c < block; ++c) {
                low_offsets[low_count] = static_cast<std::uint8_t>(c);
                low_count += !(key(i + c) < t);
            }
        }
        if (high_count == 0) {
            high_start = 0;
            for (std::ptrdiff_t c = 0; c < block; ++c) {
                high_offsets[high_count] = static_cast<std::uint8_t>(c);
                high_count += !(t < key(j - c));
            }
        }
        const std::ptrdiff_t swaps = std::min(low_count, high_count);
        for (std::ptrdiff_t s = 0; s < swaps; ++s) {
            items.swap(i + low_offsets[low_start + s], j - high_offsets[high_start + s]);
        }
        low_count -= swaps;
        high_count -= swaps;
        low_start += swaps;
        high_start += swaps;
        if (low_count == 0) i += block;
        if (high_count == 0) j -= block;
    }
    // The rest one item at a time (a half-finished block included: its items are re-read).
    while (true) {
        while (i <= j && key(i) < t) ++i;
        while (i <= j && t < key(j)) --j;
        if (i >= j) break;
        items.swap(i, j);
        ++i;
        --j;
    }
    // Where both scans stopped on one item (i == j), it equals t and may stay right of the pivot.
    items.swap(left, i - 1);
    return i - 1;
}

// Puts the k-th smallest of items[left .. right] (inclusive, by `key`) at k, with none larger
// before it and none smaller after it: Floyd and Rivest's selection, which first narrows the
// search to a window around k found from a small sample, and so compares each item about 1.5
// times where a median-of-three selection compares it about 3 times.
template <double Vec3d::*Key>
void select_kth(const Arrangement& items, std::ptrdiff_t left, std::ptrdiff_t right, std::ptrdiff_t k) {
    const auto key = [&items](std::ptrdiff_t i) { return items.points[i].*Key; };
    while (right - left >= sort_at_most) {
        if (right - left > 600) {
            const double n = static_cast<double>(right - left + 1);
            const double i = static_cast<double>(k - left + 1);
            const double z = std::log(n);
            const double s = 0.5 * std::exp(2.0 * z / 3.0);
            const double sd = 0.5 * std::sqrt(z * s * (n - s) / n) * (i < n / 2.0 ? -1.0 : 1.0);
            const auto new_left = std::max(left, static_cast<std::ptrdiff_t>(static_cast<double>(k) - i * s / n + sd));
            const auto new_right =
                std::min(right, static_cast<std::ptrdiff_t>(static_cast<double>(k) + (n - i) * s / n + sd));
            select_kth<Key>(items, new_left, new_right, k);
        } else {
            // Without a sample, the median of three keys is a far likelier pivot near k than
            // the key at k alone.
            if (key(left) > key(right)) items.swap(left, right);
            if (key(k) < key(left)) items.swap(k, left);
            if (key(k) > key(right)) items.swap(k, right);
        }
        items.swap(left, k);
        const std::ptrdiff_t j = partition_around<Key>(items, left, right);
        if (j <= k) left = j + 1;
        if (k <= j) right = j - 1;
    }
    if (right > left) sort_few<Key>(items, left, right);
}

}  // namespace

double largest_square_within(double distance) {
    if (distance == infinity) return infinity;
    // sqrt is correctly rounded, so distance * distance is within an ulp or two of the answer.
    double square = distance * distance;
    while (std::sqrt(square) > distance) square = std::nextafter(square, 0.0);
    for (double up = std::nextafter(square, infinity); std::sqrt(up) <= distance;
         up = std::nextafter(square, infinity)) {
        square = up;
    }
    return square;
}

std::optional<std::size_t> first_non_finite(std::span<const Vec3d> points) {
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec3d& p = points[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return i;
    }
    return std::nullopt;
}

std::size_t KdTree::depth_for(std::size_t count) {
    std::size_t depth = 0;
    // Halving leaves ceil(count / 2^depth) points in the largest node of a level.
    while (((count - 1) >> depth) + 1 > leaf_capacity) ++depth;
    return depth;
}

KdTree::Box KdTree::bounding_box(std::span<const Vec3d> points) {
    Box box{points[0], points[0]};
    for (const Vec3d& p : points) {
        box.low = {std::min(box.low.x, p.x), std::min(box.low.y, p.y), std::min(box.low.z, p.z)};
        box.high = {std::max(box.high.x, p.x), std::max(box.high.y, p.y), std::max(box.high.z, p.z)};
    }
    return box;
}

std::pair<KdTree::Box, KdTree::Box> KdTree::split_node(const Pending& node) {
    const Arrangement items{points_.data(), original_.data()};
    // The widest side of the box (the first of equal ones); its extent may overflow to
    // infinity for huge coordinates, which still compares as widest.
    std::size_t axis = 0;
    double widest = -1.0;
    for (std::size_t a = 0; a < 3; ++a) {
        const double extent = coordinate(node.box.high, a) - coordinate(node.box.low, a);
        if (extent > widest) {
            widest = extent;
            axis = a;
        }
    }
    const std::size_t middle = node.begin + (node.end - node.begin) / 2;
    const auto first = static_cast<std::ptrdiff_t>(node.begin);
    const auto last = static_cast<std::ptrdiff_t>(node.end) - 1;
    const auto nth = static_cast<std::ptrdiff_t>(middle);
    // One selection per axis, so that its inner loops do not branch on the axis.
    switch (axis) {
    case 0: select_kth<&Vec3d::x>(items, first, last, nth); break;
    case 1: select_kth<&Vec3d::y>(items, first, last, nth); break;
    default: select_kth<&Vec3d::z>(items, first, last, nth); break;
    }
    const double split = coordinate(points_[middle], axis);
    splits_[node.node] = split;
    axes_[node.node] = static_cast<std::uint8_t>(axis);
    Box left = node.box;
    Box right = node.box;
    coordinate_of(left.high, axis) = split;
    coordinate_of(right.low, axis) = split;
    return {left, right};
}

void KdTree::build_subtree(const Pending& node, std::size_t level) {
    if (level == depth_) return;
    const auto [left, right] = split_node(node);
    const std::size_t middle = node.begin + (node.end - node.begin) / 2;
    build_subtree({2 * node.node + 1, node.begin, middle, left}, level + 1);
    build_subtree({2 * node.node + 2, middle, node.end, right}, level + 1);
}

std::pair<std::size_t, std::size_t> KdTree::range_of(std::size_t node, std::size_t level) const {
    std::size_t begin = 0;
    std::size_t end = points_.size();
    const std::size_t position = node - ((std::size_t{1} << level) - 1);
    for (std::size_t bit = level; bit-- > 0;) {
        const std::size_t middle = begin + (end - begin) / 2;
        if ((position >> bit) & 1) {
            begin = middle;
        } else {
            end = middle;
        }
    }
    return {begin, end};
}

void KdTree::fit_box(std::size_t node) {
    const auto [begin, end] = range_of(node, boxed_levels_ - 1);
    node_boxes_[node] = bounding_box(std::span<const Vec3d>(points_).subspan(begin, end - begin));
}

void KdTree::join_upper_boxes() {
    for (std::size_t node = ((std::size_t{1} << (boxed_levels_ - 1)) - 1); node-- > 0;) {
        const Box& left = node_boxes_[2 * node + 1];
        const Box& right = node_boxes_[2 * node + 2];
        node_boxes_[node] = {{std::min(left.low.x, right.low.x), std::min(left.low.y, right.low.y),
                              std::min(left.low.z, right.low.z)},
                             {std::max(left.high.x, right.high.x), std::max(left.high.y, right.high.y),
                              std::max(left.high.z, right.high.z)}};
    }
}

namespace {

// The bits of a 21-bit number spread to every third position.
std::uint64_t spread_bits(std::uint64_t v) {
    v &= 0x1fffff;
    v = (v | v << 32) & 0x1f00000000ffffULL;
    v = (v | v << 16) & 0x1f0000ff0000ffULL;
    v = (v | v << 8) & 0x100f00f00f00f00fULL;
    v = (v | v << 4) & 0x10c30c30c30c30c3ULL;
    v = (v | v << 2) & 0x1249249249249249ULL;
    return v;
}

// The position of x in [low, high] on a scale of 2^21 steps, clamped.
std::uint64_t cell(double x, double low, double high) {
    const double scaled = (x - low) / (high - low) * 2097151.0;
    if (!(scaled > 0.0)) return 0;  // also a box of no extent (NaN)
    return scaled >= 2097151.0 ? 2097151 : static_cast<std::uint64_t>(scaled);
}

}  // namespace

std::vector<std::size_t> KdTree::query_order(std::span<const Vec3d> queries) const {
    std::vector<std::pair<std::uint64_t, std::size_t>> keyed(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
        const Vec3d& q = queries[i];
        const std::uint64_t code = spread_bits(cell(q.x, box_.low.x, box_.high.x)) |
                                   spread_bits(cell(q.y, box_.low.y, box_.high.y)) << 1 |
                                   spread_bits(cell(q.z, box_.low.z, box_.high.z)) << 2;
        keyed[i] = {code, i};
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::size_t> order(queries.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
    return order;
}

KdTree::Layout KdTree::layout() const {
    return {points_.data(), original_.data(), splits_.data(), axes_.data(), depth_,
            reinterpret_cast<const Vec3d*>(node_boxes_.data()), node_boxes_.size()};
}

void KdTree::copy_points_in_original_order(std::span<Vec3d> out, std::size_t begin, std::size_t end) const {
    for (std::size_t i = begin; i < end; ++i) out[original_[i]] = points_[i];
}

// ---- searches ------------------------------------------------------------------------------

namespace {

// A search walks the nodes whose box may hold a point within its `limit` (a squared distance,
// which only shrinks), the side of each split that holds the query first.
template <class Search>
void walk(const KdTree::Layout& tree, Search& search, std::size_t node, std::size_t level, std::size_t begin,
          std::size_t end, Vec3d low, Vec3d high) {
    if (node < tree.boxed_nodes) {
        // Both boxes hold every point of the node, and so does their intersection.
        const Vec3d& fit_low = tree.boxes[2 * node];
        const Vec3d& fit_high = tree.boxes[2 * node + 1];
        low = {std::max(low.x, fit_low.x), std::max(low.y, fit_low.y), std::max(low.z, fit_low.z)};
        high = {std::min(high.x, fit_high.x), std::min(high.y, fit_high.y), std::min(high.z, fit_high.z)};
    }
    if (nearest_in_box_squared(search.query, low, high) > search.limit) return;
    if constexpr (Search::takes_whole_nodes) {
        if (farthest_in_box_squared(search.query, low, high) <= search.limit) {
            search.take_all(begin, end);
            return;
        }
    }
    if (level == tree.depth) {
        for (std::size_t i = begin; i < end; ++i) {
            const double squared = core::distance_squared(search.query, tree.points[i]);
            if (squared <= search.limit) search.take(i, squared);
        }
        return;
    }
    const std::size_t middle = begin + (end - begin) / 2;
    const std::size_t axis = tree.axes[node];
    const double split = tree.splits[node];
    Vec3d left_high = high;
    coordinate_of(left_high, axis) = split;
    Vec3d right_low = low;
    coordinate_of(right_low, axis) = split;
    if (coordinate(search.query, axis) < split) {
        walk(tree, search, 2 * node + 1, level + 1, begin, middle, low, left_high);
        walk(tree, search, 2 * node + 2, level + 1, middle, end, right_low, high);
    } else {
        walk(tree, search, 2 * node + 2, level + 1, middle, end, right_low, high);
        walk(tree, search, 2 * node + 1, level + 1, begin, middle, low, left_high);
    }
}

struct NearestSearch {
    static constexpr bool takes_whole_nodes = false;
    Vec3d query;
    const std::uint32_t* original;
    double limit = infinity;
    Neighbour best{std::numeric_limits<std::size_t>::max(), infinity};

    void take(std::size_t i, double squared) {
        const Neighbour candidate{original[i], std::sqrt(squared)};
        if (!closer(candidate, best)) return;
        best = candidate;
        limit = largest_square_within(best.distance);
    }
};

// The k best so far form a max-heap in `out`, the worst on top.
struct KNearestSearch {
    static constexpr bool takes_whole_nodes = false;
    Vec3d query;
    const std::uint32_t* original;
    std::span<Neighbour> out;
    std::size_t count = 0;
    double limit = infinity;

    void take(std::size_t i, double squared) {
        const Neighbour candidate{original[i], std::sqrt(squared)};
        if (count < out.size()) {
            out[count++] = candidate;
            std::push_heap(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count), closer);
        } else if (closer(candidate, out[0])) {
            std::pop_heap(out.begin(), out.end(), closer);
            out.back() = candidate;
            std::push_heap(out.begin(), out.end(), closer);
        } else {
            return;
        }
        if (count == out.size()) limit = largest_square_within(out[0].distance);
    }
};

struct WithinSearch {
    static constexpr bool takes_whole_nodes = true;
    Vec3d query;
    const std::uint32_t* original;
    double limit;
    std::vector<std::uint32_t> found;

    void take(std::size_t i, double) { found.push_back(original[i]); }
    void take_all(std::size_t begin, std::size_t end) { found.insert(found.end(), original + begin, original + end); }
};

struct CountSearch {
    static constexpr bool takes_whole_nodes = true;
    Vec3d query;
    double limit;
    std::size_t count = 0;

    void take(std::size_t, double) { ++count; }
    void take_all(std::size_t begin, std::size_t end) { count += end - begin; }
};

}  // namespace

Neighbour KdTree::nearest(const Vec3d& query) const {
    NearestSearch search{query, original_.data()};
    walk(layout(), search, 0, 0, 0, size(),
         box_.low, box_.high);
    return search.best;
}

void KdTree::k_nearest(const Vec3d& query, std::span<Neighbour> out) const {
    KNearestSearch search{query, original_.data(), out};
    walk(layout(), search, 0, 0, 0, size(),
         box_.low, box_.high);
    std::sort_heap(out.begin(), out.end(), closer);
}

std::vector<std::uint32_t> KdTree::within(const Vec3d& query, double radius) const {
    WithinSearch search{query, original_.data(), largest_square_within(radius), {}};
    if (!empty()) {
        walk(layout(), search, 0, 0, 0, size(),
             box_.low, box_.high);
    }
    std::sort(search.found.begin(), search.found.end());
    return std::move(search.found);
}

std::size_t KdTree::count_within(const Vec3d& query, double radius) const {
    CountSearch search{query, largest_square_within(radius)};
    if (!empty()) {
        walk(layout(), search, 0, 0, 0, size(),
             box_.low, box_.high);
    }
    return search.count;
}

}  // namespace quorvane::spatial
