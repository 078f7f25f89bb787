#pragma once
// How idle workers sleep and how new work wakes one of them.
//
// Each worker sleeps on a Parker of its own, so that a finished join can wake exactly the worker
// waiting for it. New work is announced through IdleWorkers: a counter of announcements (the
// work epoch) and the list of workers that have gone to sleep. A worker reads the epoch before
// its last search for work and sleeps only while the epoch is unchanged, so an announcement made
// after that read is never missed; one made before it is found by the search.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvane::pool::detail {

class Parker {
public:
    // Sleeps while `still_idle()` holds and no unpark() has come since the last park.
    template <class StillIdle>
    void park(StillIdle still_idle) {
        std::unique_lock lock(mutex_);
        while (!wake_requested_ && still_idle()) woken_.wait(lock);
        wake_requested_ = false;
    }

    void unpark() {
        {
            std::lock_guard lock(mutex_);
            wake_requested_ = true;
        }
        woken_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wake_requested_ = false;  // guarded by mutex_
};

class IdleWorkers {
public:
    explicit IdleWorkers(std::size_t worker_count) { sleeping_.reserve(worker_count); }

    std::uint64_t work_epoch() const noexcept {
        // Seq_cst: the sleeper's half of a store-load pair with announce_work(); a sleeper that
        // listed itself and then sees an old epoch is certain to be seen by the announcer.
        return epoch_.load(std::memory_order_seq_cst);
    }

    // Called after new work was made visible. Returns a sleeping worker to wake, if any, and
    // takes it off the list so that two announcements wake two different workers.
    std::optional<std::size_t> announce_work() {
        // Seq_cst increment, then seq_cst load of the count: either this announcer sees a sleeper
        // that has just listed itself, or that sleeper sees the new epoch and stays awake.
        epoch_.fetch_add(1, std::memory_order_seq_cst);
        if (sleeping_count_.load(std::memory_order_seq_cst) == 0) return std::nullopt;
        std::lock_guard lock(mutex_);
        if (sleeping_.empty()) return std::nullopt;
        const std::size_t index = sleeping_.back();
        sleeping_.pop_back();
        publish_count();
        return index;
    }

    void add_sleeper(std::size_t index) {
        std::lock_guard lock(mutex_);
        sleeping_.push_back(index);
        publish_count();
    }

    void remove_sleeper(std::size_t index) {
        std::lock_guard lock(mutex_);
        // Absent when an announcer already took it off the list to wake it.
        const auto listed = std::find(sleeping_.begin(), sleeping_.end(), index);
        if (listed != sleeping_.end()) sleeping_.erase(listed);
        publish_count();
    }

private:
    void publish_count() {
        // Seq_cst: the other half of the store-load pair in announce_work().
        sleeping_count_.store(sleeping_.size(), std::memory_order_seq_cst);
    }

    std::atomic<std::uint64_t> epoch_{0};
    std::atomic<std::size_t> sleeping_count_{0};
    std::mutex mutex_;
    std::vector<std::size_t> sleeping_;  // guarded by mutex_
};

}  // namespace quorvane::pool::detail
