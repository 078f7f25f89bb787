#pragma once
// Letting go of the interpreter while this thread waits for others (the batch steps).
//
// The calling thread waits a few microseconds attached (a short step is over by then), and
// detaches from the interpreter if the step is still running: other Python threads, and the
// free-threaded interpreter's stop-the-world pauses, are not held up by a long step. The
// borrows the call holds keep the list and its operands alive and unchanged meanwhile,
// and the workers never touch a Python object.
#include <Python.h>

namespace quorvane::frame {

class DetachFromInterpreter {
public:
    // Attached here, so finalizing already means this is the thread that finalizes (every other
    // thread is stopped for good by then) and that may attach again.
    DetachFromInterpreter();
    DetachFromInterpreter(const DetachFromInterpreter&) = delete;
    DetachFromInterpreter& operator=(const DetachFromInterpreter&) = delete;
    // A daemon thread whose step ends after the interpreter has begun to shut down waits here,
    // untouched, until the process exits. Should shutdown begin while it attaches, the
    // interpreter ends the thread by unwinding it, which is let through (not noexcept).
    ~DetachFromInterpreter() noexcept(false);

private:
    bool finalizing_thread_;
    PyThreadState* state_;
};

}  // namespace quorvane::frame
