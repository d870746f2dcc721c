// Renumbering and relocation of finished trees.
//
// Both are node functions plugged into the copy-on-write protocol of
// rewrite.h.  Renumbering answers a complete node for every input, so every
// composite node is rebuilt (through the sharing tables, which return the
// existing allocation where nothing moved); relocation answers "unchanged"
// for every subtree whose indices stay, and allocates nothing for it.
//
// Shared subtrees: a schema may reference one allocation from many parents
// (2^k occurrences after k self-combinations).  Each call memoises the
// answer for every composite node by its address, so the work is linear in
// distinct nodes, and the rebuilt tree shares exactly where the input did.
// The memo is a per-call table; leaves are answered directly.
//
// Relocation with an identity pool map and offset 0 is skipped outright.
// A refined node whose pool-index constraints move gets a new constraint
// list, re-sorted and deduplicated, because the constraint order follows
// pool indices and a refined node's constraints must stay canonical.
//
// Recursion depth is the depth of the tree, bounded by the builder and by
// finalisation (a few hundred levels at most).
#include "core/ir/renumber.h"

#include "core/ir/order.h"
#include "core/ir/rewrite.h"

namespace tessaron::ir {

namespace {

// Renumbering: a back edge whose entry is kept points at its new index.
auto renumberer(std::span<const RenumberEntry> map) {
    return FullRebuild([map](const Node& n) -> std::optional<Node> {
        if (n.kind == NodeKind::BackEdge && n.index < map.size() && map[n.index].kept)
            return Node::back_edge(map[n.index].new_index);
        return std::nullopt;
    });
}

class Relocator {
public:
    explicit Relocator(const RelocationContext& ctx) : ctx_(ctx) {}

    std::optional<Node> operator()(const Node& n) {
        switch (n.kind) {
            case NodeKind::Literal:
            case NodeKind::Instance: {
                std::uint64_t p = map_index(n.index);
                if (p == n.index) return std::nullopt;
                return Node::indexed(n.kind, p);
            }
            case NodeKind::BackEdge:
                if (ctx_.definition_offset == 0) return std::nullopt;
                return Node::back_edge(n.index + ctx_.definition_offset);
            default:
                break;
        }
        if (is_leaf_kind(n.kind)) return std::nullopt;
        if (auto it = memo_.find(&n); it != memo_.end()) return it->second;
        std::optional<Node> result =
            rewrite_children(n, *this, [this](const ConstraintList& list) { return constraints(list); });
        memo_.emplace(&n, result);
        return result;
    }

private:
    std::uint64_t map_index(std::uint64_t p) const { return p < ctx_.pool_map.size() ? ctx_.pool_map[p] : p; }

    std::optional<ConstraintList> constraints(const ConstraintList& list) {
        std::span<const Constraint> items = as_span(list);
        std::vector<Constraint> out;
        bool changed = false;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Constraint& c = items[i];
            std::uint64_t moved = c.names_pool_object() ? map_index(c.value) : c.value;
            if (moved == c.value) {
                if (changed) out.push_back(c);
                continue;
            }
            if (!changed) {
                changed = true;
                out.reserve(items.size());
                out.insert(out.end(), items.begin(), items.begin() + static_cast<std::ptrdiff_t>(i));
            }
            out.push_back(Constraint{c.kind, moved, c.pattern});
        }
        if (!changed) return std::nullopt;
        sort_dedup_constraints(out);
        return std::make_shared<const std::vector<Constraint>>(std::move(out));
    }

    const RelocationContext& ctx_;
    NodeMemo<std::optional<Node>> memo_;
};

}  // namespace

Node renumber_back_edges(const Node& node, std::span<const RenumberEntry> map) {
    auto r = renumberer(map);
    return r.node(node);
}

bool renumber_list(std::vector<Node>& work, std::span<const Node> list, std::span<const RenumberEntry> map) {
    auto r = renumberer(map);
    return rewrite_list(work, list, r);
}

std::optional<NodeList> renumber_prefix(const NodeList& list, std::span<const RenumberEntry> map) {
    auto r = renumberer(map);
    return rewrite_prefix(list, r);
}

std::optional<NodeList> renumber_members(const NodeList& list, std::span<const RenumberEntry> map) {
    auto r = renumberer(map);
    return rewrite_members(list, r);
}

std::optional<EntryList> renumber_entries(const EntryList& list, std::span<const RenumberEntry> map) {
    auto r = renumberer(map);
    return rewrite_entries(list, r);
}

bool RelocationContext::is_identity() const {
    if (definition_offset != 0) return false;
    for (std::size_t i = 0; i < pool_map.size(); ++i)
        if (pool_map[i] != i) return false;
    return true;
}

std::optional<Node> relocate_node(const Node& node, const RelocationContext& ctx) {
    if (ctx.is_identity()) return std::nullopt;
    Relocator r(ctx);
    return r(node);
}

std::vector<Node> relocate_nodes(std::span<const Node> nodes, const RelocationContext& ctx) {
    std::vector<Node> out;
    out.reserve(nodes.size());
    if (ctx.is_identity()) {
        out.assign(nodes.begin(), nodes.end());
        return out;
    }
    Relocator r(ctx);
    for (const Node& n : nodes) {
        std::optional<Node> moved = r(n);
        out.push_back(moved ? std::move(*moved) : n);
    }
    return out;
}

bool relocate_list(std::vector<Node>& work, std::span<const Node> list, const RelocationContext& ctx) {
    if (ctx.is_identity()) return false;
    Relocator r(ctx);
    return rewrite_list(work, list, r);
}

std::optional<NodeList> relocate_members(const NodeList& list, const RelocationContext& ctx) {
    if (ctx.is_identity()) return std::nullopt;
    Relocator r(ctx);
    return rewrite_members(list, r);
}

std::optional<EntryList> relocate_entries(const EntryList& list, const RelocationContext& ctx) {
    if (ctx.is_identity()) return std::nullopt;
    Relocator r(ctx);
    return rewrite_entries(list, r);
}

}  // namespace tessaron::ir
