#include "src/frame/held_borrows.hpp"

#include <pthread.h>

#include <cstdio>

#include "src/frame/borrow.hpp"

namespace quorvane::frame {

constinit thread_local ThreadBorrows this_thread_borrows;

// A doubly linked list of the published tables, under a mutex that fork() takes first, so that
// the child never inherits it held or the list half changed.
struct PublishedList {
    static inline pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    static inline PublishedBorrows* head = nullptr;

    static void link(PublishedBorrows& entry) noexcept {
        pthread_mutex_lock(&mutex);
        entry.next_ = head;
        if (head) head->previous_ = &entry;
        head = &entry;
        pthread_mutex_unlock(&mutex);
    }
    static void unlink(PublishedBorrows& entry) noexcept {
        pthread_mutex_lock(&mutex);
        if (entry.previous_) {
            entry.previous_->next_ = entry.next_;
        } else {
            head = entry.next_;
        }
        if (entry.next_) entry.next_->previous_ = entry.previous_;
        pthread_mutex_unlock(&mutex);
    }

    static void before_fork() noexcept { pthread_mutex_lock(&mutex); }
    static void after_fork_in_parent() noexcept { pthread_mutex_unlock(&mutex); }
    // Only the forking thread exists in the child: every published borrow belongs to a thread
    // that is gone, and nobody else will release it.
    static void after_fork_in_child() noexcept {
        for (PublishedBorrows* entry = head; entry; entry = entry->next_) {
            for (std::size_t i = 0; i < entry->count_; ++i) {
                const HeldBorrow& held = entry->borrows_[i];
                if (held.kind == BorrowKind::exclusive) {
                    held.flag->release_owned();
                } else {
                    held.flag->release_shared();
                }
            }
        }
        head = nullptr;
        pthread_mutex_unlock(&mutex);
    }

    static int register_fork_handlers() noexcept {
        const int error = pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child);
        if (error != 0) {
            // Without the handlers the module still works; only a fork during a step would leave
            // the step's objects busy in the child.
            std::fprintf(stderr, "quorvane: pthread_atfork failed (%d)\n", error);
        }
        return error;
    }
};

namespace {
// Registered when the module is loaded, before any thread can publish.
[[maybe_unused]] const int fork_handlers = PublishedList::register_fork_handlers();
}  // namespace

PublishedBorrows::PublishedBorrows() noexcept : count_(this_thread_borrows.size()) {
    for (std::size_t i = 0; i < count_; ++i) borrows_[i] = this_thread_borrows[i];
    PublishedList::link(*this);
}

PublishedBorrows::~PublishedBorrows() { PublishedList::unlink(*this); }

}  // namespace quorvane::frame
