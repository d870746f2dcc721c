// Renumbering, relocation, the copy-on-write protocol and reachability.
#include <gtest/gtest.h>

#include <chrono>

#include "core/ir/order.h"
#include "core/ir/reach.h"
#include "core/ir/renumber.h"
#include "core/ir/rewrite.h"
#include "core/ir/size.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

std::vector<RenumberEntry> kept_dropped_kept() {
    return {RenumberEntry{true, 0}, RenumberEntry{false, 0}, RenumberEntry{true, 1}};
}

TEST(Renumber, BackEdgesMoveToKeptPositionsOthersStay) {
    Node n = renumber_back_edges(tuple_of({edge(2), edge(0), edge(7)}, edge(1)), kept_dropped_kept());
    Node expected = tuple_of({edge(1), edge(0), edge(7)}, edge(1));
    EXPECT_TRUE(node_eq(n, expected));
    EXPECT_EQ(renumber_back_edges(edge(2), kept_dropped_kept()).index, 1u);
}

TEST(Renumber, TreeWithoutBackEdgesComesBackEqualAndShared) {
    Node tree = record({entry("a", list_of(int_())), entry("b", refined(str_(), {min_len(1)}))},
                       {Clause{str_(), uni(nodes({int_(), none_()}))}});
    Node n = renumber_back_edges(tree, kept_dropped_kept());
    EXPECT_TRUE(node_eq(n, tree));
    EXPECT_EQ(n.clauses, tree.clauses) << "rebuilt through the tables, which still hold the lists";
    EXPECT_EQ((*n.entries)[1].value.constraints, (*tree.entries)[1].value.constraints)
        << "a refined node keeps its constraint list";
}

TEST(Renumber, MembersAreSortedAgain) {
    // Back edge 5 becomes 0 and moves in front of the unmapped back edge 1.
    std::vector<RenumberEntry> map(6);
    map[5] = RenumberEntry{true, 0};
    Node u = renumber_back_edges(raw(NodeKind::Union, {edge(1), edge(5), int_()}), map);
    ASSERT_EQ(u.kind, NodeKind::Union);
    ASSERT_EQ(u.nodes->size(), 3u);
    EXPECT_EQ((*u.nodes)[0].kind, NodeKind::Int);
    EXPECT_EQ((*u.nodes)[1].index, 0u);
    EXPECT_EQ((*u.nodes)[2].index, 1u);
}

TEST(Renumber, ListRewritesAnswerEveryElement) {
    std::vector<Node> work;
    std::vector<Node> list = nodes({int_(), edge(2)});
    EXPECT_TRUE(renumber_list(work, list, kept_dropped_kept())) << "renumbering never answers unchanged";
    ASSERT_EQ(work.size(), 2u);
    EXPECT_EQ(work[1].index, 1u);
    std::optional<EntryList> entries = renumber_entries(record({entry("x", edge(2))}).entries, kept_dropped_kept());
    ASSERT_TRUE(entries);
    EXPECT_EQ((**entries)[0].value.index, 1u);
}

TEST(Reach, ReachableDefinitions) {
    // root -> def 0 -> def 2 -> (back edge 9: outside, not followed);
    // def 1 and the self-referencing def 3 are unreachable.
    std::vector<Node> defs = nodes({list_of(edge(2)), int_(), set_of(edge(9)), list_of(edge(3))});
    EXPECT_EQ(reachable_definitions(edge(0), defs), (std::vector<bool>{true, false, true, false}));
    std::vector<Node> all = nodes({list_of(edge(1)), list_of(edge(0))});
    EXPECT_EQ(reachable_definitions(tuple_of({edge(0)}), all), (std::vector<bool>{true, true}));
    EXPECT_EQ(reachable_definitions(int_(), {}), std::vector<bool>{});
}

RelocationContext ctx(std::vector<std::uint64_t> map, std::uint64_t offset = 0) {
    return RelocationContext{std::move(map), offset};
}

TEST(Relocate, IdentityIsUnchangedAndSharesEverything) {
    std::vector<Node> defs = nodes({list_of(lit(2)), record({entry("k", edge(0))})});
    Node root = uni(nodes({lit(0), lit(1), edge(1)}));
    RelocationContext identity = ctx({0, 1, 2});
    EXPECT_FALSE(relocate_node(root, identity));
    std::vector<Node> copies = relocate_nodes(defs, identity);
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].child, defs[0].child);
    EXPECT_EQ(copies[1].entries, defs[1].entries);
}

TEST(Relocate, Cases) {
    struct Case {
        const char* name;
        Node input;
        RelocationContext context;
        Node expected;
    };
    std::vector<Case> cases = {
        {"literal through the map", lit(1), ctx({0, 5}), lit(5)},
        {"instance through the map", inst(0), ctx({3}), inst(3)},
        {"back edge plus offset", edge(2), ctx({}, 3), edge(5)},
        {"members follow the new index order", uni(nodes({lit(0), lit(1)})), ctx({5, 2}),
         raw(NodeKind::Union, {lit(2), lit(5)})},
        {"bound moves, count stays, order kept", refined(int_(), {ge(1), min_len(3)}), ctx({0, 5}),
         raw_refined(int_(), {ge(5), min_len(3)})},
        {"moved bounds are sorted again", refined(int_(), {ge(0), ge(1)}), ctx({5, 2}),
         raw_refined(int_(), {ge(2), ge(5)})},
        {"merged bounds are deduplicated", refined(int_(), {ge(0), ge(1)}), ctx({3, 3}), raw_refined(int_(), {ge(3)})},
        {"clauses keep their order", record({}, {Clause{lit(0), int_()}, Clause{lit(1), int_()}}), ctx({1, 0}),
         raw_mapping({}, {Clause{lit(1), int_()}, Clause{lit(0), int_()}})},
        {"inside containers", record({entry("a", set_of(lit(0)))}, {Clause{str_(), tuple_of({}, edge(0))}}),
         ctx({7}, 2), record({entry("a", set_of(lit(7)))}, {Clause{str_(), tuple_of({}, edge(2))}})},
    };
    for (const Case& c : cases) {
        std::optional<Node> got = relocate_node(c.input, c.context);
        ASSERT_TRUE(got) << c.name;
        EXPECT_TRUE(node_eq(*got, c.expected)) << c.name;
    }
    for (Node unmoved : {hole(4), int_(), lit(1), edge(0)}) {
        EXPECT_FALSE(relocate_node(unmoved, ctx({0, 1}))) << expected_kind_text(unmoved);
    }
    EXPECT_FALSE(relocate_node(hole(4), ctx({9}, 3))) << "a placeholder keeps its id";
    EXPECT_FALSE(relocate_node(lit(4), ctx({1, 0}))) << "an index past the map stays";
}

TEST(Relocate, CopiesOnlyTheChangedPath) {
    Node rec = record({entry("a", int_())});
    Node bounded = refined(lit(0), {min_len(1)});
    Node tree = tuple_of({rec, lit(0), bounded, str_()});
    std::optional<Node> got = relocate_node(tree, ctx({4}));
    ASSERT_TRUE(got);
    const std::vector<Node>& prefix = *got->nodes;
    EXPECT_EQ(prefix[0].entries, rec.entries) << "an unchanged element is the old one";
    EXPECT_EQ(prefix[1].index, 4u);
    EXPECT_EQ(prefix[2].constraints, bounded.constraints) << "only the inner node moved";
    EXPECT_EQ(prefix[2].inner()->index, 4u);
}

TEST(RewriteProtocol, ListCopiesFromTheFirstChange) {
    auto int_to_str = [](const Node& n) -> std::optional<Node> {
        if (n.kind == NodeKind::Int) return str_();
        return std::nullopt;
    };
    std::vector<Node> work;
    std::vector<Node> unchanged = nodes({none_(), bytes_()});
    EXPECT_FALSE(rewrite_list(work, unchanged, int_to_str));
    EXPECT_TRUE(work.empty());
    std::vector<Node> list = nodes({none_(), int_(), bytes_(), int_()});
    EXPECT_TRUE(rewrite_list(work, list, int_to_str));
    ASSERT_EQ(work.size(), 4u);
    EXPECT_EQ(work[0].kind, NodeKind::None);
    EXPECT_EQ(work[1].kind, NodeKind::Str);
    EXPECT_EQ(work[2].kind, NodeKind::Bytes);
    EXPECT_EQ(work[3].kind, NodeKind::Str);

    // Members: re-sorted and deduplicated, but no lattice law (a one-member
    // union stays a union).
    Node u = uni(nodes({int_(), str_()}));
    std::optional<Node> r = rewrite_children(u, int_to_str);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, NodeKind::Union);
    ASSERT_EQ(r->nodes->size(), 1u);
    EXPECT_FALSE(rewrite_children(list_of(bytes_()), int_to_str));
}

TEST(Rewrites, SharedDagIsRewrittenOncePerDistinctNode) {
    const auto start = std::chrono::steady_clock::now();
    Node v = uni(nodes({lit(0), edge(2)}));
    for (int i = 0; i < 40; ++i) v = tuple_of({v, v});

    std::optional<Node> moved = relocate_node(v, ctx({9}, 1));
    ASSERT_TRUE(moved);
    EXPECT_EQ((*moved->nodes)[0].nodes, (*moved->nodes)[1].nodes) << "the result shares where the input did";
    EXPECT_EQ(count_nodes(*moved), count_nodes(v));
    const Node* bottom = &*moved;
    while (bottom->kind == NodeKind::Sequence) bottom = &(*bottom->nodes)[0];
    EXPECT_TRUE(node_eq(*bottom, raw(NodeKind::Union, {lit(9), edge(3)})));

    Node renumbered = renumber_back_edges(v, kept_dropped_kept());
    EXPECT_EQ((*renumbered.nodes)[0].nodes, (*renumbered.nodes)[1].nodes);
    bottom = &renumbered;
    while (bottom->kind == NodeKind::Sequence) bottom = &(*bottom->nodes)[0];
    EXPECT_TRUE(node_eq(*bottom, raw(NodeKind::Union, {lit(0), edge(1)})));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tessaron::ir
