// Which recursive definitions a schema's root can reach.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

// One flag per definition, true when the root reaches it, directly or
// through other reached definitions.  A back edge at or past the end of
// `definitions` is not followed.
std::vector<bool> reachable_definitions(const Node& root, std::span<const Node> definitions);

// The reached definitions in canonical order: a depth-first walk from the
// root in child order that numbers a definition when its own walk ends
// (post-order), so definitions nested in a definition come before it.  That
// is the order in which building the schema's rendered text creates them,
// which makes the numbering independent of the order a schema was assembled
// in.  Unreached definitions are not listed.
std::vector<std::uint64_t> definitions_in_canonical_order(const Node& root, std::span<const Node> definitions);

// The classes of equivalent definitions: two definitions are in one class
// when they are structurally equal once every back edge is read as the
// class of its target (the coarsest such partition, found by refining the
// partition of all definitions into one class until it is stable, as in
// automaton minimisation).  Classes are numbered from 0 in order of their
// first member.
std::vector<std::uint64_t> definition_classes(std::span<const Node> definitions);

// Finalisation's normal form of the definitions: equivalent definitions
// merged into one, unreachable ones dropped, the others in canonical order,
// every back edge renumbered.  Answers whether anything changed; when not,
// root and definitions are untouched.
bool canonicalise_definitions(Node& root, std::vector<Node>& definitions);

}  // namespace tessaron::ir
