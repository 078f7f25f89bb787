#pragma once
// The pool as its users hold it: a handle on a fixed set of worker threads, and the one pool of
// the process. The threads, their queues and how they wait are in workers.hpp, which only the
// pool's own units and its tests include.
#include <cstddef>
#include <stdexcept>
#include <string>

#include "src/pool/job.hpp"

namespace quorvane::pool {

namespace detail {
class PoolCore;
}  // namespace detail

// A fixed set of worker threads, all started by the constructor and stopped by the destructor.
// Steps are submitted through the run_* functions of pool.hpp; the pool must outlive them.
class ThreadPool {
public:
    // Throws std::invalid_argument for 0 workers, and what std::thread throws (std::system_error)
    // when the system refuses a thread; the workers already started are then stopped again.
    explicit ThreadPool(std::size_t workers);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t worker_count() const noexcept { return worker_count_; }

    // For the step engine: this thread as a worker of this pool, or nullptr.
    detail::WorkerThread* worker_of_this_thread() const noexcept;
    // For the step engine: queues a job from a thread outside the pool and wakes the workers it
    // can use. Throws only before the job is visible to any worker (std::bad_alloc); once it is
    // queued, nothing here unwinds, so the caller's job outlives every worker's look at it.
    void inject(detail::Job& job);

    detail::PoolCore& core() const noexcept { return *core_; }

private:
    const std::size_t worker_count_;
    detail::PoolCore* core_;  // owned; made and destroyed with the pool
};

// The global pool could not be made; every later request fails the same way.
class PoolUnavailable : public std::runtime_error {
public:
    explicit PoolUnavailable(const std::string& cause)
        : std::runtime_error("The global thread pool has not been initialized.: " + cause) {}
};

// The process-wide pool: made by the first batch step that asks for it, sized once from the
// environment, never shut down; a forked child gets a pool of its own the same way. Throws
// PoolUnavailable if it could not be created.
ThreadPool& global_pool();

// The global pool's worker count; creates the pool first if need be.
inline std::size_t current_worker_count() { return global_pool().worker_count(); }

}  // namespace quorvane::pool
