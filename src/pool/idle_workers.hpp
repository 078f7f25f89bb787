#pragma once
// How idle workers look for work, sleep and wake.
//
// An idle worker first spins for a short while, looking for work, before it sleeps; at most a
// few workers spin at any time (the spinners), so that a pool with more workers than cores does
// not keep every core busy looking. New work is announced through IdleWorkers: a counter of
// announcements (the work epoch), the number of spinners and the list of sleeping workers. An
// announcement wakes a sleeper only when no worker is spinning, since a spinner will find the
// work without a system call; the sleeper it wakes becomes a spinner.
//
// The rules that keep work from being stranded:
// - a worker reads the epoch before its last search for work and sleeps only while the epoch is
//   unchanged, so an announcement made after that read is never missed and one made before it
//   is found by the search;
// - a spinner that stops spinning without work goes through that same last search before it
//   sleeps, so an announcement that saw it spinning is found either way;
// - only a thread that will search counts as a spinner: a sleeper woken to spin is counted by
//   whoever wakes it, and nobody else.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "src/pool/spin_and_futex.hpp"

namespace quorvane::pool::detail {

// One worker's bed: park() sleeps until unpark() is called from another thread.
class Parker {
public:
    // Sleeps while `still_idle()` holds and no unpark() has come since the last park.
    template <class StillIdle>
    void park(StillIdle still_idle) {
        // Acquire: an unpark that came first hands over what its caller wrote before it.
        if (state_.exchange(parked, std::memory_order_acquire) != notified) {
            // Checked once the state says parked: an unpark from now on sees it and wakes us.
            while (still_idle()) {
                sleep_while_equal(state_, parked);
                // Acquire: pairs with the release exchange of unpark().
                if (state_.load(std::memory_order_acquire) == notified) break;
            }
        }
        // Relaxed: only this thread parks; a notification arriving now is one we no longer need,
        // since the caller looks at everything again on its way back.
        state_.store(empty, std::memory_order_relaxed);
    }

    void unpark() noexcept {
        // Release: the sleeper sees what was done before it was woken.
        if (state_.exchange(notified, std::memory_order_release) == parked) wake_one(state_);
    }

private:
    static constexpr std::uint32_t empty = 0;
    static constexpr std::uint32_t parked = 1;
    static constexpr std::uint32_t notified = 2;

    std::atomic<std::uint32_t> state_{empty};
};

class IdleWorkers {
public:
    IdleWorkers(std::size_t worker_count, std::size_t max_spinners) : max_spinners_(max_spinners) {
        sleeping_.reserve(worker_count);
    }

    std::uint64_t work_epoch() const noexcept {
        // Seq_cst: the sleeper's half of a store-load pair with announce_work(); a sleeper that
        // listed itself (or stopped spinning) and then sees an old epoch is certain to be seen by
        // the announcer.
        return epoch_.load(std::memory_order_seq_cst);
    }

    // Called after new work was made visible. Returns a sleeping worker to wake, if no worker is
    // spinning; it is taken off the list and counted as a spinner already.
    // Never throws: it runs after a job the announcer owns was made visible to the workers.
    std::optional<std::size_t> announce_work() noexcept {
        // Seq_cst increment, then seq_cst loads: either this announcer sees a spinner or a sleeper
        // that has just stopped spinning or listed itself, or that worker sees the new epoch.
        epoch_.fetch_add(1, std::memory_order_seq_cst);
        if (spinning_.load(std::memory_order_seq_cst) != 0) return std::nullopt;
        if (sleeping_count_.load(std::memory_order_seq_cst) == 0) return std::nullopt;
        const std::lock_guard lock(mutex_);  // a failing lock ends the process (noexcept)
        if (sleeping_.empty() || spinning_.load(std::memory_order_seq_cst) != 0) return std::nullopt;
        const std::size_t index = sleeping_.back();
        sleeping_.pop_back();
        publish_count();
        // Seq_cst: like every change of the spinner count; the woken worker will search.
        spinning_.fetch_add(1, std::memory_order_seq_cst);
        return index;
    }

    // A worker that has run out of work asks to spin; false when enough others already do.
    bool try_start_spinning() noexcept {
        // Relaxed first look: the compare-exchange below decides.
        std::size_t spinners = spinning_.load(std::memory_order_relaxed);
        while (spinners < max_spinners_) {
            // Seq_cst: the spinner count is part of the store-load pairs described above.
            if (spinning_.compare_exchange_weak(spinners, spinners + 1, std::memory_order_seq_cst,
                                                std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }

    void stop_spinning() noexcept {
        // Seq_cst: the spinner's half of the store-load pair with announce_work().
        spinning_.fetch_sub(1, std::memory_order_seq_cst);
    }

    void add_sleeper(std::size_t index) {
        std::lock_guard lock(mutex_);
        sleeping_.push_back(index);
        publish_count();
    }

    // False when an announcer had already taken the worker off the list: it was woken to spin.
    bool remove_sleeper(std::size_t index) {
        std::lock_guard lock(mutex_);
        const auto listed = std::find(sleeping_.begin(), sleeping_.end(), index);
        if (listed == sleeping_.end()) return false;
        sleeping_.erase(listed);
        publish_count();
        return true;
    }

private:
    void publish_count() {
        // Seq_cst: the other half of the store-load pair in announce_work().
        sleeping_count_.store(sleeping_.size(), std::memory_order_seq_cst);
    }

    const std::size_t max_spinners_;
    std::atomic<std::uint64_t> epoch_{0};
    std::atomic<std::size_t> spinning_{0};
    std::atomic<std::size_t> sleeping_count_{0};
    std::mutex mutex_;
    std::vector<std::size_t> sleeping_;  // guarded by mutex_
};

}  // namespace quorvane::pool::detail
