// Structural inhabitation: answers, kind bits, recursion, refinements and
// the joint tests of intersections.
#include <gtest/gtest.h>

#include "decide/decide_fixture.h"

namespace tessaron::decide {
namespace {

using namespace ir::testing;
using namespace decide::testing;
using ir::Constraint;
using ir::ConstraintKind;
using ir::Node;
using ir::NodeKind;

Constraint bound(ConstraintKind k, std::uint64_t i) { return Constraint{k, i, {}}; }
Constraint max_len(std::uint64_t n) { return Constraint{ConstraintKind::MaxLen, n, {}}; }

TEST(Inhabitation, TableOfNodes) {
    const Node int_ge5 = refined(int_(), {bound(ConstraintKind::Ge, kFive)});
    const Node guarded = refined(int_(), {predicate(kPredicate)});
    struct Case {
        const char* name;
        Node node;
        std::vector<Node> definitions;
        Emptiness answer;
        std::optional<KindMask> exact_kinds = std::nullopt;  // the kinds of an exact answer
    };
    const std::vector<Case> cases = {
        {"nothing", nothing_(), {}, Emptiness::Empty, ir::kNoKinds},
        {"anything", anything0(), {}, Emptiness::Inhabited, ir::kAllKinds},
        {"int", int_(), {}, Emptiness::Inhabited, ir::kIntegralKinds},
        {"complement of int", comp(int_()), {}, Emptiness::Inhabited, ~ir::kIntegralKinds},
        {"complement of anything", raw_single(NodeKind::Complement, anything0()), {}, Emptiness::Empty, ir::kNoKinds},
        {"complement of a class is undecided", comp(inst(kPlainClass)), {}, Emptiness::Undecided},
        {"int or a class", uni(nodes({int_(), inst(kPlainClass)})), {}, Emptiness::Inhabited},
        {"int and str", raw(NodeKind::Intersection, {int_(), str_()}), {}, Emptiness::Empty, ir::kNoKinds},
        {"NaN literal", lit(kNaN), {}, Emptiness::Empty},
        {"literal", lit(kStrA), {}, Emptiness::Inhabited},
        {"opaque literal", lit(kPredicate), {}, Emptiness::Undecided},
        {"tuple with an empty item", tuple_of({int_(), nothing_()}), {}, Emptiness::Empty},
        {"list of nothing is the empty list", list_of(nothing_()), {}, Emptiness::Inhabited},
        {"required key of nothing", record({entry("a", nothing_())}), {}, Emptiness::Empty},
        {"optional key of nothing", record({entry("a", nothing_(), false)}), {}, Emptiness::Inhabited},
        {"plain class", inst(kPlainClass), {}, Emptiness::Inhabited},
        {"class with overriding metaclass", inst(kAbstractClass), {}, Emptiness::Undecided},
        {"recursion met again on its path", edge(0), nodes({tuple_of({int_(), edge(0)})}), Emptiness::Empty},
        {"recursion with a base case", edge(0), nodes({uni(nodes({int_(), tuple_of({edge(0)})}))}), Emptiness::Inhabited},
        {"back edge outside the definitions", edge(3), {}, Emptiness::Undecided},
        {"placeholder", hole(1), {}, Emptiness::Undecided},
        {"complement of recursion is never decided by bits", comp(edge(0)), nodes({int_()}), Emptiness::Undecided},
        {"int >= 5 and <= 3", refined(int_(), {bound(ConstraintKind::Ge, kFive), bound(ConstraintKind::Le, kThree)}),
         {}, Emptiness::Empty},
        {"int > 1 and < 2", refined(int_(), {bound(ConstraintKind::Gt, kOne), bound(ConstraintKind::Lt, kTwo)}), {},
         Emptiness::Empty},
        {"int > 2.0 and < 2", refined(int_(), {bound(ConstraintKind::Gt, kTwoFloat), bound(ConstraintKind::Le, kTwo)}),
         {}, Emptiness::Empty},
        {"int >= 2.5 alone", refined(int_(), {bound(ConstraintKind::Ge, kTwoAndHalf)}), {}, Emptiness::Undecided},
        {"int >= 2 alone", refined(int_(), {bound(ConstraintKind::Ge, kTwo)}), {}, Emptiness::Inhabited},
        {"int >= 3 and <= 5", refined(int_(), {bound(ConstraintKind::Ge, kThree), bound(ConstraintKind::Le, kFive)}),
         {}, Emptiness::Inhabited},
        {"int with a predicate", guarded, {}, Emptiness::Undecided},
        {"bounds over anything are not trusted",
         refined(anything0(), {bound(ConstraintKind::Ge, kFive), bound(ConstraintKind::Le, kThree)}), {}, Emptiness::Undecided},
        {"bounds over a class are not trusted",
         refined(inst(kPlainClass), {bound(ConstraintKind::Ge, kFive), bound(ConstraintKind::Le, kThree)}), {},
         Emptiness::Undecided},
        {"str of length >= 5 and <= 3", refined(str_(), {min_len(5), max_len(3)}), {}, Emptiness::Empty},
        {"str of length >= 5", refined(str_(), {min_len(5)}), {}, Emptiness::Inhabited},
        {"set of bool with 3 elements", refined(set_of(bool_()), {min_len(3)}), {}, Emptiness::Empty},
        {"set of bool with 2 elements", refined(set_of(bool_()), {min_len(2)}), {}, Emptiness::Inhabited},
        {"set of two literals with 3 elements", refined(set_of(uni(nodes({lit(kStrA), lit(kStrB)}))), {min_len(3)}), {},
         Emptiness::Empty},
        {"list of int with 3 elements", refined(list_of(int_()), {min_len(3)}), {}, Emptiness::Inhabited},
        {"list of nothing with 1 element", refined(list_of(nothing_()), {min_len(1)}), {}, Emptiness::Empty},
        {"int >= 10 met with int <= 5",
         raw(NodeKind::Intersection, {refined(int_(), {bound(ConstraintKind::Ge, kTen)}),
                                      refined(int_(), {bound(ConstraintKind::Le, kFive)})}),
         {}, Emptiness::Empty},
        {"int >= 10 met with anything <= 5 (the int vouches)",
         raw(NodeKind::Intersection, {refined(int_(), {bound(ConstraintKind::Ge, kTen)}),
                                      refined(anything0(), {bound(ConstraintKind::Le, kFive)})}),
         {}, Emptiness::Empty},
        {"anything >= 10 met with anything <= 5",
         raw(NodeKind::Intersection, {refined(anything0(), {bound(ConstraintKind::Ge, kTen)}),
                                      refined(inst(kPlainClass), {bound(ConstraintKind::Le, kFive)})}),
         {}, Emptiness::Undecided},
        {"closed records requiring different keys",
         raw(NodeKind::Intersection, {record({entry("a", int_())}), record({entry("b", int_())})}), {}, Emptiness::Empty},
        {"a closed record without the key another one requires",
         raw(NodeKind::Intersection,
             {record({entry("a", int_())}, {ir::Clause{str_(), anything0()}}), record({entry("b", int_(), false)})}),
         {}, Emptiness::Empty},
        {"open records with different keys",
         raw(NodeKind::Intersection, {record({entry("a", int_())}, {ir::Clause{str_(), anything0()}}),
                                      record({entry("b", int_(), false)}, {ir::Clause{str_(), anything0()}})}),
         {}, Emptiness::Undecided},
        {"records disagreeing on a required key",
         raw(NodeKind::Intersection,
             {record({entry("a", int_())}, {ir::Clause{str_(), anything0()}}),
              record({entry("a", str_())}, {ir::Clause{str_(), anything0()}})}),
         {}, Emptiness::Empty},
        {"a pure node and its complement", raw(NodeKind::Intersection, {list_of(int_()), comp(list_of(int_()))}), {},
         Emptiness::Empty},
        {"a predicate blocks the pair", raw(NodeKind::Intersection, {guarded, comp(guarded)}), {}, Emptiness::Undecided},
        {"a class with its attributes",
         raw(NodeKind::Intersection, {inst(kPlainClass), raw_object({entry("x", int_())})}), {}, Emptiness::Inhabited},
        {"constraints gathered along a refinement chain", raw_refined(int_ge5, {bound(ConstraintKind::Le, kThree)}), {},
         Emptiness::Empty},
    };
    for (const Case& c : cases) {
        Harness h(c.definitions);
        const Inhabitation w = h.inhabited(c.node);
        EXPECT_EQ(w.answer, c.answer) << c.name;
        if (c.exact_kinds) {
            EXPECT_FALSE(w.inexact) << c.name;
            EXPECT_EQ(w.kinds, *c.exact_kinds) << c.name;
        }
    }
}

TEST(Inhabitation, SpentBudgetAndNestingAnswerUndecided) {
    Harness h;
    h.budget.steps = 0;
    EXPECT_EQ(h.inhabited(int_()).answer, Emptiness::Undecided);

    // A chain of definitions, each a one-item tuple of the next, the last
    // one int: inhabited, unless the chain is deeper than the nesting limit.
    auto chain = [](std::uint64_t n) {
        std::vector<Node> defs;
        for (std::uint64_t i = 0; i + 1 < n; ++i) defs.push_back(tuple_of({edge(i + 1)}));
        defs.push_back(int_());
        return defs;
    };
    Harness shallow(chain(kMaxDecisionNesting / 4));
    EXPECT_EQ(shallow.inhabited(edge(0)).answer, Emptiness::Inhabited);
    Harness deep(chain(kMaxDecisionNesting + 10));
    EXPECT_EQ(deep.inhabited(edge(0)).answer, Emptiness::Undecided);
}

TEST(Inhabitation, FoldBoundsKeepsTheTightestAndNotesDeclines) {
    FakeOracle oracle(fixture_pool());
    const std::vector<Constraint> cs = {bound(ConstraintKind::Ge, kThree), bound(ConstraintKind::Gt, kFive),
                                        bound(ConstraintKind::Ge, kFive), bound(ConstraintKind::Le, kTen),
                                        bound(ConstraintKind::Lt, kTen)};
    const FoldedBounds b = fold_bounds(cs, oracle);
    EXPECT_EQ(b.lower, kFive);
    EXPECT_EQ(b.lower_state, BoundState::Exclusive);
    EXPECT_EQ(b.upper, kTen);
    EXPECT_EQ(b.upper_state, BoundState::Exclusive);
    EXPECT_TRUE(b.all_answered);

    const FoldedBounds d = fold_bounds(std::vector<Constraint>{bound(ConstraintKind::Ge, kThree),
                                                               bound(ConstraintKind::Ge, kStrA)},
                                       oracle);
    EXPECT_EQ(d.lower, kThree);
    EXPECT_FALSE(d.all_answered);
}

TEST(Inhabitation, ValueCountsAndTheSyntacticTest) {
    Harness h;
    const ValueCount c = value_count_bounds(uni(nodes({bool_(), none_(), lit(kStrA)})), h.ctx);
    EXPECT_EQ(c.least, 2u);
    EXPECT_EQ(c.most, 4u);
    EXPECT_EQ(value_count_bounds(uni(nodes({int_(), none_()})), h.ctx).most, ValueCount::kInfinite);

    EXPECT_TRUE(trivially_inhabited(list_of(nothing_())));
    EXPECT_TRUE(trivially_inhabited(record({entry("a", int_(), false)})));
    EXPECT_FALSE(trivially_inhabited(record({entry("a", int_())})));
    EXPECT_FALSE(trivially_inhabited(tuple_of({int_()})));
    EXPECT_TRUE(trivially_inhabited(uni(nodes({tuple_of({int_()}), str_()}))));
}

TEST(Inhabitation, ClassesAgainstKinds) {
    Harness h;
    EXPECT_TRUE(class_disjoint_from_kinds(str_(), kPlainClass, h.ctx));
    EXPECT_TRUE(class_disjoint_from_kinds(uni(nodes({str_(), list_of(int_())})), kIntSubclass, h.ctx));
    EXPECT_FALSE(class_disjoint_from_kinds(bool_(), kIntSubclass, h.ctx));
    EXPECT_FALSE(class_disjoint_from_kinds(str_(), kAbstractClass, h.ctx));
    EXPECT_FALSE(class_disjoint_from_kinds(inst(kIntClass), kPlainClass, h.ctx));
}

}  // namespace
}  // namespace tessaron::decide
