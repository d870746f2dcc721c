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

// Finalisation's pruning: when some definition is unreachable, drops every
// unreachable definition and renumbers the back edges of the kept ones and
// of the root (kept definitions keep their relative order).  Answers whether
// anything was dropped; when not, root and definitions are untouched.
bool prune_unreachable_definitions(Node& root, std::vector<Node>& definitions);

}  // namespace tessaron::ir
