// Finalisation: pruning, renumbering and the three size bounds, each at its
// limit and one past it, on hand-built trees.
#include <gtest/gtest.h>

#include "core/ir/finalize.h"
#include "core/ir/limits.h"
#include "core/ir/normal_form.h"
#include "core/ir/order.h"
#include "core/ir/placeholder_stack.h"
#include "core/ir/reach.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

// A chain of `depth` nested one-element lists around int.
Node nested_lists(std::uint64_t depth) {
    Node n = int_();
    for (std::uint64_t i = 1; i < depth; ++i) n = list_of(std::move(n));
    return n;
}

TEST(Finalize, DepthBoundIsInclusive) {
    Node root = nested_lists(kMaxSchemaDepth);
    std::vector<Node> defs;
    EXPECT_EQ(finalize_schema(root, defs), std::nullopt);

    root = nested_lists(kMaxSchemaDepth + 1);
    auto error = finalize_schema(root, defs);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error,
              "schema nesting is too deep: this validator reaches 129 levels of nesting, past the limit of 128. A "
              "validator this deep comes from building in an unbounded loop; checking it would risk a native stack "
              "overflow. Express structural recursion with recursive(...) instead of nesting schemas.");
}

TEST(Finalize, DefinitionBoundCountsOnlyReachableDefinitions) {
    auto schema_with = [](std::uint64_t reached, std::uint64_t unreached) {
        std::vector<Node> members;
        std::vector<Node> defs;
        for (std::uint64_t i = 0; i < reached; ++i) {
            // Distinct bodies: equivalent definitions would be merged.
            defs.push_back(list_of(uni({edge(i), lit(i)})));
            members.push_back(edge(i));
        }
        for (std::uint64_t i = 0; i < unreached; ++i) defs.push_back(set_of(lit(i)));
        return std::make_pair(tuple_of(std::move(members)), std::move(defs));
    };
    auto [root, defs] = schema_with(kMaxDefinitions, 5);
    EXPECT_EQ(finalize_schema(root, defs), std::nullopt);
    EXPECT_EQ(defs.size(), kMaxDefinitions) << "the unreachable ones were dropped";

    auto [root2, defs2] = schema_with(kMaxDefinitions + 1, 0);
    auto error = finalize_schema(root2, defs2);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error,
              "schema holds too many recursive definitions: this validator has 129 of them, past the limit of "
              "128. A validator with this many comes from chaining recursive schemas in an unbounded loop; "
              "rendering or deciding it would risk a native stack overflow.");
}

TEST(Finalize, NodeBoundCountsEveryOccurrence) {
    // A tuple of n distinct literals spans n + 1 nodes.
    auto tuple_of_literals = [](std::uint64_t n) {
        std::vector<Node> prefix;
        for (std::uint64_t i = 0; i < n; ++i) prefix.push_back(lit(i));
        return tuple_of(std::move(prefix));
    };
    std::vector<Node> defs;
    Node root = tuple_of_literals(kMaxSchemaNodes - 1);
    EXPECT_EQ(finalize_schema(root, defs), std::nullopt);

    root = tuple_of_literals(kMaxSchemaNodes);
    auto error = finalize_schema(root, defs);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error,
              "schema is too large: this validator spans 100001 nodes, past the limit of 100000. A schema this "
              "large comes from combining a validator with itself in an unbounded loop, which doubles its size "
              "each step; building it would exhaust memory.");

    // Doubling by sharing: [v, v] from the previous v.  Cheap to build and to
    // measure, but counted per occurrence.
    Node v = int_();
    for (int i = 0; i < 70; ++i) v = tuple_of({v, v});  // 2^71 - 1 occurrences: the sum saturates
    error = finalize_schema(v, defs);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("spans 18446744073709551615 nodes"), std::string::npos) << *error;
    v = int_();
    for (int i = 0; i < 17; ++i) v = tuple_of({v, v});  // 2^18 - 1 nodes, depth 18
    error = finalize_schema(v, defs);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("spans 262143 nodes"), std::string::npos) << *error;
}

TEST(Finalize, PruningRenumbersBackEdges) {
    // Definition 1 is unreachable; the root's edge to 2 becomes an edge to 1.
    std::vector<Node> defs = nodes({list_of(edge(2)), int_(), set_of(edge(0))});
    Node root = edge(2);
    ASSERT_EQ(finalize_schema(root, defs), std::nullopt);
    ASSERT_EQ(defs.size(), 2u);
    EXPECT_EQ(root.kind, NodeKind::BackEdge);
    EXPECT_EQ(root.definition(), 1u);
    EXPECT_TRUE(node_eq(defs[0], list_of(edge(1))));
    EXPECT_TRUE(node_eq(defs[1], set_of(edge(0))));
}

// Two fixpoints A = list[A] | bool and B = list[B] | None under
// union(list[A], tuple[B, ...]), assembled with the definitions in either
// order, finalise to the same schema: definitions are numbered in
// post-order of a walk from the root, not in the order they were appended.
TEST(Finalize, DefinitionOrderDoesNotDependOnAssembly) {
    auto assemble = [](bool a_first) {
        const std::uint64_t a = a_first ? 0 : 1, b = a_first ? 1 : 0;
        std::vector<Node> defs(2);
        defs[a] = uni({list_of(edge(a)), bool_()});
        defs[b] = uni({list_of(edge(b)), none_()});
        Node root = uni({list_of(edge(a)), tuple_of({}, edge(b))});
        return std::make_pair(root, defs);
    };
    auto [r1, d1] = assemble(true);
    auto [r2, d2] = assemble(false);
    ASSERT_EQ(finalize_schema(r1, d1), std::nullopt);
    ASSERT_EQ(finalize_schema(r2, d2), std::nullopt);
    EXPECT_TRUE(node_eq(r1, r2));
    ASSERT_EQ(d1.size(), d2.size());
    for (std::size_t i = 0; i < d1.size(); ++i) EXPECT_TRUE(node_eq(d1[i], d2[i])) << i;
    // Renumbered back edges keep every union in canonical order.
    EXPECT_EQ(tree_violation(r1), std::nullopt);
    for (const Node& d : d1) EXPECT_EQ(tree_violation(d), std::nullopt);
    // Canonical order is a fixed point.
    EXPECT_FALSE(canonicalise_definitions(r1, d1));
}

// Equivalent definitions merge: a fixpoint R = list[R] | None written twice
// (0 and 1, each pointing at itself) and a pair pointing at each other (2
// and 3) all denote one thing; the outer body (4) keeps its own class.
TEST(Finalize, EquivalentDefinitionsMerge) {
    std::vector<Node> defs = nodes({
        uni({list_of(edge(0)), none_()}),
        uni({list_of(edge(1)), none_()}),
        uni({list_of(edge(3)), none_()}),
        uni({list_of(edge(2)), none_()}),
        list_of(uni({edge(4), edge(1)})),
    });
    EXPECT_EQ(definition_classes(defs), (std::vector<std::uint64_t>{0, 0, 0, 0, 1}));
    Node root = tuple_of({edge(0), edge(2), edge(4)});
    ASSERT_EQ(finalize_schema(root, defs), std::nullopt);
    ASSERT_EQ(defs.size(), 2u);
    EXPECT_TRUE(node_eq(root, tuple_of({edge(0), edge(0), edge(1)})));
    EXPECT_TRUE(node_eq(defs[0], uni({list_of(edge(0)), none_()})));
    EXPECT_TRUE(node_eq(defs[1], list_of(uni({edge(1), edge(0)}))));
    for (const Node& d : defs) EXPECT_EQ(tree_violation(d), std::nullopt);
    // Bodies that differ only below the recursion stay apart.
    std::vector<Node> apart = nodes({list_of(uni({edge(0), lit(1)})), list_of(uni({edge(1), lit(2)}))});
    EXPECT_EQ(definition_classes(apart), (std::vector<std::uint64_t>{0, 1}));
}

TEST(Finalize, NestedDefinitionsComeBeforeTheirEnclosingOne) {
    // 0: the outer body list[edge 0 | edge 1]; 1: the inner body list[edge 1].
    std::vector<Node> defs = nodes({list_of(uni({edge(0), edge(1)})), list_of(edge(1))});
    EXPECT_EQ(definitions_in_canonical_order(edge(0), defs), (std::vector<std::uint64_t>{1, 0}));
    Node root = edge(0);
    ASSERT_EQ(finalize_schema(root, defs), std::nullopt);
    EXPECT_EQ(root.definition(), 1u);
    EXPECT_TRUE(node_eq(defs[0], list_of(edge(0))));
    EXPECT_FALSE(canonicalise_definitions(root, defs));
}

TEST(Finalize, PlaceholderIsResolvedOnlyWhileItsCallRuns) {
    const std::uint64_t id = next_placeholder_id();
    std::vector<Node> defs;
    {
        PlaceholderScope scope(id);
        Node root = list_of(hole(id));
        EXPECT_EQ(finalize_schema(root, defs), std::nullopt);
    }
    Node root = list_of(hole(id));
    auto error = finalize_schema(root, defs);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->rfind("schema holds an unresolved recursive placeholder: the validator a recursive(...) "
                           "builder receives stands for the schema being defined",
                           0),
              0u);
    // A placeholder inside a definition is found too.
    std::vector<Node> with_def = nodes({list_of(hole(id))});
    Node via_edge = edge(0);
    EXPECT_TRUE(finalize_schema(via_edge, with_def).has_value());
}

}  // namespace
}  // namespace tessaron::ir
