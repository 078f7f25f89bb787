// The worker threads: their loop, how they find, steal and wait for work, and the process-wide
// pool with its fresh start in a forked child.
#include "src/vec_list/pool.hpp"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace quorvane::pool {
namespace detail {
namespace {

// Rounds of looking for work, with a yield of the processor between them, before an idle worker
// goes to sleep: long enough to bridge the gap between the steps of one batch call, short
// enough not to keep a processor busy for nothing.
constexpr int worker_spin_rounds = 64;
// Rounds a submitting thread checks for completion before it sleeps: most short steps are done
// by then, and waking a sleeping caller costs more than the whole step.
constexpr int caller_spin_rounds = 128;

thread_local WorkerThread* this_thread_worker = nullptr;

// A failure of the pool's own machinery, outside any item: there is nobody to report it to.
[[noreturn]] void abort_on_machinery_failure() noexcept {
    static constexpr char message[] = "Rayon: detected unexpected panic; aborting\n";
    // write(2), not stdio: nothing here may allocate or take a lock the failure might hold.
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message, sizeof message - 1);
    std::abort();
}

}  // namespace

WorkerThread* current_worker_thread() noexcept { return this_thread_worker; }

// ---- latches -------------------------------------------------------------------------------

void JoinLatch::set() noexcept {
    // Read before the store: once the latch is set, its owner may leave and destroy it.
    WorkerThread* waiter = waiter_;
    // Release: pairs with is_set(); the finished half's result is written before this.
    set_.store(true, std::memory_order_release);
    // The waiter may be asleep for want of other work; the worker itself outlives the latch.
    waiter->unpark();
}

void CallerLatch::set() noexcept {
    // The store and the notification both under the mutex: wait() returns only after it could
    // take the mutex once the flag was set, so the waiter never destroys a latch still in use.
    std::lock_guard lock(mutex_);
    // Release: pairs with the acquire loads in wait(); the step's result is written before this.
    set_.store(true, std::memory_order_release);
    woken_.notify_one();
}

void CallerLatch::wait() noexcept {
    for (int round = 0; round < caller_spin_rounds; ++round) {
        // Acquire: pairs with set().
        if (set_.load(std::memory_order_acquire)) {
            const std::lock_guard wait_for_setter_to_leave(mutex_);
            return;
        }
        std::this_thread::yield();
    }
    std::unique_lock lock(mutex_);
    // Acquire: pairs with set(); the mutex alone would do, the atomic needs an order anyway.
    while (!set_.load(std::memory_order_acquire)) woken_.wait(lock);
}

// ---- workers -------------------------------------------------------------------------------

WorkerThread::WorkerThread(ThreadPool& pool, std::size_t index)
    : pool_(pool), index_(index), random_state_(0x9E3779B97F4A7C15ull * (index + 1)) {}

void WorkerThread::start() {
    thread_ = std::thread([this] { main(); });
}

void WorkerThread::join() {
    if (thread_.joinable()) thread_.join();
}

void WorkerThread::main() noexcept {
    try {
        this_thread_worker = this;
        const std::string name = "quorvane-" + std::to_string(index_);
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        // Acquire: pairs with stop_workers(); nothing is read after it, it only ends the loop.
        run_until([this] { return pool_.stopping_.load(std::memory_order_acquire); });
    } catch (...) {
        abort_on_machinery_failure();
    }
}

void WorkerThread::execute(Job& job) noexcept {
    try {
        job.execute(job, *this);
    } catch (...) {
        abort_on_machinery_failure();
    }
}

void WorkerThread::push(Job& job) {
    deque_.push(&job);
    pool_.announce_work();
}

void WorkerThread::wait_until(const JoinLatch& latch) {
    run_until([&latch] { return latch.is_set(); });
}

template <class Done>
void WorkerThread::run_until(Done done) {
    while (!done()) {
        if (Job* job = find_work()) {
            execute(*job);
        } else {
            idle_once(done);
        }
    }
}

// One stretch of idleness: spin a little, then sleep until new work is announced, `done` turns
// true, or someone unparks this worker. Returns as soon as it has run a job or may stop.
template <class Done>
void WorkerThread::idle_once(Done done) {
    for (int round = 0; round < worker_spin_rounds; ++round) {
        std::this_thread::yield();
        if (done()) return;
        if (Job* job = find_work()) {
            execute(*job);
            return;
        }
    }
    // The epoch is read before the last search, so work announced after the search began is
    // either found by it or changes the epoch, which keeps this worker from sleeping.
    const std::uint64_t seen = pool_.idle_.work_epoch();
    if (Job* job = find_work()) {
        execute(*job);
        return;
    }
    pool_.idle_.add_sleeper(index_);
    parker_.park([&] { return !done() && pool_.idle_.work_epoch() == seen; });
    pool_.idle_.remove_sleeper(index_);
}

// Own newest task first (smallest, in cache), then the oldest of another worker's, then a new step.
Job* WorkerThread::find_work() {
    if (Job* job = deque_.pop()) return job;
    if (Job* job = steal_from_others()) return job;
    return pool_.shared_queue_.pop();
}

Job* WorkerThread::steal_from_others() {
    const std::size_t count = pool_.workers_.size();
    if (count < 2) return nullptr;
    bool contended = false;
    do {
        contended = false;
        // A different first victim each time spreads the thieves over the busy workers.
        const std::size_t first = next_random() % count;
        for (std::size_t k = 0; k < count; ++k) {
            WorkerThread& victim = *pool_.workers_[(first + k) % count];
            if (&victim == this) continue;
            const auto [status, job] = victim.deque_.steal();
            if (status == WorkDeque<Job*>::StealStatus::taken) return job;
            contended = contended || status == WorkDeque<Job*>::StealStatus::lost_race;
        }
        // Losing a race means there was work; look again rather than go to sleep.
    } while (contended);
    return nullptr;
}

std::size_t WorkerThread::next_random() noexcept {
    // xorshift64: cheap, and good enough to choose a victim.
    random_state_ ^= random_state_ << 13;
    random_state_ ^= random_state_ >> 7;
    random_state_ ^= random_state_ << 17;
    return static_cast<std::size_t>(random_state_);
}

}  // namespace detail

// ---- the pool ------------------------------------------------------------------------------

ThreadPool::ThreadPool(std::size_t workers) : worker_count_(workers), idle_(workers) {
    if (workers == 0) throw std::invalid_argument("a thread pool needs at least one worker");
    // Every worker exists before any thread starts: each one looks at all the others' deques.
    workers_.reserve(workers);
    for (std::size_t index = 0; index < workers; ++index) {
        workers_.push_back(std::make_unique<detail::WorkerThread>(*this, index));
    }
    std::size_t started = 0;
    try {
        for (; started < workers; ++started) workers_[started]->start();
    } catch (...) {
        stop_workers(started);
        throw;
    }
}

ThreadPool::~ThreadPool() { stop_workers(workers_.size()); }

void ThreadPool::stop_workers(std::size_t started) noexcept {
    // Release: pairs with the workers' acquire loads in their loop condition.
    stopping_.store(true, std::memory_order_release);
    for (std::size_t index = 0; index < started; ++index) workers_[index]->unpark();
    for (std::size_t index = 0; index < started; ++index) workers_[index]->join();
}

void ThreadPool::inject(detail::Job& job) {
    shared_queue_.push(job);
    announce_work();
}

void ThreadPool::announce_work() {
    if (const auto sleeper = idle_.announce_work()) workers_[*sleeper]->unpark();
}

// ---- the process-wide pool -----------------------------------------------------------------

namespace {

std::unique_ptr<ThreadPool> make_process_pool() {
    // The environment is read here, once; later changes to it have no effect on this process.
    const std::size_t workers = decide_worker_count(std::getenv("RAYON_NUM_THREADS"),
                                                    std::getenv("RAYON_RS_NUM_CPUS"), detect_available_cpus());
    return std::make_unique<ThreadPool>(workers);
}

// The cell lives in static storage that is never destroyed: the pool must outlive every step,
// including those still running while the process exits.
alignas(detail::LazyPool) unsigned char process_cell_storage[sizeof(detail::LazyPool)];
std::once_flag process_cell_made;

detail::LazyPool& process_cell() noexcept {
    return *std::launder(reinterpret_cast<detail::LazyPool*>(process_cell_storage));
}

// In a child made by fork() only the forking thread exists: the inherited pool has no workers
// and its locks may be held forever. The child starts over with a fresh cell, deliberately
// abandoning the old one (destroying it would wait for threads that are not there).
void start_afresh_in_forked_child() noexcept {
    detail::this_thread_worker = nullptr;
    ::new (process_cell_storage) detail::LazyPool(&make_process_pool);
}

}  // namespace

ThreadPool& global_pool() {
    std::call_once(process_cell_made, [] {
        ::new (process_cell_storage) detail::LazyPool(&make_process_pool);
        if (const int error = pthread_atfork(nullptr, nullptr, &start_afresh_in_forked_child); error != 0) {
            throw PoolUnavailable(std::string("pthread_atfork: ") + std::strerror(error));
        }
    });
    return process_cell().get();
}

}  // namespace quorvane::pool
