// Node constructors (normal form) and the queries over finished nodes.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/ir/construct.h"
#include "core/ir/order.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

// An oracle that calls every class plain (its metaclass keeps the builtin
// checks), to show that only the is-plain answer blocks instance pairs.
class PlainClasses : public NullOracle {
public:
    Answer class_atom_is_plain(const Node&) override { return Answer::Yes; }
};

enum class Op { Unite, Intersect };

TEST(Constructors, AbsorptionFlatteningComplementaryPairsAndBlocking) {
    const Node predicate_int = refined(int_(), {predicate(0)});
    const Node bounded_int = refined(int_(), {ge(0)});
    const std::vector<Node> defs = nodes({list_of(edge(0)), int_()});
    struct Case {
        const char* name;
        Op op;
        std::vector<Node> members;
        std::vector<Node> definitions;
        Node expected;         // compared by node_eq
        int expected_flag = -1;  // Any flag of an anything result, when it matters
        std::size_t members_expected = 0;  // for union/intersection results: member count
    };
    std::vector<Case> cases = {
        {"empty union", Op::Unite, {}, {}, nothing_()},
        {"empty intersection", Op::Intersect, {}, {}, anything0(), 0},
        {"one member is itself", Op::Unite, nodes({int_()}), {}, int_()},
        {"first top member wins (plain)", Op::Unite, nodes({int_(), anything0(), Any1()}), {}, anything0(), 0},
        {"first top member wins (Any)", Op::Unite, nodes({Any1(), anything0()}), {}, anything0(), 1},
        {"nothing is dropped from a union", Op::Unite, nodes({nothing_(), str_()}), {}, str_()},
        {"nothing absorbs an intersection", Op::Intersect, nodes({int_(), nothing_(), str_()}), {}, nothing_()},
        {"anything is dropped from an intersection", Op::Intersect, nodes({anything0(), int_()}), {}, int_()},
        {"x | not x", Op::Unite, nodes({int_(), comp(int_())}), {}, anything0(), 0},
        {"x & not x", Op::Intersect, nodes({comp(int_()), int_()}), {}, nothing_()},
        {"pair found through a nested union", Op::Unite, nodes({uni(nodes({str_(), int_()})), comp(int_())}), {},
         anything0(), 0},
        {"refinement without predicate folds", Op::Unite, nodes({bounded_int, comp(bounded_int)}), {}, anything0(), 0},
        {"an instance blocks the fold", Op::Unite, nodes({inst(0), comp(inst(0))}), {},
         raw(NodeKind::Union, {comp(inst(0)), inst(0)}), -1, 2},
        {"a predicate blocks the fold", Op::Unite, nodes({predicate_int, comp(predicate_int)}), {},
         raw(NodeKind::Union, {comp(predicate_int), predicate_int}), -1, 2},
        {"a placeholder blocks the fold", Op::Intersect, nodes({list_of(hole(1)), comp(list_of(hole(1)))}), {},
         raw(NodeKind::Intersection, {list_of(hole(1)), comp(list_of(hole(1)))}), -1, 2},
        {"a back edge inside the definitions folds", Op::Unite, nodes({list_of(edge(0)), comp(list_of(edge(0)))}),
         defs, anything0(), 0},
        {"a back edge outside the definitions blocks", Op::Unite, nodes({list_of(edge(5)), comp(list_of(edge(5)))}),
         defs, raw(NodeKind::Union, {list_of(edge(5)), comp(list_of(edge(5)))}), -1, 2},
        {"an instance inside a followed definition blocks", Op::Unite, nodes({edge(0), comp(edge(0))}),
         nodes({list_of(inst(3))}), raw(NodeKind::Union, {comp(edge(0)), edge(0)}), -1, 2},
        {"unions flatten one level, sorted, each member once", Op::Unite,
         nodes({uni(nodes({str_(), bytes_()})), uni(nodes({int_(), str_()}))}), {},
         raw(NodeKind::Union, {int_(), str_(), bytes_()}), -1, 3},
        {"intersections flatten", Op::Intersect, nodes({inter(nodes({list_of(int_()), inst(0)})), inst(1)}), {},
         raw(NodeKind::Intersection, {list_of(int_()), inst(0), inst(1)}), -1, 3},
        {"a union inside an intersection stays", Op::Intersect, nodes({uni(nodes({int_(), str_()})), inst(0)}), {},
         raw(NodeKind::Intersection, {raw(NodeKind::Union, {int_(), str_()}), inst(0)}), -1, 2},
        {"literals keep pool order", Op::Unite, nodes({lit(3), lit(1), lit(3)}), {},
         raw(NodeKind::Union, {lit(1), lit(3)}), -1, 2},
    };
    for (const Case& c : cases) {
        Node got = c.op == Op::Unite ? unite_nodes(c.members, c.definitions) : intersect_nodes(c.members, c.definitions);
        EXPECT_TRUE(node_eq(got, c.expected)) << c.name;
        if (c.expected_flag >= 0) {
            EXPECT_EQ(got.kind, NodeKind::Anything) << c.name;
            EXPECT_EQ(got.flag, c.expected_flag) << c.name;
        }
        if (c.members_expected > 0) {
            EXPECT_EQ(as_span(got.members()).size(), c.members_expected) << c.name;
        }
    }
}

TEST(Constructors, InstancePairFoldsWhenTheOracleCallsTheClassPlain) {
    std::vector<Node> members = nodes({inst(0), comp(inst(0))});
    NullOracle declines;
    PlainClasses plain;
    EXPECT_FALSE(has_complementary_pair(members, declines, {}));
    EXPECT_TRUE(has_complementary_pair(members, plain, {}));
}

TEST(Constructors, ComplementaryPairsInLongMemberLists) {
    // Past a handful of members the partner is looked up in a sorted copy
    // (40,000 complements once took seconds); the answer is the same
    // wherever the partner sits and whatever the order of the list.
    NullOracle declines;
    std::vector<Node> complements;
    for (std::uint64_t i = 0; i < 40000; ++i) complements.push_back(comp(lit(i)));
    EXPECT_FALSE(has_complementary_pair(complements, declines, {}));
    for (std::uint64_t partner : {0ull, 20000ull, 39999ull}) {
        std::vector<Node> members = complements;
        members.push_back(lit(partner));
        EXPECT_TRUE(has_complementary_pair(members, declines, {})) << partner;
        std::reverse(members.begin(), members.end());
        EXPECT_TRUE(has_complementary_pair(members, declines, {})) << partner;
    }
    std::vector<Node> unmatched = complements;
    unmatched.push_back(lit(40000));
    EXPECT_FALSE(has_complementary_pair(unmatched, declines, {}));
    EXPECT_EQ(intersect_nodes(complements, {}).kind, NodeKind::Intersection);
    complements.push_back(lit(7));
    EXPECT_EQ(intersect_nodes(complements, {}).kind, NodeKind::Nothing);
}

TEST(Constructors, IntersectPairEqualsIntersectNodes) {
    Node pair = intersect_pair(list_of(int_()), inst(2), {});
    Node many = intersect_nodes(nodes({list_of(int_()), inst(2)}), {});
    EXPECT_TRUE(node_eq(pair, many));
    EXPECT_EQ(pair.nodes, many.nodes) << "one shared member list";
}

TEST(Constructors, Complement) {
    EXPECT_TRUE(node_eq(comp(comp(int_())), int_()));
    EXPECT_EQ(comp(Any1()).kind, NodeKind::Nothing);
    Node top = comp(nothing_());
    EXPECT_EQ(top.kind, NodeKind::Anything);
    EXPECT_EQ(top.flag, 0);
    Node c = comp(uni(nodes({int_(), str_()})));
    EXPECT_EQ(c.kind, NodeKind::Complement) << "no De Morgan push here";
    EXPECT_EQ(c.inner()->kind, NodeKind::Union);
}

TEST(Constructors, Refined) {
    Node r = refined(int_(), {min_len(3), ge(7), min_len(3)});
    ASSERT_EQ(r.kind, NodeKind::Refined);
    ASSERT_EQ(r.constraints->size(), 2u);
    EXPECT_TRUE(constraint_eq((*r.constraints)[0], ge(7)));
    EXPECT_TRUE(constraint_eq((*r.constraints)[1], min_len(3)));
    EXPECT_EQ(refined(int_(), {}).kind, NodeKind::Int);
    Node again = refined(int_(), {min_len(3), ge(7)});
    EXPECT_NE(again.constraints, r.constraints) << "constraint lists are never shared";
    EXPECT_EQ(again.inner(), r.inner()) << "the inner node is";
    Node nested = refined(r, {ge(1)});
    EXPECT_EQ(nested.inner()->kind, NodeKind::Refined) << "a refined inner node is not merged";
}

TEST(Constructors, Record) {
    Node r = record({entry("b", int_()), entry("ab", str_()), entry("a", int_(), false)},
                    {Clause{str_(), int_()}, Clause{int_(), int_()}, Clause{str_(), int_()}});
    ASSERT_EQ(r.kind, NodeKind::Mapping);
    ASSERT_EQ(r.entries->size(), 3u);
    EXPECT_EQ((*r.entries)[0].key_view(), "a") << "a key before the keys it begins";
    EXPECT_FALSE((*r.entries)[0].required);
    EXPECT_EQ((*r.entries)[1].key_view(), "ab");
    EXPECT_EQ((*r.entries)[1].value.kind, NodeKind::Str);
    EXPECT_EQ((*r.entries)[2].key_view(), "b");
    ASSERT_EQ(r.clauses->size(), 2u);
    EXPECT_EQ((*r.clauses)[0].key.kind, NodeKind::Int);

    Node open = record({}, {Clause{Any1(), Any1()}});
    EXPECT_EQ(open.clauses, open_clause_list());
    EXPECT_EQ(open.entries, empty_entry_slice());
    Node object = make_object({entry("z", int_()), entry("y", int_())});
    EXPECT_EQ((*object.entries)[0].key_view(), "y");
}

TEST(Queries, WholeKinds) {
    struct Case {
        const char* name;
        Node node;
        std::optional<KindMask> expected;
    };
    std::vector<Case> cases = {
        {"int admits bool", int_(), KindMask(Kind::Bool) | Kind::Int},
        {"union of int and str", uni(nodes({int_(), str_()})), KindMask(Kind::Bool) | Kind::Int | Kind::Str},
        {"complement of int", comp(int_()),
         KindMask(Kind::None) | Kind::Float | Kind::Str | Kind::Bytes | kNonScalarKinds},
        {"intersection", raw(NodeKind::Intersection, {int_(), comp(bool_())}), KindMask(Kind::Int)},
        {"anything", Any1(), kAllKinds},
        {"nothing", nothing_(), kNoKinds},
        {"list[int]", list_of(int_()), std::nullopt},
        {"a union with an undetermined member", uni(nodes({int_(), lit(0)})), std::nullopt},
        {"complement of undetermined", comp(inst(0)), std::nullopt},
        {"refined", refined(str_(), {min_len(1)}), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(whole_kinds(c.node), c.expected) << c.name;
}

TEST(Queries, LiteralIndicesElementSchemaSpelledAsClass) {
    EXPECT_EQ(literal_indices(lit(4)), (std::vector<std::uint64_t>{4}));
    EXPECT_EQ(literal_indices(uni(nodes({lit(2), lit(0)}))), (std::vector<std::uint64_t>{0, 2}));
    EXPECT_EQ(literal_indices(uni(nodes({lit(2), none_()}))), std::nullopt) << "None sorts first, not a literal";
    EXPECT_EQ(literal_indices(int_()), std::nullopt);

    EXPECT_EQ(element_schema(tuple_of({int_(), str_()})), nullptr);
    ASSERT_NE(element_schema(list_of(int_())), nullptr);
    EXPECT_EQ(element_schema(list_of(int_()))->kind, NodeKind::Int);
    Node refined_set = refined(set_of(str_()), {min_len(1)});
    ASSERT_NE(element_schema(refined_set), nullptr);
    EXPECT_EQ(element_schema(refined_set)->kind, NodeKind::Str);
    EXPECT_EQ(element_schema(tuple_of({})), nullptr) << "the empty tuple has no tail";

    EXPECT_EQ(spelled_as_class(inter(nodes({inst(5), make_object({entry("x", int_())}), comp(none_())}))), 5u);
    EXPECT_EQ(spelled_as_class(inter(nodes({inst(5), tuple_of({int_()})}))), 5u);
    EXPECT_EQ(spelled_as_class(inter(nodes({inst(5), make_object({entry("x", int_())}),
                                            make_object({entry("y", int_())})}))),
              std::nullopt);
    EXPECT_EQ(spelled_as_class(inter(nodes({inst(5), inst(6), tuple_of({int_()})}))), std::nullopt);
    EXPECT_EQ(spelled_as_class(inst(5)), std::nullopt);
}

}  // namespace
}  // namespace tessaron::ir
