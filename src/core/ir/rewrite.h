// The copy-on-write protocol shared by every rewrite of a finished tree
// (renumbering, relocation, placeholder resolution, unfolding, open/close).
//
// A rewrite is a node function `f(const Node&) -> std::optional<Node>`: a
// new node, or nothing for "unchanged", in which case the caller keeps the
// input.  The helpers here apply `f` to the children of one node and
// rebuild it from the parts, copying only from the first change onward:
//
//   rewrite_list     nodes into a working vector; true on a change (the
//                    vector then holds the whole new list), false otherwise
//                    (the vector stays empty)
//   rewrite_prefix   a sequence prefix: the list rewrite in a scratch
//                    vector, then intern_node_slice in order
//   rewrite_members  union/intersection members: as the prefix, then sorted
//                    and deduplicated before interning; no lattice law
//   rewrite_entries  record entries: values rewritten, keys and flags kept,
//                    in a scratch vector, then intern_entry_slice in order
//   rewrite_clauses  clause keys and values, copied from the first change,
//                    then intern_clause_slice in order (never sorted)
//   rewrite_children one node rebuilt from its rewritten parts; single
//                    children go through intern_node; nothing when every
//                    part is unchanged
//
// A refined node's constraints are the business of the particular rewrite:
// `rewrite_children` takes a second function `g(const ConstraintList&) ->
// std::optional<ConstraintList>`; `keep_constraints` keeps the list.
//
// A rewrite that must answer a complete node for every input (renumbering,
// placeholder resolution, unfolding) simply never answers nothing for a
// child; every composite node is then rebuilt through the sharing tables,
// which hand back the existing shared object while their slot holds it.
//
// Shared subtrees: a node inside a shared allocation has one address for
// every parent that shares it, so a rewrite whose answer depends only on the
// node (and on per-call parameters) can memoise its answers in a `NodeMemo`
// keyed by that address; the work is then linear in distinct nodes and the
// result shares wherever the input did.  A rewrite whose answer also depends
// on state passed down the tree (unfolding's fuel and polarity) must put
// that state into the key.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "core/ir/node.h"
#include "core/ir/order.h"
#include "core/ir/sharing.h"
#include "core/util/fxhash.h"
#include "core/util/native_stack.h"

namespace tessaron::ir {

// Per-call answers of a rewrite, by node address.  Valid only while the
// input tree is alive and only within one call.
template <class T>
using NodeMemo = boost::unordered_flat_map<const Node*, T, util::FxHash>;

struct KeepConstraints {
    std::optional<ConstraintList> operator()(const ConstraintList&) const { return std::nullopt; }
};
inline constexpr KeepConstraints keep_constraints{};

template <class F>
bool rewrite_list(std::vector<Node>& work, std::span<const Node> list, F&& f) {
    bool changed = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::optional<Node> r = f(list[i]);
        if (!r) {
            if (changed) work.push_back(list[i]);
            continue;
        }
        if (!changed) {
            changed = true;
            work.insert(work.end(), list.begin(), list.begin() + static_cast<std::ptrdiff_t>(i));
        }
        work.push_back(std::move(*r));
    }
    return changed;
}

template <class F>
std::optional<NodeList> rewrite_prefix(const NodeList& list, F&& f) {
    std::span<const Node> items = as_span(list);
    if (items.empty()) return std::nullopt;
    ScratchNodes work;
    if (!rewrite_list(*work, items, f)) return std::nullopt;
    return intern_node_slice(*work);
}

template <class F>
std::optional<NodeList> rewrite_members(const NodeList& list, F&& f) {
    std::span<const Node> items = as_span(list);
    if (items.empty()) return std::nullopt;
    ScratchNodes work;
    if (!rewrite_list(*work, items, f)) return std::nullopt;
    sort_dedup_nodes(*work);
    return intern_node_slice(*work);
}

template <class F>
std::optional<EntryList> rewrite_entries(const EntryList& list, F&& f) {
    std::span<const RecordEntry> items = as_span(list);
    if (items.empty()) return std::nullopt;
    ScratchEntries work;
    bool changed = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::optional<Node> r = f(items[i].value);
        if (!r) {
            if (changed) work->push_back(items[i]);
            continue;
        }
        if (!changed) {
            changed = true;
            work->insert(work->end(), items.begin(), items.begin() + static_cast<std::ptrdiff_t>(i));
        }
        work->push_back(RecordEntry{items[i].key, items[i].required, std::move(*r)});
    }
    if (!changed) return std::nullopt;
    return intern_entry_slice(*work);
}

template <class F>
std::optional<ClauseList> rewrite_clauses(const ClauseList& list, F&& f) {
    std::span<const Clause> items = as_span(list);
    if (items.empty()) return std::nullopt;
    std::vector<Clause> work;
    bool changed = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::optional<Node> k = f(items[i].key);
        std::optional<Node> v = f(items[i].value);
        if (!k && !v) {
            if (changed) work.push_back(items[i]);
            continue;
        }
        if (!changed) {
            changed = true;
            work.reserve(items.size());
            work.insert(work.end(), items.begin(), items.begin() + static_cast<std::ptrdiff_t>(i));
        }
        work.push_back(Clause{k ? std::move(*k) : items[i].key, v ? std::move(*v) : items[i].value});
    }
    if (!changed) return std::nullopt;
    return intern_clause_slice(work);
}

namespace detail {

template <class F>
std::optional<SharedNode> rewrite_single(const SharedNode& child, F& f) {
    if (!child) return std::nullopt;
    std::optional<Node> r = f(*child);
    if (!r) return std::nullopt;
    return intern_node(std::move(*r));
}

}  // namespace detail

template <class F, class G = KeepConstraints>
std::optional<Node> rewrite_children(const Node& node, F&& f, G&& g = G{}) {
    util::ensure_native_stack();
    switch (node.kind) {
        case NodeKind::Sequence: {
            std::optional<NodeList> prefix = rewrite_prefix(node.nodes, f);
            std::optional<SharedNode> tail = detail::rewrite_single(node.child, f);
            if (!prefix && !tail) return std::nullopt;
            Node n;
            n.kind = NodeKind::Sequence;
            n.flag = node.flag;
            n.nodes = prefix ? std::move(*prefix) : node.nodes;
            n.child = tail ? std::move(*tail) : node.child;
            return n;
        }
        case NodeKind::Set:
        case NodeKind::Complement: {
            std::optional<SharedNode> inner = detail::rewrite_single(node.child, f);
            if (!inner) return std::nullopt;
            Node n;
            n.kind = node.kind;
            n.flag = node.kind == NodeKind::Set ? node.flag : 0;
            n.child = std::move(*inner);
            return n;
        }
        case NodeKind::Mapping: {
            std::optional<EntryList> entries = rewrite_entries(node.entries, f);
            std::optional<ClauseList> clauses = rewrite_clauses(node.clauses, f);
            if (!entries && !clauses) return std::nullopt;
            Node n;
            n.kind = NodeKind::Mapping;
            n.entries = entries ? std::move(*entries) : node.entries;
            n.clauses = clauses ? std::move(*clauses) : node.clauses;
            return n;
        }
        case NodeKind::Union:
        case NodeKind::Intersection: {
            std::optional<NodeList> members = rewrite_members(node.nodes, f);
            if (!members) return std::nullopt;
            Node n;
            n.kind = node.kind;
            n.nodes = std::move(*members);
            return n;
        }
        case NodeKind::Object: {
            std::optional<EntryList> entries = rewrite_entries(node.entries, f);
            if (!entries) return std::nullopt;
            Node n;
            n.kind = NodeKind::Object;
            n.entries = std::move(*entries);
            return n;
        }
        case NodeKind::Refined: {
            std::optional<SharedNode> inner = detail::rewrite_single(node.child, f);
            std::optional<ConstraintList> constraints = g(node.constraints);
            if (!inner && !constraints) return std::nullopt;
            Node n;
            n.kind = NodeKind::Refined;
            n.child = inner ? std::move(*inner) : node.child;
            n.constraints = constraints ? std::move(*constraints) : node.constraints;
            return n;
        }
        default:
            return std::nullopt;
    }
}

// The full rebuild shared by renumbering and placeholder resolution: a leaf
// goes through `leaf`, which answers its replacement or nothing to keep it;
// every composite node is rebuilt from its rewritten children (never
// "unchanged", so member lists are sorted again and lists shared again),
// memoised by node address.  Also the child function of the protocol.
template <class Leaf>
class FullRebuild {
public:
    explicit FullRebuild(Leaf leaf) : leaf_(std::move(leaf)) {}

    Node node(const Node& n) {
        if (is_leaf_kind(n.kind)) {
            if (std::optional<Node> replaced = leaf_(n)) return std::move(*replaced);
            return n;
        }
        if (auto it = memo_.find(&n); it != memo_.end()) return it->second;
        std::optional<Node> rebuilt = rewrite_children(n, *this);
        Node result = rebuilt ? std::move(*rebuilt) : n;
        memo_.emplace(&n, result);
        return result;
    }

    std::optional<Node> operator()(const Node& n) { return node(n); }

private:
    Leaf leaf_;
    NodeMemo<Node> memo_;
};

}  // namespace tessaron::ir
