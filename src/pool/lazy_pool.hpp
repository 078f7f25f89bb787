#pragma once
// The one pool of the process: made by the first batch step that asks for it, sized once from
// the environment, never shut down. A forked child gets a pool of its own the same way.
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "src/vec_list/pool_runtime.hpp"

namespace quorvane::pool {

// The global pool could not be made; every later request fails the same way.
class PoolUnavailable : public std::runtime_error {
public:
    explicit PoolUnavailable(const std::string& cause)
        : std::runtime_error("The global thread pool has not been initialized.: " + cause) {}
};

namespace detail {

// A pool made at most once, on first use, even when many threads ask for it at the same moment.
// If making it throws, the cause is kept and reported to every caller; it is never retried.
class LazyPool {
public:
    using Factory = std::unique_ptr<ThreadPool> (*)();

    explicit LazyPool(Factory factory) noexcept : factory_(factory) {}
    LazyPool(const LazyPool&) = delete;
    LazyPool& operator=(const LazyPool&) = delete;

    ThreadPool& get() {
        // Acquire: pairs with the release in make(), so the finished pool is visible.
        if (ThreadPool* ready = ready_.load(std::memory_order_acquire)) return *ready;
        std::call_once(made_, [this] { make(); });
        // Acquire: as above; call_once already orders make() before this for the waiters.
        if (ThreadPool* ready = ready_.load(std::memory_order_acquire)) return *ready;
        throw PoolUnavailable(failure_);
    }

private:
    void make() noexcept {
        try {
            owned_ = factory_();
            // Release: publishes the constructed pool to the lock-free fast path of get().
            ready_.store(owned_.get(), std::memory_order_release);
        } catch (const std::exception& failure) {
            failure_ = failure.what();
        } catch (...) {
            failure_ = "an unknown exception";
        }
    }

    Factory factory_;
    std::once_flag made_;
    std::atomic<ThreadPool*> ready_{nullptr};
    std::unique_ptr<ThreadPool> owned_;  // written once, inside call_once
    std::string failure_;                // likewise
};

}  // namespace detail

// The process-wide pool. Throws PoolUnavailable if it could not be created.
ThreadPool& global_pool();

// The global pool's worker count; creates the pool first if need be.
inline std::size_t current_worker_count() { return global_pool().worker_count(); }

}  // namespace quorvane::pool
