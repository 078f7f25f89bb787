#pragma once
// The worker pool that runs the batch steps of VecList: how to submit a step. Only this header
// (with what it includes) is for the pool's users; it includes no Python, and nothing of how the
// workers wait (futexes, pause instructions) or how their number is found (/proc, cgroups).
//
// Every step divides its n items into contiguous pieces (by the split rule of job.hpp),
// runs them on the pool's workers and puts the results together in index order, so the outcome
// is bit-for-bit that of one plain loop from the first item to the last, for any worker count.
// A step over fewer than two items runs on the calling thread; any other step, submitted from a
// thread outside the pool, runs entirely on the workers while the caller waits. The caller spins
// for a few microseconds first, which is all most small steps take; if the step is still running
// then, the caller constructs a `Block` object, blocks, and destroys the object once woken: the
// binding layer passes a type that lets go of the interpreter meanwhile, so only a long wait
// pays for letting go.
//
// An exception thrown by a per-item function is carried back and rethrown to the caller once
// every piece of the step has finished; the pool stays usable. Per-item functions run on several
// threads at once and must not touch anything another item writes.
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "src/pool/step_engine.hpp"
#include "src/pool/step_kinds.hpp"
#include "src/pool/thread_pool.hpp"

namespace quorvane::pool {

// The default blocking scope: nothing to let go of.
struct StayAttached {};

// A step broke one of its own invariants (for example, a map wrote fewer results than items).
class StepInvariantError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

namespace detail {

template <class F>
using item_value_t = std::remove_cvref_t<std::invoke_result_t<F&, std::size_t>>;

// The reduction over positions 0 .. count - 1, position k being item index first + k * stride.
template <class Block, class T, class F, class Prefer>
std::optional<std::pair<std::size_t, T>> reduce_selection(ThreadPool& pool, std::size_t first, std::size_t count,
                                                          std::size_t stride, F& item, Prefer& prefer) {
    ReduceStep<T, F, Prefer> step(first, stride, item, prefer);
    return run_step<Block>(pool, step, count);
}

}  // namespace detail

// ---- maps ----------------------------------------------------------------------------------

// output[i] = f(input[i]) for every i. `output` is allocated by the caller at full length.
template <class Block = StayAttached, class In, class Out, class F>
void run_map(ThreadPool& pool, std::span<const In> input, std::span<Out> output, F&& f) {
    const std::size_t n = input.size();
    if (output.size() != n) {
        throw StepInvariantError("a map over " + std::to_string(n) + " items was given an output of " +
                                 std::to_string(output.size()));
    }
    detail::MapStep<In, Out, std::remove_reference_t<F>> step(input, output, f);
    const std::size_t written = detail::run_step<Block>(pool, step, n);
    if (written != n) {
        throw StepInvariantError("a map over " + std::to_string(n) + " items wrote " + std::to_string(written) +
                                 " results");
    }
}

// f(begin, end) for consecutive ranges that together cover [0, n) exactly once, concurrently.
template <class Block = StayAttached, class F>
void run_for(ThreadPool& pool, std::size_t n, F&& f) {
    detail::RangeStep<std::remove_reference_t<F>> step(f);
    const std::size_t covered = detail::run_step<Block>(pool, step, n);
    if (covered != n) {
        throw StepInvariantError("a step over " + std::to_string(n) + " items covered " + std::to_string(covered));
    }
}

// ---- text ----------------------------------------------------------------------------------

// The texts that append_item(i, out) appends for i = 0 .. n - 1, with `separator` between
// consecutive items only.
template <class Block = StayAttached, class F>
std::string run_join_text(ThreadPool& pool, std::size_t n, F&& append_item, std::string_view separator) {
    detail::TextStep<std::remove_reference_t<F>> step(append_item, separator);
    return detail::join_pieces(detail::run_step<Block>(pool, step, n), separator);
}

// ---- reductions ----------------------------------------------------------------------------

// The best of item(0), item(stride), item(2 * stride), ... for the indices below `length`, as
// (index, value): the first item seen is the best so far, and a later one replaces it only when
// prefer(candidate, best) says so, exactly as in one loop in index order. Nothing for no items.
// T is given explicitly here; the overload below deduces it from `item`.
template <class Block = StayAttached, class T, class F, class Prefer>
std::optional<std::pair<std::size_t, T>> run_reduce(ThreadPool& pool, std::size_t length, std::size_t stride,
                                                    F&& item, Prefer&& prefer) {
    if (stride == 0) throw std::invalid_argument("a strided reduction needs a stride of at least 1");
    const std::size_t count = length == 0 ? 0 : (length - 1) / stride + 1;
    return detail::reduce_selection<Block, T>(pool, 0, count, stride, item, prefer);
}

template <class Block = StayAttached, class F, class Prefer>
auto run_reduce(ThreadPool& pool, std::size_t length, std::size_t stride, F&& item, Prefer&& prefer)
    -> std::optional<std::pair<std::size_t, detail::item_value_t<F>>> {
    return run_reduce<Block, detail::item_value_t<F>>(pool, length, stride, item, prefer);
}

// The same over every index of the window [begin, end).
template <class Block = StayAttached, class F, class Prefer>
auto run_reduce_range(ThreadPool& pool, std::size_t begin, std::size_t end, F&& item, Prefer&& prefer)
    -> std::optional<std::pair<std::size_t, detail::item_value_t<F>>> {
    if (end < begin) throw std::invalid_argument("a reduction window must not end before it begins");
    return detail::reduce_selection<Block, detail::item_value_t<F>>(pool, begin, end - begin, 1, item, prefer);
}

// ---- the same on the process-wide pool -----------------------------------------------------

template <class Block = StayAttached, class In, class Out, class F>
void run_map(std::span<const In> input, std::span<Out> output, F&& f) {
    run_map<Block>(global_pool(), input, output, std::forward<F>(f));
}

template <class Block = StayAttached, class F>
void run_for(std::size_t n, F&& f) {
    run_for<Block>(global_pool(), n, std::forward<F>(f));
}

template <class Block = StayAttached, class F>
std::string run_join_text(std::size_t n, F&& append_item, std::string_view separator) {
    return run_join_text<Block>(global_pool(), n, std::forward<F>(append_item), separator);
}

template <class Block = StayAttached, class T, class F, class Prefer>
std::optional<std::pair<std::size_t, T>> run_reduce(std::size_t length, std::size_t stride, F&& item,
                                                    Prefer&& prefer) {
    return run_reduce<Block, T>(global_pool(), length, stride, std::forward<F>(item), std::forward<Prefer>(prefer));
}

template <class Block = StayAttached, class F, class Prefer>
auto run_reduce(std::size_t length, std::size_t stride, F&& item, Prefer&& prefer)
    -> std::optional<std::pair<std::size_t, detail::item_value_t<F>>> {
    return run_reduce<Block>(global_pool(), length, stride, std::forward<F>(item), std::forward<Prefer>(prefer));
}

template <class Block = StayAttached, class F, class Prefer>
auto run_reduce_range(std::size_t begin, std::size_t end, F&& item, Prefer&& prefer)
    -> std::optional<std::pair<std::size_t, detail::item_value_t<F>>> {
    return run_reduce_range<Block>(global_pool(), begin, end, std::forward<F>(item), std::forward<Prefer>(prefer));
}

}  // namespace quorvane::pool
