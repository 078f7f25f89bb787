#pragma once
// A process-wide value created once, safe under concurrent first use.
//
// Creation is not serialised by a lock (a thread blocked on a lock while attached to the
// interpreter would stall its stop-the-world pauses): racing creators each build a candidate,
// one compare-and-swap publishes the winner and the losers drop theirs.
#include <Python.h>
#include <sched.h>

#include <atomic>

namespace quorvane::frame {

template <class Object>
class OnceCell {
public:
    constexpr OnceCell() = default;

    // `create` returns a new reference or null with an exception set; returns null in that case.
    template <class Create>
    Object* get_or_create(Create&& create) {
        Object* existing = value_.load(std::memory_order_acquire);
        if (existing) return existing;
        Object* candidate = create();
        if (!candidate) return nullptr;
        if (value_.compare_exchange_strong(existing, candidate, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
            return candidate;
        Py_DECREF(reinterpret_cast<PyObject*>(candidate));
        return existing;
    }

    // The same, for a value that must be made exactly once (one that a loser could not drop,
    // such as an immortal object): the first caller claims the cell and creates; the others
    // wait for it detached from the interpreter, so that they stall nobody's stop-the-world
    // pause, and try themselves only if that creation failed.
    template <class Create>
    Object* get_or_create_once(Create&& create) {
        for (;;) {
            Object* existing = value_.load(std::memory_order_acquire);
            if (existing) return existing;
            bool unclaimed = false;
            if (claimed_.compare_exchange_strong(unclaimed, true, std::memory_order_acq_rel)) {
                Object* created = create();
                if (created) {
                    value_.store(created, std::memory_order_release);
                } else {
                    claimed_.store(false, std::memory_order_release);
                }
                return created;
            }
            Py_BEGIN_ALLOW_THREADS
            while (!value_.load(std::memory_order_acquire) && claimed_.load(std::memory_order_acquire))
                sched_yield();  // the system call itself: <thread> weighs on every unit
            Py_END_ALLOW_THREADS
        }
    }

    Object* get() const { return value_.load(std::memory_order_acquire); }

private:
    std::atomic<Object*> value_{nullptr};
    std::atomic<bool> claimed_{false};
};

}  // namespace quorvane::frame
