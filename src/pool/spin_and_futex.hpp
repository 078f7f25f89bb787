#pragma once
// The two ways a thread of the pool waits: a short spin, for what is about to happen, and a
// sleep on a 32-bit word, for what may take long. (Which worker sleeps or spins when is the
// business of idle_workers.hpp.)
//
// A spin only looks again and again while nobody else wants the processor; otherwise it pauses
// for a moment and then yields the processor between looks, so that the thread being waited for
// gets to run (who gives way when is decided in workers.cpp). It always ends after its budget,
// so an idle pool costs nothing.
//
// Sleeping uses the kernel's futex directly on Linux: a wake-up costs one system call, and none
// at all when nobody sleeps, which the waker can tell from the word itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
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
//
// At every look it asks `give_way()` whether the processor is wanted by another thread. While it
// is not, the spin only reads the clock between looks, which paces the loop at tens of
// nanoseconds a look: no yield, which costs a system call (a microsecond or more on a virtual
// machine) even when nobody else wants the processor, and no run of pause instructions either,
// which a hypervisor may take for a spinning lock and answer by descheduling the virtual
// processor. Once it is, the spin pauses for the stretch `give_way()` names, then yields between
// looks, so that a thread waited for that has no processor of its own can run on this one. The
// question is asked at every look because a thread that starts to spin on a quiet machine may be
// joined by others before its budget is spent.
class Backoff {
public:
    using Clock = std::chrono::steady_clock;
    // Nothing while the processor is not wanted; else how long to pause before yielding.
    using GiveWay = std::optional<std::chrono::nanoseconds> (*)() noexcept;

    Backoff(std::chrono::nanoseconds budget, GiveWay give_way) noexcept
        : deadline_(Clock::now() + budget), give_way_(give_way) {}

    bool keep_waiting() noexcept {
        const Clock::time_point now = Clock::now();
        if (now >= deadline_) return false;
        const std::optional<std::chrono::nanoseconds> pausing = give_way_();
        if (!pausing) return true;
        if (pause_until_ == Clock::time_point::min()) pause_until_ = now + *pausing;
        if (now < pause_until_) {
            cpu_relax();
        } else {
            std::this_thread::yield();
        }
        return true;
    }

private:
    Clock::time_point deadline_;
    Clock::time_point pause_until_ = Clock::time_point::min();  // set when giving way begins
    GiveWay give_way_;
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

// Wakes one thread sleeping on `word`, if any. Harmless on memory that its owner has already
// reused, as long as it is still mapped: at worst some sleeper there wakes for no reason.
inline void wake_one(std::atomic<std::uint32_t>& word) noexcept {
#if defined(__linux__)
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#else
    word.notify_one();
#endif
}

}  // namespace quorvane::pool::detail
