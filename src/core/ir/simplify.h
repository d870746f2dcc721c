// The simplify rewrite: a schema tree into negation-normal form, with the
// folds that are decisions rather than lattice laws (a join covering every
// value kind is anything, a meet of provably disjoint members is nothing,
// two complements of disjoint nodes unite to anything).
//
// The disjointness proofs are the decisions' business, a layer above the
// schema tree: the caller hands simplify the test to use.
#pragma once

#include <cstdint>

#include "core/ir/node.h"

namespace tessaron::ir {

// The disjointness steps one simplify call may spend on its folds (the pair
// tests are quadratic in the members of a union or intersection); past it,
// no further pair is tested and the members stay as they are.
inline constexpr std::uint32_t kSimplifyDisjointSteps = 1u << 18;

// True only on a proof that `a` and `b` share no value; false when no proof
// was found.  Takes one step of `steps` per visited pair of nodes and
// answers false once none is left.  It must not rely on anything but the
// nodes' structure: simplify has no pool at hand.
using DisjointnessTest = bool (*)(const Node& a, const Node& b, std::uint32_t& steps);

// The rewritten node, always a complete new node; the input is only read.
// Complements end up directly above nodes that are neither union,
// intersection, complement, anything nor nothing.  Back edges are not
// followed: the caller simplifies each definition on its own.
Node simplify_node(const Node& node, DisjointnessTest disjoint);

// The same with an explicit budget of disjointness steps for the folds.
Node simplify_node(const Node& node, DisjointnessTest disjoint, std::uint32_t disjoint_steps);

}  // namespace tessaron::ir
