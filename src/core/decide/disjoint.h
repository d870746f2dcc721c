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

#include "core/decide/oracle.h"
#include "core/ir/node.h"

namespace tessaron::decide {

// The builtin kind a node stands for, as a `KindCode`: None 0, bool 1,
// int 2, float 3, str 4, bytes 5, a list 6 or tuple 7 sequence, a set 8 or
// frozenset 9, a mapping 10; a literal answers `oracle.constant_kind` of
// its constant; a refined node answers for its inner node; every other
// node answers kNoKind (255).  Pass `NullOracle` to count a literal as
// having no kind.
std::uint8_t node_kind_index(const ir::Node& node, Oracle& oracle);

// How many nodes one disjointness question may visit before it gives up
// and answers "not proved".  Splitting unions on both sides multiplies the
// member counts of nested unions; the limit keeps that bounded.
inline constexpr std::uint32_t kDisjointStepLimit = 4096;

// True when `a` and `b` provably have no value in common; false when no
// proof was found.  Never fails, raises nothing.  Takes one step of `steps`
// per visited pair of nodes and answers false at once when none is left;
// a question that ran out answers false as a whole.
bool nodes_disjoint(const ir::Node& a, const ir::Node& b, Oracle& oracle, std::uint32_t& steps);

// The same question under a fresh budget of `kDisjointStepLimit` steps.
bool nodes_disjoint(const ir::Node& a, const ir::Node& b, Oracle& oracle);

}  // namespace tessaron::decide
