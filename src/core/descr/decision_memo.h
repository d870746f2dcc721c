// What one decision remembers of its shared descriptors: the order and
// the equality of the pairs of distinct descriptors it compared.
//
// The normal forms sort and deduplicate lists of lines, set items and
// shapes whose nested descriptors (shape values, set elements, sequence
// labels) are shared: the same objects, or equal ones built apart (the
// complement of one value made once per shape that holds it), come up
// pair after pair.  Without a memory every comparison walks both nested
// descriptors down to their text automata again, and a sort of a few
// hundred shapes walks each pair thousands of times.  Inside a scope the
// order of two distinct objects is computed once, and so is their
// equality (two integer sets of one value may be ordered apart, so an
// order other than equal does not answer it).
//
// A `DecisionMemoScope` opens the calling thread's memo for its duration;
// a scope opened inside another one (a decision asked from user code
// during a decision) uses the outer one's memo, dropped when the
// outermost scope ends.  Outside every scope nothing is remembered.
//
// Invariants: an entry holds handles to both objects, so no address is
// taken by another descriptor while the memo lives; descriptors never
// change once shared, so an answer never goes stale.  Orders and
// equalities take no budget, so what is remembered is what a new walk
// would answer.  At most `kMaxRememberedPairs` pairs are kept; past that,
// comparisons walk as they would without a memo.
//
// Work: `descr_comparisons()` counts the comparisons of two distinct
// shared descriptors that walked them (the memo's misses, and every one
// outside a scope), the work counter of the orders.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstddef>
#include <compare>
#include <cstdint>
#include <optional>

#include "core/descr/descr.h"
#include "core/ir/answers.h"
#include "core/util/fxhash.h"

namespace tessaron::descr {

inline constexpr std::size_t kMaxRememberedPairs = std::size_t{1} << 16;
inline constexpr std::size_t kMaxRememberedVerdicts = std::size_t{1} << 16;

// Two distinct objects, the lower address first.
struct DescrPairKey {
    const Descr* low = nullptr;
    const Descr* high = nullptr;
    bool operator==(const DescrPairKey&) const = default;
};
struct DescrPairKeyHash {
    std::size_t operator()(const DescrPairKey& k) const {
        util::FxHasher h;
        h.write(reinterpret_cast<std::uintptr_t>(k.low));
        h.write(reinterpret_cast<std::uintptr_t>(k.high));
        return h.finish();
    }
};

// What is known of one pair, each part unknown until computed: the order
// of `low` against `high`, and whether they are equal.
struct RememberedPair {
    SharedDescr low, high;
    std::optional<std::strong_ordering> order;
    std::optional<bool> equal;
};

// A verdict proved of one object (empty or inhabited), with a handle to it.
struct RememberedVerdict {
    SharedDescr object;
    ir::Emptiness verdict = ir::Emptiness::Undecided;
};

struct DecisionMemo {
    boost::unordered_flat_map<DescrPairKey, RememberedPair, DescrPairKeyHash> pairs;
    boost::unordered_flat_map<const Descr*, RememberedVerdict, util::FxHash> verdicts;
};

// The calling thread's memo, or nullptr: outside every scope, and inside
// one until something is kept.
DecisionMemo* decision_memo();
// Whether a scope is open on the calling thread.
bool decision_memo_open();

// What the calling thread's open memo knows of two distinct present
// handles, in the order asked: their order and equality when computed;
// nothing outside a scope.
std::optional<std::strong_ordering> remembered_order(const SharedDescr& a, const SharedDescr& b);
std::optional<bool> remembered_equality(const SharedDescr& a, const SharedDescr& b);
// Keeps what was computed of them (nothing outside a scope, or when the
// memo is full and the pair is not in it).
void remember_order(const SharedDescr& a, const SharedDescr& b, std::strong_ordering order);
void remember_equality(const SharedDescr& a, const SharedDescr& b, bool equal);

// The verdict proved of a present handle, if the open memo holds one; and
// keeping one (only an empty or inhabited verdict is kept).
std::optional<ir::Emptiness> remembered_verdict(const SharedDescr& d);
void remember_verdict(const SharedDescr& d, ir::Emptiness verdict);

// Comparisons of two distinct shared descriptors that walked them (orders
// and equalities alike), on this thread so far; `count_descr_comparison`
// adds one.
std::uint64_t descr_comparisons();
void count_descr_comparison();

class DecisionMemoScope {
public:
    DecisionMemoScope();
    ~DecisionMemoScope();
    DecisionMemoScope(const DecisionMemoScope&) = delete;
    DecisionMemoScope& operator=(const DecisionMemoScope&) = delete;

private:
    bool owner_;
};

}  // namespace tessaron::descr
