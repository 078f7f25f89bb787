// The worker threads: their loop, how they find, steal and wait for work, and the process-wide
// pool with its fresh start in a forked child.
#include "src/pool/workers.hpp"

#include "src/pool/lazy_pool.hpp"
#include "src/pool/machine_load.hpp"
#include "src/pool/spin_and_futex.hpp"
#include "src/pool/worker_count.hpp"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane::pool {
namespace detail {
namespace {

// How long an idle worker keeps looking for work before it sleeps: long enough to bridge the
// gap between the steps of a loop of batch calls, so that a step finds a worker awake, short
// enough that a pool left idle stops using the processor at once.
constexpr std::chrono::microseconds worker_spin_budget{50};
// How long a submitting thread waits for its step by spinning before it blocks (and lets its
// Block scope begin): most small steps are done by then, and blocking and being woken again cost
// more than such a step.
constexpr std::chrono::microseconds caller_spin_budget{20};
// A step over at least this many items takes longer than sleeping and being woken, even
// divided among several workers: its caller sleeps at once instead of spinning, which would
// take a processor from the workers on a machine with few of them.
constexpr std::size_t items_worth_a_sleep = std::size_t{1} << 15;
// At most this many idle workers spin at once; the others sleep. One awake worker is enough to
// take the next small step without a wake-up, and every further one would take a processor
// from the threads doing work when the pool has more workers than the machine has cores.
constexpr std::size_t max_spinners = 1;
// A half pushed for thieves wakes a sleeping worker only when it holds at least this many
// items: a smaller one is done by its own worker in less time than a wake-up takes.
constexpr std::size_t items_worth_a_wake = 1024;

thread_local WorkerThread* this_thread_worker = nullptr;

// The threads outside any pool that spin for their steps right now, counted for the whole
// process while each one spins.
std::atomic<std::size_t> callers_spinning{0};

// Counts the calling thread among the spinning callers while it exists.
class WaitingCaller {
public:
    // Relaxed: a hint about how many threads want a processor, guarding no data.
    WaitingCaller() noexcept { callers_spinning.fetch_add(1, std::memory_order_relaxed); }
    ~WaitingCaller() { callers_spinning.fetch_sub(1, std::memory_order_relaxed); }
    WaitingCaller(const WaitingCaller&) = delete;
    WaitingCaller& operator=(const WaitingCaller&) = delete;
};

// How long a spinning thread pauses before it starts to yield, once it gives way. Short where
// other processes want the processors: the thread waited for may share this one, and each pause
// delays it. Longer where only callers of this process crowd them: a yield then mostly hands the
// processor to another caller that has nothing to do either, and a step on a worker that has a
// processor of its own is over within a few microseconds.
constexpr std::chrono::nanoseconds pause_among_other_processes{300};
constexpr std::chrono::nanoseconds pause_among_callers{2000};

// Callers give way when other processes want the processors, and when callers spin on as many
// processors as there are, which leaves none to the workers that run their steps, however quiet
// the rest of the machine is.
std::optional<std::chrono::nanoseconds> caller_gives_way() noexcept {
    if (processors_crowded()) return pause_among_other_processes;
    // Relaxed: a hint, guarding no data.
    if (callers_spinning.load(std::memory_order_relaxed) >= online_processors()) return pause_among_callers;
    return std::nullopt;
}

// Idle workers give way only to other processes, never to callers: a caller waits for a worker,
// so a worker that yields to it hands the processor to a thread that can only look and yield back.
std::optional<std::chrono::nanoseconds> worker_gives_way() noexcept {
    if (processors_crowded()) return pause_among_other_processes;
    return std::nullopt;
}

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
    // Release: the step's result is written before this. A caller that is still spinning sees
    // the latch set and leaves; one that sleeps said so in the word, and is woken. The wake-up
    // call may come after the caller has left and reused the latch's memory (its stack, which
    // stays mapped): futex wake-ups on such an address are harmless.
    if (state_.exchange(done, std::memory_order_release) == sleeping) wake_one(state_);
}

bool CallerLatch::wait_briefly(std::size_t items) noexcept {
    if (items >= items_worth_a_sleep) return is_set();
    const WaitingCaller counted;
    Backoff backoff(caller_spin_budget, &caller_gives_way);
    do {
        if (is_set()) return true;
    } while (backoff.keep_waiting());
    return is_set();
}

void CallerLatch::wait() noexcept {
    std::uint32_t expected = pending;
    // Acquire (also on failure): when the latch was set meanwhile, the result must be visible.
    if (!state_.compare_exchange_strong(expected, sleeping, std::memory_order_acquire, std::memory_order_acquire)) {
        return;
    }
    // Acquire: pairs with set(). The word says `sleeping` until set() replaces it.
    while (state_.load(std::memory_order_acquire) != done) sleep_while_equal(state_, sleeping);
}

// ---- workers -------------------------------------------------------------------------------

WorkerThread::WorkerThread(ThreadPool& pool, PoolCore& core, std::size_t index)
    : pool_(pool), core_(core), index_(index), random_state_(0x9E3779B97F4A7C15ull * (index + 1)) {}

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
        run_until([this] { return core_.stopping.load(std::memory_order_acquire); });
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

void WorkerThread::push(Job& job, std::size_t items) {
    deque_.push(&job);
    // A small piece is not worth a wake-up: this worker will soon run it itself, unless a
    // worker that is awake anyway takes it first.
    if (items >= items_worth_a_wake) core_.announce_work();
}

void WorkerThread::wait_until(const JoinLatch& latch) noexcept {
    try {
        run_until([&latch] { return latch.is_set(); });
    } catch (...) {
        abort_on_machinery_failure();
    }
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

// One stretch of idleness: look for work for a short while if few other workers do, then sleep
// until new work is announced, `done` turns true, or someone unparks this worker. Returns as
// soon as it has run a job or may stop.
template <class Done>
void WorkerThread::idle_once(Done done) {
    IdleWorkers& idle = core_.idle;
    bool spinning = idle.try_start_spinning();
    for (;;) {
        if (spinning) {
            refresh_processor_crowding();
            Backoff backoff(worker_spin_budget, &worker_gives_way);
            Job* job = nullptr;
            bool finished = false;
            do {
                finished = done();
                if (finished || (job = find_work()) != nullptr) break;
            } while (backoff.keep_waiting());
            idle.stop_spinning();
            if (job != nullptr || finished) {
                // A step announced while this worker counted as spinning woke nobody: pass it on.
                if (core_.shared_queue.has_waiting()) core_.announce_work();
                if (job != nullptr) execute(*job);
                return;
            }
        }
        // The epoch is read before the last search, so work announced after the search began is
        // either found by it or changes the epoch, which keeps this worker from sleeping.
        const std::uint64_t seen = idle.work_epoch();
        if (Job* job = find_work()) {
            execute(*job);
            return;
        }
        idle.add_sleeper(index_);
        parker_.park([&] { return !done() && idle.work_epoch() == seen; });
        // Taken off the list by an announcer: woken to look for the work as a spinner.
        spinning = !idle.remove_sleeper(index_);
        if (!spinning) return;
    }
}

// Own newest task first (smallest, in cache), then the oldest of another worker's, then a new step.
Job* WorkerThread::find_work() {
    if (Job* job = deque_.pop()) return job;
    if (Job* job = steal_from_others()) return job;
    return core_.shared_queue.pop();
}

Job* WorkerThread::steal_from_others() {
    const std::size_t count = core_.workers.size();
    if (count < 2) return nullptr;
    bool contended = false;
    do {
        contended = false;
        // A different first victim each time spreads the thieves over the busy workers.
        const std::size_t first = next_random() % count;
        for (std::size_t k = 0; k < count; ++k) {
            WorkerThread& victim = *core_.workers[(first + k) % count];
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

// ---- what the step engine asks of a worker ------------------------------------------------

void offer(WorkerThread& worker, Job& job, std::size_t items) { worker.push(job, items); }

Job* take_newest(WorkerThread& worker) noexcept { return worker.pop(); }

void run_job(WorkerThread& worker, Job& job) noexcept { worker.execute(job); }

void run_other_work_until(WorkerThread& worker, const JoinLatch& latch) noexcept { worker.wait_until(latch); }

std::size_t pool_size_of(const WorkerThread& worker) noexcept { return worker.pool().worker_count(); }

// ---- what a pool owns ----------------------------------------------------------------------

PoolCore::PoolCore(ThreadPool& pool, std::size_t workers, std::size_t max_spinners) : idle(workers, max_spinners) {
    // Every worker exists before any thread starts: each one looks at all the others' deques.
    this->workers.reserve(workers);
    for (std::size_t index = 0; index < workers; ++index) {
        this->workers.push_back(std::make_unique<WorkerThread>(pool, *this, index));
    }
    std::size_t started = 0;
    try {
        for (; started < workers; ++started) this->workers[started]->start();
    } catch (...) {
        stop_workers(started);
        throw;
    }
}

PoolCore::~PoolCore() { stop_workers(workers.size()); }

void PoolCore::stop_workers(std::size_t started) noexcept {
    // Release: pairs with the workers' acquire loads in their loop condition.
    stopping.store(true, std::memory_order_release);
    for (std::size_t index = 0; index < started; ++index) workers[index]->unpark();
    for (std::size_t index = 0; index < started; ++index) workers[index]->join();
}

void PoolCore::announce_work() noexcept {
    if (const auto sleeper = idle.announce_work()) workers[*sleeper]->unpark();
}

}  // namespace detail

// ---- the pool ------------------------------------------------------------------------------

ThreadPool::ThreadPool(std::size_t workers) : worker_count_(workers), core_(nullptr) {
    if (workers == 0) throw std::invalid_argument("a thread pool needs at least one worker");
    core_ = new detail::PoolCore(*this, workers, detail::max_spinners);
}

ThreadPool::~ThreadPool() { delete core_; }

detail::WorkerThread* ThreadPool::worker_of_this_thread() const noexcept {
    detail::WorkerThread* worker = detail::current_worker_thread();
    return worker != nullptr && &worker->pool() == this ? worker : nullptr;
}

void ThreadPool::inject(detail::Job& job) {
    // Only the push can throw, and only before the job is in the queue.
    core_->shared_queue.push(job);
    core_->announce_work();
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
