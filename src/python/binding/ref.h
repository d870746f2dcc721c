// Owned references to Python objects.
//
// `Ref` holds exactly one strong reference (or none) and releases it when it
// goes out of scope; moving transfers it.  Every Python object that our own
// data structures keep is held through a `Ref`, so no path (including a C++
// exception unwinding through a frame) can leak or double-release one.
// Borrowed references stay plain `PyObject*`.
#pragma once

#include "python/binding/capi.h"

#include <utility>

namespace tessaron::py {

class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~Ref() { Py_XDECREF(p_); }

    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference the caller owns (a "new reference" from the C API).
    static Ref steal(PyObject* p) noexcept {
        Ref r;
        r.p_ = p;
        return r;
    }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return steal(p);
    }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference to the caller (for returning to the interpreter).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    // A new reference for the caller, keeping ours.
    PyObject* new_ref() const noexcept {
        Py_XINCREF(p_);
        return p_;
    }
    void reset() noexcept { Py_CLEAR(p_); }

private:
    PyObject* p_ = nullptr;
};

// The pending exception, taken out of the interpreter's error indicator and
// owned here; `restore()` puts it back.  Used where an exception must be kept
// across calls that may clear or set the indicator.
class SavedError {
public:
    SavedError() = default;
    static SavedError fetch() {
        SavedError e;
        e.exc_ = Ref::steal(PyErr_GetRaisedException_compat());
        return e;
    }
    explicit operator bool() const noexcept { return static_cast<bool>(exc_); }
    PyObject* get() const noexcept { return exc_.get(); }
    void restore() { PyErr_SetRaisedException_compat(exc_.release()); }

private:
    static PyObject* PyErr_GetRaisedException_compat() {
#if PY_VERSION_HEX >= 0x030C0000
        return PyErr_GetRaisedException();
#else
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        if (!type) return nullptr;
        PyErr_NormalizeException(&type, &value, &tb);
        if (tb && value) PyException_SetTraceback(value, tb);
        Py_XDECREF(type);
        Py_XDECREF(tb);
        return value;
#endif
    }
    static void PyErr_SetRaisedException_compat(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(exc);
#else
        if (!exc) return;
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
        Py_INCREF(type);
        PyErr_Restore(type, exc, PyException_GetTraceback(exc));
#endif
    }

    Ref exc_;
};

// A fatal exception stops a walk and is re-raised: anything that is not an
// `Exception`, and `MemoryError` and `RecursionError`.
inline bool is_fatal_exception(PyObject* exc) {
    if (!exc) return false;
    if (!PyObject_TypeCheck(exc, reinterpret_cast<PyTypeObject*>(PyExc_Exception))) return true;
    return PyErr_GivenExceptionMatches(exc, PyExc_MemoryError) ||
           PyErr_GivenExceptionMatches(exc, PyExc_RecursionError);
}

// Clears the pending exception unless it is fatal.  True when none is left
// set; false when a fatal one stays set for the caller to raise or keep.
// With `unraisable_context`, a cleared exception is reported through
// `sys.unraisablehook` in that context instead of dropped silently.
inline bool clear_unless_fatal(PyObject* unraisable_context = nullptr) {
    SavedError err = SavedError::fetch();
    if (!err) return true;
    const bool fatal = is_fatal_exception(err.get());
    err.restore();
    if (fatal) return false;
    if (unraisable_context)
        PyErr_WriteUnraisable(unraisable_context);
    else
        PyErr_Clear();
    return true;
}

}  // namespace tessaron::py
