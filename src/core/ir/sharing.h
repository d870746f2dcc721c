// Per-thread sharing of structurally identical children.
//
// Four direct-mapped tables per thread (nodes, node lists, clause lists,
// entry lists) hand out one shared allocation for children that are
// identical at the first level: same tag, same flag where the kind has one,
// same scalar payload, and the very same child allocations.  Because
// children are built bottom-up through these tables, "identical at the first
// level" usually means "structurally equal", and identity then short-cuts
// the deep comparisons of order.h.  The tables hold weak references only and
// never keep a schema alive.
//
// Beside them each thread keeps two scratch pools of cleared working vectors
// (nodes, record entries) that the n-ary constructors and the rewrites
// borrow, so that steady-state building allocates only shared results.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/ir/node.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {

// One thread's table for shared objects of type T (Node, or a vector of
// Node, Clause or RecordEntry): 1024 slots, no buckets, no probing; a
// colliding live entry is evicted.  `borrow` is 0 while free and -1 while
// a look-up runs.
template <class T>
struct InternTable {
    static constexpr std::size_t kSlots = 1024;
    std::array<std::weak_ptr<const T>, kSlots> slots;
    std::int32_t borrow = 0;
};

// Shallow identity: same tag and the same node words (children compared by
// the address of their shared allocation, the flag only where the kind has
// one).
bool node_identical(const Node& a, const Node& b);

// Writes the node's tag and node words into `h` without finishing it.
void hash_node_shallow(const Node& node, util::FxHasher& h);

// The slot a finished Fx hash selects.
inline std::size_t intern_slot(std::uint64_t finished_hash) { return finished_hash & 1023; }

// Takes the node over and returns a shared node with the same contents: the
// one already in this thread's table when it is identical, else a new one.
SharedNode intern_node(Node node);

// A shared list with the same elements; an empty input gives
// `empty_node_slice()`.  On a miss the elements are copied.
NodeList intern_node_slice(std::span<const Node> nodes);

// On a miss the clauses move into the new list and `clauses` is left empty;
// on a hit, and for the empty list and the single catch-all clause
// (anything, anything) -- answered with `open_clause_list()` whatever the
// Any flags -- `clauses` keeps its contents.
ClauseList intern_clause_slice(std::vector<Clause>& clauses);

// The same for record entries (the empty list is `empty_entry_slice()`).
EntryList intern_entry_slice(std::vector<RecordEntry>& entries);

// --- scratch vectors ---------------------------------------------------------

// One thread's stack of cleared working vectors of T, unbounded: every
// vector given back stays (with its capacity) until the thread ends.
template <class T>
struct ScratchPool {
    std::vector<std::vector<T>> stack;
    std::int32_t borrow = 0;
};

// Pops the most recently returned vector of this thread's pool, or answers
// a new empty vector when the pool is empty (or being torn down).  The
// vector is empty; its capacity is kept from earlier use.
std::vector<Node> take_scratch_nodes();
// Clears the vector and pushes it back onto this thread's pool.
void give_scratch_nodes(std::vector<Node>&& v);
std::vector<RecordEntry> take_scratch_entries();
void give_scratch_entries(std::vector<RecordEntry>&& v);

// Borrows a scratch vector for a scope and gives it back at its end.
template <class T>
class Scratch {
public:
    Scratch() : v_(take()) {}
    ~Scratch() { give(std::move(v_)); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::vector<T>& operator*() { return v_; }
    std::vector<T>* operator->() { return &v_; }

private:
    static std::vector<T> take();
    static void give(std::vector<T>&& v);
    std::vector<T> v_;
};

template <>
inline std::vector<Node> Scratch<Node>::take() { return take_scratch_nodes(); }
template <>
inline void Scratch<Node>::give(std::vector<Node>&& v) { give_scratch_nodes(std::move(v)); }
template <>
inline std::vector<RecordEntry> Scratch<RecordEntry>::take() { return take_scratch_entries(); }
template <>
inline void Scratch<RecordEntry>::give(std::vector<RecordEntry>&& v) { give_scratch_entries(std::move(v)); }

using ScratchNodes = Scratch<Node>;
using ScratchEntries = Scratch<RecordEntry>;

}  // namespace tessaron::ir
