// Node count, depth and the unresolved-placeholder search.
//
// Schemas share subtrees: a validator combined with itself k times holds
// one allocation referenced 2^k times.  The measures are defined over
// occurrences (a shared subtree counts once per parent), but walking every
// occurrence would cost the count itself before the bound can reject it.
// So each measure folds over distinct nodes instead: a post-order walk on an
// explicit stack that memoises each node's value by its address (the
// address of a node inside a shared allocation is the same for every parent
// that shares it).  A node's count is its weight plus its children's counts
// in saturating 64-bit arithmetic, which equals the occurrence count until
// it saturates; its depth is one more than its deepest child.  Work and
// memory are linear in distinct nodes; no recursion, so a deep tree cannot
// overflow the native stack.
//
// The placeholder search is a depth-first search over distinct nodes that
// stops at the first placeholder not active on this thread.
#include "core/ir/size.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "core/ir/placeholder_stack.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {
namespace {

using Memo = boost::unordered_flat_map<const Node*, std::uint64_t, util::FxHash>;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t s = a + b;
    return s < a ? std::numeric_limits<std::uint64_t>::max() : s;
}

std::uint64_t weight(const Node& n) {
    if (n.kind == NodeKind::Refined) return saturating_add(1, as_span(n.constraints).size());
    return 1;
}

// Post-order fold over the distinct nodes under `root`:
// value(n) = finish(n, values of n's children).  A leaf (no children) is
// finished where it is read and never remembered: a union of thousands of
// literals costs no memo entry per literal.
template <class Finish>
std::uint64_t fold(const Node& root, Memo& memo, Finish finish) {
    if (is_leaf_kind(root.kind)) return finish(root, {}, memo);
    if (auto it = memo.find(&root); it != memo.end()) return it->second;
    struct Frame {
        const Node* node;
        bool expanded;
    };
    std::vector<Frame> stack{{&root, false}};
    std::vector<const Node*> kids;
    while (!stack.empty()) {
        Frame f = stack.back();
        stack.pop_back();
        if (memo.contains(f.node)) continue;
        kids.clear();
        push_children(*f.node, kids);
        if (!f.expanded) {
            stack.push_back({f.node, true});
            for (const Node* k : kids)
                if (!is_leaf_kind(k->kind) && !memo.contains(k)) stack.push_back({k, false});
        } else {
            memo.emplace(f.node, finish(*f.node, kids, memo));
        }
    }
    return memo.find(&root)->second;
}

std::uint64_t count_with(const Node& node, Memo& memo) {
    return fold(node, memo, [](const Node& n, const std::vector<const Node*>& kids, const Memo& m) {
        std::uint64_t total = weight(n);
        for (const Node* k : kids) total = saturating_add(total, is_leaf_kind(k->kind) ? weight(*k) : m.find(k)->second);
        return total;
    });
}

std::uint64_t depth_with(const Node& node, Memo& memo) {
    return fold(node, memo, [](const Node&, const std::vector<const Node*>& kids, const Memo& m) {
        std::uint64_t deepest = 0;
        for (const Node* k : kids) deepest = std::max(deepest, is_leaf_kind(k->kind) ? 1 : m.find(k)->second);
        return deepest + 1;
    });
}

}  // namespace

std::uint64_t count_nodes(const Node& node) {
    Memo memo;
    return count_with(node, memo);
}

std::uint64_t schema_depth(const Node& node) {
    Memo memo;
    return depth_with(node, memo);
}

bool has_unresolved_placeholder(const Node& node) {
    boost::unordered_flat_set<const Node*, util::FxHash> seen;
    std::vector<const Node*> stack{&node};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->kind == NodeKind::Placeholder) {
            if (!placeholder_is_active(n->index)) return true;
            continue;
        }
        // Other leaves hold nothing to search (and are not remembered).
        if (is_leaf_kind(n->kind) || !seen.insert(n).second) continue;
        push_children(*n, stack);
    }
    return false;
}

std::uint64_t count_schema_nodes(const Node& root, std::span<const Node> definitions) {
    Memo memo;
    std::uint64_t total = 0;
    for (const Node& d : definitions) total = saturating_add(total, count_with(d, memo));
    return saturating_add(total, count_with(root, memo));
}

std::uint64_t max_schema_depth(const Node& root, std::span<const Node> definitions) {
    Memo memo;
    std::uint64_t deepest = depth_with(root, memo);
    for (const Node& d : definitions) deepest = std::max(deepest, depth_with(d, memo));
    return deepest;
}

}  // namespace tessaron::ir
