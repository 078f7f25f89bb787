#pragma once
// The borrows each thread holds, listed where a forked child can find them.
//
// A thread may hold a borrow for a long time: across a batch step it waits for detached, across
// a Python callback made while converting an argument (an `__index__` that sleeps), across a wait
// for a class's one-time creation. If another thread forks then, the child gets the borrow flags
// as they were, but not the thread that would release them: the objects would stay busy in the
// child for good. So every thread's table of borrows is on one process-wide list, and a forked
// child resets every flag named in the tables of the threads it did not inherit. The objects then
// hold what they held before, since steps write their results into fresh arrays and callbacks
// run before a mutation begins.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quorvane::frame {

class BorrowFlag;

enum class BorrowKind : std::uint8_t { shared, exclusive };

struct HeldBorrow {
    BorrowFlag* flag;
    BorrowKind kind;
};

// The borrows of one thread, innermost last. Calls nest only through Python callbacks, so a few
// entries suffice; a borrow beyond them is counted, not recorded, and only that one would stay
// taken in a forked child.
//
// An entry is noted before its flag is taken and forgotten after the flag is given back, so at
// any instruction a fork may land on, every flag the thread holds is listed (an entry listed but
// not held is harmless: the child resets the flag to what its own thread holds).
class ThreadBorrows {
public:
    static constexpr std::size_t capacity = 8;

    void note_taken(BorrowFlag* flag, BorrowKind kind) noexcept {
        if (!listed_) enlist();
        if (count_ < capacity) {
            entries_[count_] = {flag, kind};
            ++count_;
        } else {
            ++unrecorded_;
        }
        // A fork stops this thread between two instructions: the entry must be written before
        // the flag is touched, so the compiler may not move the two past each other.
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    // Forgets the innermost entry of that flag (the same object may be borrowed twice).
    void note_released(BorrowFlag* flag) noexcept {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        for (std::size_t i = count_; i > 0; --i) {
            if (entries_[i - 1].flag == flag) {
                for (std::size_t j = i; j < count_; ++j) entries_[j - 1] = entries_[j];
                --count_;
                return;
            }
        }
        if (unrecorded_ > 0) --unrecorded_;
    }

    std::size_t size() const noexcept { return count_; }
    const HeldBorrow& operator[](std::size_t i) const noexcept { return entries_[i]; }

private:
    friend struct BorrowTables;
    // Puts this table on the process-wide list, once per thread, and has it taken off again
    // when the thread exits.
    void enlist() noexcept;

    HeldBorrow entries_[capacity]{};
    std::size_t count_ = 0;
    std::size_t unrecorded_ = 0;
    bool listed_ = false;
    ThreadBorrows* previous_ = nullptr;
    ThreadBorrows* next_ = nullptr;
};

// The default TLS model (with TLS descriptors where the compiler has them): a module loaded after
// others that used up the loader's static TLS reserve must still load. Against initial-exec it
// costs about 5% more instructions on the cheapest borrowing calls, below the timing noise.
extern constinit thread_local ThreadBorrows this_thread_borrows;

}  // namespace quorvane::frame
