// Reachability of definitions from a schema's root.
//
// One work stack, starting at the root: a back edge to a definition not yet
// reached marks it and pushes the definition's tree; every node pushes its
// children.  Nodes are visited once each by address, so a subtree shared by
// many parents (or many definitions) costs its distinct size once, and each
// definition is entered at most once.  Work and memory are linear in the
// distinct nodes of the root and of the reached definitions; no recursion.
#include "core/ir/reach.h"

#include <algorithm>

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/ir/renumber.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {

std::vector<bool> reachable_definitions(const Node& root, std::span<const Node> definitions) {
    std::vector<bool> reached(definitions.size(), false);
    boost::unordered_flat_set<const Node*, util::FxHash> seen;
    std::vector<const Node*> stack{&root};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) continue;
        if (n->kind == NodeKind::BackEdge && n->index < definitions.size() && !reached[n->index]) {
            reached[n->index] = true;
            stack.push_back(&definitions[n->index]);
        }
        push_children(*n, stack);
    }
    return reached;
}

bool prune_unreachable_definitions(Node& root, std::vector<Node>& definitions) {
    std::vector<bool> reached = reachable_definitions(root, definitions);
    if (std::find(reached.begin(), reached.end(), false) == reached.end()) return false;
    std::vector<RenumberEntry> map = make_renumber_map(reached);
    renumber_schema(root, definitions, map);
    return true;
}

}  // namespace tessaron::ir
