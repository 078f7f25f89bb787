#include "src/frame/held_borrows.hpp"

#include <pthread.h>

#include <cstdio>

#include "src/frame/borrow.hpp"

namespace quorvane::frame {

constinit thread_local ThreadBorrows this_thread_borrows;

// A doubly linked list of every thread's table, under a mutex that fork() takes first, so that
// the child never inherits it held or the list half changed.
struct BorrowTables {
    static inline pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    static inline ThreadBorrows* head = nullptr;
    static inline pthread_key_t thread_exit_key;
    static inline bool thread_exit_key_made = false;

    static void link(ThreadBorrows& table) noexcept {
        pthread_mutex_lock(&mutex);
        table.previous_ = nullptr;
        table.next_ = head;
        if (head) head->previous_ = &table;
        head = &table;
        pthread_mutex_unlock(&mutex);
    }
    // Run by the exiting thread (its thread-specific value is its table).
    static void unlink(void* entry) noexcept {
        auto& table = *static_cast<ThreadBorrows*>(entry);
        pthread_mutex_lock(&mutex);
        if (table.previous_) {
            table.previous_->next_ = table.next_;
        } else {
            head = table.next_;
        }
        if (table.next_) table.next_->previous_ = table.previous_;
        pthread_mutex_unlock(&mutex);
        table.listed_ = false;
    }

    static void before_fork() noexcept { pthread_mutex_lock(&mutex); }
    static void after_fork_in_parent() noexcept { pthread_mutex_unlock(&mutex); }

    // What the forking thread itself holds of `flag`: it goes on in the child and releases that.
    static std::intptr_t own_hold(const ThreadBorrows& own, const BorrowFlag* flag) noexcept {
        std::intptr_t readers = 0;
        for (std::size_t i = 0; i < own.count_; ++i) {
            if (own.entries_[i].flag != flag) continue;
            if (own.entries_[i].kind == BorrowKind::exclusive) return BorrowFlag::writer;
            ++readers;
        }
        return readers;
    }

    // Only the forking thread exists in the child: every other table belongs to a thread that
    // is gone, and nobody else will release its borrows.
    static void after_fork_in_child() noexcept {
        ThreadBorrows& own = this_thread_borrows;
        for (ThreadBorrows* table = head; table; table = table->next_) {
            if (table == &own) continue;
            for (std::size_t i = 0; i < table->count_; ++i) {
                BorrowFlag* flag = table->entries_[i].flag;
                flag->reset_in_forked_child(own_hold(own, flag));
            }
        }
        head = nullptr;
        if (own.listed_) {
            own.previous_ = nullptr;
            own.next_ = nullptr;
            head = &own;
        }
        pthread_mutex_unlock(&mutex);
    }

    static int register_handlers() noexcept {
        int error = pthread_key_create(&thread_exit_key, &unlink);
        thread_exit_key_made = error == 0;
        if (error == 0) error = pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child);
        if (error != 0) {
            // Without them the module still works; only a fork while another thread holds a
            // borrow would leave that object busy in the child.
            std::fprintf(stderr, "quorvane: registering the fork handlers failed (%d)\n", error);
        }
        return error;
    }
};

namespace {
// Registered when the module is loaded, before any thread can borrow.
[[maybe_unused]] const int fork_handlers = BorrowTables::register_handlers();
}  // namespace

void ThreadBorrows::enlist() noexcept {
    listed_ = true;
    // A table that could not be taken off the list at its thread's exit would be left there
    // dangling: without the key, tables stay unlisted (and a fork may leave borrows taken).
    if (!BorrowTables::thread_exit_key_made) return;
    BorrowTables::link(*this);
    if (pthread_setspecific(BorrowTables::thread_exit_key, this) != 0) BorrowTables::unlink(this);
}

}  // namespace quorvane::frame
