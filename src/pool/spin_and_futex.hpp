#pragma once
// The two ways a thread of the pool waits: a short spin, for what is about to happen, and a
// sleep on a 32-bit word, for what may take long.
//
// A spin first issues the processor's pause hint for a few hundred nanoseconds, then yields the
// processor between looks, so that on a machine with fewer free cores than busy threads the
// thread being waited for gets to run. It always ends after its budget, so an idle pool costs
// nothing.
//
// Sleeping uses the kernel's futex directly on Linux: a wake-up costs one system call, and none
// at all when nobody sleeps, which the waker can tell from the word itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quorvane::pool::detail {

inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield" ::: "memory");
#endif
}

// A bounded spin: call `keep_waiting()` between looks; it answers false once the budget is spent.
// For the first stretch it pauses, which keeps the processor; after that it yields, so that on a
// machine where the thread being waited for has no processor of its own, it can run on this one.
class Backoff {
public:
    using Clock = std::chrono::steady_clock;

    explicit Backoff(std::chrono::nanoseconds budget) noexcept
        : deadline_(Clock::now() + budget), pause_until_(deadline_ - budget + std::min(budget, pausing)) {}

    bool keep_waiting() noexcept {
        const Clock::time_point now = Clock::now();
        if (now >= deadline_) return false;
        if (now < pause_until_) {
            cpu_relax();
        } else {
            std::this_thread::yield();
        }
        return true;
    }

private:
    // A handful of pauses. Pausing for longer pays only where every waited-for thread has a core
    // of its own; where it shares this one, each pause delays it. A yield, on the other hand,
    // costs a system call (a few hundred nanoseconds) when nobody else wants the processor.
    static constexpr std::chrono::nanoseconds pausing{300};

    Clock::time_point deadline_;
    Clock::time_point pause_until_;
};

// Sleeps while `word` holds `expected`; may also return for no reason, so callers loop.
inline void sleep_while_equal(std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept {
#if defined(__linux__)
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
#else
    word.wait(expected, std::memory_order_acquire);
#endif
}

// Wakes one thread sleeping on `word`, if any.
inline void wake_one(std::atomic<std::uint32_t>& word) noexcept {
#if defined(__linux__)
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#else
    word.notify_one();
#endif
}

}  // namespace quorvane::pool::detail
