#pragma once
// A pool made at most once, on first use: the cell behind the process-wide pool.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "src/pool/thread_pool.hpp"

namespace quorvane::pool::detail {

// Made at most once, even when many threads ask for it at the same moment. If making it
// throws, the cause is kept and reported to every caller; it is never retried.
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
        throw PoolUnavailable(failure_.data());
    }

    // The longest cause kept, in bytes; a longer one is cut there.
    static constexpr std::size_t cause_capacity = 255;

private:
    // Runs once, and must not throw: keeping the cause copies into storage that already exists,
    // since a failure to allocate here would leave nothing to report.
    void make() noexcept {
        try {
            owned_ = factory_();
            // Release: publishes the constructed pool to the lock-free fast path of get().
            ready_.store(owned_.get(), std::memory_order_release);
        } catch (const std::exception& failure) {
            keep_cause(failure.what());
        } catch (...) {
            keep_cause("an unknown exception");
        }
    }

    void keep_cause(const char* cause) noexcept {
        const std::size_t length = std::min(std::strlen(cause), cause_capacity);
        std::memcpy(failure_.data(), cause, length);
        failure_[length] = '\0';
    }

    Factory factory_;
    std::once_flag made_;
    std::atomic<ThreadPool*> ready_{nullptr};
    std::unique_ptr<ThreadPool> owned_;                // written once, inside call_once
    std::array<char, cause_capacity + 1> failure_{};  // likewise
};

}  // namespace quorvane::pool::detail
