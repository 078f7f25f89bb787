#pragma once
// The borrows each thread holds, and those published by threads that have left the interpreter.
//
// A thread that detaches in the middle of a call (a batch step on the worker pool) keeps its
// borrows while it waits. If another thread forks then, the child gets the borrow flags as they
// were, but not the thread that would release them: the objects would stay busy in the child for
// good. So every borrow guard notes its flag in a small per-thread table, a detaching thread
// publishes that table for as long as it is detached, and in a forked child the published
// borrows are released. The objects then hold what they held before the step, since steps write
// their results into fresh arrays.
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
class ThreadBorrows {
public:
    static constexpr std::size_t capacity = 8;

    void note_taken(BorrowFlag* flag, BorrowKind kind) noexcept {
        if (count_ < capacity) {
            entries_[count_++] = {flag, kind};
        } else {
            ++unrecorded_;
        }
    }
    // Forgets the innermost entry of that flag (the same object may be borrowed twice).
    void note_released(BorrowFlag* flag) noexcept {
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
    HeldBorrow entries_[capacity]{};
    std::size_t count_ = 0;
    std::size_t unrecorded_ = 0;
};

// initial-exec: one segment-relative load instead of a call per access, on every borrow; the
// table is small enough for the static TLS space the loader keeps for modules.
extern constinit thread_local ThreadBorrows this_thread_borrows [[gnu::tls_model("initial-exec")]];

// While it lives, the calling thread's borrows are on the list that a forked child releases.
// Made before the thread detaches and destroyed only after it is attached again, so that a fork
// can never see the thread detached with its borrows unlisted.
class PublishedBorrows {
public:
    PublishedBorrows() noexcept;
    ~PublishedBorrows();
    PublishedBorrows(const PublishedBorrows&) = delete;
    PublishedBorrows& operator=(const PublishedBorrows&) = delete;

private:
    friend struct PublishedList;
    HeldBorrow borrows_[ThreadBorrows::capacity];
    std::size_t count_;
    PublishedBorrows* previous_ = nullptr;
    PublishedBorrows* next_ = nullptr;
};

}  // namespace quorvane::frame
