#include "src/frame/detach.hpp"

#include <chrono>
#include <thread>

namespace quorvane::frame {

DetachFromInterpreter::DetachFromInterpreter() : finalizing_thread_(Py_IsFinalizing()), state_(PyEval_SaveThread()) {}

DetachFromInterpreter::~DetachFromInterpreter() noexcept(false) {
    if (!finalizing_thread_) {
        while (Py_IsFinalizing()) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    PyEval_RestoreThread(state_);
}

}  // namespace quorvane::frame
