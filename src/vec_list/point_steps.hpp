#pragma once
// The VecList members that keep a point-cloud or mesh pipeline in the list: reductions (sum,
// mean, bounds; reductions.cpp), selection (take, take_triangles, select; selection.cpp) and
// per-point operations with an array or a plane (scaled_elementwise and the distances to a
// plane; per_point.cpp). Each file exports its rows to VecList's class (vec_list.cpp).
#include <algorithm>
#include <cstddef>

#include "src/frame/types.hpp"
#include "src/vec_list/steps.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

// These members cut their work into blocks of this many consecutive items (the last may be
// shorter), and the blocks are the items of their pool step. Reductions combine the blocks'
// results left to right: a fixed order, so the bits do not depend on how many workers there are
// or how the step was divided among them. A list of up to one block is done on the calling
// thread, where a hand-off to the pool would cost more than the work.
inline constexpr std::size_t reduction_block = 4096;

inline std::size_t block_count(std::size_t n) { return (n + reduction_block - 1) / reduction_block; }

// f(begin, end) for every block [begin, end) of [0, n), as one pool step over the blocks.
template <class F>
void block_step(std::size_t n, F&& f) {
    range_step(block_count(n), [n, &f](std::size_t first, std::size_t last) {
        for (std::size_t b = first; b < last; ++b) f(b * reduction_block, std::min(n, (b + 1) * reduction_block));
    });
}

// out[b] = block_result(begin, end) for every block b = [begin, end).
template <class Result, class F>
BatchArray<Result> per_block(std::size_t n, F block_result) {
    BatchArray<Result> out(block_count(n));
    Result* results = out.data();
    block_step(n, [results, &block_result](std::size_t begin, std::size_t end) {
        results[begin / reduction_block] = block_result(begin, end);
    });
    return out;
}

// ValueError "the lengths differ: this list has {n} elements, {name} has {length}".
void require_length(const VecListValue& list, std::size_t length, const char* name);

// The rows of the members, by file.
frame::ClassRows reduction_rows();
frame::ClassRows selection_rows();
frame::ClassRows per_point_rows();

}  // namespace quorvane::binding
