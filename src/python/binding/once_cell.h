// Process-wide one-time cells that never hold the interpreter lock while they
// wait.
//
// A cell starts empty.  The first thread that needs it releases the
// interpreter lock, takes the cell's mutex, takes the interpreter lock back
// inside it and runs the initialiser; a thread that arrives meanwhile blocks
// on the mutex without the interpreter lock.  The two locks are therefore
// always taken in the order mutex -> interpreter lock, and no deadlock is
// possible.  An initialiser that fails (returns false with a Python exception
// set) leaves the cell empty: the caller gets the exception and the next use
// tries again.  Once full, reading the cell is one acquire load.
//
// The value is never destroyed: cells live for the process, and releasing
// Python references from a static destructor after the interpreter has
// finalised would touch freed memory.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

namespace tessaron::py {

template <class T>
class OnceCell {
public:
    // Returns the value, running `init(std::optional<T>&) -> bool` when the
    // cell is empty.  Returns nullptr with the initialiser's exception set
    // when it fails.
    template <class Init>
    const T* get_or_init(Init&& init) {
        if (ready_.load(std::memory_order_acquire)) return value();
        PyThreadState* ts = PyEval_SaveThread();
        mutex_.lock();
        PyEval_RestoreThread(ts);
        if (!ready_.load(std::memory_order_relaxed)) {
            std::optional<T> fresh;
            bool ok = false;
            try {
                ok = init(fresh) && fresh.has_value();
            } catch (...) {
                mutex_.unlock();
                throw;
            }
            if (!ok) {
                mutex_.unlock();
                if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "one-time initialisation failed");
                return nullptr;
            }
            new (storage_) T(std::move(*fresh));
            ready_.store(true, std::memory_order_release);
        }
        mutex_.unlock();
        return value();
    }

    // The value when the cell is full, else nullptr; never initialises.
    const T* peek() const {
        return ready_.load(std::memory_order_acquire) ? value() : nullptr;
    }

private:
    const T* value() const { return std::launder(reinterpret_cast<const T*>(storage_)); }

    std::atomic<bool> ready_{false};
    std::mutex mutex_;
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tessaron::py
