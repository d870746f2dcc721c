// The constructors of the lattice normal form and the queries over it.
//
// unite_nodes / intersect_nodes collect members into a borrowed scratch
// vector: the absorbing element ends construction at once (a union's first
// anything member is its result, Any flag and all), the neutral element is
// dropped, members of the same kind contribute their own members (one level:
// those are already in normal form), the rest is sorted canonically and
// cleared of equal neighbours, and a complementary pair folds to the
// absorbing element.  Zero members give the neutral element, one gives that
// member, more give a node over the interned member list.
//
// The complementary-pair rule only fires when the complement's inner node
// is pair-safe: without placeholders (not yet meaningful), predicates and
// non-plain classes (membership could depend on user code), and with every
// back edge resolvable.  The safety walk is iterative, visits each shared
// node once and each definition at most once.
//
// Cost: one sort of the collected members, one hash look-up for the result;
// no allocation apart from the shared result once scratch vectors are warm.
// The complementary-pair search scans a handful of members directly and
// binary-searches a sorted copy of more, so it is O(n log n) comparisons.
#include "core/ir/construct.h"

#include <algorithm>
#include <cassert>

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/ir/normal_form.h"
#include "core/ir/order.h"
#include "core/ir/sharing.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {
namespace {

Node composite(NodeKind kind, NodeList members) {
    Node n;
    n.kind = kind;
    n.nodes = std::move(members);
    assert(is_normal(n));
    return n;
}

bool pair_safe(const Node& x, Oracle& oracle, std::span<const Node> definitions) {
    std::vector<const Node*> stack{&x};
    boost::unordered_flat_set<const Node*, util::FxHash> seen;
    std::vector<bool> entered(definitions.size(), false);
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) continue;
        switch (n->kind) {
            case NodeKind::Placeholder:
                return false;
            case NodeKind::Refined:
                for (const Constraint& c : as_span(n->constraints))
                    if (c.kind == ConstraintKind::Predicate) return false;
                break;
            case NodeKind::Instance:
                if (oracle.class_atom_is_plain(*n) != Answer::Yes) return false;
                break;
            case NodeKind::BackEdge:
                if (n->index >= definitions.size()) return false;
                if (!entered[n->index]) {
                    entered[n->index] = true;
                    stack.push_back(&definitions[n->index]);
                }
                break;
            default:
                break;
        }
        push_children(*n, stack);
    }
    return true;
}

// Shared body of unite_nodes and intersect_nodes.  `top` absorbs in a union
// and is neutral in an intersection; `bottom` the other way round.
Node combine(std::vector<Node>& members, std::span<const Node> definitions, NodeKind kind) {
    const bool is_union = kind == NodeKind::Union;
    ScratchNodes work;
    for (Node& m : members) {
        if (m.kind == (is_union ? NodeKind::Anything : NodeKind::Nothing)) return std::move(m);
        if (m.kind == (is_union ? NodeKind::Nothing : NodeKind::Anything)) continue;
        if (m.kind == kind) {
            for (const Node& inner : as_span(m.nodes)) work->push_back(inner);
        } else {
            work->push_back(std::move(m));
        }
    }
    if (work->size() > 1) sort_dedup_nodes(*work);
    NullOracle declines;
    if (has_complementary_pair(*work, declines, definitions)) return is_union ? Node::anything(false) : Node::nothing();
    if (work->empty()) return is_union ? Node::nothing() : Node::anything(false);
    if (work->size() == 1) return std::move((*work)[0]);
    return composite(kind, intern_node_slice(*work));
}

}  // namespace

Node unite_nodes(std::vector<Node> members, std::span<const Node> definitions) {
    return combine(members, definitions, NodeKind::Union);
}

Node intersect_nodes(std::vector<Node> members, std::span<const Node> definitions) {
    return combine(members, definitions, NodeKind::Intersection);
}

Node intersect_pair(Node a, Node b, std::span<const Node> definitions) {
    std::vector<Node> members;
    members.reserve(2);
    members.push_back(std::move(a));
    members.push_back(std::move(b));
    return combine(members, definitions, NodeKind::Intersection);
}

Node complement_node(Node x) {
    switch (x.kind) {
        case NodeKind::Anything:
            return Node::nothing();
        case NodeKind::Nothing:
            return Node::anything(false);
        case NodeKind::Complement:
            // Nodes are immutable once shared, so the inner node is copied
            // (a handful of reference counts), never moved out.
            return x.child ? *x.child : Node::anything(false);
        default: {
            Node n;
            n.kind = NodeKind::Complement;
            n.child = intern_node(std::move(x));
            assert(is_normal(n));
            return n;
        }
    }
}

Node make_refined(Node inner, std::vector<Constraint> constraints) {
    sort_dedup_constraints(constraints);
    if (constraints.empty()) return inner;
    Node n;
    n.kind = NodeKind::Refined;
    n.child = intern_node(std::move(inner));
    n.constraints = std::make_shared<const std::vector<Constraint>>(std::move(constraints));
    assert(is_normal(n));
    return n;
}

Node make_record(std::vector<RecordEntry> entries, std::vector<Clause> clauses) {
    sort_dedup_clauses(clauses);
    sort_entries_by_key(entries);
    Node n;
    n.kind = NodeKind::Mapping;
    n.entries = intern_entry_slice(entries);
    n.clauses = intern_clause_slice(clauses);
    assert(is_normal(n));
    return n;
}

Node make_object(std::vector<RecordEntry> entries) {
    sort_entries_by_key(entries);
    Node n;
    n.kind = NodeKind::Object;
    n.entries = intern_entry_slice(entries);
    assert(is_normal(n));
    return n;
}

Node make_sequence(std::uint8_t flavour, NodeList prefix, SharedNode tail) {
    Node n;
    n.kind = NodeKind::Sequence;
    n.flag = flavour;
    n.nodes = prefix ? std::move(prefix) : empty_node_slice();
    n.child = std::move(tail);
    assert(is_normal(n));
    return n;
}

Node make_set(std::uint8_t flavour, Node element) {
    Node n;
    n.kind = NodeKind::Set;
    n.flag = flavour;
    n.child = intern_node(std::move(element));
    assert(is_normal(n));
    return n;
}

SequenceParts homogeneous_sequence_parts(Node element) {
    return SequenceParts{empty_node_slice(), intern_node(std::move(element))};
}

bool has_complementary_pair(std::span<const Node> members, Oracle& oracle,
                            std::span<const Node> definitions) {
    // A few members are scanned directly; more are looked up in a sorted
    // copy, so a list of n complements costs O(n log n) comparisons, not n^2.
    constexpr std::size_t kScanned = 16;
    if (std::none_of(members.begin(), members.end(), [](const Node& m) { return m.kind == NodeKind::Complement; }))
        return false;
    std::vector<const Node*> sorted;
    if (members.size() > kScanned) {
        sorted.reserve(members.size());
        for (const Node& m : members) sorted.push_back(&m);
        std::sort(sorted.begin(), sorted.end(), [](const Node* a, const Node* b) { return node_cmp(*a, *b) < 0; });
    }
    for (const Node& m : members) {
        if (m.kind != NodeKind::Complement || !m.child) continue;
        const Node& x = *m.child;
        bool partner = false;
        if (sorted.empty()) {
            for (const Node& other : members)
                if (node_eq(other, x)) {
                    partner = true;
                    break;
                }
        } else {
            partner = std::binary_search(sorted.begin(), sorted.end(), &x,
                                         [](const Node* a, const Node* b) { return node_cmp(*a, *b) < 0; });
        }
        if (partner && pair_safe(x, oracle, definitions)) return true;
    }
    return false;
}

std::optional<KindMask> whole_kinds(const Node& node) {
    switch (node.kind) {
        case NodeKind::Anything: return kAllKinds;
        case NodeKind::Nothing: return kNoKinds;
        case NodeKind::None: return KindMask(Kind::None);
        case NodeKind::Bool: return KindMask(Kind::Bool);
        case NodeKind::Int: return kIntegralKinds;
        case NodeKind::Float: return KindMask(Kind::Float);
        case NodeKind::Str: return KindMask(Kind::Str);
        case NodeKind::Bytes: return KindMask(Kind::Bytes);
        case NodeKind::Union: {
            KindMask kinds = kNoKinds;
            for (const Node& m : as_span(node.nodes)) {
                const std::optional<KindMask> k = whole_kinds(m);
                if (!k) return std::nullopt;
                kinds |= *k;
            }
            return kinds;
        }
        case NodeKind::Intersection: {
            KindMask kinds = kAllKinds;
            for (const Node& m : as_span(node.nodes)) {
                const std::optional<KindMask> k = whole_kinds(m);
                if (!k) return std::nullopt;
                kinds &= *k;
            }
            return kinds;
        }
        case NodeKind::Complement: {
            if (!node.child) return std::nullopt;
            const std::optional<KindMask> k = whole_kinds(*node.child);
            if (!k) return std::nullopt;
            return ~*k;
        }
        case NodeKind::Refined:
            if (as_span(node.constraints).empty() && node.child) return whole_kinds(*node.child);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<std::vector<std::uint64_t>> literal_indices(const Node& node, std::uint64_t* read) {
    if (node.kind == NodeKind::Literal) return std::vector<std::uint64_t>{node.index};
    if (node.kind != NodeKind::Union) return std::nullopt;
    std::span<const Node> members = as_span(node.nodes);
    if (members.empty()) return std::nullopt;
    std::vector<std::uint64_t> out;
    out.reserve(members.size());
    for (const Node& m : members) {
        if (read) ++*read;
        if (m.kind != NodeKind::Literal) return std::nullopt;
        out.push_back(m.index);
    }
    return out;
}

const Node* element_schema(const Node& node) {
    const Node* n = &node;
    while (n->kind == NodeKind::Refined) {
        if (!n->child) return nullptr;
        n = n->child.get();
    }
    if (n->kind == NodeKind::Set) return n->child.get();
    if (n->kind == NodeKind::Sequence && as_span(n->nodes).empty()) return n->child.get();
    return nullptr;
}

std::optional<std::uint64_t> spelled_as_class(const Node& node) {
    if (node.kind != NodeKind::Intersection) return std::nullopt;
    std::optional<std::uint64_t> instance;
    std::size_t structural = 0;
    for (const Node& m : as_span(node.nodes)) {
        if (m.kind == NodeKind::Instance) {
            if (instance) return std::nullopt;
            instance = m.index;
        } else if (m.kind == NodeKind::Sequence || m.kind == NodeKind::Object) {
            ++structural;
        }
    }
    if (instance && structural == 1) return instance;
    return std::nullopt;
}

}  // namespace tessaron::ir
