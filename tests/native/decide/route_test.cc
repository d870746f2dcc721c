// The decision of one public call: structural first, the descriptor route
// for what it leaves open, and the rule that combines them.
#include <gtest/gtest.h>

#include "core/decide/route.h"
#include "core/descr/budget.h"
#include "decide/decide_fixture.h"

namespace tessaron::decide {
namespace {

using namespace ir::testing;
using namespace testing;
using ir::Node;

Node keyed(Node key, Node value) { return raw_mapping({}, {ir::Clause{std::move(key), std::move(value)}}); }
Node literal_keyed(Node value) { return keyed(lit(kStrA), std::move(value)); }
Node short_int_tuples() { return uni({tuple_of({}), tuple_of({int_()}), tuple_of({int_(), int_()})}); }
Node frozen(Node element) { return ir::make_set(ir::kFlavourFrozenset, std::move(element)); }

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
        {RouteOutcome::MeetInhabitedBounded, Decision::Undecided, Decision::Undecided},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(combine_route(c.route, false), c.plain) << static_cast<int>(c.route);
        EXPECT_EQ(combine_route(c.route, true), c.recursive) << static_cast<int>(c.route);
    }
}

TEST(DescriptorRoute, EachOutcome) {
    struct Case {
        const char* name;
        Node left, right;
        RouteOutcome expected;
    };
    const Case cases[] = {
        {"bool within int", bool_(), int_(), RouteOutcome::MeetEmpty},
        {"int within str", int_(), str_(), RouteOutcome::MeetInhabited},
        {"the literal 1 within int", lit(kOne), int_(), RouteOutcome::MeetEmpty},
        {"an int subclass within the literal 1", inst(kIntSubclass), lit(kOne), RouteOutcome::MeetInhabited},
        {"nothing within what cannot be converted", nothing_(), hole(4), RouteOutcome::LeftEmpty},
        {"int within what cannot be converted", int_(), hole(4), RouteOutcome::NoRight},
        {"an abstract class on the left", inst(kAbstractClass), int_(), RouteOutcome::NoLeft},
        {"a plain class met with int", inter({inst(kPlainClass), int_()}), nothing_(), RouteOutcome::MeetUndecided},
        // Mappings: a literal key bounds its dict, from above on the left
        // side and from below (no such key) on the right one.
        {"dict[Literal['a'], int] within {'a?': int}", literal_keyed(int_()), record({entry("a", int_(), false)}),
         RouteOutcome::MeetEmpty},
        {"{'a?': int} within dict[Literal['a'], int]", record({entry("a", int_(), false)}), literal_keyed(int_()),
         RouteOutcome::MeetInhabitedBounded},
        {"{} within dict[Literal['a'], int]", record({}), literal_keyed(int_()), RouteOutcome::MeetEmpty},
        {"dict[Literal['a'], int] within {'a?': str}", literal_keyed(int_()), record({entry("a", str_(), false)}),
         RouteOutcome::MeetInhabitedBounded},
        {"{'a': int} within dict[str, str]", record({entry("a", int_())}), keyed(str_(), str_()),
         RouteOutcome::MeetInhabited},
        {"{'a': int | str} within dict[str, int] | dict[str, str]", record({entry("a", uni({int_(), str_()}))}),
         uni({keyed(str_(), int_()), keyed(str_(), str_())}), RouteOutcome::MeetEmpty},
        {"{'a': int | str, 'b': int} within dict[str, int] | dict[str, str]",
         record({entry("a", uni({int_(), str_()})), entry("b", int_())}),
         uni({keyed(str_(), int_()), keyed(str_(), str_())}), RouteOutcome::MeetInhabited},
        // Sequences and sets.
        {"tuple[int, ...] of at most 2 within tuple[()] | tuple[int] | tuple[int, int]",
         refined(tuple_of({}, int_()), {con(ir::ConstraintKind::MaxLen, 2)}), short_int_tuples(), RouteOutcome::MeetEmpty},
        {"tuple[int, ...] within tuple[()] | tuple[int] | tuple[int, int]", tuple_of({}, int_()), short_int_tuples(),
         RouteOutcome::MeetInhabited},
        {"list[Literal[1, 2]] within list[int]", list_of(uni({lit(kOne), lit(kTwo)})), list_of(int_()),
         RouteOutcome::MeetEmpty},
        {"list[int] within list[Literal[1, 2]]", list_of(int_()), list_of(uni({lit(kOne), lit(kTwo)})),
         RouteOutcome::MeetInhabited},
        {"frozenset[bool] within frozenset[int]", frozen(bool_()), frozen(int_()), RouteOutcome::MeetEmpty},
        {"frozenset[int] within frozenset[bool]", frozen(int_()), frozen(bool_()), RouteOutcome::MeetInhabited},
        {"set[int] within frozenset[int]", set_of(int_()), frozen(int_()), RouteOutcome::MeetInhabited},
        // No set holds both True and 1: never a refutation.
        {"set[Literal[True, 1]] within set[Literal[True]] | set[Literal[1]]", set_of(uni({lit(kTrue), lit(kOne)})),
         uni({set_of(lit(kTrue)), set_of(lit(kOne))}), RouteOutcome::MeetUndecided},
        {"set[Literal[True, 'a']] within set[Literal[True]] | set[Literal['a']]", set_of(uni({lit(kTrue), lit(kStrA)})),
         uni({set_of(lit(kTrue)), set_of(lit(kStrA))}), RouteOutcome::MeetInhabited},
    };
    for (const Case& c : cases) {
        Harness h;
        EXPECT_EQ(run_descriptor_route(c.left, c.right, h.oracle, h.definitions), c.expected) << c.name;
    }
}

TEST(DescriptorRoute, BoundsTheOtherWayRoundRefuteWhatACutOrABoundLeavesOpen) {
    // def 0 = str | list[def 0]: unfolded once, the cut stands for nothing
    // on the right side of the route, for anything in the bound from above.
    Harness h(nodes({uni({str_(), list_of(edge(0))})}));
    EXPECT_EQ(run_descriptor_route(int_(), edge(0), h.oracle, h.definitions), RouteOutcome::MeetInhabited);
    EXPECT_EQ(combine_route(RouteOutcome::MeetInhabited, true), Decision::Undecided);
    EXPECT_EQ(refute_by_bounds(int_(), edge(0), h.oracle, h.definitions), Decision::NotSubset);
    EXPECT_EQ(decide_subset_by_descr(int_(), edge(0), h.oracle, h.definitions), Decision::NotSubset);
    // [1] lies inside the cut, which the bound takes for every value: no
    // proof either way.
    EXPECT_EQ(refute_by_bounds(list_of(int_()), edge(0), h.oracle, h.definitions), Decision::Undecided);
    EXPECT_EQ(decide_subset_by_descr(list_of(int_()), edge(0), h.oracle, h.definitions), Decision::Undecided);
    EXPECT_EQ(decide_subset_by_descr(str_(), edge(0), h.oracle, h.definitions), Decision::Subset);
    // A literal key bounds its dict from below on the right side (the dicts
    // without the key): an inhabited meet of that bound refutes nothing.
    Harness plain;
    EXPECT_EQ(run_descriptor_route(record({entry("a", int_())}), literal_keyed(int_()), plain.oracle,
                                   plain.definitions),
              RouteOutcome::MeetInhabitedBounded);
    EXPECT_EQ(decide_subset_by_descr(record({entry("a", int_())}), literal_keyed(int_()), plain.oracle,
                                     plain.definitions),
              Decision::Undecided);
}

TEST(DescriptorRoute, AMeetBeyondTheCapsIsNoMeet) {
    FakeOracle oracle({int_c(4096), int_c(3)});
    const Node left = refined(int_(), {con(ir::ConstraintKind::MultipleOf, 0)});
    const Node right = refined(int_(), {con(ir::ConstraintKind::MultipleOf, 1)});
    EXPECT_EQ(run_descriptor_route(left, right, oracle, {}), RouteOutcome::NoMeet);
}

TEST(DescriptorRoute, TheBudgetIsRestoredAndRecursionBlocksOnlyRefutations) {
    // def 0 = int | def 0: unfolded once, the cut stands for every value on
    // the left.
    Harness h(nodes({raw(ir::NodeKind::Union, {int_(), edge(0)})}));
    descr::WorkWindow window(1234);
    EXPECT_EQ(decide_subset_by_descr(edge(0), anything0(), h.oracle, h.definitions), Decision::Subset);
    EXPECT_EQ(decide_subset_by_descr(edge(0), int_(), h.oracle, h.definitions), Decision::Undecided);
    EXPECT_EQ(decide_empty_by_descr(edge(0), h.oracle, h.definitions), Emptiness::Undecided)
        << "inhabited only through the cut";
    EXPECT_EQ(decide_subset_by_descr(int_(), str_(), h.oracle, {}), Decision::NotSubset);
    EXPECT_EQ(descr::work_budget(), 1234u);
}

TEST(DescriptorRoute, EmptinessTestsRunInAWindowOfTheirOwn) {
    // Each tree's complement leaves the int slot negated with two lines
    // (the emptiness test makes it explicit, several units) and every other
    // slot empty.  Under a standing budget of 3 the tests still decide, and
    // the standing budget is untouched.
    using ir::NodeKind;
    const Node every_int_subclass_or_not = raw(
        NodeKind::Union, {raw_single(NodeKind::Complement, int_()), bool_(), inst(kIntSubclass),
                          raw_single(NodeKind::Complement, inst(kIntSubclass))});
    const Node no_value = raw_single(NodeKind::Complement, every_int_subclass_or_not);
    const Node some_ints = raw_single(
        NodeKind::Complement,
        raw(NodeKind::Union, {raw_single(NodeKind::Complement, int_()), bool_(), inst(kIntSubclass), lit(kOne)}));
    Harness h;
    descr::WorkWindow standing(3);
    EXPECT_EQ(run_descriptor_route(no_value, str_(), h.oracle, h.definitions), RouteOutcome::LeftEmpty);
    EXPECT_EQ(decide_empty_by_descr(no_value, h.oracle, h.definitions), Emptiness::Empty);
    EXPECT_EQ(decide_empty_by_descr(some_ints, h.oracle, h.definitions), Emptiness::Inhabited);
    EXPECT_EQ(descr::work_budget(), 3u);
}

TEST(DescriptorRoute, EmptinessOfOneTree) {
    struct Case {
        const char* name;
        Node node;
        Emptiness expected;
    };
    const Case cases[] = {
        {"an int subclass met with the literal 1", inter({inst(kIntSubclass), lit(kOne)}), Emptiness::Empty},
        {"a plain class", inst(kPlainClass), Emptiness::Inhabited},
        {"a plain class met with None", inter({inst(kPlainClass), none_()}), Emptiness::Undecided},
        {"what cannot be converted", hole(2), Emptiness::Undecided},
    };
    for (const Case& c : cases) {
        Harness h;
        EXPECT_EQ(decide_empty_by_descr(c.node, h.oracle, h.definitions), c.expected) << c.name;
    }
}

TEST(DecideRelation, StructuralAnswersStandAndTheDescriptorsDecideMore) {
    struct Case {
        const char* name;
        Node left, right;
        Decision expected;
    };
    const Case cases[] = {
        {"bool within int", bool_(), int_(), Decision::Subset},
        {"int within str", int_(), str_(), Decision::NotSubset},
        {"a plain class against a kind", inst(kPlainClass), int_(), Decision::NotSubset},
        {"an abstract class against a kind", inst(kAbstractClass), int_(), Decision::Undecided},
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

TEST(DecideRelation, ASpentStepBudgetLeavesTheDescriptorRoute) {
    Harness h;
    h.budget.steps = 0;
    EXPECT_EQ(decide_relation(bool_(), int_(), h.oracle, h.definitions, h.budget), Decision::Subset);
    EXPECT_EQ(decide_relation(inst(kAbstractClass), int_(), h.oracle, h.definitions, h.budget), Decision::Undecided);
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
