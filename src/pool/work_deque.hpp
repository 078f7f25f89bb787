#pragma once
// The per-worker queue of pending tasks: a growable work-stealing deque in the manner of
// Chase and Lev, with the memory orders of Lê, Pop, Cohen and Zappa Nardelli (PPoPP 2013).
//
// One thread owns the deque and pushes and pops at the bottom, so it takes back the newest
// task first (the smallest piece, still warm in its cache). Any other thread may steal from
// the top, where the oldest and largest pieces wait. Only the last remaining task is contended,
// and a compare-and-swap on `top` settles who gets it.
//
// Two deliberate departures from the paper:
// - where it puts a seq_cst fence between a store and a load, both of those accesses are seq_cst
//   themselves, which gives the same store-load ordering without a standalone fence (that
//   ThreadSanitizer does not model);
// - where it uses relaxed stores of `bottom`, we use release stores, so that every value of
//   `bottom` a thief can read carries the owner's earlier writes with it, and the sanitizer sees
//   the same happens-before edges the hardware provides.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace quorvane::pool::detail {

// Top and bottom each get a cache line of their own: thieves hammer `top`, the owner `bottom`.
inline constexpr std::size_t cache_line_size = 64;

template <class T>
class WorkDeque {
    static_assert(std::is_pointer_v<T>, "the deque holds pointers to tasks, empty is nullptr");

public:
    enum class StealStatus { empty, lost_race, taken };
    struct StealResult {
        StealStatus status;
        T item;
    };

    explicit WorkDeque(std::size_t initial_capacity = 64) {
        // Relaxed: the deque is not shared yet; the thread start that shares it synchronises.
        buffer_.store(adopt(std::make_unique<Ring>(round_up_to_power_of_two(initial_capacity))),
                      std::memory_order_relaxed);
    }

    WorkDeque(const WorkDeque&) = delete;
    WorkDeque& operator=(const WorkDeque&) = delete;

    // Owner only.
    void push(T item) {
        // Relaxed: only the owner writes `bottom`, so it reads its own latest value.
        const std::int64_t bottom = bottom_.load(std::memory_order_relaxed);
        // Acquire: pairs with a thief's successful CAS, so a slot it has read may be reused.
        const std::int64_t top = top_.load(std::memory_order_acquire);
        // Relaxed: only the owner replaces the ring.
        Ring* ring = buffer_.load(std::memory_order_relaxed);
        if (bottom - top >= static_cast<std::int64_t>(ring->capacity())) ring = grow(ring, top, bottom);
        ring->store(bottom, item);
        // Release: a thief that reads the new bottom also sees the slot and the task behind it.
        bottom_.store(bottom + 1, std::memory_order_release);
    }

    // Owner only. Returns the newest task, or nullptr when empty or a thief took the last one.
    T pop() noexcept {
        const std::int64_t bottom = bottom_.load(std::memory_order_relaxed) - 1;
        Ring* ring = buffer_.load(std::memory_order_relaxed);
        // Seq_cst store then seq_cst load of `top`: the claim on slot `bottom` must be visible
        // to thieves before we look at how far they have got (the paper's full fence).
        bottom_.store(bottom, std::memory_order_seq_cst);
        std::int64_t top = top_.load(std::memory_order_seq_cst);
        if (top > bottom) {
            // Already empty: undo the claim. Release keeps every bottom value a publishing one.
            bottom_.store(bottom + 1, std::memory_order_release);
            return nullptr;
        }
        T item = ring->load(bottom);
        if (top == bottom) {
            // The last task: a thief may be reaching for it too; whoever moves `top` wins.
            // Seq_cst: orders against the thieves' CAS on the same word and their bottom load.
            if (!top_.compare_exchange_strong(top, top + 1, std::memory_order_seq_cst,
                                              std::memory_order_relaxed)) {
                item = nullptr;
            }
            bottom_.store(bottom + 1, std::memory_order_release);
        }
        return item;
    }

    // Any thread.
    StealResult steal() noexcept {
        // Seq_cst load of `top` then of `bottom`: the thief's half of the owner's store-load
        // ordering in pop(), so that the two never both believe they own the last task.
        std::int64_t top = top_.load(std::memory_order_seq_cst);
        const std::int64_t bottom = bottom_.load(std::memory_order_seq_cst);
        if (top >= bottom) return {StealStatus::empty, nullptr};
        // Acquire, and after `bottom`: a ring grown before that bottom was published holds the
        // slot; an older ring is kept alive and still holds the task if it is still unclaimed.
        Ring* ring = buffer_.load(std::memory_order_acquire);
        T item = ring->load(top);
        // Seq_cst: the claim competes with other thieves and with the owner's pop of the last
        // task. On failure the slot may already be reused; the value read is discarded.
        if (!top_.compare_exchange_strong(top, top + 1, std::memory_order_seq_cst,
                                          std::memory_order_relaxed)) {
            return {StealStatus::lost_race, nullptr};
        }
        return {StealStatus::taken, item};
    }

private:
    // A power-of-two ring of atomic slots: a thief may read a slot while the owner refills it
    // after the thief has lost its race, which must not be a data race.
    class Ring {
    public:
        explicit Ring(std::size_t capacity)
            : mask_(capacity - 1), slots_(std::make_unique<std::atomic<T>[]>(capacity)) {}
        std::size_t capacity() const noexcept { return mask_ + 1; }
        // Relaxed: the slot is published by the release store of `bottom` that follows.
        void store(std::int64_t index, T item) noexcept {
            slots_[static_cast<std::size_t>(index) & mask_].store(item, std::memory_order_relaxed);
        }
        // Relaxed: the reader already synchronised with the owner through `bottom`.
        T load(std::int64_t index) const noexcept {
            return slots_[static_cast<std::size_t>(index) & mask_].load(std::memory_order_relaxed);
        }

    private:
        std::size_t mask_;
        std::unique_ptr<std::atomic<T>[]> slots_;
    };

    static std::size_t round_up_to_power_of_two(std::size_t n) {
        std::size_t capacity = 2;
        while (capacity < n) capacity *= 2;
        return capacity;
    }

    Ring* adopt(std::unique_ptr<Ring> ring) {
        rings_.push_back(std::move(ring));
        return rings_.back().get();
    }

    // Owner only. The old ring stays alive until the deque dies: a thief may still be reading it.
    Ring* grow(Ring* old, std::int64_t top, std::int64_t bottom) {
        Ring* bigger = adopt(std::make_unique<Ring>(old->capacity() * 2));
        for (std::int64_t i = top; i < bottom; ++i) bigger->store(i, old->load(i));
        // Release: a thief that loads this ring also sees the tasks copied into it.
        buffer_.store(bigger, std::memory_order_release);
        return bigger;
    }

    alignas(cache_line_size) std::atomic<std::int64_t> top_{0};
    alignas(cache_line_size) std::atomic<std::int64_t> bottom_{0};
    alignas(cache_line_size) std::atomic<Ring*> buffer_{nullptr};
    std::vector<std::unique_ptr<Ring>> rings_;  // owner only: every ring ever used, newest last
};

}  // namespace quorvane::pool::detail
