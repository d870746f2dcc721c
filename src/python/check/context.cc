// The exception rule of the walk: fatal exceptions are kept, others dropped.
//
// Invariant: the error cell holds at most one exception, the first fatal
// one met; once it is set the stop flag is set too and never clears, so
// every later `walk` call returns at once and the entry point raises it.
#include "python/check/context.h"

namespace tessaron::python::check {

void store_walk_error(py::SavedError exc, WalkState& state) {
    if (!state.error_cell) state.error_cell = std::move(exc);
    state.stop = true;
}

void WalkState::interrupted() {
    // Not through the exception rule: whatever the handler raised is the
    // caller's to see (the first time; later ticks find nothing set).
    if (PyErr_Occurred()) store_walk_error(py::SavedError::fetch(), *this);
    stop = true;
}

bool WalkState::tick_levels() { return tick(kLevelsPerTick * kWalkLevelUnits); }

void absorb_error(WalkState& state) {
    py::SavedError exc = py::SavedError::fetch();
    if (py::is_fatal_exception(exc.get())) store_walk_error(std::move(exc), state);
}

}  // namespace tessaron::python::check
