// Structural inhabitation: whether a schema tree admits any value at all.
//
// `decide_inhabited` is the first step of `is_empty` and the test behind
// every refutation of an inclusion (a left side is shown to have a value
// outside the right one only when it is shown to have a value at all) and
// behind every fallback (an undecided inclusion still holds for an empty
// left side).  Its answer comes with the value kinds the node admits, so
// unions, intersections and complements of whole kinds are settled by bit
// arithmetic.
//
// The helpers beside it -- bound folding, value counts, the cheap syntactic
// test, the class-against-kind test -- serve the inclusion rules too.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/decide/decision.h"
#include "core/ir/node.h"

namespace tessaron::decide {

// The answer of `decide_inhabited`.  When `inexact` is clear the node is
// exactly the union of the whole kinds in `kinds`; when it is set `kinds`
// means nothing.
struct Inhabitation {
    Emptiness answer = Emptiness::Undecided;
    bool inexact = true;
    KindMask kinds;
};

// The definitions being expanded on the current path of one inhabitation
// question.  Every question starts with an empty path.
using RecursionPath = std::vector<std::uint64_t>;

Inhabitation decide_inhabited(const ir::Node& node, DecisionContext& ctx, RecursionPath& path);

// Members of intersections compared (node_eq, node_cmp) by the
// complementary-pair test of the calling thread so far.  A work counter
// for tests.
std::uint64_t member_comparisons();

// The answer of `decide_inhabited` on a fresh path.
Emptiness decide_inhabited_fresh(const ir::Node& node, DecisionContext& ctx);

// The answer for a refined node (at least one constraint).
Emptiness decide_refined_inhabited(const ir::Node& inner, std::span<const ir::Constraint> constraints,
                                  DecisionContext& ctx, RecursionPath& path);

// How one end of folded bounds holds: the bound value included, excluded,
// or no bound at all.
enum class BoundState : std::uint8_t { Inclusive, Exclusive, Absent };

// The tightest numeric bounds of a constraint list.  `all_answered` is
// false when some comparison made while folding was declined (the bound
// kept then is one of the bounds, not necessarily the tightest).
struct FoldedBounds {
    std::uint64_t lower = 0;
    BoundState lower_state = BoundState::Absent;
    std::uint64_t upper = 0;
    BoundState upper_state = BoundState::Absent;
    bool all_answered = true;
};
FoldedBounds fold_bounds(std::span<const ir::Constraint> constraints, Oracle& oracle);

// Bounds on how many distinct values a node admits; kInfinite stands for
// infinitely many.
struct ValueCount {
    static constexpr std::uint64_t kInfinite = UINT64_MAX;
    std::uint64_t least = 0;
    std::uint64_t most = kInfinite;
};
ValueCount value_count_bounds(const ir::Node& node, DecisionContext& ctx);

// A cheap syntactic proof of inhabitation (no oracle, no budget).
bool trivially_inhabited(const ir::Node& node);

// True when the class at `class_index` is known never to produce a value of
// the kind `r` stands for.
bool class_disjoint_from_kinds(const ir::Node& r, std::uint64_t class_index, DecisionContext& ctx);

// Whether every value of the node is of a builtin kind whose comparisons,
// remainders and lengths are the builtin ones (bool, int, float, str,
// bytes, set, frozenset).  The bound and divisor rules rely on those
// operations being a fixed, transitive order and exact arithmetic; over a
// class or `anything`, a value with a lax `__ge__` could be a member of
// ">= 5 and <= 3".  A union qualifies when every member does, an
// intersection when some member does (its values lie in every member).
bool values_have_builtin_order(const ir::Node& node, Oracle& oracle);

}  // namespace tessaron::decide
