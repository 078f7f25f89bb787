#include "src/frame/errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "src/frame/once.hpp"

namespace quorvane::frame {
namespace {

constexpr const char* panic_doc =
    "The exception raised when the native code of quorvane fails an internal check.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that an\n"
    "ordinary `except Exception` does not swallow it and it normally propagates all the\n"
    "way up and ends the interpreter.";

constexpr const char* fallback_message = "the native code of quorvane failed";

OnceCell<PyObject> panic_type_cell;

void report(const char* message, const char* location) {
    std::fprintf(stderr, "thread '%zu' panicked at %s:\n%s\n",
                 std::hash<std::thread::id>{}(std::this_thread::get_id()), location, message);
    std::fflush(stderr);
}

// The path from the project's root: the part from the last "src/" or "core/" on.
const char* project_path(const char* file) noexcept {
    for (const char* root : {"/src/", "/core/"}) {
        const char* last = nullptr;
        for (const char* found = std::strstr(file, root); found; found = std::strstr(found + 1, root)) last = found;
        if (last) return last + 1;
    }
    return file;
}

}  // namespace

PyObject* panic_exception_type() {
    return panic_type_cell.get_or_create([] {
        return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_doc,
                                         PyExc_BaseException, nullptr);
    });
}

bool clear_ordinary_error() noexcept {
    PyObject* pending = PyErr_Occurred();
    if (!pending) return true;
    if (!PyErr_GivenExceptionMatches(pending, PyExc_Exception) ||
        PyErr_GivenExceptionMatches(pending, PyExc_MemoryError))
        return false;
    PyErr_Clear();
    return true;
}

void raise_panic(const char* message, const char* location) {
    report(message, location);
    PyObject* type = panic_exception_type();
    if (!type) return;  // creating the type failed and set its own exception
    PyObject* text = PyUnicode_FromString(message);
    if (!text) return;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw ErrorAlreadySet{};
}

void raise(PyObject* type, std::string_view message) {
    PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
    if (text) {
        PyErr_SetObject(type, text);
        Py_DECREF(text);
    }
    throw ErrorAlreadySet{};
}

void raise_borrow_conflict(const char* text) { raise(PyExc_RuntimeError, text); }

namespace detail {

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorAlreadySet&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {  // an array larger than the address space allows
        PyErr_NoMemory();
    } catch (const InternalFailure& failure) {
        // Written into a fixed buffer: this runs where nothing may throw, so nothing allocates
        // (running out of memory here must end in a Python exception, not std::terminate).
        const SourcePoint& where = failure.where();
        char location[512];
        std::snprintf(location, sizeof location, "%s:%u:%u", project_path(where.file), where.line, where.column);
        raise_panic(failure.what(), location);
    } catch (const std::exception& failure) {
        raise_panic(*failure.what() ? failure.what() : fallback_message, "native code");
    } catch (...) {
        raise_panic(fallback_message, "native code");
    }
}

}  // namespace detail
}  // namespace quorvane::frame
