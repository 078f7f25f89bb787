#pragma once
// Batch steps of the vector lists on the process-wide pool, as the binding layer runs them: the
// caller lets go of the interpreter while it waits for a long step (frame/detach.hpp).
#include <span>
#include <string>
#include <string_view>

#include "src/frame/detach.hpp"
#include "src/vec_list/pool.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

using frame::DetachFromInterpreter;

// A new array with out[i] = f(items[i]), the output allocated at full length before the step.
template <class Out, class In, class F>
BatchArray<Out> map_step(std::span<const In> items, F&& f) {
    BatchArray<Out> output(items.size());
    pool::run_map<DetachFromInterpreter>(items, std::span<Out>(output), std::forward<F>(f));
    return output;
}

// f(begin, end) over consecutive ranges that together cover [0, n), for a step that addresses
// its own arrays.
template <class F>
void range_step(std::size_t n, F&& f) {
    pool::run_for<DetachFromInterpreter>(n, std::forward<F>(f));
}

template <class F>
std::string join_text_step(std::size_t n, F&& append_item, std::string_view separator) {
    return pool::run_join_text<DetachFromInterpreter>(n, std::forward<F>(append_item), separator);
}

template <class F, class Prefer>
auto reduce_step(std::size_t length, std::size_t stride, F&& item, Prefer&& prefer) {
    return pool::run_reduce<DetachFromInterpreter>(length, stride, std::forward<F>(item),
                                                   std::forward<Prefer>(prefer));
}

template <class F, class Prefer>
auto reduce_window_step(std::size_t begin, std::size_t end, F&& item, Prefer&& prefer) {
    return pool::run_reduce_range<DetachFromInterpreter>(pool::global_pool(), begin, end, std::forward<F>(item),
                                                         std::forward<Prefer>(prefer));
}

}  // namespace quorvane::binding
