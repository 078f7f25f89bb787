// sum, mean and bounds: one result from every element, combined in a fixed order.
//
// Each reduction is one pool step over blocks of `reduction_block` consecutive elements that
// writes one result per block; the calling thread then combines the blocks' results left to
// right. The sum's bits therefore depend on the block size, never on the worker count.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/vec3d.hpp"
#include "src/frame/members.hpp"
#include "src/vec3d.hpp"
#include "src/vec_list/point_steps.hpp"

namespace quorvane::binding {
namespace {

using core::Vec3d;

// ---- sum and mean ----

// Each block's sum starts from its first element and adds the others left to right; the total
// starts from the first block's sum and adds the others left to right. Component by component,
// with the additions of Vec3d's `+`.
Vec3d sum(const VecListValue& list) {
    const Vec3d* items = list.items.data();
    const BatchArray<Vec3d> blocks = per_block<Vec3d>(list.items.size(), [items](std::size_t begin, std::size_t end) {
        Vec3d total = items[begin];
        for (std::size_t i = begin + 1; i < end; ++i) total = total + items[i];
        return total;
    });
    if (blocks.empty()) return Vec3d::zero();
    Vec3d total = blocks[0];
    for (std::size_t b = 1; b < blocks.size(); ++b) total = total + blocks[b];
    return total;
}

void require_elements(const VecListValue& list) {
    if (list.items.empty()) frame::raise(PyExc_ValueError, "the list is empty");
}

// The sum with each component divided by the length (three divisions, as Vec3d's `/`).
Vec3d mean(const VecListValue& list) {
    require_elements(list);
    return sum(list) / static_cast<double>(list.items.size());
}

// ---- bounds ----

// The order of the bounds on numbers: the usual one, with -0 below +0 so that the result does
// not depend on which zero came first. As integers, the keys below compare in that order
// (IEEE 754's total order); NaNs get keys beyond both infinities and are told apart by them.
std::int64_t order_key(double value) {
    const auto bits = std::bit_cast<std::int64_t>(value);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}
double from_order_key(std::int64_t key) {
    return std::bit_cast<double>(key ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(key >> 63) >> 1));
}
const std::int64_t lowest_number_key = order_key(-INFINITY);
const std::int64_t highest_number_key = order_key(INFINITY);

// The least and greatest value of one component. A NaN anywhere makes both that NaN: the first
// one in index order, so that its bits too are the same for every division of the work.
struct ComponentBounds {
    double least;
    double greatest;
};

// Later values (a later element or a later block) change a bound only when it is not NaN yet.
ComponentBounds combine(const ComponentBounds& earlier, const ComponentBounds& later) {
    if (std::isnan(earlier.least)) return earlier;
    if (std::isnan(later.least)) return later;
    return {from_order_key(std::min(order_key(earlier.least), order_key(later.least))),
            from_order_key(std::max(order_key(earlier.greatest), order_key(later.greatest)))};
}

using Bounds = std::array<ComponentBounds, 3>;

Bounds block_bounds(const Vec3d* items, std::size_t begin, std::size_t end) {
    const auto* values = reinterpret_cast<const double*>(items);
    std::array<std::int64_t, 3> least;
    std::array<std::int64_t, 3> greatest;
    for (std::size_t c = 0; c < 3; ++c) least[c] = greatest[c] = order_key(values[3 * begin + c]);
    for (std::size_t i = begin + 1; i < end; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const std::int64_t key = order_key(values[3 * i + c]);
            least[c] = std::min(least[c], key);
            greatest[c] = std::max(greatest[c], key);
        }
    }
    Bounds bounds;
    for (std::size_t c = 0; c < 3; ++c) {
        if (least[c] < lowest_number_key || greatest[c] > highest_number_key) {
            // This block holds a NaN in this component: find the first (rare, so a second look).
            std::size_t i = begin;
            while (!std::isnan(values[3 * i + c])) ++i;
            bounds[c] = {values[3 * i + c], values[3 * i + c]};
        } else {
            bounds[c] = {from_order_key(least[c]), from_order_key(greatest[c])};
        }
    }
    return bounds;
}

std::pair<Vec3d, Vec3d> bounds(const VecListValue& list) {
    require_elements(list);
    const Vec3d* items = list.items.data();
    const BatchArray<Bounds> blocks = per_block<Bounds>(
        list.items.size(), [items](std::size_t begin, std::size_t end) { return block_bounds(items, begin, end); });
    Bounds total = blocks[0];
    for (std::size_t b = 1; b < blocks.size(); ++b)
        for (std::size_t c = 0; c < 3; ++c) total[c] = combine(total[c], blocks[b][c]);
    return {{total[0].least, total[1].least, total[2].least}, {total[0].greatest, total[1].greatest, total[2].greatest}};
}

using def = frame::MembersOf<VecListValue>;

PyMethodDef methods[] = {
    def::method<"sum()", &sum>(),
    def::method<"mean()", &mean>(),
    def::method<"bounds()", &bounds>(),
};

}  // namespace

frame::ClassRows reduction_rows() { return {methods}; }
}  // namespace quorvane::binding
