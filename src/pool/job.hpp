#pragma once
// What the pool's queues carry and how its threads tell each other that work is done.
//
// A job is a plain struct that starts with a function pointer; the step engine embeds it at the
// front of its own task records (a range of one step plus the slot for its result), so nothing
// is allocated per piece and no std::function is involved.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quorvane::pool::detail {

class WorkerThread;

struct Job {
    // Runs the job on `runner`. Must not throw: the task records catch what their items throw.
    using Execute = void (*)(Job& job, WorkerThread& runner);
    Execute execute;
};

// A contiguous run of one step's items, [begin, end) in the step's own numbering, and how many
// more times it may still be halved without having been stolen.
struct Piece {
    std::size_t begin;
    std::size_t end;
    std::size_t budget;

    std::size_t size() const noexcept { return end - begin; }
};

// The splitting rule. A piece is halved only if each half gets at least one item and the budget
// allows it. A piece that has moved to another thread than the one that made it shows that some
// worker ran out of work: its budget is refreshed to at least the worker count, so the thief can
// spread it further. Otherwise each split uses up half of the budget. Updates `piece.budget`.
inline bool should_split(Piece& piece, bool moved, std::size_t worker_count) noexcept {
    if (piece.size() / 2 < 1) return false;
    if (moved) {
        piece.budget = piece.budget / 2 > worker_count ? piece.budget / 2 : worker_count;
        return true;
    }
    if (piece.budget == 0) return false;
    piece.budget /= 2;
    return true;
}

// Set once by whoever finishes a stolen half; the worker that pushed it waits for it while it
// keeps running other work, and is woken from its sleep when the latch is set.
class JoinLatch {
public:
    explicit JoinLatch(WorkerThread& waiter) noexcept : waiter_(&waiter) {}
    JoinLatch(const JoinLatch&) = delete;
    JoinLatch& operator=(const JoinLatch&) = delete;

    bool is_set() const noexcept {
        // Acquire: pairs with set(), so the finished half's result is visible to the waiter.
        return set_.load(std::memory_order_acquire);
    }
    // After this returns the latch may already be gone: the waiter is free to leave.
    void set() noexcept;

private:
    std::atomic<bool> set_{false};
    WorkerThread* waiter_;
};

// The completion signal of a step submitted by a thread outside the pool. The caller spins on
// it while that is cheaper than sleeping, then sleeps on the latch's own word (a futex), which
// the setter wakes only when the caller has said that it sleeps.
class CallerLatch {
public:
    CallerLatch() = default;
    CallerLatch(const CallerLatch&) = delete;
    CallerLatch& operator=(const CallerLatch&) = delete;

    void set() noexcept;
    bool is_set() const noexcept {
        // Acquire: pairs with set(), so the step's result is visible to the caller.
        return state_.load(std::memory_order_acquire) == done;
    }
    // Spins for a short, bounded time, shorter or none when the step is long or the processors
    // are crowded; true if the latch was set meanwhile. `items` is the size of the step.
    bool wait_briefly(std::size_t items) noexcept;
    // Sleeps until set; once it returns, set() no longer touches the latch's memory except for a
    // wake-up call on its address, which is harmless once the latch is gone.
    void wait() noexcept;

private:
    static constexpr std::uint32_t pending = 0;
    static constexpr std::uint32_t sleeping = 1;  // the caller sleeps, or is about to
    static constexpr std::uint32_t done = 2;

    std::atomic<std::uint32_t> state_{pending};
};

// ---- what the step engine asks of a worker (defined with the workers) ----------------------

// Offers a task of `items` items to idle workers, on this worker's deque; it may wake one. Only
// the push can fail (std::bad_alloc when the deque grows), before anyone can see the task.
void offer(WorkerThread& worker, Job& job, std::size_t items);
// The newest task on this worker's deque, or nullptr.
Job* take_newest(WorkerThread& worker) noexcept;
// Runs a job on this worker. Jobs catch what their items throw; anything else aborts.
void run_job(WorkerThread& worker, Job& job) noexcept;
// Runs whatever other work there is (sleeping when there is none) until `latch` is set.
void run_other_work_until(WorkerThread& worker, const JoinLatch& latch) noexcept;
// The number of workers in this worker's pool.
std::size_t pool_size_of(const WorkerThread& worker) noexcept;

}  // namespace quorvane::pool::detail
