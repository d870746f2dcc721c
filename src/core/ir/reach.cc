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

std::vector<std::uint64_t> definitions_in_canonical_order(const Node& root, std::span<const Node> definitions) {
    std::vector<std::uint64_t> order;
    std::vector<bool> reached(definitions.size(), false);
    boost::unordered_flat_set<const Node*, util::FxHash> seen;
    // A task is a node to walk, or (node == nullptr) the end of the walk of
    // definition `index`, which then takes the next position.
    struct Task {
        const Node* node;
        std::uint64_t index;
    };
    std::vector<Task> tasks{{&root, 0}};
    std::vector<const Node*> children;
    while (!tasks.empty()) {
        const Task t = tasks.back();
        tasks.pop_back();
        if (!t.node) {
            order.push_back(t.index);
            continue;
        }
        if (!seen.insert(t.node).second) continue;
        const Node& n = *t.node;
        if (n.kind == NodeKind::BackEdge) {
            if (n.index < definitions.size() && !reached[n.index]) {
                reached[n.index] = true;
                tasks.push_back({nullptr, n.index});
                tasks.push_back({&definitions[n.index], 0});
            }
            continue;
        }
        children.clear();
        push_children(n, children);
        for (auto it = children.rbegin(); it != children.rend(); ++it) tasks.push_back({*it, 0});
    }
    return order;
}

bool canonicalise_definitions(Node& root, std::vector<Node>& definitions) {
    const std::vector<std::uint64_t> order = definitions_in_canonical_order(root, definitions);
    bool identity = order.size() == definitions.size();
    for (std::size_t k = 0; identity && k < order.size(); ++k) identity = order[k] == k;
    if (identity) return false;
    std::vector<RenumberEntry> map(definitions.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        map[order[k]].kept = true;
        map[order[k]].new_index = k;
    }
    std::vector<Node> placed;
    placed.reserve(order.size());
    for (const std::uint64_t old : order) placed.push_back(renumber_back_edges(definitions[old], map));
    root = renumber_back_edges(root, map);
    definitions = std::move(placed);
    return true;
}

}  // namespace tessaron::ir
