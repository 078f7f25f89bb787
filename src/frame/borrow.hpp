#pragma once
// The per-object borrow flag: many readers or one writer, and nobody ever waits.
//
// 0 is free, a positive n is n readers, -1 is one writer. A conflicting request fails at once;
// that is what lets Python threads share objects without a global lock and without deadlocks.
#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

#include "src/frame/held_borrows.hpp"

namespace quorvane::frame {

class BorrowFlag {
public:
    // Acquire on success so the caller sees the value as the last writer left it.
    bool try_share() noexcept {
        std::intptr_t seen = state_.load(std::memory_order_relaxed);
        do {
            if (seen == writer) return false;
        } while (!state_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
        return true;
    }
    bool try_own() noexcept {
        std::intptr_t expected = 0;
        return state_.compare_exchange_strong(expected, writer, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    // Release so the next borrower sees everything this one did.
    void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
    void release_owned() noexcept { state_.store(0, std::memory_order_release); }

    bool is_free() const noexcept { return state_.load(std::memory_order_acquire) == 0; }
    bool is_owned() const noexcept { return state_.load(std::memory_order_acquire) == writer; }

    static constexpr std::intptr_t writer = -1;
    // Only in a forked child, whose sole thread holds `state` of this flag.
    void reset_in_forked_child(std::intptr_t state) noexcept { state_.store(state, std::memory_order_relaxed); }

private:
    std::atomic<std::intptr_t> state_{0};
};

// The texts of the two conflicts, raised as RuntimeError.
inline constexpr const char* already_mutably_borrowed = "Already mutably borrowed";
inline constexpr const char* already_borrowed = "Already borrowed";

// Sets RuntimeError with one of the texts above and throws ErrorAlreadySet.
[[noreturn]] void raise_borrow_conflict(const char* text);

// Shared access to the value inside one object for as long as the guard lives.
template <class Value>
class SharedBorrow {
public:
    // Fails with RuntimeError "Already mutably borrowed" when a writer holds the object.
    SharedBorrow(const Value& value, BorrowFlag& flag) : value_(&value), flag_(&flag) {
        if (!take(flag)) raise_borrow_conflict(already_mutably_borrowed);
    }
    // For operator slots, which answer NotImplemented instead of raising.
    static std::optional<SharedBorrow> try_take(const Value& value, BorrowFlag& flag) noexcept {
        if (!take(flag)) return std::nullopt;
        return SharedBorrow(value, flag, Taken{});
    }
    SharedBorrow(SharedBorrow&& other) noexcept
        : value_(other.value_), flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (!flag_) return;
        flag_->release_shared();
        this_thread_borrows.note_released(flag_);
    }

    const Value& operator*() const noexcept { return *value_; }
    const Value* operator->() const noexcept { return value_; }

private:
    struct Taken {};
    SharedBorrow(const Value& value, BorrowFlag& flag, Taken) noexcept : value_(&value), flag_(&flag) {}
    // Listed first, so that a fork never sees the flag taken and unlisted (see held_borrows.hpp).
    static bool take(BorrowFlag& flag) noexcept {
        this_thread_borrows.note_taken(&flag, BorrowKind::shared);
        if (flag.try_share()) return true;
        this_thread_borrows.note_released(&flag);
        return false;
    }
    const Value* value_;
    BorrowFlag* flag_;
};

// Exclusive access for setters and mutating methods.
template <class Value>
class ExclusiveBorrow {
public:
    // Fails with RuntimeError "Already borrowed" when anybody else holds the object.
    ExclusiveBorrow(Value& value, BorrowFlag& flag) : value_(&value), flag_(&flag) {
        this_thread_borrows.note_taken(&flag, BorrowKind::exclusive);
        if (flag.try_own()) return;
        this_thread_borrows.note_released(&flag);
        raise_borrow_conflict(already_borrowed);
    }
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
        : value_(other.value_), flag_(std::exchange(other.flag_, nullptr)) {}
    ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
    ~ExclusiveBorrow() {
        if (!flag_) return;
        flag_->release_owned();
        this_thread_borrows.note_released(flag_);
    }

    Value& operator*() const noexcept { return *value_; }
    Value* operator->() const noexcept { return value_; }

private:
    Value* value_;
    BorrowFlag* flag_;
};

}  // namespace quorvane::frame
