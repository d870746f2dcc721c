// Finalisation: the one step every compiled or rewritten schema passes
// before it becomes a Validator (see finalize.cc).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

// Prunes and renumbers `root` and `definitions` in place and holds them to
// the size bounds.  Answers the ValueError message of the first bound
// crossed, or nothing when the schema is fit to become a validator.
std::optional<std::string> finalize_schema(Node& root, std::vector<Node>& definitions);

}  // namespace tessaron::ir
