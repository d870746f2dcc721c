// The native stack guard as seen from Python: too little stack left for
// another level of a recursive procedure is a RecursionError, the error
// Python itself raises when its own recursion runs too deep.
#pragma once

#include "python/binding/capi.h"

#include "core/util/native_stack.h"

namespace tessaron::py {

// Raises RecursionError for a call that stopped because the thread's native
// stack is nearly used up; `what` names the work ("compile this schema").
inline void raise_native_stack_error(const char* what) {
    PyErr_Format(PyExc_RecursionError,
                 "too little native stack left on this thread to %s (a thread started with a small stack, or calls "
                 "nested through validation callbacks)",
                 what);
}

// True when the calling thread has stack to spare for another level;
// otherwise raises RecursionError naming `what` and answers false.
inline bool native_stack_available(const char* what) {
    if (!util::native_stack_low()) [[likely]]
        return true;
    raise_native_stack_error(what);
    return false;
}

}  // namespace tessaron::py
