#pragma once
// The C++ exceptions of the binding layer and the one guard every entry point runs under.
//
// C++ exceptions never cross into the interpreter: each slot or method body runs inside
// `guarded`, which turns what it throws into a Python exception and the slot's failure value.
#include <Python.h>

#include <cxxabi.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>

// The caller's column: clang has a builtin for it, GCC gives it only through std::source_location,
// whose header the clang of the sanitizer builds (14, with libstdc++) cannot compile.
#if __has_builtin(__builtin_COLUMN)
#define QUORVANE_CALLER_COLUMN() __builtin_COLUMN()
#else
#include <source_location>
#define QUORVANE_CALLER_COLUMN() std::source_location::current().column()
#endif

namespace quorvane::frame {

// A Python exception is already set; the entry point only has to return its failure value.
struct ErrorAlreadySet {};

// Where an internal failure was raised.
struct SourcePoint {
    const char* file;
    unsigned line;
    unsigned column;
};

// A broken internal invariant (an assertion). Reaches Python as PanicException.
class InternalFailure : public std::exception {
public:
    InternalFailure(std::string message, const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                    unsigned column = QUORVANE_CALLER_COLUMN())
        : message_(std::move(message)), where_{file, line, column} {}
    const char* what() const noexcept override { return message_.c_str(); }
    const SourcePoint& where() const noexcept { return where_; }

private:
    std::string message_;
    SourcePoint where_;
};

// The internal-failure exception type, created once per process.
PyObject* panic_exception_type();

// Reports the failure on standard error (thread, location, message), then sets PanicException
// with the message as its single argument.
void raise_panic(const char* message, const char* location);

// Ends the process when a failure cannot be turned into a Python exception.
[[noreturn]] void abort_at_boundary() noexcept;

// Sets `type` with `message` and throws ErrorAlreadySet.
[[noreturn]] void raise(PyObject* type, const char* message);
// The same for a UTF-8 text that may hold NUL characters (one that quotes what the caller gave).
[[noreturn]] void raise(PyObject* type, std::string_view message);

// Throws ErrorAlreadySet when `result` is null (a failed C API call that set an exception).
inline PyObject* check(PyObject* result) {
    if (!result) throw ErrorAlreadySet{};
    return result;
}

// For the places that may answer "no" instead of failing (an operator slot given an operand it
// cannot use): clears the pending exception when it is an ordinary failure and returns true.
// An interrupt, an exit request (anything that is not an Exception) or MemoryError is left set,
// and the answer is false: the caller must let it propagate.
bool clear_ordinary_error() noexcept;

namespace detail {
void translate_current_exception() noexcept;
}

// Runs `body` and returns its result, or `failure` after turning a thrown exception into the
// matching Python exception: ErrorAlreadySet as it is, std::bad_alloc as MemoryError, and any
// other exception as PanicException.
//
// One thing passes through: the unwinding with which the interpreter ends a daemon thread that
// attaches again while the interpreter shuts down (a batch step re-attaching after its wait).
// Entry points that can run a batch step are therefore not noexcept; every other one is, and
// for them this guard cannot throw.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) {
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        detail::translate_current_exception();
        return failure;
    }
}

// For deallocation, where no failure can be reported: anything thrown ends the process.
template <class Body>
void guarded_or_abort(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        abort_at_boundary();
    }
}

}  // namespace quorvane::frame
