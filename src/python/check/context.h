// The state of one validation walk.
//
// `WalkState` is what every context of one walk shares: the schema (pool,
// definitions, lookup tables), the recursion guard, the nesting depth, the
// error cell that keeps the first fatal Python exception, and the stop flag.
// `WalkContext` adds what a check may replace for its children: the path
// being built, where failures go, and the mode.  A scratch context (a copy
// with its own failures, mode and perhaps path) shares the state, so the
// limits count across scratch walks and a fatal exception met in one stops
// the whole walk.
//
// The memo also remembers the walks of container nodes at builtin
// containers that the walk reaches from more than one place in the value
// (walk.cc), so a value that shares objects costs work polynomial in its
// distinct objects, not in its paths, in the verdict-only, profiling and
// fail-fast walks.
//
// Failures go to a vector of `Violation`s, or, in a profiling context, into
// a `FailureProfile` (memo.h): a profiling walk takes every decision a
// `CollectAll` walk takes, but keeps only the count, path lengths and hard
// codes of what it would record, and builds no text.  Unions profile their
// members to choose the one they report, and record only that one.
//
// The state also counts what the walk's memory of definitions (memo.h)
// needs: the user-code epoch, the limits met, the back edges walked, and
// the scopes in which the current value may be walked again.
//
// Signals: the walk ticks the state's poll (binding/signals.h) as it goes,
// one level of `walk` and a stretch of a scalar scan at a time, and a
// pattern match ticks it byte by byte.  When a signal handler raises, the
// walk stops as for a fatal exception and the entry point raises the
// handler's exception, whatever it is.  A poll runs Python code, so it is
// ticked only where a predicate could run; the scans that read a
// container's storage in place tick between stretches and read the storage
// again after (`PollPause` keeps the walks inside one stretch from asking).
//
// The exception rule: a Python exception raised by anything the walk calls
// is fatal when it is not an `Exception`, or is a `MemoryError` or a
// `RecursionError`.  A fatal one is kept (the first only) and stops the
// walk; the entry point raises it.  Any other one is discarded and makes the
// value a non-member.  Every place that discards an exception goes through
// `absorb_error`, so no fatal exception is ever lost.
#pragma once

#include "python/binding/capi.h"

#include <boost/container/small_vector.hpp>
#include <cstdint>
#include <span>
#include <vector>

#include "core/ir/node.h"
#include "core/util/poll.h"
#include "python/binding/ref.h"
#include "python/binding/signals.h"
#include "python/check/memo.h"
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
// Units of poll work (util/poll.h) of one `walk` level, and of one item of
// a scalar scan; `walk` levels entered between two ticks.
inline constexpr std::uint64_t kWalkLevelUnits = 32;
inline constexpr std::uint64_t kScanItemUnits = 2;
inline constexpr std::uint64_t kLevelsPerTick = 1024;  // a power of two
// The references a builtin container held by one parent has while the walk
// checks it as that parent's item: the parent's and the walk's own.  One
// with more may be shared (or held elsewhere), and the walk notes where it
// reaches it (walk.cc).
inline constexpr Py_ssize_t kTreeItemRefs = 2;
// The expected text of a "recursion_limit" failure met because the thread's
// native stack is nearly used up, whatever the depth counters say.
inline constexpr const char* kNativeStackText = "a value nested less deeply (too little native stack left)";

struct GuardEntry {
    std::uint64_t identity;
    std::uint64_t definition;
    // Names the guard from the bottom up to this entry once the memo is on
    // (`WalkState::guard_context`); 0 before.
    std::uint64_t context;
};

// A predicate a verdict-only walk found failing (refined.cc): "predicate_failed"
// for a false answer, "predicate_error" with what it raised, and the value.
struct PredicateMiss {
    const char* code = nullptr;
    py::SavedError error;
    py::Ref value;
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
    // Runs pending signal handlers as the walk works; `walk_is_member`
    // (whose caller drops every exception) holds one that never asks, so a
    // signal stays pending for the interpreter instead of being lost.
    util::Poll poll = py::signal_poll();
    // The verdict cannot be trusted as a plain "not a member": the walk met
    // an unresolved placeholder, crossed a limit or met a cyclic value.
    // Only `walk_is_member` reads it.
    bool declined = false;
    // How many times `declined` was set: a walk that leaves it unchanged
    // met no limit, cycle or placeholder.
    std::uint64_t declines = 0;

    // `walk` levels entered so far (a work counter).
    std::uint64_t steps = 0;
    // Depth tracking for the memo (`track_depth`): `walk` looks further
    // only when it enters a level past `watch`, which is the nesting limit
    // while nothing is tracked, else the deepest level entered so far
    // (`deepest`), so an untracked walk pays nothing for it.
    std::uint64_t watch = kMaxWalkDepth;
    std::uint64_t deepest = 0;
    // Times the nesting limit or the native stack reserve was met.
    std::uint64_t depth_hits = 0;
    // Of those, the times the native stack reserve was met.
    std::uint64_t stack_hits = 0;
    // Times a cycle, and the recursion limit, were met.
    std::uint64_t loop_hits = 0;
    std::uint64_t guard_limit_hits = 0;
    // Times a check found the value changed under it (every report of
    // "mutated_during_validation", profiled or recorded).
    std::uint64_t mutations = 0;
    // The values checks found changed under them, held so that no other
    // object takes their address: a complement walked again at one of them
    // reports the change, not what the change left (composite.cc).
    std::vector<py::Ref> changed;
    // Set while a complement walks its inner node again to learn why it
    // refused (composite.cc); complements met meanwhile do not.
    bool complement_rewalk = false;
    // The most recursion-guard entries a back edge has been checked with
    // since `track_guard` (while the memo is on).
    std::size_t guard_high = 0;
    // Advanced whenever code we do not control may have run (a predicate,
    // a user `__eq__`, `__instancecheck__`, an attribute read, a `repr`):
    // memo entries of an older epoch are not used.
    std::uint64_t user_code = 0;
    // The last type whose dicts, and its bases', were found to hold plain
    // keys only, and the user-code epoch it was found in (mapping.cc): an
    // attribute read from one of its instances looks no further in that
    // epoch.
    py::Ref plain_type;
    std::uint64_t plain_type_at = 0;
    // Back edges walked so far.
    std::uint64_t edges = 0;
    // Above zero while an enclosing check may walk the current value again.
    unsigned revisits = 0;
    // Set once some check walked a value again after a walk of it had gone
    // through a back edge, or reached a container from a second place
    // (walk.cc): from then on, walks under a revisit scope are remembered.
    // A walk that never repeats such work pays nothing.
    bool memo_on = false;
    WalkMemo memo;
    // Containers that may be shared reached so far (walk.cc).
    std::uint64_t watched = 0;
    // The failures a collecting walk left out because a walk of the same
    // node at the same value and path had put them in the report already
    // (walk.cc), path lengths as they would have been recorded.  The
    // checks that look at what a walk recorded read these too
    // (`RepeatScope`).
    FailureProfile repeated;
    // The place the walk is in, for telling two walks at one path apart
    // (walk.cc): a path names no element of a set, and a dict key of
    // another type than str or int by a text another key may share, so
    // the walks below one of those are in a place named after the element
    // or key (`PlaceScope`).
    std::uint64_t place = 0;
    // The last failing predicate a verdict-only walk met, and how many it
    // met: a mapping's verdict pass keeps the one that failed an entry for
    // its explaining pass (mapping.cc).
    PredicateMiss predicate_miss;
    std::uint64_t predicate_misses = 0;

    // The memo's name of a guard entry on top of the guard named `below`.
    std::uint64_t name_guard(std::uint64_t below, std::uint64_t identity, std::uint64_t definition) {
        auto [it, fresh] = memo.contexts.try_emplace(GuardKey{below, identity, definition}, memo.contexts.size() + 1);
        return it->second;
    }

    WalkState(std::span<const py::Ref> p, std::span<const ir::Node> d, const Precompute& t)
        : pool(p), definitions(d), tables(&t) {}
    WalkState(const WalkState&) = delete;
    WalkState& operator=(const WalkState&) = delete;

    // The pooled object at `index`, or nullptr past the pool's end.
    PyObject* pooled(std::uint64_t index) const { return index < pool.size() ? pool[index].get() : nullptr; }

    // The name of the guard as it stands (0 when empty): equal names, equal
    // guards.
    std::uint64_t guard_context() const { return recursion_guard.empty() ? 0 : recursion_guard.back().context; }

    // Pushes a guard entry while the memo is on, named after the guard
    // below it and its own (identity, definition): a guard built again the
    // same way gets the same name.  (Before the memo starts, entries carry
    // no name; `start_memo` names them.)
    void push_named_guard(std::uint64_t identity, std::uint64_t definition) {
        const std::uint64_t name = name_guard(guard_context(), identity, definition);
        recursion_guard.push_back(GuardEntry{identity, definition, name});
    }

    // Turns the memo on.  The guard as it stands is named the way pushes
    // name it from now on, so the checks that walk a value again under it
    // rebuild the same names.
    void start_memo() {
        if (memo_on) return;
        memo_on = true;
        std::uint64_t below = 0;
        for (GuardEntry& e : recursion_guard) below = e.context = name_guard(below, e.identity, e.definition);
    }

    // Counts `units` of work on the poll; false once a signal handler
    // raised: the walk has stopped, its exception kept for the entry point.
    bool tick(std::uint64_t units) {
        if (poll.tick(units)) [[likely]] return true;
        interrupted();
        return false;
    }
    // Counts one `walk` level (`steps`), with a tick every kLevelsPerTick
    // levels.  False as `tick`.
    bool count_level() {
        if ((++steps & (kLevelsPerTick - 1)) != 0) [[likely]] return true;
        return tick_levels();
    }
    // The tick of kLevelsPerTick levels (out of line: the walk's frame
    // stays small).
    bool tick_levels();
    // The poll stopped the work: keeps the handler's exception, as it is,
    // and stops the walk.
    void interrupted();

    // Starts tracking the deepest level entered from here; `reach` ends it.
    struct DepthMark {
        std::uint64_t deepest, watch;
    };
    DepthMark track_depth() {
        const DepthMark mark{deepest, watch};
        deepest = watch = depth;
        return mark;
    }
    // The levels entered below the current depth since `mark`; an
    // enclosing tracking goes on with what they reached.
    std::uint64_t reach(DepthMark mark) {
        const std::uint64_t levels = deepest - depth;
        if (mark.deepest > deepest) deepest = mark.deepest;
        watch = mark.watch > deepest ? mark.watch : deepest;
        return levels;
    }

    // A level `level` deep was entered as far as depth tracking goes (a
    // remembered walk that stands in for one).
    void reached(std::uint64_t level) {
        if (level > watch && level <= kMaxWalkDepth) deepest = watch = level;
    }

    // Starts tracking the guard sizes back edges are checked with; returns
    // the mark `guard_reach` ends it with.
    std::size_t track_guard() {
        const std::size_t mark = guard_high;
        guard_high = recursion_guard.size();
        return mark;
    }
    // A back edge was checked with `size` guard entries (or a remembered
    // walk stands in for checks up to that size).
    void reached_guard(std::size_t size) {
        if (size > guard_high) guard_high = size;
    }
    // The most entries beyond `start` a back edge was checked with since
    // `mark`; an enclosing tracking goes on with what they reached.
    std::size_t guard_reach(std::size_t mark, std::size_t start) {
        const std::size_t levels = guard_high - start;
        if (mark > guard_high) guard_high = mark;
        return levels;
    }

    void decline() {
        declined = true;
        ++declines;
    }

    // Code we do not control is about to run.
    void note_user_code() { ++user_code; }

    // A verdict-only walk found a predicate failing.
    void note_predicate_miss(const char* code, py::SavedError error, PyObject* value) {
        predicate_miss = PredicateMiss{code, std::move(error), py::Ref::borrow(value)};
        ++predicate_misses;
    }

    // A check found `value` changed under it.
    void note_changed(PyObject* value) {
        ++mutations;
        if (!was_changed(value)) changed.push_back(py::Ref::borrow(value));
    }
    // Whether a check found `value` changed under it during this walk
    // (a short list: each entry is a change user code made).
    bool was_changed(PyObject* value) const {
        for (const py::Ref& v : changed)
            if (v.get() == value) return true;
        return false;
    }
};

// Marks the walks it spans as ones whose value may be walked again.  The
// check calls `again()` when it does walk the value again: if a walk in the
// scope went through a back edge, the memo turns on.
class RevisitScope {
public:
    explicit RevisitScope(WalkState& st, bool active = true) : st_(active ? &st : nullptr), edges_(st.edges) {
        if (st_) ++st_->revisits;
    }
    ~RevisitScope() {
        if (st_) --st_->revisits;
    }
    RevisitScope(const RevisitScope&) = delete;
    RevisitScope& operator=(const RevisitScope&) = delete;

    void again() const {
        if (st_ && st_->edges != edges_) st_->start_memo();
    }

private:
    WalkState* st_;
    std::uint64_t edges_;
};

// Gathers the failures left out as repeats (`WalkState::repeated`) during
// its span apart from the enclosing ones, and adds them to those when it
// ends.
class RepeatScope {
public:
    explicit RepeatScope(WalkState& st) : st_(st), outer_(st.repeated) { st.repeated = FailureProfile{}; }
    ~RepeatScope() {
        const FailureProfile mine = st_.repeated;
        st_.repeated = outer_;
        st_.repeated.merge(mine);
    }
    RepeatScope(const RepeatScope&) = delete;
    RepeatScope& operator=(const RepeatScope&) = delete;

    const FailureProfile& gathered() const { return st_.repeated; }

private:
    WalkState& st_;
    FailureProfile outer_;
};

// The place of the walks in its span (`WalkState::place`): the place
// around it and the identity of the object that names it, mixed.
class PlaceScope {
public:
    PlaceScope(WalkState& st, std::uint64_t identity) : st_(st), outer_(st.place) {
        std::uint64_t z = outer_ * 0x9e3779b97f4a7c15ULL + identity + 1;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        st.place = z ^ (z >> 31);
    }
    ~PlaceScope() { st_.place = outer_; }
    PlaceScope(const PlaceScope&) = delete;
    PlaceScope& operator=(const PlaceScope&) = delete;

private:
    WalkState& st_;
    std::uint64_t outer_;
};

// Keeps the walks in its span from asking the poll (they still count), for
// a check that reads a container's storage in place across them and ticks
// the poll itself between stretches.
class PollPause {
public:
    explicit PollPause(WalkState& st) : st_(st), saved_(st.poll) { st.poll = util::Poll(); }
    ~PollPause() { st_.poll = saved_; }
    PollPause(const PollPause&) = delete;
    PollPause& operator=(const PollPause&) = delete;

private:
    WalkState& st_;
    util::Poll saved_;
};

struct WalkContext {
    WalkState* state;
    PathStack* path;
    std::vector<Violation>* violations;  // unused while profiling
    WalkMode mode;
    FailureProfile* profile = nullptr;   // set: a profiling context (mode CollectAll)

    bool recording() const { return mode != WalkMode::VerdictOnly; }
    // Recording with failure records (and their texts), not profiling.
    bool building_records() const { return recording() && !profile; }

    // Failures recorded so far in this context.
    std::size_t recorded() const { return profile ? profile->count : violations->size(); }

    // A context sharing this one's state, with its own failure vector and
    // mode, and either this path or `own_path`.  (A verdict-only walk never
    // touches its path, so verdict-only scratch contexts share this one's.)
    WalkContext scratch(std::vector<Violation>& own, WalkMode m, PathStack* own_path = nullptr) const {
        return WalkContext{state, own_path ? own_path : path, &own, m, nullptr};
    }

    // A profiling context sharing this one's state and path.
    WalkContext profiling(FailureProfile& own) const { return WalkContext{state, path, nullptr, WalkMode::CollectAll, &own}; }
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
