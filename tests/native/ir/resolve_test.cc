// Placeholder resolution, the contractiveness test and the back-edge search.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/ir/order.h"
#include "core/ir/resolve.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

constexpr std::uint64_t kId = 7;

// A tuple [v, v] built `levels` times over: 2^levels paths to the bottom
// through one allocation per level.
Node doubling_dag(int levels, Node bottom) {
    Node v = std::move(bottom);
    for (int i = 0; i < levels; ++i) v = tuple_of({v, v});
    return v;
}

struct BodyCase {
    std::string name;
    Node body;
    bool contractive;
};

std::vector<BodyCase> body_cases() {
    return {
        {"list of the placeholder", list_of(hole(kId)), true},
        {"record field", record({entry("next", hole(kId), false)}), true},
        {"set element", set_of(uni(nodes({int_(), hole(kId)}))), true},
        {"object attribute", make_object({entry("child", hole(kId))}), true},
        {"tuple tail under a union", uni(nodes({none_(), tuple_of({int_()}, hole(kId))})), true},
        {"dict clause value", record({}, {Clause{str_(), hole(kId)}}), true},
        {"another call's placeholder", uni(nodes({none_(), hole(kId + 1)})), true},
        {"the placeholder itself", hole(kId), false},
        {"union with None", uni(nodes({none_(), hole(kId)})), false},
        {"refinement", raw_refined(hole(kId), {min_len(1)}), false},
        {"complement", comp(hole(kId)), false},
        {"intersection beside a list", raw(NodeKind::Intersection, {list_of(int_()), hole(kId)}), false},
        {"deep in unions and complements", comp(uni(nodes({int_(), comp(hole(kId))}))), false},
    };
}

TEST(Contractiveness, BodiesAloneAgainstAnEmptyDefinitionList) {
    for (const BodyCase& c : body_cases()) {
        SCOPED_TRACE(c.name);
        Node body = c.body;
        std::vector<Node> defs;
        resolve_placeholder_in_schema(body, defs, kId, 0);
        EXPECT_EQ(has_unguarded_recursion(body, 0, defs), !c.contractive);
        // The single-node form agrees with the one-pass form.
        EXPECT_TRUE(node_eq(resolve_placeholder(c.body, kId, 0), body));
    }
}

TEST(Resolve, PlaceholderOfTheIdBecomesTheBackEdgeOthersStay) {
    Node r = resolve_placeholder(tuple_of({hole(kId), hole(3), edge(0)}, hole(kId)), kId, 4);
    EXPECT_TRUE(node_eq(r, tuple_of({edge(4), hole(3), edge(0)}, edge(4))));
    EXPECT_TRUE(node_eq(resolve_placeholder(hole(kId), kId, 2), edge(2)));
    EXPECT_TRUE(node_eq(resolve_placeholder(hole(3), kId, 2), hole(3)));
}

TEST(Resolve, MembersMoveToTheirNewPlaceInTheOrder) {
    // Back edges sort before placeholders: [hole 3, hole 7] -> [edge n, hole 3].
    Node u = resolve_placeholder(raw(NodeKind::Union, {hole(3), hole(kId)}), kId, 5);
    ASSERT_EQ(u.kind, NodeKind::Union);
    ASSERT_EQ(u.nodes->size(), 2u);
    EXPECT_TRUE(node_eq((*u.nodes)[0], edge(5)));
    EXPECT_TRUE(node_eq((*u.nodes)[1], hole(3)));
    // No lattice law: a union that now holds two equal back edges is
    // deduplicated, not folded to its one member.
    Node twice = resolve_placeholder(raw(NodeKind::Union, {edge(5), hole(kId)}), kId, 5);
    EXPECT_EQ(twice.kind, NodeKind::Union);
    EXPECT_EQ(twice.nodes->size(), 1u);
}

TEST(Resolve, RefinedKeepsItsConstraintsAndUntouchedTreesShare) {
    Node tree = record({entry("a", refined(str_(), {min_len(2)})), entry("b", list_of(int_()))});
    Node r = resolve_placeholder(tree, kId, 0);
    EXPECT_TRUE(node_eq(r, tree));
    EXPECT_EQ((*r.entries)[0].value.constraints, (*tree.entries)[0].value.constraints);
    EXPECT_EQ(r.entries, tree.entries) << "rebuilt through the tables, which still hold the list";

    Node holey = raw_refined(hole(kId), {min_len(1)});
    Node rh = resolve_placeholder(holey, kId, 0);
    EXPECT_EQ(rh.constraints, holey.constraints);
    EXPECT_EQ(rh.child->kind, NodeKind::BackEdge);
}

TEST(Resolve, ListRewrites) {
    std::vector<Node> work;
    std::vector<Node> list = nodes({int_(), hole(kId)});
    EXPECT_TRUE(resolve_placeholder_in_list(work, list, kId, 1));
    ASSERT_EQ(work.size(), 2u);
    EXPECT_TRUE(node_eq(work[1], edge(1)));
    std::optional<NodeList> members = resolve_placeholder_in_members(fresh_list({hole(3), hole(kId)}), kId, 1);
    ASSERT_TRUE(members);
    EXPECT_TRUE(node_eq((**members)[0], edge(1)));
    std::optional<EntryList> entries =
        resolve_placeholder_in_entries(record({entry("x", hole(kId))}).entries, kId, 1);
    ASSERT_TRUE(entries);
    EXPECT_TRUE(node_eq((**entries)[0].value, edge(1)));
}

TEST(Resolve, SchemaFormResolvesEveryDefinitionButFollowsNoBackEdge) {
    // Definition 0 holds this call's placeholder (left there by a nested
    // alias); the single-node form leaves it alone, the schema form not.
    std::vector<Node> defs = nodes({list_of(hole(kId))});
    Node body = uni(nodes({int_(), edge(0)}));
    Node alone = resolve_placeholder(body, kId, 1);
    EXPECT_TRUE(node_eq(alone, body));
    resolve_placeholder_in_schema(body, defs, kId, 1);
    EXPECT_TRUE(node_eq(defs[0], list_of(edge(1))));
}

TEST(Contractiveness, ThroughEarlierDefinitions) {
    // Body -> definition 0 (unguarded) -> the body's own position 1.
    auto check = [](Node def0, Node body) {
        std::vector<Node> defs = nodes({std::move(def0)});
        resolve_placeholder_in_schema(body, defs, kId, 1);
        return has_unguarded_recursion(body, 1, defs);
    };
    EXPECT_TRUE(check(uni(nodes({none_(), hole(kId)})), uni(nodes({int_(), edge(0)}))));
    EXPECT_FALSE(check(uni(nodes({none_(), tuple_of({hole(kId)})})), uni(nodes({int_(), edge(0)}))))
        << "the inner reference is under a tuple";
    EXPECT_FALSE(check(uni(nodes({none_(), hole(kId)})), list_of(edge(0))))
        << "the way into the definition is guarded";
}

TEST(Contractiveness, CyclesAmongOtherDefinitionsAndStrayIndices) {
    // Definition 0 names itself unguarded; the body reaches it twice.
    std::vector<Node> defs = nodes({raw(NodeKind::Union, {edge(0), int_()})});
    EXPECT_FALSE(has_unguarded_recursion(raw(NodeKind::Union, {edge(0), comp(edge(0))}), 1, defs));
    // Definitions 0 and 1 name each other; 1 also names the body.
    defs = nodes({raw(NodeKind::Union, {edge(1), int_()}), raw(NodeKind::Union, {edge(0), edge(2)})});
    EXPECT_TRUE(has_unguarded_recursion(edge(0), 2, defs));
    EXPECT_FALSE(has_unguarded_recursion(edge(0), 3, defs));
    // A back edge past the list is not followed.
    EXPECT_FALSE(has_unguarded_recursion(uni(nodes({edge(9), int_()})), 1, defs));
    EXPECT_FALSE(has_unguarded_recursion(hole(kId), 0, {})) << "a placeholder is no reference";
}

TEST(BackEdges, FoundAnywhereButNotInsideDefinitions) {
    EXPECT_TRUE(has_back_edges(hole(3)));
    EXPECT_TRUE(has_back_edges(record({entry("a", int_())}, {Clause{str_(), list_of(edge(0))}})));
    EXPECT_TRUE(has_back_edges(raw_refined(comp(hole(1)), {min_len(1)})));
    EXPECT_FALSE(has_back_edges(record({entry("a", list_of(int_()))}, {Clause{str_(), set_of(bytes_())}})));
    EXPECT_FALSE(has_back_edges(int_()));
}

// The hang guards: each case is exponential in its size if searched per
// path, and must finish at once when searched per distinct node.
TEST(HostileShapes, DefinitionsNamingTheirPredecessorsTwice) {
    const auto start = std::chrono::steady_clock::now();
    constexpr std::uint64_t kChain = 90;  // Fibonacci(90) paths through the chain
    std::vector<Node> defs = nodes({int_(), uni(nodes({str_(), edge(0)}))});
    for (std::uint64_t k = 2; k < kChain; ++k)
        defs.push_back(raw(NodeKind::Intersection, {edge(k - 1), edge(k - 2), comp(edge(k - 1))}));
    Node body = raw(NodeKind::Union, {edge(kChain - 1), edge(kChain - 2)});
    EXPECT_FALSE(has_unguarded_recursion(body, kChain, defs));
    defs[0] = uni(nodes({int_(), edge(kChain)}));  // the bottom now names the body
    EXPECT_TRUE(has_unguarded_recursion(body, kChain, defs));
    defs[0] = list_of(edge(kChain));
    EXPECT_FALSE(has_unguarded_recursion(body, kChain, defs));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(HostileShapes, SharedDagsAreWalkedOnce) {
    const auto start = std::chrono::steady_clock::now();
    Node plain = doubling_dag(64, uni(nodes({int_(), str_()})));
    EXPECT_FALSE(has_back_edges(plain));
    EXPECT_FALSE(has_unguarded_recursion(raw(NodeKind::Union, {plain, comp(plain)}), 0, {}));

    Node holey = doubling_dag(64, uni(nodes({int_(), hole(kId)})));
    EXPECT_TRUE(has_back_edges(holey));
    std::vector<Node> defs;
    Node body = holey;
    resolve_placeholder_in_schema(body, defs, kId, 0);
    // Both positions of every level are still one allocation.
    const Node* level = &body;
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(level->kind, NodeKind::Sequence);
        const NodeList& prefix = level->nodes;
        ASSERT_EQ(prefix->size(), 2u);
        EXPECT_EQ((*prefix)[0].nodes, (*prefix)[1].nodes);
        level = &(*prefix)[0];
    }
    EXPECT_TRUE(node_eq(*level, uni(nodes({int_(), edge(0)}))));
    EXPECT_FALSE(has_unguarded_recursion(body, 0, defs));
    EXPECT_TRUE(has_unguarded_recursion(raw(NodeKind::Union, {body, edge(0)}), 0, defs));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace tessaron::ir
