// What one walk remembers of the definitions it has already walked.
//
// A union tries each member on the same value, an intersection walks every
// member on it, a mapping walks a field again to explain a failure, and a
// union that reports walks its chosen member again to record it.  Through a
// recursive schema each of these repeats reaches the same (definition,
// value) pairs again and again, so without a memory the work grows as the
// number of members to the power of the value's depth.  `WalkMemo` keeps,
// for each back edge walked, what the walk of its definition at that value
// answered: the verdict, and for a failure walked while recording, its
// `FailureProfile` with path lengths relative to the value (so it stands
// for the same failures under any prefix).  With it every (definition,
// value) pair is walked once per call, and the work is polynomial in value
// size times schema size.
//
// When an entry may stand in for a walk:
//   * no user code can have run since it was made (`WalkState::user_code`,
//     the epoch every call into code we do not control advances): a
//     predicate, a user `__eq__`, `__instancecheck__`, attribute read or
//     `repr` may have changed the value or what a check answers, and the
//     next walk must see that;
//   * the value it was made for is still the same object: the entry holds
//     a strong reference to it, so its address cannot be reused by another
//     object while the entry lives;
//   * the walk it records met no limit, no cycle and no unresolved
//     placeholder, and the walk it would replace starts with no more
//     recursion-guard entries, and either no deeper or deeper by so little
//     that the levels the recorded walk entered (its reach) stay within the
//     nesting limit: it then meets no limit either, and a walk that meets
//     no limit and no cycle answers the same wherever it starts (a cycle
//     met from one start is met from any other).
//   * a walk that did meet one answers for the same guard only (same
//     entries, so the recursion limit and cycles are met at the same
//     places), which is where the members of a union or intersection walk
//     a child again, and at any depth that keeps its reach within the
//     nesting limit, as above; unless what it met was the nesting limit or
//     the native stack reserve, which depend on the depth: then for the
//     very same depth only.  Members of a union reach the same child at
//     depths a level or two apart (`list[X]` and `list[X | str]`), so
//     without the reach a value past the recursion limit would be walked
//     again for every combination of those offsets.
// An entry reused deeper than it was made may stand for a walk that would
// have met the native stack reserve; it answers what a larger stack gives.
// An entry that fails these is ignored, and the walk is done again.
//
// Entries are made only while some enclosing check may walk the current
// value again (`WalkState::revisits`), so a walk without unions,
// intersections or explaining passes pays nothing but a counter test.
//
// Guards are named so that a declined entry can tell its starting guard
// again: once the memo is on, each guard entry is named after the guard
// below it and its own (identity, definition), so the same guard built
// again gets the same name.
//
// Budget: one entry per (definition, value) pair walked under a revisit
// scope and one name per guard entry pushed while the memo is on, both
// released with the walk; a lookup is one hash of two or three words.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/util/fxhash.h"
#include "python/binding/ref.h"

namespace tessaron::python::check {

// What a profiling walk keeps of the failures it would record: how many,
// the shortest and longest of their paths, and whether one has a hard code
// (the codes a failing union prefers to report, report.h).  That is all a
// union needs to choose which member it reports.
struct FailureProfile {
    std::size_t count = 0;
    std::size_t shortest = std::numeric_limits<std::size_t>::max();
    std::size_t longest = 0;
    bool hard = false;

    void add(std::size_t length, bool hard_code) {
        ++count;
        if (length < shortest) shortest = length;
        if (length > longest) longest = length;
        hard = hard || hard_code;
    }

    void merge(const FailureProfile& other) {
        if (other.count == 0) return;
        count += other.count;
        if (other.shortest < shortest) shortest = other.shortest;
        if (other.longest > longest) longest = other.longest;
        hard = hard || other.hard;
    }

    // The same failures with every path `by` segments longer (`by` may
    // wrap to subtract: lengths never go below the shift taken off).
    FailureProfile shifted(std::size_t by) const {
        FailureProfile p = *this;
        if (count != 0) {
            p.shortest += by;
            p.longest += by;
        }
        return p;
    }
};

// A guard entry on top of a named guard.
struct GuardKey {
    std::uint64_t below;
    std::uint64_t identity;
    std::uint64_t definition;
    bool operator==(const GuardKey&) const = default;
};
struct GuardKeyHash {
    std::size_t operator()(const GuardKey& k) const noexcept {
        util::FxHasher h;
        h.write(k.below);
        h.write(k.identity);
        h.write(k.definition);
        return h.finish();
    }
};

struct MemoEntry {
    py::Ref keep;                // the value (Python values only)
    std::uint64_t user_code;     // the epoch the entry belongs to
    // Where the walk started: its nesting depth and guard size, and the
    // guard's name (context.h).
    std::uint64_t depth;
    std::size_t guard_size;
    std::uint64_t guard_context;
    // The levels its walk entered below its start.
    std::uint64_t reach;
    // It met a limit, a cycle or a placeholder.
    bool declined;
    // It met the nesting limit or the native stack reserve: it stands for
    // a walk from its own depth only.
    bool exact_depth;
    bool verdict;
    bool profiled;               // `profile` holds the failures of a failing walk
    FailureProfile profile;      // path lengths relative to the back edge's path
};

class WalkMemo {
public:
    bool empty() const { return table_.empty(); }

    const MemoEntry* find(std::uint64_t definition, std::uint64_t identity) const {
        auto it = table_.find(Key{definition, identity});
        return it == table_.end() ? nullptr : &it->second;
    }

    void store(std::uint64_t definition, std::uint64_t identity, MemoEntry entry) {
        table_.insert_or_assign(Key{definition, identity}, std::move(entry));
    }

    // The names of the guards met while the memo is on (context.h).
    boost::unordered_flat_map<GuardKey, std::uint64_t, GuardKeyHash> contexts;

private:
    struct Key {
        std::uint64_t definition;
        std::uint64_t identity;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            util::FxHasher h;
            h.write(k.identity);
            h.write(k.definition);
            return h.finish();
        }
    };
    boost::unordered_flat_map<Key, MemoEntry, KeyHash> table_;
};

}  // namespace tessaron::python::check
