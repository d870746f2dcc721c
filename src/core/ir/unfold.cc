// Bounded unfolding: a recursive schema turned into a finite tree without
// back edges or placeholders.
//
// unfold(node, fuel f, polarity p):
//   * a back edge to definition i: cut off when f is 0 or i is past the
//     definitions, else unfold definition i with f - 1 (a definition that is
//     itself a back edge costs one more unit);
//   * a placeholder: cut off;
//   * a complement: the complement of the inner node unfolded with p flipped
//     (no law: the complement of a cut-off value stays a complement node);
//   * any other node: rebuilt from its children, each unfolded under f and
//     p, through the copy-on-write protocol of rewrite.h; members are sorted
//     and deduplicated again, no lattice law; a refined node keeps its
//     constraints.  A leaf comes back as a copy.
// The cut-off value is anything (Any flag 0) under Polarity::Above and
// nothing under Polarity::Below, so the result over-approximates the set
// above and under-approximates it below.
//
// Fuel is per path: a child starts with its parent's fuel, so what one
// branch spends does not shorten its siblings, and each followed back edge
// copies its definition once more into the result.
//
// Budget: the answer for a node depends only on the node, the fuel and the
// polarity, so it is memoised under that triple (by node address) for the
// whole call.  The number of distinct keys is at most the distinct nodes
// (the tree and the definitions) times (fuel + 1) times 2, so with the fuel
// of 1 the callers use the work is linear in distinct nodes, however often
// a subtree or a definition is shared, and the result shares where the
// input did.  Recursion depth is the tree's depth times (fuel + 1), bounded
// by the size bounds of a finished schema.
#include "core/ir/unfold.h"

#include <boost/unordered/unordered_flat_map.hpp>

#include "core/ir/rewrite.h"
#include "core/util/fxhash.h"

namespace tessaron::ir {
namespace {

struct UnfoldKey {
    const Node* node;
    std::uint32_t fuel;
    Polarity polarity;
    bool operator==(const UnfoldKey&) const = default;
};

struct UnfoldKeyHash {
    std::size_t operator()(const UnfoldKey& k) const noexcept {
        util::FxHasher h;
        h.write(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(k.node)));
        h.write((static_cast<std::uint64_t>(k.fuel) << 1) | static_cast<std::uint64_t>(k.polarity));
        return h.finish();
    }
};

class Unfolder;

// The child function of the protocol under one fuel and polarity: never
// "unchanged".
struct ChildUnfold {
    Unfolder* unfolder;
    std::uint32_t fuel;
    Polarity polarity;
    std::optional<Node> operator()(const Node& c) const;
};

class Unfolder {
public:
    explicit Unfolder(std::span<const Node> definitions) : definitions_(definitions) {}

    Node unfold(const Node& start, std::uint32_t fuel, Polarity polarity) {
        const Node* n = &start;
        while (n->kind == NodeKind::BackEdge) {
            if (fuel == 0 || n->index >= definitions_.size()) return cut_off(polarity);
            n = &definitions_[n->index];
            --fuel;
        }
        if (n->kind == NodeKind::Placeholder) return cut_off(polarity);
        if (is_leaf_kind(n->kind)) return *n;
        const UnfoldKey key{n, fuel, polarity};
        if (auto it = memo_.find(key); it != memo_.end()) return it->second;
        Node result;
        if (n->kind == NodeKind::Complement) {
            result.kind = NodeKind::Complement;
            result.child = intern_node(unfold(*n->child, fuel, flipped(polarity)));
        } else {
            std::optional<Node> rebuilt = children(*n, fuel, polarity);
            result = rebuilt ? std::move(*rebuilt) : *n;
        }
        memo_.emplace(key, result);
        return result;
    }

    std::optional<Node> children(const Node& n, std::uint32_t fuel, Polarity polarity) {
        return rewrite_children(n, ChildUnfold{this, fuel, polarity});
    }

private:
    static Node cut_off(Polarity polarity) { return polarity == Polarity::Above ? Node::anything(false) : Node::nothing(); }

    std::span<const Node> definitions_;
    boost::unordered_flat_map<UnfoldKey, Node, UnfoldKeyHash> memo_;
};

std::optional<Node> ChildUnfold::operator()(const Node& c) const { return unfolder->unfold(c, fuel, polarity); }

}  // namespace

Node unfold_recursion(const Node& node, std::span<const Node> definitions, std::uint32_t fuel,
                      Polarity polarity) {
    Unfolder u(definitions);
    return u.unfold(node, fuel, polarity);
}

std::optional<Node> unfold_children(const Node& node, std::span<const Node> definitions, std::uint32_t fuel,
                                    Polarity polarity) {
    Unfolder u(definitions);
    return u.children(node, fuel, polarity);
}

bool unfold_node_list(std::vector<Node>& work, std::span<const Node> list, std::span<const Node> definitions,
                      std::uint32_t fuel, Polarity polarity) {
    Unfolder u(definitions);
    return rewrite_list(work, list, ChildUnfold{&u, fuel, polarity});
}

std::optional<NodeList> unfold_members(const NodeList& list, std::span<const Node> definitions,
                                       std::uint32_t fuel, Polarity polarity) {
    Unfolder u(definitions);
    return rewrite_members(list, ChildUnfold{&u, fuel, polarity});
}

std::optional<EntryList> unfold_entries(const EntryList& list, std::span<const Node> definitions,
                                        std::uint32_t fuel, Polarity polarity) {
    Unfolder u(definitions);
    return rewrite_entries(list, ChildUnfold{&u, fuel, polarity});
}

}  // namespace tessaron::ir
