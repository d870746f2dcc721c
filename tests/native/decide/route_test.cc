// The decision of one public call: structural first, the descriptor route
// for what it leaves open, and the rule that combines them.
#include <gtest/gtest.h>

#include "core/decide/route.h"
#include "decide/decide_fixture.h"

namespace tessaron::decide {
namespace {

using namespace ir::testing;
using namespace testing;
using ir::Node;

TEST(CombineRoute, EveryOutcomeWithAndWithoutRecursion) {
    struct Case {
        RouteOutcome route;
        Decision plain;      // no recursion cut
        Decision recursive;  // a back edge or placeholder was cut
    };
    const Case cases[] = {
        {RouteOutcome::NoLeft, Decision::Undecided, Decision::Undecided},
        {RouteOutcome::LeftEmpty, Decision::Subset, Decision::Subset},
        {RouteOutcome::NoRight, Decision::Undecided, Decision::Undecided},
        {RouteOutcome::NoMeet, Decision::Undecided, Decision::Undecided},
        {RouteOutcome::MeetEmpty, Decision::Subset, Decision::Subset},
        {RouteOutcome::MeetInhabited, Decision::NotSubset, Decision::Undecided},
        {RouteOutcome::MeetUndecided, Decision::Undecided, Decision::Undecided},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(combine_route(c.route, false), c.plain) << static_cast<int>(c.route);
        EXPECT_EQ(combine_route(c.route, true), c.recursive) << static_cast<int>(c.route);
    }
}

TEST(DescriptorRoute, TheStandInDecidesNothing) {
    Harness h(nodes({list_of(edge(0))}));
    FakeOracle& oracle = h.oracle;
    EXPECT_EQ(run_descriptor_route(int_(), str_(), oracle, h.definitions), RouteOutcome::NoLeft);
    EXPECT_EQ(decide_subset_by_descr(int_(), str_(), oracle, h.definitions), Decision::Undecided);
    EXPECT_EQ(decide_subset_by_descr(edge(0), anything0(), oracle, h.definitions), Decision::Undecided);
    EXPECT_EQ(decide_empty_by_descr(nothing_(), oracle, h.definitions), Emptiness::Undecided);
    EXPECT_EQ(oracle.calls, 0) << "the stand-in asks nothing";
}

TEST(DecideRelation, StructuralAnswersStandAndTheRestIsUndecided) {
    struct Case {
        const char* name;
        Node left, right;
        Decision expected;
    };
    const Case cases[] = {
        {"bool within int", bool_(), int_(), Decision::Subset},
        {"int within str", int_(), str_(), Decision::NotSubset},
        {"a plain class against a kind", inst(kPlainClass), int_(), Decision::Undecided},
        {"int >= 5 within int >= 3",
         refined(int_(), {con(ir::ConstraintKind::Ge, kFive)}),
         refined(int_(), {con(ir::ConstraintKind::Ge, kThree)}), Decision::Subset},
    };
    for (const Case& c : cases) {
        Harness h;
        EXPECT_EQ(decide_relation(c.left, c.right, h.oracle, h.definitions, h.budget), c.expected) << c.name;
        EXPECT_EQ(t_decision_nesting, 0u) << c.name;
    }
}

TEST(DecideRelation, ASpentBudgetLeavesEveryQuestionButIdentityUndecided) {
    Harness h;
    h.budget.steps = 0;
    EXPECT_EQ(decide_relation(bool_(), int_(), h.oracle, h.definitions, h.budget), Decision::Undecided);
    const Node same = int_();
    EXPECT_EQ(decide_relation(same, same, h.oracle, h.definitions, h.budget), Decision::Subset);
}

TEST(DecideEmptiness, StructuralAnswersStandAndTheRestIsUndecided) {
    struct Case {
        const char* name;
        Node node;
        Emptiness expected;
    };
    const Case cases[] = {
        {"nothing", nothing_(), Emptiness::Empty},
        {"anything", anything0(), Emptiness::Inhabited},
        {"int and str", raw(ir::NodeKind::Intersection, {int_(), str_()}), Emptiness::Empty},
        {"a class whose metaclass overrides the checks", inst(kAbstractClass), Emptiness::Undecided},
    };
    for (const Case& c : cases) {
        Harness h;
        EXPECT_EQ(decide_emptiness(c.node, h.oracle, h.definitions, h.budget), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tessaron::decide
