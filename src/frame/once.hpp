#pragma once
// A process-wide value created once, safe under concurrent first use.
//
// Creation is not serialised by a lock (a thread blocked on a lock while attached to the
// interpreter would stall its stop-the-world pauses): racing creators each build a candidate,
// one compare-and-swap publishes the winner and the losers drop theirs.
#include <Python.h>

#include <atomic>
#include <utility>

namespace quorvane::frame {

template <class Object>
class OnceCell {
public:
    constexpr OnceCell() = default;

    // `create` returns a new reference or null with an exception set; returns null in that case.
    // A candidate that lost the race is handed to `discard`, which by default drops the reference.
    template <class Create>
    Object* get_or_create(Create&& create) {
        return get_or_create(std::forward<Create>(create),
                             [](Object* lost) { Py_DECREF(reinterpret_cast<PyObject*>(lost)); });
    }

    template <class Create, class Discard>
    Object* get_or_create(Create&& create, Discard&& discard) {
        Object* existing = value_.load(std::memory_order_acquire);
        if (existing) return existing;
        Object* candidate = create();
        if (!candidate) return nullptr;
        if (value_.compare_exchange_strong(existing, candidate, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
            return candidate;
        discard(candidate);
        return existing;
    }

    Object* get() const { return value_.load(std::memory_order_acquire); }

private:
    std::atomic<Object*> value_{nullptr};
};

}  // namespace quorvane::frame
