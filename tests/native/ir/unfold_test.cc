// Bounded unfolding of recursion.
#include <gtest/gtest.h>

#include <chrono>

#include "core/ir/order.h"
#include "core/ir/resolve.h"
#include "core/ir/unfold.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

// A tuple [v, v] built `levels` times over.
Node doubling_dag(int levels, Node bottom) {
    Node v = std::move(bottom);
    for (int i = 0; i < levels; ++i) v = tuple_of({v, v});
    return v;
}

Node raw_complement(Node inner) { return raw_single(NodeKind::Complement, std::move(inner)); }

struct UnfoldCase {
    const char* name;
    Node root;
    std::vector<Node> definitions;
    std::uint32_t fuel;
    Polarity polarity;
    Node expected;
};

std::vector<UnfoldCase> unfold_cases() {
    std::vector<Node> self_list = nodes({list_of(edge(0))});
    std::vector<Node> hop = nodes({edge(1), int_()});
    return {
        {"fuel 0 cuts to anything", edge(0), self_list, 0, Polarity::Above, anything0()},
        {"fuel 0 cuts to nothing", edge(0), self_list, 0, Polarity::Below, nothing_()},
        {"one unfolding, over-approximated", edge(0), self_list, 1, Polarity::Above, list_of(anything0())},
        {"one unfolding, under-approximated", edge(0), self_list, 1, Polarity::Below, list_of(nothing_())},
        {"two unfoldings", edge(0), self_list, 2, Polarity::Above, list_of(list_of(anything0()))},
        {"polarity flips below a complement", raw_complement(edge(0)), self_list, 1, Polarity::Above,
         raw_complement(list_of(nothing_()))},
        {"and back below a second one", raw_complement(raw_complement(edge(0))), self_list, 1, Polarity::Above,
         raw_complement(raw_complement(list_of(anything0())))},
        {"a hop through a back edge costs fuel", edge(0), hop, 1, Polarity::Above, anything0()},
        {"enough fuel for the hop", edge(0), hop, 2, Polarity::Above, int_()},
        {"siblings each start from the full fuel", tuple_of({edge(0), edge(0)}), self_list, 1, Polarity::Above,
         tuple_of({list_of(anything0()), list_of(anything0())})},
        {"an index past the list is cut", edge(5), self_list, 100, Polarity::Above, anything0()},
        {"a placeholder is cut", list_of(hole(3)), self_list, 100, Polarity::Below, list_of(nothing_())},
        {"the complement of a cut stays a complement", raw_complement(hole(3)), {}, 1, Polarity::Above,
         raw_complement(nothing_())},
        {"no lattice law: a cut member stays in its union", raw(NodeKind::Union, {int_(), edge(0)}), {}, 1, Polarity::Above,
         raw(NodeKind::Union, {anything0(), int_()})},
        {"members are sorted again", raw(NodeKind::Union, {edge(0), int_()}), nodes({str_()}), 1, Polarity::Above,
         raw(NodeKind::Union, {int_(), str_()})},
        {"record values and clauses", record({entry("a", edge(0))}, {Clause{str_(), edge(0)}}), nodes({int_()}), 1,
         Polarity::Above, record({entry("a", int_())}, {Clause{str_(), int_()}})},
        {"a tree without recursion is itself", record({entry("a", set_of(bytes_()))}), {}, 0, Polarity::Below,
         record({entry("a", set_of(bytes_()))})},
    };
}

TEST(Unfold, Cases) {
    for (const UnfoldCase& c : unfold_cases()) {
        SCOPED_TRACE(c.name);
        Node n = unfold_recursion(c.root, c.definitions, c.fuel, c.polarity);
        EXPECT_TRUE(node_eq(n, c.expected));
        EXPECT_FALSE(has_back_edges(n));
    }
}

TEST(Unfold, RefinedKeepsItsConstraintList) {
    Node r = raw_refined(edge(0), {min_len(2)});
    Node n = unfold_recursion(r, nodes({str_()}), 1, Polarity::Above);
    EXPECT_EQ(n.constraints, r.constraints);
    EXPECT_TRUE(node_eq(*n.child, str_()));
}

TEST(Unfold, ChildrenAndListRewrites) {
    std::vector<Node> defs = nodes({int_()});
    std::optional<Node> seq = unfold_children(tuple_of({edge(0)}), defs, 1, Polarity::Above);
    ASSERT_TRUE(seq);
    EXPECT_TRUE(node_eq(*seq, tuple_of({int_()})));
    EXPECT_FALSE(unfold_children(int_(), defs, 1, Polarity::Above)) << "a node without children answers unchanged";

    std::vector<Node> work;
    std::vector<Node> list = nodes({edge(0), hole(1)});
    EXPECT_TRUE(unfold_node_list(work, list, defs, 1, Polarity::Below));
    ASSERT_EQ(work.size(), 2u);
    EXPECT_TRUE(node_eq(work[0], int_()));
    EXPECT_TRUE(node_eq(work[1], nothing_()));
    std::optional<NodeList> members = unfold_members(fresh_list({hole(1), str_()}), defs, 1, Polarity::Above);
    ASSERT_TRUE(members);
    EXPECT_TRUE(node_eq((**members)[0], anything0())) << "anything sorts first";
    std::optional<EntryList> entries = unfold_entries(record({entry("x", edge(0))}).entries, defs, 0, Polarity::Below);
    ASSERT_TRUE(entries);
    EXPECT_TRUE(node_eq((**entries)[0].value, nothing_()));
}

// Hang guards: without the memo by (node, fuel, polarity) each of these
// unfolds an exponential number of paths.
TEST(HostileShapes, SharedShapesUnfoldOncePerNodeFuelAndPolarity) {
    const auto start = std::chrono::steady_clock::now();
    // A shared DAG with 2^64 paths to a back edge.
    std::vector<Node> self_list = nodes({list_of(edge(0))});
    Node dag = doubling_dag(64, uni(nodes({int_(), edge(0)})));
    Node n = unfold_recursion(dag, self_list, 3, Polarity::Below);
    EXPECT_FALSE(has_back_edges(n));
    EXPECT_EQ((*n.nodes)[0].nodes, (*n.nodes)[1].nodes) << "the result shares where the input did";

    // A chain of definitions, each a pair of back edges to the one below:
    // 2^60 paths, each spending one unit of fuel per hop.
    std::vector<Node> chain = nodes({int_()});
    for (std::uint64_t k = 1; k < 61; ++k) chain.push_back(tuple_of({edge(k - 1), raw_complement(edge(k - 1))}));
    Node deep = unfold_recursion(edge(60), chain, 61, Polarity::Above);
    EXPECT_FALSE(has_back_edges(deep));
    Node cut = unfold_recursion(edge(60), chain, 30, Polarity::Above);
    EXPECT_FALSE(has_back_edges(cut));
    EXPECT_FALSE(node_eq(deep, cut));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace tessaron::ir
