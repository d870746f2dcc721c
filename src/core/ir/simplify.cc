// Simplify: negation-normal form plus a few decision folds.
//
// What it computes.  `simplify_node` rewrites a tree bottom-up:
//   * a union collects its simplified members (nothing dropped, nested
//     unions flattened, an anything member ends it) and folds them; an
//     intersection dually;
//   * a complement is pushed through its simplified inner node by De Morgan
//     (`push_complement`), so complements end up only directly above nodes
//     that are neither union, intersection, complement, anything nor
//     nothing;
//   * nested refinements merge into one refined node whose constraints are
//     the sorted, deduplicated union of every level;
//   * every other container is rebuilt from its simplified children through
//     the sharing tables (which hand back the shared child wherever the
//     rebuilt one is identical to one still alive).
// The folds beyond the lattice laws of the constructors:
//   * union: a complementary pair, two complement members whose inner nodes
//     are provably disjoint, or kinds covering every value kind give
//     anything;
//   * intersection: a complementary pair, two provably disjoint members or
//     kinds with no value kind in common give nothing.
// Disjointness is asked of the caller's test, which rests on the structure
// of the nodes alone; complementary pairs are tested with `NullOracle`, so
// those with an instance node never fold (whether a class's checks are the
// builtin ones is a question of Python).
//
// Invariants.  The input is only read; the result is always a complete
// node.  Every fold is sound: it replaces a node only by one denoting the
// same set.  Back edges are not followed; definitions are simplified one by
// one by the caller.
//
// Budget.  The pair tests of the folds are quadratic in the members of one
// union or intersection, and each test is itself bounded; all tests of one
// call share `kSimplifyDisjointSteps` disjointness steps (or the caller's
// budget), and once they are spent no further pair is tested, which only
// leaves members unfolded.  Shared subtrees of the input are rewritten once
// per call (memo by node address).  The result may still be larger than
// the input; finalisation holds it to the size bounds.
#include "core/ir/simplify.h"

#include <cassert>
#include <utility>
#include <vector>

#include "core/ir/construct.h"
#include "core/ir/normal_form.h"
#include "core/ir/oracle.h"
#include "core/ir/order.h"
#include "core/ir/rewrite.h"
#include "core/ir/sharing.h"
#include "core/util/native_stack.h"

namespace tessaron::ir {
namespace {

Node composite(NodeKind kind, std::span<const Node> members) {
    Node n;
    n.kind = kind;
    n.nodes = intern_node_slice(members);
    assert(is_normal(n));
    return n;
}

class Simplifier {
public:
    Simplifier(DisjointnessTest disjoint, std::uint32_t steps) : disjoint_(disjoint), steps_(steps) {}

    Node simplify(const Node& node) {
        if (is_leaf_kind(node.kind)) return node;
        if (auto it = memo_.find(&node); it != memo_.end()) return it->second;
        Node result = simplify_uncached(node);
        memo_.emplace(&node, result);
        return result;
    }

private:
    Node simplify_uncached(const Node& node) {
        util::ensure_native_stack();
        switch (node.kind) {
            case NodeKind::Union: return simplify_union(node);
            case NodeKind::Intersection: return simplify_intersection(node);
            case NodeKind::Complement:
                return push_complement(node.child ? simplify(*node.child) : Node::anything(false));
            case NodeKind::Refined: return simplify_refined(node);
            default: {
                std::optional<Node> rebuilt = simplify_children(node);
                return rebuilt ? std::move(*rebuilt) : node;
            }
        }
    }

    Node simplify_union(const Node& node) {
        ScratchNodes work;
        for (const Node& member : as_span(node.members())) {
            Node s = simplify(member);
            if (s.kind == NodeKind::Nothing) continue;
            if (s.kind == NodeKind::Anything) return s;
            if (s.kind == NodeKind::Union) {
                for (const Node& m : as_span(s.members())) work->push_back(m);
            } else {
                work->push_back(std::move(s));
            }
        }
        return fold_union(*work);
    }

    Node simplify_intersection(const Node& node) {
        ScratchNodes work;
        for (const Node& member : as_span(node.members())) {
            Node s = simplify(member);
            if (s.kind == NodeKind::Anything) continue;
            if (s.kind == NodeKind::Nothing) return s;
            if (s.kind == NodeKind::Intersection) {
                for (const Node& m : as_span(s.members())) work->push_back(m);
            } else {
                work->push_back(std::move(s));
            }
        }
        return fold_intersection(*work);
    }

    // Nested refinements become one refined node over the first inner node
    // that is not refined, with the constraints of every level.
    Node simplify_refined(const Node& node) {
        Node s = node.child ? simplify(*node.child) : Node::anything(false);
        std::vector<Constraint> constraints(as_span(node.constraints).begin(), as_span(node.constraints).end());
        while (s.kind == NodeKind::Refined && s.child) {
            for (const Constraint& c : as_span(s.constraints)) constraints.push_back(c);
            Node inner = *s.child;
            s = std::move(inner);
        }
        return make_refined(std::move(s), std::move(constraints));
    }

    // The containers rebuilt from their simplified children; nothing when
    // the node has no child.
    std::optional<Node> simplify_children(const Node& node) {
        switch (node.kind) {
            case NodeKind::Sequence: {
                std::span<const Node> prefix = as_span(node.prefix());
                if (prefix.empty() && !node.tail()) return std::nullopt;
                Node n;
                n.kind = NodeKind::Sequence;
                n.flag = node.flag;
                n.nodes = simplify_node_list(prefix);
                if (node.tail()) n.child = intern_node(simplify(*node.tail()));
                return n;
            }
            case NodeKind::Set: {
                if (!node.element()) return std::nullopt;
                Node n;
                n.kind = NodeKind::Set;
                n.flag = node.flag;
                n.child = intern_node(simplify(*node.element()));
                return n;
            }
            case NodeKind::Mapping: {
                std::span<const Clause> clauses = as_span(node.clauses);
                if (as_span(node.entries).empty() && clauses.empty()) return std::nullopt;
                Node n;
                n.kind = NodeKind::Mapping;
                n.entries = simplify_entries(node.entries);
                if (clauses.empty()) {
                    n.clauses = empty_clause_slice();
                } else {
                    std::vector<Clause> work;
                    work.reserve(clauses.size());
                    for (const Clause& c : clauses) work.push_back(Clause{simplify(c.key), simplify(c.value)});
                    n.clauses = intern_clause_slice(work);
                }
                return n;
            }
            case NodeKind::Object: {
                if (as_span(node.entries).empty()) return std::nullopt;
                Node n;
                n.kind = NodeKind::Object;
                n.entries = simplify_entries(node.entries);
                return n;
            }
            default:
                return std::nullopt;
        }
    }

    NodeList simplify_node_list(std::span<const Node> list) {
        if (list.empty()) return empty_node_slice();
        ScratchNodes work;
        for (const Node& x : list) work->push_back(simplify(x));
        return intern_node_slice(*work);
    }

    EntryList simplify_entries(const EntryList& list) {
        std::span<const RecordEntry> entries = as_span(list);
        if (entries.empty()) return empty_entry_slice();
        ScratchEntries work;
        for (const RecordEntry& e : entries) work->push_back(RecordEntry{e.key, e.required, simplify(e.value)});
        return intern_entry_slice(*work);
    }

    // Whether some pair of `nodes` (each unordered pair once, the earlier
    // first) is proved disjoint, within the call's budget.
    bool some_pair_disjoint(std::span<const Node* const> nodes) {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            for (std::size_t j = i + 1; j < nodes.size(); ++j) {
                if (steps_ == 0) return false;
                if (disjoint_(*nodes[i], *nodes[j], steps_)) return true;
            }
        }
        return false;
    }

    Node fold_union(std::vector<Node>& members) {
        sort_dedup_nodes(members);
        KindMask covered = kNoKinds;
        if (!members.empty()) {
            for (const Node& m : members)
                if (const std::optional<KindMask> k = whole_kinds(m)) covered |= *k;
            if (has_complementary_pair(members, oracle_, {})) return Node::anything(false);
        }
        std::vector<const Node*> inners;
        for (const Node& m : members)
            if (m.kind == NodeKind::Complement && m.child) inners.push_back(m.child.get());
        if (some_pair_disjoint(inners)) return Node::anything(false);
        if (covered == kAllKinds) return Node::anything(false);
        if (members.empty()) return Node::nothing();
        if (members.size() == 1) return std::move(members[0]);
        return composite(NodeKind::Union, members);
    }

    Node fold_intersection(std::vector<Node>& members) {
        sort_dedup_nodes(members);
        if (members.empty()) return Node::anything(false);
        KindMask common = kAllKinds;
        for (const Node& m : members)
            if (const std::optional<KindMask> k = whole_kinds(m)) common &= *k;
        if (has_complementary_pair(members, oracle_, {})) return Node::nothing();
        std::vector<const Node*> all;
        all.reserve(members.size());
        for (const Node& m : members) all.push_back(&m);
        if (some_pair_disjoint(all)) return Node::nothing();
        if (common.empty()) return Node::nothing();
        if (members.size() == 1) return std::move(members[0]);
        return composite(NodeKind::Intersection, members);
    }

    // The complement of a simplified node, in negation-normal form.
    Node push_complement(Node x) {
        switch (x.kind) {
            case NodeKind::Union: {
                ScratchNodes work;
                for (const Node& m : as_span(x.members())) {
                    Node c = push_complement(m);
                    if (c.kind == NodeKind::Anything) continue;
                    if (c.kind == NodeKind::Nothing) return c;
                    if (c.kind == NodeKind::Intersection) {
                        for (const Node& inner : as_span(c.members())) work->push_back(inner);
                    } else {
                        work->push_back(std::move(c));
                    }
                }
                return fold_intersection(*work);
            }
            case NodeKind::Intersection: {
                ScratchNodes work;
                for (const Node& m : as_span(x.members())) {
                    Node c = push_complement(m);
                    if (c.kind == NodeKind::Nothing) continue;
                    if (c.kind == NodeKind::Anything) return c;
                    if (c.kind == NodeKind::Union) {
                        for (const Node& inner : as_span(c.members())) work->push_back(inner);
                    } else {
                        work->push_back(std::move(c));
                    }
                }
                return fold_union(*work);
            }
            default:
                // anything <-> nothing, a complement unwrapped, otherwise a
                // complement node.
                return complement_node(std::move(x));
        }
    }

    NullOracle oracle_;
    DisjointnessTest disjoint_;
    std::uint32_t steps_;
    NodeMemo<Node> memo_;
};

}  // namespace

Node simplify_node(const Node& node, DisjointnessTest disjoint, std::uint32_t disjoint_steps) {
    Simplifier s(disjoint, disjoint_steps);
    return s.simplify(node);
}

Node simplify_node(const Node& node, DisjointnessTest disjoint) {
    return simplify_node(node, disjoint, kSimplifyDisjointSteps);
}

}  // namespace tessaron::ir
