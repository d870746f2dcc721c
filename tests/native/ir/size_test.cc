// Size measures: node count, depth, unresolved placeholders; shared DAGs and
// very deep trees.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <thread>

#include "core/ir/placeholder_stack.h"
#include "core/ir/size.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

TEST(SizeMeasures, CountAndDepthCases) {
    const Node shared = list_of(uni(nodes({int_(), str_()})));  // count 4, depth 3
    struct Case {
        const char* name;
        Node node;
        std::uint64_t count, depth;
    };
    std::vector<Case> cases = {
        {"a leaf", int_(), 1, 1},
        {"refined weighs 1 + constraints", refined(int_(), {ge(0), min_len(1)}), 4, 2},
        {"closed record with one field", record({entry("a", int_())}), 2, 2},
        {"the catch-all clause's key and value are children", record({entry("a", int_())}, {Clause{Any1(), Any1()}}), 4,
         2},
        {"a shared subtree counts once per occurrence", tuple_of({shared, shared}), 9, 4},
        {"a back edge is a leaf", edge(3), 1, 1},
        {"a placeholder is a leaf", hole(3), 1, 1},
        {"the empty tuple", tuple_of({}), 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(count_nodes(c.node), c.count) << c.name;
        EXPECT_EQ(schema_depth(c.node), c.depth) << c.name;
        EXPECT_EQ(has_unresolved_placeholder(c.node), c.node.kind == NodeKind::Placeholder) << c.name;
    }
}

TEST(SizeMeasures, SchemaTotalsSpanRootAndDefinitions) {
    std::vector<Node> defs = nodes({list_of(edge(0)), record({entry("a", int_())})});
    EXPECT_EQ(count_schema_nodes(edge(1), defs), 1u + 2u + 2u);
    EXPECT_EQ(max_schema_depth(edge(1), defs), 2u);
    EXPECT_EQ(max_schema_depth(tuple_of({tuple_of({int_()})}), defs), 3u);
}

TEST(Placeholders, ResolvedOnlyWhileTheirCallRunsOnThisThread) {
    const std::uint64_t id = next_placeholder_id();
    EXPECT_GT(next_placeholder_id(), id) << "ids are unique";
    Node body = list_of(uni(nodes({int_(), hole(id)})));
    bool on_other_thread = false;
    {
        PlaceholderScope scope(id);
        EXPECT_TRUE(placeholder_is_active(id));
        EXPECT_FALSE(has_unresolved_placeholder(body));
        {
            PlaceholderScope inner(id + 1000);
            EXPECT_FALSE(has_unresolved_placeholder(body)) << "an outer call's id stays active";
        }
        std::thread t([&] { on_other_thread = has_unresolved_placeholder(body); });
        t.join();
    }
    EXPECT_TRUE(on_other_thread);
    EXPECT_FALSE(placeholder_is_active(id));
    EXPECT_TRUE(has_unresolved_placeholder(body));
    // A placeholder inside a definition is not seen from the root.
    EXPECT_FALSE(has_unresolved_placeholder(list_of(edge(0))));
    pop_placeholder();  // popping an empty stack does nothing
}

// A tuple [v, v] built k times over: 2^k occurrences of the bottom leaf
// through one allocation per level.
Node doubling_dag(int levels, Node bottom) {
    Node v = std::move(bottom);
    for (int i = 0; i < levels; ++i) v = tuple_of({v, v});
    return v;
}

TEST(SizeMeasures, SharedDagIsMeasuredByOccurrenceInLinearTime) {
    const auto start = std::chrono::steady_clock::now();
    Node dag40 = doubling_dag(40, int_());
    EXPECT_EQ(count_nodes(dag40), (std::uint64_t{1} << 41) - 1);
    EXPECT_EQ(schema_depth(dag40), 41u);

    Node dag70 = doubling_dag(70, int_());
    EXPECT_EQ(count_nodes(dag70), std::numeric_limits<std::uint64_t>::max()) << "saturates";
    std::vector<Node> defs = nodes({dag40});
    EXPECT_EQ(count_schema_nodes(dag70, defs), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(count_schema_nodes(dag40, defs), (std::uint64_t{1} << 42) - 2);

    const std::uint64_t id = next_placeholder_id();
    Node holey = doubling_dag(60, uni(nodes({hole(id), int_()})));
    EXPECT_TRUE(has_unresolved_placeholder(holey));
    {
        PlaceholderScope scope(id);
        EXPECT_FALSE(has_unresolved_placeholder(holey));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SizeMeasures, DeepTreesDoNotUseTheNativeStack) {
    // 200000 nested sets: a recursive walk would need far more stack than a
    // thread has.  The levels are kept in a vector and released from the top
    // down, so destruction does not recurse either.
    const std::uint64_t id = next_placeholder_id();
    constexpr std::size_t kLevels = 200000;
    std::vector<SharedNode> levels;
    levels.reserve(kLevels + 1);
    levels.push_back(intern_node(hole(id)));
    for (std::size_t i = 0; i < kLevels; ++i) levels.push_back(intern_node(set_of(*levels.back())));
    {
        const Node& top = *levels.back();
        EXPECT_EQ(schema_depth(top), kLevels + 1);
        EXPECT_EQ(count_nodes(top), kLevels + 1);
        EXPECT_TRUE(has_unresolved_placeholder(top));
    }
    while (!levels.empty()) levels.pop_back();
}

}  // namespace
}  // namespace tessaron::ir
