// The boundary between the interpreter and our code.
//
// Every function the interpreter calls (module execution, slots, methods,
// module functions) runs its body through `guarded`, so no C++ exception
// ever unwinds into the interpreter: memory exhaustion in our own data
// structures becomes `MemoryError`, any other internal failure a
// `SystemError` carrying its message, a thread short of native stack
// (util/native_stack.h) `RecursionError`.  Bodies report Python errors the C API
// way (null or -1 with the exception set); exceptions are for internal
// failures only.
#pragma once

#include "python/binding/capi.h"

#include <exception>
#include <new>
#include <string>

#include "python/binding/stack_guard.h"

namespace tessaron::py {

inline void raise_internal_failure(const char* what) noexcept {
    try {
        std::string msg = std::string("internal error in tessaron: ") + what;
        PyErr_SetString(PyExc_SystemError, msg.c_str());
    } catch (...) {
        Py_FatalError("tessaron: an internal error could not be reported (no memory for its message)");
    }
}

// Runs `body`, returning its result, or `failure` with a Python exception
// set when the body throws.
template <class R, class Body>
R guarded(R failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const util::NativeStackExhausted&) {
        raise_native_stack_error("finish this call");
    } catch (const std::exception& e) {
        raise_internal_failure(e.what());
    } catch (...) {
        raise_internal_failure("unknown failure");
    }
    return failure;
}

}  // namespace tessaron::py
