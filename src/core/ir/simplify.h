// The simplify rewrite: a schema tree into negation-normal form, with the
// folds that are decisions rather than lattice laws (a join covering every
// value kind is anything, a meet of provably disjoint members is nothing,
// two complements of disjoint nodes unite to anything).
#pragma once

#include <cstdint>

#include "core/ir/node.h"

namespace tessaron::ir {

// The disjointness steps one simplify call may spend on its folds (the pair
// tests are quadratic in the members of a union or intersection); past it,
// no further pair is tested and the members stay as they are.
inline constexpr std::uint32_t kSimplifyDisjointSteps = 1u << 18;

// The rewritten node, always a complete new node; the input is only read.
// Complements end up directly above nodes that are neither union,
// intersection, complement, anything nor nothing.  Back edges are not
// followed: the caller simplifies each definition on its own.
Node simplify_node(const Node& node);

// The same with an explicit budget of disjointness steps for the folds.
Node simplify_node(const Node& node, std::uint32_t disjoint_steps);

}  // namespace tessaron::ir
