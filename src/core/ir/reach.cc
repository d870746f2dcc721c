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

#include "core/ir/order.h"
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

std::vector<std::uint64_t> definition_classes(std::span<const Node> definitions) {
    const std::size_t n = definitions.size();
    std::vector<std::uint64_t> classes(n, 0);
    std::size_t count = n == 0 ? 0 : 1;
    std::vector<RenumberEntry> map(n);
    std::vector<Node> signatures(n);
    std::vector<std::size_t> by_signature(n);
    std::vector<std::uint64_t> refined(n);
    for (;;) {
        for (std::size_t i = 0; i < n; ++i) map[i] = RenumberEntry{true, classes[i]};
        for (std::size_t i = 0; i < n; ++i) signatures[i] = renumber_back_edges(definitions[i], map);
        for (std::size_t i = 0; i < n; ++i) by_signature[i] = i;
        std::stable_sort(by_signature.begin(), by_signature.end(), [&](std::size_t a, std::size_t b) {
            if (classes[a] != classes[b]) return classes[a] < classes[b];
            return node_cmp(signatures[a], signatures[b]) < 0;
        });
        // Group equal (class, signature) pairs, then number the groups in
        // order of their first member.
        std::vector<std::size_t> group(n);
        std::size_t groups = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t i = by_signature[k];
            if (k > 0) {
                const std::size_t j = by_signature[k - 1];
                if (classes[i] != classes[j] || !node_eq(signatures[i], signatures[j])) ++groups;
            }
            group[i] = groups;
        }
        ++groups;
        std::vector<std::uint64_t> number(groups, n);
        std::uint64_t next = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (number[group[i]] == n) number[group[i]] = next++;
            refined[i] = number[group[i]];
        }
        const bool stable = groups == count;
        classes.swap(refined);
        count = groups;
        if (stable) break;
    }
    return classes;
}

namespace {

// Merges every class of equivalent definitions into its first member.
bool merge_equivalent_definitions(Node& root, std::vector<Node>& definitions) {
    if (definitions.size() < 2) return false;
    const std::vector<std::uint64_t> classes = definition_classes(definitions);
    const std::uint64_t count = *std::max_element(classes.begin(), classes.end()) + 1;
    if (count == definitions.size()) return false;
    std::vector<RenumberEntry> map(definitions.size());
    for (std::size_t i = 0; i < definitions.size(); ++i) map[i] = RenumberEntry{true, classes[i]};
    std::vector<Node> merged;
    merged.reserve(count);
    for (std::size_t i = 0; i < definitions.size(); ++i)
        if (classes[i] == merged.size()) merged.push_back(renumber_back_edges(definitions[i], map));
    root = renumber_back_edges(root, map);
    definitions = std::move(merged);
    return true;
}

}  // namespace

bool canonicalise_definitions(Node& root, std::vector<Node>& definitions) {
    const bool merged = merge_equivalent_definitions(root, definitions);
    const std::vector<std::uint64_t> order = definitions_in_canonical_order(root, definitions);
    bool identity = order.size() == definitions.size();
    for (std::size_t k = 0; identity && k < order.size(); ++k) identity = order[k] == k;
    if (identity) return merged;
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
