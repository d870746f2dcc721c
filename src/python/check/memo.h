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
// A value whose containers are held by several parents (a parsed document
// with anchors, a graph of lists, tuples and dicts) has as many paths as
// two to the power of its depth, and a walk that follows each path walks
// its shared parts once per path.  So the memo also keeps, under the
// node's own name (`node_memo_key`), the walks of container nodes at
// builtin containers (and list, tuple and dict subclasses, read through
// their storage) that the walk has reached from two places in the value
// (`Arrivals`), by the same rules as a definition's.  Before its second
// place is met a container is walked as a tree's part is, once per walk of
// its parent; from then on each (node, container) pair is walked once to
// remember it: `is_valid`, the profiling walks of a union's members and
// `fail_fast` (whose failing walks keep the failures they recorded) work
// in the number of distinct objects.  The collecting walk reports every
// failing path, so its work grows with their number; but a failing walk it
// made is kept with the path (and place, context.h) it recorded its
// failures at, and the same walk met again there (the members of an intersection reach
// one child under two nodes that lead to the same definition) records
// nothing and is not made again: its failures are in the report already,
// and each is reported once.  (A collecting walk's failures always reach
// the report: a check that may drop what a walk recorded -- a union whose
// chosen member admits on its second walk -- does so only after user code
// ran, which ends every entry made before.)
//
// When an entry may stand in for a walk:
//   * no user code ran from the start of its walk until now
//     (`WalkState::user_code`, the epoch every call into code we do not
//     control advances; an entry is stamped with the epoch its walk began
//     in, and kept only if the epoch is the same when it ends): a
//     predicate, a user `__eq__` (a dict lookup calls the one of a stored
//     key of the same hash: mapping.cc), `__instancecheck__`, attribute
//     read or `repr` may have changed the value or what a check answers,
//     and the next walk must see that.  A walk that saw the value change
//     is not kept either;
//   * the value it was made for is still the same object: the entry holds
//     a strong reference to it, so its address cannot be reused by another
//     object while the entry lives;
//   * depth: if the recorded walk met the nesting limit or the native
//     stack reserve, the walk it would replace starts at the very same
//     depth; otherwise no deeper, or deeper by so little that the levels
//     the recorded walk entered (its reach, with those a scan of plain
//     items stands for above their type tests: plain_scan.h), and one more
//     for the type tests made in place below them, stay within the nesting
//     limit, so it meets that limit nowhere either.  Members of a union
//     reach the same child at depths a level or two apart (`list[X]` and
//     `list[X | str]`), so without the reach a value past a limit would be
//     walked again for every combination of those offsets;
//   * guard: the walk it would replace starts from the same guard (same
//     entries, so cycles and the recursion limit are met at the same
//     places), which is where the members of a union or intersection walk
//     a child again.  Or, if the recorded walk met no cycle, from another
//     guard that meets the recursion limit where it did: with as many
//     entries if it met that limit, else with so few that the guard sizes
//     its back edges were checked with (its guard reach) stay below the
//     limit.  A walk that met no limit and no cycle then answers the same
//     wherever it starts (a cycle met from one start is met from any
//     other).  A walk that met a limit answers the same where none of the
//     entries the two guards do not share can be met below the value: a
//     parsed document is a tree, and for Python values `AcyclicCache` tells
//     (acyclic.h).  Members that cross back edges at different values
//     (`list[list[X]]` and `list[X | str]`) reach a child with guards of
//     different entries and sizes, as many as there are ways to combine
//     the members down to it; without this, a value past a limit would be
//     walked again for each.
// An entry reused deeper than it was made may stand for a walk that would
// have met the native stack reserve; it answers what a larger stack gives.
// An entry that fails these is ignored, and the walk is done again.  A
// walk that a remembered one stands in for passes on to the walk around
// it what the remembered one met and how far it reached, so the entry
// made for the enclosing walk is kept and used by the same rules.
//
// Entries for definitions are made only while some enclosing check may walk
// the current value again (`WalkState::revisits`), and entries for nodes
// only at shared containers, so a walk of a tree without unions,
// intersections or explaining passes pays nothing but a counter test and a
// reference count test per container (a container that something outside
// the value also holds, and on PyPy, whose reference counts tell nothing,
// every container, pays a lookup in the places noted, and a note of its
// own place only if its walk met another such container: walk.cc).
//
// Guards are named so that a declined entry can tell its starting guard
// again: once the memo is on, each guard entry is named after the guard
// below it and its own (identity, definition), so the same guard built
// again gets the same name.
//
// Budget: one entry per (definition, value) pair walked under a revisit
// scope and per (container node, shared container) pair walked, and for
// walks that met a limit one per (definition, value) and depth or guard
// size the limit depends on, so at most 512 * 128 times as many; one
// place per container that may be shared and reaches another; one name
// per guard entry pushed while the memo is on; one mark per object
// `AcyclicCache` visits.  All are released with the walk; a lookup is at
// most four hashes of four words.  Entries and places are charged to the
// walk's poll as they are made, and a table's growth by its size, so
// signal handlers run while the tables grow.
#pragma once

#include "python/binding/capi.h"

#include <array>
#include <boost/unordered/unordered_flat_map.hpp>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "core/ir/node.h"
#include "core/util/fxhash.h"
#include "python/binding/ref.h"
#include "python/check/acyclic.h"
#include "python/errors.h"

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

    // The count saturates: a value that shares objects has as many paths
    // as two to the power of its depth, each one failing.
    void add(std::size_t length, bool hard_code) {
        if (count != std::numeric_limits<std::size_t>::max()) ++count;
        if (length < shortest) shortest = length;
        if (length > longest) longest = length;
        hard = hard || hard_code;
    }

    void merge(const FailureProfile& other) {
        if (other.count == 0) return;
        count = other.count > std::numeric_limits<std::size_t>::max() - count ? std::numeric_limits<std::size_t>::max()
                                                                                : count + other.count;
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

// The memo's name of a node, for the walks of container nodes it
// remembers at shared values: its address with the top bit set, apart from
// every definition index.
inline std::uint64_t node_memo_key(const ir::Node& node) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&node)) | (std::uint64_t{1} << 63);
}

// Failing walks made failing fast are kept apart, under their name with
// this bit set (no definition index or node address has it): the profiled
// and verdict-only walks of the same name, from other guards, would
// otherwise replace them, and each kind of walk be made again for the
// other.
inline constexpr std::uint64_t kFailFastKey = std::uint64_t{1} << 62;

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
    // It met a cycle; it met the recursion limit.
    bool met_loop;
    bool met_guard_limit;
    // The most guard entries beyond `guard_size` a back edge was checked
    // with in its walk.
    std::size_t guard_reach;
    // It met the nesting limit or the native stack reserve: it stands for
    // a walk from its own depth only (`WalkMemo::find_at`).
    bool exact_depth;
    bool verdict;
    bool profiled;               // `profile` holds the failures of a failing walk
    FailureProfile profile;      // path lengths relative to the back edge's path
    // A failing walk made failing fast: the failures it recorded (paths as
    // recorded, `base` segments of them the prefix it was walked under).
    std::shared_ptr<const std::vector<Violation>> fail_fast;
    std::size_t base = 0;
    // A failing walk made collecting: the path it recorded its failures
    // at, in the report of this walk (`collected_here`; the empty path is
    // null).  Its `profile` counts them, and those it left out as repeats.
    Path collected;
    std::uint64_t collected_place = 0;  // `WalkState::place` of that walk
    bool collected_here = false;

    // Whether `other` was made by the very same walk: the same epoch at its
    // start and end, the same start, the same answer.
    bool same_walk(const MemoEntry& other) const {
        return user_code == other.user_code && depth == other.depth && guard_context == other.guard_context &&
               guard_size == other.guard_size && verdict == other.verdict;
    }
};

// Where the walk has reached the containers that may be shared and that
// reach more such containers below them (walk.cc): at one place so far, or
// at two (shared).  No reference is held: a container freed during the
// call and another made at its address only makes the walk remember more
// than it needs.
class Arrivals {
public:
    enum class Seen : std::uint8_t { New, SamePlace, Shared };

    // What is known of the container `identity` reached at (parent, slot):
    // nothing yet; only this place; or another place too (from now on it
    // is shared).
    Seen reach(std::uint64_t identity, std::uint64_t parent, std::uint64_t slot) {
        if (places_.empty()) return Seen::New;
        auto it = places_.find(identity);
        if (it == places_.end()) return Seen::New;
        Place& first = it->second;
        if (first.parent == kShared) return Seen::Shared;
        if (first.parent == parent && first.slot == slot) return Seen::SamePlace;
        first.parent = kShared;
        return Seen::Shared;
    }
    // Notes the place of a container `reach` found new.
    void note(std::uint64_t identity, std::uint64_t parent, std::uint64_t slot) {
        places_.try_emplace(identity, Place{parent, slot});
    }
    // Whether the next `note` makes the table grow, and its size.
    bool full() const { return places_.size() >= places_.max_load(); }
    std::size_t size() const { return places_.size(); }

private:
    static constexpr std::uint64_t kShared = ~std::uint64_t{0};
    struct Place {
        std::uint64_t parent;
        std::uint64_t slot;
    };
    boost::unordered_flat_map<std::uint64_t, Place, util::FxHash> places_;
};

class WalkMemo {
public:
    // The entries that may stand in for walking `definition` at the value
    // `identity` from `depth` with `guard_size` guard entries, most widely
    // usable first (nullptr where there is none): entries are kept under
    // their own depth only when they met the nesting limit, and under
    // their own guard size only when they met the recursion limit.
    std::array<const MemoEntry*, 4> find(std::uint64_t definition, std::uint64_t identity, std::uint64_t depth,
                                         std::size_t guard_size) const {
        if (table_.empty()) return {};
        return {lookup(Key{definition, identity, kAny, kAny}), lookup(Key{definition, identity, kAny, guard_size}),
                lookup(Key{definition, identity, depth, kAny}), lookup(Key{definition, identity, depth, guard_size})};
    }

    // Stores `entry`; the profile of the entry it replaces is kept if that
    // entry was made by the very same walk.
    void store(std::uint64_t definition, std::uint64_t identity, MemoEntry entry) {
        ++stored_;
        const Key key{definition, identity, entry.exact_depth ? entry.depth : kAny,
                      entry.met_guard_limit ? entry.guard_size : kAny};
        auto [it, fresh] = table_.try_emplace(key);
        if (!fresh && it->second.same_walk(entry)) {
            MemoEntry& old = it->second;
            if (!entry.profiled && old.profiled) {
                entry.profiled = true;
                entry.profile = old.profile;
            }
        }
        it->second = std::move(entry);
    }

    // Whether the next store of a new key makes the table grow, and its
    // size.
    bool full() const { return table_.size() >= table_.max_load(); }
    std::size_t size() const { return table_.size(); }
    // Entries stored so far (a work counter: some replaced others).
    std::uint64_t stored() const { return stored_; }

    // The names of the guards met while the memo is on (context.h).
    boost::unordered_flat_map<GuardKey, std::uint64_t, GuardKeyHash> contexts;
    // What is known of the values below each value (acyclic.h).
    AcyclicCache acyclic;
    // Where each container that may be shared was reached.
    Arrivals arrivals;

private:
    static constexpr std::uint64_t kAny = ~std::uint64_t{0};
    struct Key {
        std::uint64_t definition;
        std::uint64_t identity;
        std::uint64_t depth;       // kAny, or the one depth the entry is for
        std::uint64_t guard_size;  // kAny, or the one guard size it is for
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            util::FxHasher h;
            h.write(k.identity);
            h.write(k.definition);
            h.write(k.depth);
            h.write(k.guard_size);
            return h.finish();
        }
    };
    const MemoEntry* lookup(const Key& key) const {
        auto it = table_.find(key);
        return it == table_.end() ? nullptr : &it->second;
    }
    boost::unordered_flat_map<Key, MemoEntry, KeyHash> table_;
    std::uint64_t stored_ = 0;
};

}  // namespace tessaron::python::check
