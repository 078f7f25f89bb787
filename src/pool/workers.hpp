#pragma once
// The threads of a pool and the queues between them. The step engine (pool_join.hpp) puts
// tasks in; this part moves them to idle workers and runs them.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "src/vec_list/pool_job.hpp"
#include "src/vec_list/pool_sleep.hpp"
#include "src/vec_list/work_deque.hpp"

namespace quorvane::pool {

class ThreadPool;

namespace detail {

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
    WorkerThread(ThreadPool& pool, std::size_t index);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    ThreadPool& pool() const noexcept { return pool_; }

    // Offers a task of `items` items to idle workers; the caller will try to take it back with pop().
    void push(Job& job, std::size_t items);
    Job* pop() noexcept { return deque_.pop(); }
    // Runs a job here. Jobs catch what their items throw; anything else aborts the process.
    void execute(Job& job) noexcept;
    // Runs whatever other work there is (sleeping when there is none) until `latch` is set.
    void wait_until(const JoinLatch& latch);
    void unpark() { parker_.unpark(); }

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
    const std::size_t index_;
    WorkDeque<Job*> deque_;
    Parker parker_;
    std::uint64_t random_state_;  // this worker's own, for choosing where to steal first
    std::thread thread_;
};

// The worker the calling thread is, in whichever pool, or nullptr for any other thread.
WorkerThread* current_worker_thread() noexcept;

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
    detail::WorkerThread* worker_of_this_thread() const noexcept {
        detail::WorkerThread* worker = detail::current_worker_thread();
        return worker != nullptr && &worker->pool() == this ? worker : nullptr;
    }
    // For the step engine: queues a job from a thread outside the pool and wakes a worker.
    void inject(detail::Job& job);

private:
    friend class detail::WorkerThread;

    void announce_work();
    void stop_workers(std::size_t started) noexcept;

    const std::size_t worker_count_;
    std::vector<std::unique_ptr<detail::WorkerThread>> workers_;
    detail::SharedQueue shared_queue_;
    detail::IdleWorkers idle_;
    std::atomic<bool> stopping_{false};
};

}  // namespace quorvane::pool
