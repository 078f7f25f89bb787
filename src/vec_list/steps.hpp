#pragma once
// Batch steps of the vector lists on the process-wide pool, as the binding layer runs them.
//
// The calling thread waits a few microseconds attached (a short step is over by then), and
// detaches from the interpreter if the step is still running: other Python threads, and the
// free-threaded interpreter's stop-the-world pauses, are not held up by a long step. The borrows the call holds keep the list and its operands alive and unchanged meanwhile,
// and the workers never touch a Python object.
#include <Python.h>

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "src/frame/held_borrows.hpp"
#include "src/pool/pool.hpp"
#include "src/vec_list/vec_list.hpp"

namespace quorvane::binding {

class DetachFromInterpreter {
public:
    // Attached here, so finalizing already means this is the thread that finalizes (every other
    // thread is stopped for good by then) and that may attach again.
    DetachFromInterpreter() : finalizing_thread_(Py_IsFinalizing()), state_(PyEval_SaveThread()) {}
    DetachFromInterpreter(const DetachFromInterpreter&) = delete;
    DetachFromInterpreter& operator=(const DetachFromInterpreter&) = delete;
    // A daemon thread whose step ends after the interpreter has begun to shut down waits here,
    // untouched, until the process exits. Should shutdown begin while it attaches, the
    // interpreter ends the thread by unwinding it, which is let through (not noexcept).
    ~DetachFromInterpreter() noexcept(false) {
        if (!finalizing_thread_) {
            while (Py_IsFinalizing()) std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        PyEval_RestoreThread(state_);
    }

private:
    // Listed before the detach and withdrawn after the re-attach (members outlive the body).
    frame::PublishedBorrows published_;
    bool finalizing_thread_;
    PyThreadState* state_;
};

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
