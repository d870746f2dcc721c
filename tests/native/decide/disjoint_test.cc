// Structural disjointness and the builtin kind of a node.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "core/decide/disjoint.h"
#include "ir/ir_builders.h"

namespace tessaron::decide {
namespace {

using namespace ir::testing;
using ir::Answer;
using ir::Kind;
using ir::Node;
using ir::NullOracle;
using ir::make_object;
using ir::make_set;

// An oracle whose few answers a test sets; every other question declines.
class ScriptedOracle : public NullOracle {
public:
    std::map<std::uint64_t, Kind> kinds;  // constant_kind by pool index
    Answer literal_sets = Answer::Declined;
    Answer distinct = Answer::Declined;
    Answer overlaps = Answer::Declined;
    int literal_set_questions = 0;

    std::optional<Kind> constant_kind(std::uint64_t i) override {
        auto it = kinds.find(i);
        if (it == kinds.end()) return std::nullopt;
        return it->second;
    }
    Answer literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) override {
        ++literal_set_questions;
        return literal_sets;
    }
    Answer literals_distinct(std::uint64_t, std::uint64_t) override { return distinct; }
    Answer class_overlaps_kind(std::uint64_t, Kind) override { return overlaps; }
};

Node non_empty(Node container) { return refined(std::move(container), {min_len(1)}); }

TEST(NodeBuiltinKind, BuiltinKindsContainersLiteralsAndRefinements) {
    ScriptedOracle oracle;
    oracle.kinds[3] = Kind::Str;
    NullOracle declines;
    struct Case {
        const char* name;
        Node node;
        std::optional<Kind> expected;
    };
    const Case cases[] = {
        {"None", none_(), Kind::None},
        {"bool", bool_(), Kind::Bool},
        {"int", int_(), Kind::Int},
        {"float", float_(), Kind::Float},
        {"str", str_(), Kind::Str},
        {"bytes", bytes_(), Kind::Bytes},
        {"list", list_of(int_()), Kind::List},
        {"tuple", tuple_of(nodes({int_()})), Kind::Tuple},
        {"set", set_of(int_()), Kind::Set},
        {"frozenset", make_set(ir::kFlavourFrozenset, int_()), Kind::Frozenset},
        {"mapping", record({entry("a", int_())}), Kind::Dict},
        {"refined reads its inner node", refined(list_of(int_()), {min_len(2)}), Kind::List},
        {"literal through the oracle", lit(3), Kind::Str},
        {"literal the oracle does not know", lit(4), std::nullopt},
        {"anything", anything0(), std::nullopt},
        {"nothing", nothing_(), std::nullopt},
        {"union", uni(nodes({int_(), str_()})), std::nullopt},
        {"complement", comp(int_()), std::nullopt},
        {"instance", inst(0), std::nullopt},
        {"object", make_object({entry("a", int_())}), std::nullopt},
        {"back edge", edge(0), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(node_builtin_kind(c.node, oracle), c.expected) << c.name;
    EXPECT_EQ(node_builtin_kind(lit(3), declines), std::nullopt) << "NullOracle: a literal has no kind";
}

TEST(NodesDisjoint, StructuralProofsUnderTheNullOracle) {
    struct Case {
        const char* name;
        Node a, b;
        bool expected;
    };
    const Case cases[] = {
        {"nothing on the left", nothing_(), int_(), true},
        {"nothing on the right", anything0(), nothing_(), true},
        {"int and bool overlap", int_(), bool_(), false},
        {"bool and int overlap", bool_(), int_(), false},
        {"str and bytes", str_(), bytes_(), true},
        {"int and float", int_(), float_(), true},
        {"same kind", str_(), str_(), false},
        {"list and tuple", list_of(int_()), tuple_of(nodes({int_()})), true},
        {"set and frozenset", set_of(int_()), make_set(ir::kFlavourFrozenset, int_()), true},
        {"mapping and list", record({}), list_of(int_()), true},
        {"refined int and str", refined(int_(), {ge(0)}), str_(), true},
        {"left union, every member disjoint", uni(nodes({int_(), str_()})), bytes_(), true},
        {"left union, one member overlapping", uni(nodes({int_(), str_()})), bool_(), false},
        {"right union", float_(), uni(nodes({int_(), str_()})), true},
        {"union against union", uni(nodes({int_(), str_()})), uni(nodes({bytes_(), none_()})), true},
        {"two literals: declined", lit(0), lit(1), false},
        {"literal against a kind: declined", lit(0), int_(), false},
        {"anything overlaps", anything0(), int_(), false},
        {"complements are not split", comp(int_()), int_(), false},
        {"an instance against a kind: declined", inst(0), int_(), false},
        {"object and mapping have no kind rule", make_object({}), record({}), false},
        {"non-empty list of int, list of str", non_empty(list_of(int_())), list_of(str_()), true},
        {"list of int, non-empty list of str", list_of(int_()), non_empty(list_of(str_())), true},
        {"non-empty set of str, set of bytes", non_empty(set_of(str_())), set_of(bytes_()), true},
        {"possibly empty lists share []", list_of(int_()), list_of(str_()), false},
        {"non-empty lists of overlapping elements", non_empty(list_of(int_())), list_of(bool_()), false},
        {"MinLen 0 proves nothing", refined(list_of(int_()), {min_len(0)}), list_of(str_()), false},
        {"MinLen deeper in the chain", refined(non_empty(list_of(int_())), {ge(0)}), list_of(str_()), true},
        {"non-empty str has no element schema", non_empty(str_()), str_(), false},
        {"fixed tuples of disjoint items, by position", non_empty(tuple_of(nodes({int_()}))),
         tuple_of(nodes({str_()})), true},
        {"fixed tuples of overlapping items", non_empty(tuple_of(nodes({int_()}))), tuple_of(nodes({bool_()})),
         false},
    };
    NullOracle oracle;
    for (const Case& c : cases) EXPECT_EQ(nodes_disjoint(c.a, c.b, oracle), c.expected) << c.name;
}

TEST(NodesDisjoint, OracleAnswersDecideLiteralsAndClasses) {
    const Node literals_a = uni(nodes({lit(0), lit(1)}));
    const Node literals_b = uni(nodes({lit(2), lit(3)}));
    {
        ScriptedOracle oracle;
        oracle.literal_sets = Answer::Yes;
        EXPECT_TRUE(nodes_disjoint(literals_a, literals_b, oracle));
        EXPECT_EQ(oracle.literal_set_questions, 1);
    }
    {
        // A "no" is final, even where the member rules would have found
        // a proof.
        ScriptedOracle oracle;
        oracle.literal_sets = Answer::No;
        oracle.distinct = Answer::Yes;
        EXPECT_FALSE(nodes_disjoint(literals_a, literals_b, oracle));
    }
    {
        // Declined: the unions are split and the literals compared pairwise.
        ScriptedOracle oracle;
        oracle.distinct = Answer::Yes;
        EXPECT_TRUE(nodes_disjoint(literals_a, literals_b, oracle));
        oracle.distinct = Answer::No;
        EXPECT_FALSE(nodes_disjoint(literals_a, literals_b, oracle));
    }
    {
        // A union that is not all literals has no literal list.
        ScriptedOracle oracle;
        oracle.kinds = {{0, Kind::Str}, {1, Kind::Str}};
        EXPECT_TRUE(nodes_disjoint(literals_a, uni(nodes({int_(), bytes_()})), oracle));
        EXPECT_EQ(oracle.literal_set_questions, 0);
    }
    {
        ScriptedOracle oracle;
        oracle.kinds = {{0, Kind::Bool}, {1, Kind::Float}};
        EXPECT_FALSE(nodes_disjoint(lit(0), int_(), oracle)) << "True is an int";
        EXPECT_TRUE(nodes_disjoint(lit(1), int_(), oracle));
        EXPECT_TRUE(nodes_disjoint(str_(), lit(1), oracle));
    }
    {
        ScriptedOracle oracle;
        oracle.overlaps = Answer::No;
        EXPECT_TRUE(nodes_disjoint(inst(0), int_(), oracle));
        EXPECT_TRUE(nodes_disjoint(list_of(int_()), inst(0), oracle));
        EXPECT_FALSE(nodes_disjoint(inst(0), inst(1), oracle)) << "two classes: no kind to ask about";
        oracle.overlaps = Answer::Yes;
        EXPECT_FALSE(nodes_disjoint(inst(0), int_(), oracle));
    }
}

// Non-empty lists and sets of the previous level: each level doubles the
// pairs that must be proved, so the proof's size grows exponentially with
// the depth.
Node nested(int depth, const Node& leaf) {
    Node n = leaf;
    for (int i = 0; i < depth; ++i) n = uni(nodes({non_empty(list_of(n)), non_empty(set_of(n))}));
    return n;
}

TEST(NodesDisjoint, StepLimitAnswersNotProved) {
    NullOracle oracle;
    const Node a = nested(5, int_());
    const Node b = nested(5, str_());
    std::uint32_t plenty = 1u << 20;
    EXPECT_TRUE(nodes_disjoint(a, b, oracle, plenty));
    const std::uint32_t needed = (1u << 20) - plenty;
    EXPECT_GT(needed, 1u);

    std::uint32_t exact = needed;
    EXPECT_TRUE(nodes_disjoint(a, b, oracle, exact));
    EXPECT_EQ(exact, 0u);
    std::uint32_t short_by_one = needed - 1;
    EXPECT_FALSE(nodes_disjoint(a, b, oracle, short_by_one));
    std::uint32_t none = 0;
    EXPECT_FALSE(nodes_disjoint(nothing_(), int_(), oracle, none)) << "no step, no proof";

    // Deep nesting: the default limit stops the search.
    const Node deep_a = nested(40, int_());
    const Node deep_b = nested(40, str_());
    std::uint32_t steps = kDisjointStepLimit;
    EXPECT_FALSE(nodes_disjoint(deep_a, deep_b, oracle, steps));
    EXPECT_EQ(steps, 0u);
}


// Inside a decision the question's visits are taken from the decision's
// steps, and a decision with no step left proves nothing.
TEST(NodesDisjoint, InsideADecisionTheVisitsAreTakenFromItsSteps) {
    NullOracle oracle;
    const Node a = nested(3, int_());
    const Node b = nested(3, str_());
    std::uint32_t counter = kDisjointStepLimit;
    ASSERT_TRUE(nodes_disjoint(a, b, oracle, counter));
    const std::int32_t visits = static_cast<std::int32_t>(kDisjointStepLimit - counter);
    ASSERT_GT(visits, 1);
    std::vector<Node> definitions;
    DecisionBudget budget;
    DecisionContext ctx{oracle, definitions, budget};
    EXPECT_TRUE(nodes_disjoint(a, b, ctx));
    EXPECT_EQ(budget.steps, kDecisionSteps - visits);
    budget.steps = visits - 1;
    EXPECT_FALSE(nodes_disjoint(a, b, ctx)) << "one step short";
    EXPECT_EQ(budget.steps, 0);
    EXPECT_FALSE(nodes_disjoint(nothing_(), int_(), ctx)) << "no step, no proof";
}

// Two sequences of one flavour: a common value has every position below
// the longer prefix.
TEST(NodesDisjoint, FixedLengthSequencesByPosition) {
    NullOracle oracle;
    struct Case {
        const char* name;
        Node a;
        Node b;
        bool expected;
    };
    const Case cases[] = {
        {"second items disjoint", tuple_of({int_(), str_()}), tuple_of({int_(), bytes_()}), true},
        {"items overlap", tuple_of({int_(), str_()}), tuple_of({bool_(), str_()}), false},
        {"different lengths", tuple_of({int_()}), tuple_of({int_(), int_()}), true},
        {"tail meets the longer prefix", tuple_of({int_(), str_()}), tuple_of({int_()}, int_()), true},
        {"a tail may be empty", tuple_of({}, str_()), tuple_of({}, int_()), false},
        {"through a refinement", non_empty(tuple_of({str_()})), tuple_of({bytes_()}), true},
        {"lists and tuples are kinds apart", list_of(int_()), tuple_of({}, int_()), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nodes_disjoint(c.a, c.b, oracle), c.expected) << c.name;
        EXPECT_EQ(nodes_disjoint(c.b, c.a, oracle), c.expected) << c.name << ", swapped";
    }
}

}  // namespace
}  // namespace tessaron::decide
