// The state of one validation walk.
//
// `WalkState` is what every context of one walk shares: the schema (pool,
// definitions, lookup tables), the recursion guard, the nesting depth, the
// error cell that keeps the first fatal Python exception, and the stop flag.
// `WalkContext` adds what a check may replace for its children: the path
// being built, the vector failures go to, and the mode.  A scratch context
// (a copy with its own violations, mode and perhaps path) shares the state,
// so the limits count across scratch walks and a fatal exception met in one
// stops the whole walk.
//
// The exception rule: a Python exception raised by anything the walk calls
// is fatal when it is not an `Exception`, or is a `MemoryError` or a
// `RecursionError`.  A fatal one is kept (the first only) and stops the
// walk; the entry point raises it.  Any other one is discarded and makes the
// value a non-member.  Every place that discards an exception goes through
// `absorb_error`, so no fatal exception is ever lost.
#pragma once

#include <Python.h>

#include <boost/container/small_vector.hpp>
#include <cstdint>
#include <span>
#include <vector>

#include "core/ir/node.h"
#include "python/binding/ref.h"
#include "python/check/path.h"
#include "python/check/precompute.h"
#include "python/errors.h"

namespace tessaron::python::check {

enum class WalkMode : std::uint8_t {
    CollectAll = 0,   // record every independent failure
    FailFast = 1,     // record failures, stop at the first
    VerdictOnly = 2,  // record nothing; only the verdict counts
};

// The nesting limit of a walk: 512 levels pass, the 513th fails.
inline constexpr std::uint64_t kMaxWalkDepth = 512;
// Nested entries into recursive definitions: 128 pass, the 129th fails.
inline constexpr std::size_t kMaxRecursionEntries = 128;
// The expected text of a "recursion_limit" failure met because the thread's
// native stack is nearly used up, whatever the depth counters say.
inline constexpr const char* kNativeStackText = "a value nested less deeply (too little native stack left)";

struct GuardEntry {
    std::uint64_t identity;
    std::uint64_t definition;
};

struct WalkState {
    std::span<const py::Ref> pool;
    std::span<const ir::Node> definitions;
    const Precompute* tables;
    // Inline room for the usual recursion depths: a verdict-only walk of a
    // recursive schema allocates nothing for its guard.
    boost::container::small_vector<GuardEntry, 16> recursion_guard;
    std::uint64_t depth = 0;
    // The lowest frame address from which the walk may go one level deeper
    // (util/native_stack.h); set when the walk enters its first level, 0
    // when the thread's stack bounds are unknown.
    std::uintptr_t stack_floor = 0;
    py::SavedError error_cell;
    bool stop = false;
    // The verdict cannot be trusted as a plain "not a member": the walk met
    // an unresolved placeholder, crossed a limit or met a cyclic value.
    // Only `walk_is_member` reads it.
    bool declined = false;

    WalkState(std::span<const py::Ref> p, std::span<const ir::Node> d, const Precompute& t)
        : pool(p), definitions(d), tables(&t) {}
    WalkState(const WalkState&) = delete;
    WalkState& operator=(const WalkState&) = delete;

    // The pooled object at `index`, or nullptr past the pool's end.
    PyObject* pooled(std::uint64_t index) const { return index < pool.size() ? pool[index].get() : nullptr; }
};

struct WalkContext {
    WalkState* state;
    PathStack* path;
    std::vector<Violation>* violations;
    WalkMode mode;

    bool recording() const { return mode != WalkMode::VerdictOnly; }

    // A context sharing this one's state, with its own failure vector and
    // mode, and either this path or `own_path`.
    WalkContext scratch(std::vector<Violation>& own, WalkMode m, PathStack* own_path = nullptr) const {
        return WalkContext{state, own_path ? own_path : path, &own, m};
    }
};

// Keeps `exc` when it is the first fatal exception of the walk (setting the
// stop flag) and discards it otherwise.
void store_walk_error(py::SavedError exc, WalkState& state);

// Takes the current Python exception out of the interpreter and applies the
// exception rule to it: a fatal one is stored and stops the walk, any other
// is dropped.
void absorb_error(WalkState& state);

// The outcome of a Python API call answering 1, 0 or -1 with an exception
// set: 1 gives true; 0 false; -1 false after `absorb_error`.
inline bool fold_call_result(int outcome, WalkState& state) {
    if (outcome > 0) return true;
    if (outcome < 0) absorb_error(state);
    return false;
}

}  // namespace tessaron::python::check
