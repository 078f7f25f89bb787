#pragma once
// The fork-join engine shared by every kind of batch step.
//
// A step is a class with
//     using Result = ...;                                      // default-constructible
//     Result leaf(std::size_t begin, std::size_t end);         // items [begin, end), in order
//     Result combine(Result&& left, Result&& right);           // adjacent ranges, left first
// and the engine decides how its n items are divided, where each piece runs, and how the
// results come back together. Results are combined in index order, so a step whose leaf and
// combine are deterministic gives the same result for every division of the work.
#include <cstddef>
#include <exception>
#include <utility>

#include "src/pool/job.hpp"
#include "src/pool/thread_pool.hpp"

namespace quorvane::pool::detail {

template <class Step>
using StepResult = typename Step::Result;

template <class Step>
StepResult<Step> run_piece(Step& step, Piece piece, bool moved, WorkerThread& worker);

// The right half of a join, offered to thieves on the deque of the worker that split it.
template <class Step>
struct OfferedHalf : Job {
    OfferedHalf(Step& step_, Piece piece_, bool made_elsewhere_, WorkerThread& pusher_)
        : Job{&OfferedHalf::run_stolen}, step(&step_), piece(piece_),
          made_elsewhere(made_elsewhere_), pusher(&pusher_), done(pusher_) {}

    // Taken by a thief, or by the pusher itself for an older join than the one it is in.
    static void run_stolen(Job& job, WorkerThread& runner) noexcept {
        auto& self = static_cast<OfferedHalf&>(job);
        const bool moved = self.made_elsewhere || &runner != self.pusher;
        self.run_on(runner, moved);
        self.done.set();
    }

    void run_on(WorkerThread& runner, bool moved) noexcept {
        try {
            result = run_piece(*step, piece, moved, runner);
        } catch (...) {
            failure = std::current_exception();
        }
    }

    Step* step;
    Piece piece;
    bool made_elsewhere;  // both halves were split off on another thread than their pusher
    WorkerThread* pusher;
    StepResult<Step> result{};
    std::exception_ptr failure;
    JoinLatch done;
};

// Runs `left` here while `right` is offered to idle workers; returns both results combined.
// An exception from either half is held until both halves have finished, then rethrown (the
// left one first), so no piece of this step is still running when the caller sees the failure.
template <class Step>
StepResult<Step> join_halves(Step& step, Piece left, Piece right, bool made_elsewhere,
                             WorkerThread& worker) {
    OfferedHalf<Step> right_half(step, right, made_elsewhere, worker);
    offer(worker, right_half, right.size());

    StepResult<Step> left_result{};
    std::exception_ptr left_failure;
    try {
        left_result = run_piece(step, left, made_elsewhere, worker);
    } catch (...) {
        left_failure = std::current_exception();
    }

    // Everything pushed while running the left half has been taken back or finished, so the
    // newest task on the deque is our right half, unless a thief has it; thieves take the
    // oldest task first, so once ours is gone the deque is empty.
    if (take_newest(worker) == &right_half) {
        right_half.run_on(worker, made_elsewhere);
    } else {
        run_other_work_until(worker, right_half.done);
    }

    if (left_failure) std::rethrow_exception(left_failure);
    if (right_half.failure) std::rethrow_exception(right_half.failure);
    return step.combine(std::move(left_result), std::move(right_half.result));
}

template <class Step>
StepResult<Step> run_piece(Step& step, Piece piece, bool moved, WorkerThread& worker) {
    if (!should_split(piece, moved, pool_size_of(worker))) return step.leaf(piece.begin, piece.end);
    const std::size_t mid = piece.begin + piece.size() / 2;
    return join_halves(step, Piece{piece.begin, mid, piece.budget}, Piece{mid, piece.end, piece.budget},
                       /*made_elsewhere=*/false, worker);
}

// The two halves of a step submitted from outside the pool, waiting in the shared queue.
template <class Step>
struct InjectedJoin : Job {
    InjectedJoin(Step& step_, Piece left_, Piece right_)
        : Job{&InjectedJoin::run}, step(&step_), left(left_), right(right_) {}

    static void run(Job& job, WorkerThread& runner) noexcept {
        auto& self = static_cast<InjectedJoin&>(job);
        try {
            // The halves were split off on the submitting thread: wherever they run, they moved.
            self.result = join_halves(*self.step, self.left, self.right, /*made_elsewhere=*/true, runner);
        } catch (...) {
            self.failure = std::current_exception();
        }
        self.done.set();
    }

    Step* step;
    Piece left;
    Piece right;
    StepResult<Step> result{};
    std::exception_ptr failure;
    CallerLatch done;
};

// Runs a step over items [0, n). The root piece starts on the calling thread with a budget of
// one split per worker. A worker of this pool runs it in place. Any other thread splits it once
// and hands the join to the pool, then waits until it is done, processing none of the items
// itself: first by a short spin (none for a step long enough that sleeping costs nothing in
// comparison), then, if the step is still running, blocked inside a `Block` scope. A root that does not split (n < 2) runs right here.
template <class Block, class Step>
StepResult<Step> run_step(ThreadPool& pool, Step& step, std::size_t n) {
    const std::size_t worker_count = pool.worker_count();
    Piece root{0, n, worker_count};
    if (WorkerThread* worker = pool.worker_of_this_thread()) return run_piece(step, root, false, *worker);
    if (!should_split(root, /*moved=*/false, worker_count)) return step.leaf(0, n);

    const std::size_t mid = n / 2;
    InjectedJoin<Step> join(step, Piece{0, mid, root.budget}, Piece{mid, n, root.budget});
    pool.inject(join);
    // A short step is over before the caller would have finished letting go of anything.
    if (!join.done.wait_briefly(n)) {
        [[maybe_unused]] Block blocked;
        join.done.wait();
    }
    if (join.failure) std::rethrow_exception(join.failure);
    return std::move(join.result);
}

}  // namespace quorvane::pool::detail
