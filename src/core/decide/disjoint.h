// The structural disjointness test of two schema nodes, and the builtin kind
// a node stands for.
//
// `nodes_disjoint` answers true only on a proof that two nodes share no
// value; false means "not proved".  It reads the nodes' structure and asks
// the oracle a few leaf questions (literal sets, literal kinds, classes
// against kinds); with `NullOracle` every question declines and only the
// structural proofs remain.  It serves the simplify folds and the
// structural decisions.
#pragma once

#include <cstdint>
#include <optional>

#include "core/decide/decision.h"
#include "core/ir/kind.h"
#include "core/ir/node.h"
#include "core/ir/oracle.h"

namespace tessaron::decide {

// The one builtin kind every value of a node has: None, bool, int, float,
// str and bytes for the scalar nodes (int: the node admits bools too, but
// stands for int), list or tuple for a sequence, set or frozenset for a set,
// dict for a mapping; a literal answers `oracle.constant_kind` of its
// constant; a refined node answers for its inner node; every other node
// answers none.  Pass `NullOracle` to count a literal as having no kind.
std::optional<ir::Kind> node_builtin_kind(const ir::Node& node, ir::Oracle& oracle);

// How many nodes one disjointness question may visit before it gives up
// and answers "not proved".  Splitting unions on both sides multiplies the
// member counts of nested unions; the limit keeps that bounded.
inline constexpr std::uint32_t kDisjointStepLimit = 4096;

// True when `a` and `b` provably have no value in common; false when no
// proof was found.  Never fails, raises nothing.  Takes one step of `steps`
// per visited pair of nodes and answers false at once when none is left;
// a question that ran out answers false as a whole.
bool nodes_disjoint(const ir::Node& a, const ir::Node& b, ir::Oracle& oracle, std::uint32_t& steps);

// The same question under a fresh budget of `kDisjointStepLimit` steps.
bool nodes_disjoint(const ir::Node& a, const ir::Node& b, ir::Oracle& oracle);

// The question inside a decision: the pairs it visits are taken from the
// decision's steps (at most `kDisjointStepLimit`, and no more than are
// left), so a decision that compares many pairs of members spends its
// budget on them; with no step left it answers false without looking.
bool nodes_disjoint(const ir::Node& a, const ir::Node& b, DecisionContext& ctx);

// Node pairs visited by the disjointness tests of the calling thread so
// far, whatever asked them.  A work counter for tests.
std::uint64_t disjoint_pairs_visited();

// The question with `NullOracle`: structure alone.  This is the test the
// simplify rewrite is given (an `ir::DisjointnessTest`).
bool structurally_disjoint(const ir::Node& a, const ir::Node& b, std::uint32_t& steps);

// The node is refined and its refinement chain carries a MinLen above 0
// (its values are never empty containers).
bool has_positive_min_len(const ir::Node& node);

}  // namespace tessaron::decide
