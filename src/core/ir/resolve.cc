// Placeholder resolution, the contractiveness test and the back-edge search.
//
// Resolution is a node function on the copy-on-write protocol of rewrite.h
// that answers a complete node for every input: the placeholder with the
// given id becomes a back edge, every other leaf comes back as a copy, and
// every composite node is rebuilt from its resolved parts through the
// sharing tables (which hand back the existing allocation where nothing
// changed).  Member lists are sorted and deduplicated again because a back
// edge sorts before a placeholder; no union or intersection law is applied.
// Back edges are leaves: the caller resolves each definition itself.  The
// answers are memoised per composite node by address, so a subtree shared
// by many parents (or by several definitions, in the one-pass form) is
// rewritten once; the work is linear in distinct nodes.
//
// Contractiveness: the body is contractive when no chain of back edges
// leads from it back to its own position without passing a structural
// constructor (sequence, set, mapping, object).  Below a structural
// constructor nothing can answer "unguarded", so the search never descends
// into one; above it, it walks union, intersection, complement and refined
// nodes and follows each back edge it meets into the definition it names.
// This is reachability in the graph "definition -> definitions it names
// unguarded", so one visited set of nodes for the whole test suffices: a
// node or definition already searched cannot lead anywhere new, and a cycle
// among other definitions ends at the visited set.  Each distinct node is
// searched at most once, so a chain of definitions that each name the
// previous ones several times stays linear (searching a definition again
// per path would be exponential in the length of such a chain).  The search
// keeps an explicit stack, so a long chain of definitions cannot exhaust
// the native stack.
//
// `has_back_edges` is a depth-first search over distinct nodes on an
// explicit stack that stops at the first back edge or placeholder.
#include "core/ir/resolve.h"

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/ir/rewrite.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {
namespace {

using NodeSet = boost::unordered_flat_set<const Node*, util::FxHash>;

// Resolution: the placeholder of `id` becomes a back edge to `definition`.
auto resolver(std::uint64_t id, std::uint64_t definition) {
    return FullRebuild([id, definition](const Node& n) -> std::optional<Node> {
        if (n.kind == NodeKind::Placeholder && n.index == id) return Node::back_edge(definition);
        return std::nullopt;
    });
}

bool is_structural(NodeKind k) {
    return k == NodeKind::Sequence || k == NodeKind::Set || k == NodeKind::Mapping || k == NodeKind::Object;
}

}  // namespace

Node resolve_placeholder(const Node& node, std::uint64_t id, std::uint64_t definition) {
    auto r = resolver(id, definition);
    return r.node(node);
}

bool resolve_placeholder_in_list(std::vector<Node>& work, std::span<const Node> list, std::uint64_t id,
                                 std::uint64_t definition) {
    auto r = resolver(id, definition);
    return rewrite_list(work, list, r);
}

std::optional<NodeList> resolve_placeholder_in_members(const NodeList& list, std::uint64_t id,
                                                       std::uint64_t definition) {
    auto r = resolver(id, definition);
    return rewrite_members(list, r);
}

std::optional<EntryList> resolve_placeholder_in_entries(const EntryList& list, std::uint64_t id,
                                                        std::uint64_t definition) {
    auto r = resolver(id, definition);
    return rewrite_entries(list, r);
}

void resolve_placeholder_in_schema(Node& body, std::vector<Node>& definitions, std::uint64_t id,
                                   std::uint64_t definition) {
    auto r = resolver(id, definition);
    // The memo is keyed by address: every input stays alive until the end
    // of the pass, so no freed address can be reused by a later node.
    std::vector<Node> resolved;
    resolved.reserve(definitions.size());
    for (const Node& d : definitions) resolved.push_back(r.node(d));
    Node new_body = r.node(body);
    definitions = std::move(resolved);
    body = std::move(new_body);
}

bool has_unguarded_recursion(const Node& body, std::uint64_t start, std::span<const Node> definitions) {
    NodeSet visited;
    std::vector<const Node*> stack{&body};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!visited.insert(n).second) continue;
        if (n->kind == NodeKind::BackEdge) {
            if (n->index == start) return true;
            if (n->index < definitions.size()) stack.push_back(&definitions[n->index]);
            continue;
        }
        if (is_structural(n->kind)) continue;  // everything below is guarded
        push_children(*n, stack);
    }
    return false;
}

bool has_back_edges(const Node& node) {
    NodeSet visited;
    std::vector<const Node*> stack{&node};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->kind == NodeKind::BackEdge || n->kind == NodeKind::Placeholder) return true;
        if (is_leaf_kind(n->kind) || !visited.insert(n).second) continue;
        push_children(*n, stack);
    }
    return false;
}

}  // namespace tessaron::ir
