// Checkers of the node invariants stated in node.h.
//
// `normal_form_violation` looks at one node's own fields (not into its
// children) and names the first invariant they break; `tree_violation`
// checks every node of a tree.  The constructors assert them in builds with
// asserts on (the native tests, the sanitizer builds); the native tests
// call them on the results of the constructors and rewrites.
#pragma once

#include <optional>
#include <string_view>

#include "core/ir/node.h"

namespace tessaron::ir {

// The first invariant the node's own fields break, or none:
//   * fields its kind does not use are empty (null lists and child, zero
//     index; the flag is zero but for anything, sequence and set);
//   * union and intersection: at least two members, in strictly ascending
//     canonical order (so without structural duplicates), none anything,
//     nothing or of the node's own kind;
//   * refined: an inner node and at least one constraint, in strictly
//     ascending constraint order;
//   * mapping and object: entries in strictly ascending key bytes (no key
//     twice); mapping clauses in strictly ascending clause order;
//   * sequence: a prefix list; set and complement: a child.
std::optional<std::string_view> normal_form_violation(const Node& node);

inline bool is_normal(const Node& node) { return !normal_form_violation(node).has_value(); }

// The first violation in the tree under `root` (each shared node looked at
// once; back edges are leaves), or none.
std::optional<std::string_view> tree_violation(const Node& root);

}  // namespace tessaron::ir
