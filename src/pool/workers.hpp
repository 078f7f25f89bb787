#pragma once
// The threads of a pool and the queues between them. The step engine (step_engine.hpp) puts
// tasks in; this part moves them to idle workers and runs them. Only the pool's own units and
// its tests include this header.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "src/pool/idle_workers.hpp"
#include "src/pool/job.hpp"
#include "src/pool/thread_pool.hpp"
#include "src/pool/work_deque.hpp"

namespace quorvane::pool::detail {

// Where threads outside the pool leave their steps. Steps arrive rarely (one per batch call),
// so a mutex is cheap here; the counter lets idle workers skip the lock when there is nothing.
class SharedQueue {
public:
    void push(Job& job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(&job);
        // Seq_cst: an idle worker that sees the count also sees the queued job (with the lock),
        // and a spinner that stops spinning after this sees it in has_waiting().
        waiting_.fetch_add(1, std::memory_order_seq_cst);
    }

    bool has_waiting() const noexcept {
        // Seq_cst: the spinner's half of a store-load pair with push() and the announcement.
        return waiting_.load(std::memory_order_seq_cst) != 0;
    }

    Job* pop() {
        // Acquire: pairs with push(); an announced job is always counted before it is announced.
        if (waiting_.load(std::memory_order_acquire) == 0) return nullptr;
        std::lock_guard lock(mutex_);
        if (jobs_.empty()) return nullptr;
        Job* job = jobs_.front();
        jobs_.pop_front();
        // Relaxed: the count is only a hint; the queue itself is guarded by the mutex.
        waiting_.fetch_sub(1, std::memory_order_relaxed);
        return job;
    }

private:
    std::atomic<std::size_t> waiting_{0};
    std::mutex mutex_;
    std::deque<Job*> jobs_;  // guarded by mutex_
};

class WorkerThread {
public:
    WorkerThread(ThreadPool& pool, PoolCore& core, std::size_t index);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    ThreadPool& pool() const noexcept { return pool_; }

    // Offers a task of `items` items to idle workers; the caller will try to take it back with
    // pop(). Throws only when the deque cannot grow, before the task is visible.
    void push(Job& job, std::size_t items);
    Job* pop() noexcept { return deque_.pop(); }
    // Runs a job here. Jobs catch what their items throw; anything else aborts the process.
    void execute(Job& job) noexcept;
    // Runs whatever other work there is (sleeping when there is none) until `latch` is set.
    void wait_until(const JoinLatch& latch) noexcept;
    void unpark() noexcept { parker_.unpark(); }

    void start();
    void join();

private:
    void main() noexcept;
    template <class Done>
    void run_until(Done done);
    template <class Done>
    void idle_once(Done done);
    Job* find_work();
    Job* steal_from_others();
    std::size_t next_random() noexcept;

    ThreadPool& pool_;
    PoolCore& core_;
    const std::size_t index_;
    WorkDeque<Job*> deque_;
    Parker parker_;
    std::uint64_t random_state_;  // this worker's own, for choosing where to steal first
    std::thread thread_;
};

// The worker the calling thread is, in whichever pool, or nullptr for any other thread.
WorkerThread* current_worker_thread() noexcept;

// What a ThreadPool owns: its workers and the places where they find work.
class PoolCore {
public:
    // Starts every worker; if the system refuses one, stops those already started and throws.
    PoolCore(ThreadPool& pool, std::size_t workers, std::size_t max_spinners);
    ~PoolCore();
    PoolCore(const PoolCore&) = delete;
    PoolCore& operator=(const PoolCore&) = delete;

    // Called once new work is visible: wakes a sleeping worker unless one is looking already.
    // Never throws, since the work announced may be a job on its caller's stack that a worker
    // can already be running.
    void announce_work() noexcept;

    std::vector<std::unique_ptr<WorkerThread>> workers;
    SharedQueue shared_queue;
    IdleWorkers idle;
    std::atomic<bool> stopping{false};

private:
    void stop_workers(std::size_t started) noexcept;
};

}  // namespace quorvane::pool::detail
