// Finalisation and the size bounds.
//
// 1. Reachability: the definitions the root reaches, directly or through
//    other reached definitions (back edges outside the list are not
//    followed).
// 2. Equivalent definitions (equal once back edges are read as classes of
//    definitions; found by partition refinement) are merged into one,
//    unreached definitions are dropped and the kept ones put in canonical
//    order (post-order of a depth-first walk from the root, the order in
//    which building the rendered text would create them), renumbering every
//    back edge.  So equality and hashing, which compare definitions by
//    position, do not depend on the order a schema was assembled in.
// 3. Bounds, in this order: depth (128), number of definitions (128), number
//    of nodes (100000, counted per occurrence, saturating), and no
//    `recursive` placeholder whose call is no longer in progress on this
//    thread.  Each bound is inclusive.
// The measures are memoised per shared node, so the work is linear in the
// distinct nodes even when a subtree is shared a great many times.
#include "core/ir/finalize.h"

#include <string>

#include "core/ir/limits.h"
#include "core/ir/reach.h"
#include "core/ir/size.h"

namespace tessaron::ir {

std::optional<std::string> finalize_schema(Node& root, std::vector<Node>& definitions) {
    canonicalise_definitions(root, definitions);

    const std::uint64_t depth = max_schema_depth(root, definitions);
    if (depth > kMaxSchemaDepth)
        return std::string("schema nesting is too deep: this validator reaches " + std::to_string(depth) +
                           " levels of nesting, past the limit of " + std::to_string(kMaxSchemaDepth) +
                           ". A validator this deep comes from building in an unbounded loop; checking it would "
                           "risk a native stack overflow. Express structural recursion with recursive(...) instead "
                           "of nesting schemas.");
    if (definitions.size() > kMaxDefinitions)
        return std::string("schema holds too many recursive definitions: this validator has " +
                           std::to_string(definitions.size()) + " of them, past the limit of " +
                           std::to_string(kMaxDefinitions) +
                           ". A validator with this many comes from chaining recursive schemas in an unbounded "
                           "loop; rendering or deciding it would risk a native stack overflow.");
    const std::uint64_t nodes = count_schema_nodes(root, definitions);
    if (nodes > kMaxSchemaNodes)
        return std::string("schema is too large: this validator spans " + std::to_string(nodes) +
                           " nodes, past the limit of " + std::to_string(kMaxSchemaNodes) +
                           ". A schema this large comes from combining a validator with itself in an unbounded "
                           "loop, which doubles its size each step; building it would exhaust memory.");
    bool unresolved = has_unresolved_placeholder(root);
    for (std::size_t i = 0; !unresolved && i < definitions.size(); ++i)
        unresolved = has_unresolved_placeholder(definitions[i]);
    if (unresolved)
        return std::string(
            "schema holds an unresolved recursive placeholder: the validator a recursive(...) builder receives "
            "stands for the schema being defined and is only meaningful inside that call. Build the schema that "
            "uses it inside the builder, and use the validator recursive(...) returns outside.");

    return std::nullopt;
}

}  // namespace tessaron::ir
