// Process-wide one-time cells that hold no lock of ours while Python code
// runs.
//
// A cell starts empty.  A caller that finds it empty runs the initialiser
// itself, holding nothing: the initialiser may import modules and so run
// Python code, during which a signal handler, a finaliser run by the garbage
// collector or another thread may use the same cell.  Such a caller (on this
// thread or another) finds the cell still empty and runs its own
// initialiser; whichever finishes first publishes its value, and a later
// finisher drops its own and returns the published one.  So re-entry on the
// same thread computes, never waits on itself, and two threads never wait on
// each other while either runs Python code.  Publishing takes a mutex only
// around moving the value into place, which runs no Python code.  An
// initialiser that fails (returns false with a Python exception set) leaves
// the cell empty: the caller gets the exception and the next use tries
// again.  Once full, reading the cell is one acquire load.
//
// Initialisers must therefore be repeatable: they read modules and make new
// objects, and a value that loses the race is simply released.
//
// The value is never destroyed: cells live for the process, and releasing
// Python references from a static destructor after the interpreter has
// finalised would touch freed memory.
#pragma once

#include "python/binding/capi.h"

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
        // Dropped (after the mutex is released) when another caller
        // published first; its destructor may run Python code.
        std::optional<T> fresh;
        if (!init(fresh) || !fresh.has_value()) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "one-time initialisation failed");
            return nullptr;
        }
        publish(*fresh);
        return value();
    }

    // The value when the cell is full, else nullptr; never initialises.
    const T* peek() const {
        return ready_.load(std::memory_order_acquire) ? value() : nullptr;
    }

private:
    const T* value() const { return std::launder(reinterpret_cast<const T*>(storage_)); }

    // Moves `fresh` into the cell unless a value is there already.
    void publish(T& fresh) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ready_.load(std::memory_order_relaxed)) return;
        new (storage_) T(std::move(fresh));
        ready_.store(true, std::memory_order_release);
    }

    std::atomic<bool> ready_{false};
    std::mutex mutex_;
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tessaron::py
