// The node invariants, checked.
//
// What it computes: for one node, the first invariant of node.h its own
// fields break; for a tree, the first such node.  The sorted-list checks
// compare neighbours only (the orders are total and transitive), so a list
// costs one comparison per element.
//
// Invariants: the checkers only read; they hold for every node the
// constructors of construct.h return and every node the rewrites produce.
// Budget: linear in the list lengths of one node; a tree check visits each
// distinct node once (iteratively: no recursion on the native stack beyond
// the comparisons, which are those of the canonical order).
#include "core/ir/normal_form.h"

#include <vector>

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/ir/order.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {

namespace {

// Which fields a kind uses.
struct Uses {
    bool flag = false, index = false, child = false, nodes = false, entries = false, clauses = false,
         constraints = false;
};

Uses uses_of(NodeKind kind) {
    switch (kind) {
        case NodeKind::Anything: return Uses{.flag = true};
        case NodeKind::Literal:
        case NodeKind::Instance:
        case NodeKind::BackEdge:
        case NodeKind::Placeholder:
            return Uses{.index = true};
        case NodeKind::Sequence: return Uses{.flag = true, .child = true, .nodes = true};
        case NodeKind::Set: return Uses{.flag = true, .child = true};
        case NodeKind::Mapping: return Uses{.entries = true, .clauses = true};
        case NodeKind::Union:
        case NodeKind::Intersection:
            return Uses{.nodes = true};
        case NodeKind::Complement: return Uses{.child = true};
        case NodeKind::Object: return Uses{.entries = true};
        case NodeKind::Refined: return Uses{.child = true, .constraints = true};
        case NodeKind::Nothing:
        case NodeKind::None:
        case NodeKind::Bool:
        case NodeKind::Int:
        case NodeKind::Float:
        case NodeKind::Str:
        case NodeKind::Bytes:
            return Uses{};
    }
    return Uses{};
}

std::optional<std::string_view> unused_fields_violation(const Node& n) {
    const Uses u = uses_of(n.kind);
    if (!u.flag && n.flag != 0) return "a flag on a kind without one";
    if (!u.index && n.index != 0) return "an index on a kind without one";
    if (!u.child && n.child) return "a child on a kind without one";
    if (!u.nodes && n.nodes) return "a node list on a kind without one";
    if (!u.entries && n.entries) return "entries on a kind without them";
    if (!u.clauses && n.clauses) return "clauses on a kind without them";
    if (!u.constraints && n.constraints) return "constraints on a kind without them";
    return std::nullopt;
}

std::optional<std::string_view> members_violation(const Node& n) {
    const std::span<const Node> members = as_span(n.members());
    if (members.size() < 2) return "a union or intersection of fewer than two members";
    for (std::size_t i = 0; i < members.size(); ++i) {
        const NodeKind k = members[i].kind;
        if (k == NodeKind::Anything || k == NodeKind::Nothing) return "anything or nothing as a member";
        if (k == n.kind) return "a member of the node's own kind";
        if (i > 0 && node_cmp(members[i - 1], members[i]) >= 0) return "members out of canonical order or repeated";
    }
    return std::nullopt;
}

std::optional<std::string_view> refined_violation(const Node& n) {
    if (!n.child) return "a refined node without an inner node";
    const std::span<const Constraint> cs = as_span(n.constraints);
    if (cs.empty()) return "a refined node without constraints";
    for (std::size_t i = 1; i < cs.size(); ++i)
        if (constraint_cmp(cs[i - 1], cs[i]) >= 0) return "constraints out of order or repeated";
    return std::nullopt;
}

std::optional<std::string_view> entries_violation(const Node& n) {
    const std::span<const RecordEntry> entries = as_span(n.entries);
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (bytes_cmp(entries[i - 1].key_view(), entries[i].key_view()) >= 0)
            return "entries out of key order or repeated";
    if (n.kind != NodeKind::Mapping) return std::nullopt;
    const std::span<const Clause> clauses = as_span(n.clauses);
    for (std::size_t i = 1; i < clauses.size(); ++i)
        if (clause_cmp(clauses[i - 1], clauses[i]) >= 0) return "clauses out of order or repeated";
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> normal_form_violation(const Node& node) {
    if (auto v = unused_fields_violation(node)) return v;
    switch (node.kind) {
        case NodeKind::Union:
        case NodeKind::Intersection:
            return members_violation(node);
        case NodeKind::Refined: return refined_violation(node);
        case NodeKind::Mapping:
        case NodeKind::Object:
            return entries_violation(node);
        case NodeKind::Sequence:
            if (!node.nodes) return "a sequence without a prefix list";
            return std::nullopt;
        case NodeKind::Set:
        case NodeKind::Complement:
            if (!node.child) return "a set or complement without its child";
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<std::string_view> tree_violation(const Node& root) {
    std::vector<const Node*> stack{&root};
    boost::unordered_flat_set<const Node*, util::FxHash> seen;
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) continue;
        if (auto v = normal_form_violation(*n)) return v;
        push_children(*n, stack);
    }
    return std::nullopt;
}

}  // namespace tessaron::ir
