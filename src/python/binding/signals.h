// Signals that arrive while native work runs.
//
// The interpreter only notes a signal when it arrives; its Python handler
// (the one that raises KeyboardInterrupt for Ctrl-C, or one the program
// set) runs the next time the interpreter loop or `PyErr_CheckSignals`
// looks.  Native loops of ours that may run long tick a `util::Poll` whose
// hook runs the pending handlers, so a handler runs within a millisecond or
// so of work.  When the handler raises, the work stops and its exception,
// whatever it is, propagates as itself.
//
// A handler is Python code: a loop polls only where it could also call a
// predicate (nothing borrowed that the handler could free, no lock of ours
// held).  Since Python 3.12 the same call also runs a pending garbage
// collection, which is no different.
//
// Work that runs without the interpreter lock (the parse of a large JSON
// text, the compilation of a validator's patterns) polls through its
// `LockRelease`: while the lock is given up, only
// every kUnlockedAsks-th question takes it back to run the handlers (taking
// it back may wait up to the switch interval for another thread), so a
// handler runs within a few dozen milliseconds there; when it raises, the
// lock stays taken.  Off the main thread `PyErr_CheckSignals` runs nothing.
#pragma once

#include "python/binding/capi.h"

#include <utility>

#include "core/util/poll.h"

namespace tessaron::py {

// The hook: runs pending signal handlers; false with the handler's
// exception set when one raised.
inline bool run_signal_handlers(void*) { return PyErr_CheckSignals() == 0; }

// A poll that runs pending signal handlers as the work goes on.
inline util::Poll signal_poll() { return util::Poll(&run_signal_handlers, nullptr); }

// The interpreter lock, given up around work on immutable data and taken
// back on demand and at the end (also when an exception unwinds).
class LockRelease {
public:
    static constexpr unsigned kUnlockedAsks = 32;

    LockRelease() = default;
    LockRelease(const LockRelease&) = delete;
    LockRelease& operator=(const LockRelease&) = delete;
    ~LockRelease() { take(); }

    void release() { saved_ = PyEval_SaveThread(); }
    void take() {
        if (saved_) PyEval_RestoreThread(std::exchange(saved_, nullptr));
    }
    bool released() const { return saved_ != nullptr; }

    // A poll that runs pending signal handlers, the lock given up or not.
    util::Poll signal_poll() { return util::Poll(&hook, this); }

private:
    static bool hook(void* data) {
        auto* self = static_cast<LockRelease*>(data);
        if (!self->released()) return PyErr_CheckSignals() == 0;
        if (++self->unlocked_asks_ % kUnlockedAsks != 0) return true;
        // The handler's exception stays with the thread state meanwhile.
        self->take();
        const bool go_on = PyErr_CheckSignals() == 0;
        // A handler that raised stops the work with the lock taken, so the
        // exception can be read (and kept) wherever the work notices.
        if (go_on) self->release();
        return go_on;
    }

    PyThreadState* saved_ = nullptr;
    unsigned unlocked_asks_ = 0;
};

}  // namespace tessaron::py
