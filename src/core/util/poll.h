// Asking, now and then, whether long native work should go on.
//
// The loops that can run long on one call (the walk of a large value, a
// pattern match of a long text, the parse of a large JSON document) count
// the work they do in units, roughly one per cheap machine step (a DFA
// byte, an NFA state visited, a scalar item tested; a walk level counts
// several).  Every `kInterval` units, about a millisecond of work, they ask
// a hook whether to go on.  The core knows nothing of what the hook does:
// the interpreter binding installs one that runs the handlers of signals
// that arrived meanwhile (so Ctrl-C reaches a long validation), and answers
// stop when a handler raised, leaving that exception set for the caller.
// Whoever owns the work then ends it the way a fatal error ends it.
//
// A `Poll` without a hook never stops anything; the countdown costs one
// compare and one subtraction per tick.  Once the hook has said stop, every
// further tick answers stop too (and the hook is not asked again).
//
// Where the hook may run: it runs arbitrary code of the caller's (a signal
// handler), so a loop ticks only at points where it holds nothing that such
// code could invalidate (no lock of ours, no pointer into storage that the
// code could free or move).
#pragma once

#include <cstdint>

namespace tessaron::util {

class Poll {
public:
    // False: stop the work.
    using Hook = bool (*)(void* data);

    // Units between two questions to the hook.
    static constexpr std::uint64_t kInterval = std::uint64_t{1} << 21;

    // A poll that never stops the work.
    Poll() = default;
    Poll(Hook hook, void* data) : hook_(hook), data_(data) {}

    // Counts `units` of work done; false when the work must stop.
    bool tick(std::uint64_t units) {
        if (units < left_) [[likely]] {
            left_ -= units;
            return true;
        }
        return ask();
    }

    // Asks the hook now (it counts as a full interval).
    bool ask() {
        if (stopped_) return false;
        left_ = kInterval;
        if (hook_ && !hook_(data_)) {
            stopped_ = true;
            left_ = 0;
        }
        return !stopped_;
    }

    bool stopped() const { return stopped_; }
    bool has_hook() const { return hook_ != nullptr; }

private:
    Hook hook_ = nullptr;
    void* data_ = nullptr;
    std::uint64_t left_ = kInterval;
    bool stopped_ = false;
};

}  // namespace tessaron::util
