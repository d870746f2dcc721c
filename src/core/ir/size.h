// Read-only size measures of a finished schema tree, held against the
// module's bounds at finalisation.  None follows a back edge: the definition
// it names is measured as a tree of its own.
#pragma once

#include <cstdint>
#include <span>

#include "core/ir/node.h"

namespace tessaron::ir {

// The sum of the weights of every occurrence of a node under `node`,
// `node` included: a subtree referenced twice counts twice.  A node weighs
// 1, a refined node 1 plus its number of constraints.  Saturates at the
// largest 64-bit value.  Work is linear in the number of distinct nodes.
std::uint64_t count_nodes(const Node& node);

// 1 for a node without children, else 1 plus the largest child depth.
std::uint64_t schema_depth(const Node& node);

// Whether the tree holds a placeholder whose id is not on the calling
// thread's placeholder stack.
bool has_unresolved_placeholder(const Node& node);

// Finalisation helpers over a whole schema, sharing one memo across the
// trees: the saturating sum of count_nodes of every definition and the
// root, and the largest schema_depth among them.
std::uint64_t count_schema_nodes(const Node& root, std::span<const Node> definitions);
std::uint64_t max_schema_depth(const Node& root, std::span<const Node> definitions);

}  // namespace tessaron::ir
