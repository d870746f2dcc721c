// Structural inclusion: the phases of decide_subset and the container and
// refinement rules, on hand-built trees over the fake oracle.
#include <gtest/gtest.h>

#include "core/decide/include_containers.h"
#include "decide/decide_fixture.h"

namespace tessaron::decide {
namespace {

using namespace ir::testing;
using namespace decide::testing;
using ir::Clause;
using ir::Constraint;
using ir::ConstraintKind;
using ir::Node;
using ir::NodeKind;

Constraint bound(ConstraintKind k, std::uint64_t i) { return Constraint{k, i, {}}; }
Node int_where(ConstraintKind k, std::uint64_t i) { return refined(int_(), {bound(k, i)}); }
Node seq(std::uint8_t flavour, std::vector<Node> items, std::optional<Node> tail = std::nullopt) {
    return raw_seq(flavour, std::move(items), std::move(tail));
}
Node obj(std::vector<ir::RecordEntry> entries) { return raw_object(std::move(entries)); }

struct Case {
    const char* name;
    Node left;
    Node right;
    Decision expected;
    std::vector<Node> definitions = {};
};

void run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Harness h(c.definitions);
        EXPECT_EQ(h.subset(c.left, c.right), c.expected) << c.name;
    }
}

TEST(Subset, KindsLiteralsUnionsAndComplements) {
    const Node covering = raw(NodeKind::Union, {comp(str_()), str_(), inst(kPlainClass)});
    run({
        {"bool within int", bool_(), int_(), kSubset},
        {"int not within bool", int_(), bool_(), kNotSubset},
        {"str within anything", str_(), anything0(), kSubset},
        {"int not within str or bytes", int_(), uni(nodes({str_(), bytes_()})), kNotSubset},
        {"literal within its union", lit(kFive), uni(nodes({lit(kFive), lit(kThree)})), kSubset},
        {"NaN literal within any literal", lit(kNaN), lit(kFive), kSubset},
        {"int literal outside the equal float literal", lit(kOne), lit(kOneFloat), kNotSubset},
        {"literal outside a literal union", lit(kStrA), uni(nodes({lit(kStrB), lit(kStrX)})), kNotSubset},
        {"literal within its kind", lit(kFive), int_(), kSubset},
        {"literal outside another kind", lit(kStrA), int_(), kNotSubset},
        {"empty union on the left", raw(NodeKind::Union, {}), int_(), kSubset},
        {"empty intersection on the right", str_(), raw(NodeKind::Intersection, {}), kSubset},
        {"union with a refuted member", uni(nodes({int_(), str_()})), int_(), kNotSubset},
        {"union with an undecided member", uni(nodes({int_(), inst(kAbstractClass)})), int_(), kUndecided},
        {"subclass within its base", inst(kIntSubclass), inst(kIntClass), kSubset},
        {"unrelated class outside", inst(kPlainClass), inst(kIntClass), kNotSubset},
        {"a whole kind outside a class", int_(), inst(kPlainClass), kNotSubset},
        {"a list outside a class deriving from int", list_of(int_()), inst(kIntSubclass), kNotSubset},
        {"kind outside an overriding metaclass is undecided", int_(), inst(kAbstractClass), kUndecided},
        {"disjoint from the complemented node", list_of(int_()), comp(str_()), kSubset},
        {"inside the complemented node", list_of(int_()), comp(list_of(int_())), kNotSubset},
        {"complement against complement", comp(list_of(int_())), comp(list_of(bool_())), kSubset},
        // Refuting needs the left complement shown inhabited, which the
        // inhabitation test only does for complements of whole kinds.
        {"complement against a wider complement", comp(list_of(bool_())), comp(list_of(int_())), kUndecided},
        {"a class with its attributes outside another class",
         raw(NodeKind::Intersection, {inst(kPlainClass), obj({entry("x", int_())})}), inst(kIntClass), kNotSubset},
        {"a class with its attributes outside a kind",
         raw(NodeKind::Intersection, {inst(kPlainClass), obj({entry("x", int_())})}), str_(), kNotSubset},
        {"an intersection holds through one member", raw(NodeKind::Intersection, {int_(), inst(kPlainClass)}),
         uni(nodes({int_(), str_()})), kSubset},
        {"right union covering every kind proves an undecided question", inst(kAbstractClass), covering, kSubset},
    });
}

TEST(Subset, Sequences) {
    const std::uint8_t L = ir::kFlavourList;
    const std::uint8_t T = ir::kFlavourTuple;
    run({
        {"two items against three", seq(T, {int_(), int_()}), seq(T, {int_(), int_(), int_()}), kNotSubset},
        {"three items against two", seq(T, {int_(), int_(), int_()}), seq(T, {int_(), int_()}), kNotSubset},
        {"any length against exactly one", list_of(int_()), seq(L, {int_()}), kNotSubset},
        {"exactly one against any length", seq(L, {int_()}), list_of(int_()), kSubset},
        {"only the empty list", seq(L, {}, nothing_()), seq(L, {}), kSubset},
        {"inhabited tail against no tail", seq(L, {int_()}, int_()), seq(L, {int_()}), kNotSubset},
        {"undecided tail against no tail", seq(L, {int_()}, inst(kAbstractClass)), seq(L, {int_()}), kUndecided},
        {"item by item", seq(T, {bool_(), lit(kStrA)}), seq(T, {int_(), str_()}), kSubset},
        {"item outside", seq(T, {bool_(), float_()}), seq(T, {int_(), str_()}), kNotSubset},
        {"items past the right prefix meet its tail", seq(T, {int_(), bool_(), bool_()}), seq(T, {int_()}, int_()),
         kSubset},
        {"tails compared", seq(T, {int_()}, bool_()), seq(T, {}, int_()), kSubset},
        {"list against tuple", list_of(int_()), seq(T, {}, int_()), kNotSubset},
        {"set elements", set_of(bool_()), set_of(int_()), kSubset},
        {"set against frozenset", set_of(bool_()), make_set(ir::kFlavourFrozenset, int_()), kNotSubset},
        {"split into alternatives", seq(T, {uni(nodes({int_(), str_()}))}),
         uni(nodes({seq(T, {int_()}), seq(T, {str_()})})), kSubset},
        {"not covered by one alternative", seq(T, {uni(nodes({int_(), str_()}))}), seq(T, {int_()}), kNotSubset},
        {"two positions split", seq(T, {uni(nodes({int_(), str_()})), uni(nodes({int_(), str_()}))}),
         uni(nodes({seq(T, {int_(), int_()}), seq(T, {int_(), str_()}), seq(T, {str_(), anything0()})})), kSubset},
        {"an empty item is inside any alternative", seq(T, {int_(), nothing_()}),
         uni(nodes({seq(T, {str_(), str_()}), seq(T, {bytes_(), bytes_()})})), kSubset},
        {"a non-empty set outside a least length", set_of(int_()), refined(set_of(int_()), {min_len(1)}),
         kNotSubset},
    });
}

TEST(Subset, RecordsAndObjects) {
    const Clause str_to_int{str_(), int_()};
    run({
        {"optional key the right side requires", record({entry("a", int_(), false)}), record({entry("a", int_())}),
         kNotSubset},
        {"missing key optional on the right", record({entry("a", int_())}),
         record({entry("a", int_()), entry("b", str_(), false)}), kSubset},
        {"value of a shared key outside", record({entry("a", int_())}), record({entry("a", str_())}), kNotSubset},
        {"required key the right side lacks", record({entry("a", int_())}), record({entry("a", int_()), entry("b", int_())}),
         kNotSubset},
        {"undeclared optional key", record({entry("a", int_()), entry("b", int_(), false)}),
         record({entry("a", int_())}), kNotSubset},
        {"undeclared key of an empty value", record({entry("b", nothing_(), false)}), record({}), kSubset},
        {"undeclared key admitted by a clause", record({entry("b", bool_())}), record({}, {str_to_int}), kSubset},
        {"value admitted by the union of clause values", record({entry("a", uni(nodes({int_(), str_()})))}),
         record({}, {Clause{str_(), int_()}, Clause{inst(kObjectClass), str_()}}), kSubset},
        {"literal key clause", record({entry("a", int_())}),
         record({}, {Clause{lit(kStrA), int_()}, Clause{lit(kStrB), str_()}}), kSubset},
        {"literal key clause for another key", record({entry("x", int_())}),
         record({}, {Clause{lit(kStrA), int_()}, Clause{lit(kStrB), str_()}}), kNotSubset},
        {"value outside every admitting clause", record({entry("a", float_())}),
         record({}, {Clause{str_(), int_()}, Clause{int_(), float_()}}), kNotSubset},
        {"key schema that cannot be judged", record({entry("a", int_())}),
         record({}, {Clause{inst(kAbstractClass), int_()}}), kUndecided},
        {"left clause covered", record({}, {str_to_int}), record({}, {Clause{str_(), anything0()}}), kSubset},
        {"left clause uncovered is undecided", record({}, {str_to_int}), record({}), kUndecided},
        {"left clause admitting a key the right side types otherwise", record({}, {str_to_int}),
         record({entry("a", str_(), false)}, {str_to_int}), kNotSubset},
        {"object lacking a required attribute", obj({entry("a", int_())}), obj({entry("a", int_()), entry("b", int_())}),
         kNotSubset},
        {"extra attributes do not matter", obj({entry("a", bool_()), entry("b", int_())}), obj({entry("a", int_())}),
         kSubset},
        {"unnamed attribute against an optional one of any value", obj({}), obj({entry("b", anything0(), false)}),
         kSubset},
        {"unnamed attribute against an optional typed one", obj({}), obj({entry("b", int_(), false)}), kNotSubset},
    });
}

TEST(Subset, Refinements) {
    using K = ConstraintKind;
    const Node multiple_of_4 = refined(int_(), {bound(K::MultipleOf, kFour)});
    const Node multiple_of_2 = refined(int_(), {bound(K::MultipleOf, kTwo)});
    const Node multiple_of_2f = refined(int_(), {bound(K::MultipleOf, kTwoFloat)});
    run({
        {">= 5 within >= 3", int_where(K::Ge, kFive), int_where(K::Ge, kThree), kSubset},
        {">= 5 within > 3", int_where(K::Ge, kFive), int_where(K::Gt, kThree), kSubset},
        {"> 3 within >= 3", int_where(K::Gt, kThree), int_where(K::Ge, kThree), kSubset},
        {">= 3 not implying > 3", int_where(K::Ge, kThree), int_where(K::Gt, kThree), kUndecided},
        {"<= 2 within < 2.5", int_where(K::Le, kTwo), int_where(K::Lt, kTwoAndHalf), kSubset},
        {"bool >= 5 within int >= 3", refined(bool_(), {bound(K::Ge, kFive)}), int_where(K::Ge, kThree), kSubset},
        {"bounds over anything are not trusted", refined(anything0(), {bound(K::Ge, kFive)}),
         refined(anything0(), {bound(K::Ge, kThree)}), kUndecided},
        {"multiple of 4 within multiple of 2", multiple_of_4, multiple_of_2, kSubset},
        {"multiple of 2 not within multiple of 4", multiple_of_2, multiple_of_4, kUndecided},
        {"float divisor against int divisor", multiple_of_2f, multiple_of_2, kUndecided},
        {"int divisor against float divisor", multiple_of_4, multiple_of_2f, kUndecided},
        {"the same predicate", refined(bool_(), {predicate(kPredicate)}), refined(int_(), {predicate(kPredicate)}),
         kSubset},
        {"another predicate", refined(int_(), {predicate(kPredicate)}), refined(int_(), {predicate(kFive)}),
         kUndecided},
        {"longer strings", refined(str_(), {min_len(5)}), refined(str_(), {min_len(3)}), kSubset},
        {"refined within its inner kind", int_where(K::Ge, kFive), int_(), kSubset},
        {"kind outside refined", str_(), int_where(K::Ge, kFive), kNotSubset},
        {"refined outside another kind", int_where(K::Ge, kFive), str_(), kNotSubset},
    });
}

TEST(Subset, Recursion) {
    const std::vector<Node> lists = nodes({list_of(uni(nodes({int_(), edge(0)}))), list_of(uni(nodes({int_(), edge(1)})))});
    const std::vector<Node> narrower = nodes({list_of(uni(nodes({bool_(), edge(0)}))), list_of(uni(nodes({int_(), edge(1)})))});
    run({
        {"equal recursive lists", edge(0), edge(1), kSubset, lists},
        {"narrower recursive list", edge(0), edge(1), kSubset, narrower},
        {"a list of int outside the nested empty lists", list_of(int_()), edge(0), kNotSubset,
         nodes({list_of(edge(0))})},
        {"back edge outside the definitions", edge(4), int_(), kUndecided},
        {"right back edge outside the definitions", list_of(int_()), edge(4), kUndecided},
    });
}

TEST(Subset, BudgetAndNesting) {
    Harness h;
    const Node a = list_of(int_());
    const Node b = list_of(int_());
    h.budget.steps = 0;
    EXPECT_EQ(h.subset(a, a), kSubset);  // the same node needs no step
    EXPECT_EQ(h.subset(a, b), kUndecided);

    // Two recursive lists whose cycles (997 and 1009 definitions) share no
    // factor: their unfoldings only repeat a pair after about a million
    // steps, so the nesting limit ends the question.
    std::vector<Node> defs;
    const std::uint64_t p = 997, q = 1009;
    for (std::uint64_t i = 0; i < p; ++i) defs.push_back(list_of(edge((i + 1) % p)));
    for (std::uint64_t i = 0; i < q; ++i) defs.push_back(list_of(edge(p + (i + 1) % q)));
    Harness lockstep(defs);
    const Decision d = lockstep.subset(edge(0), edge(p));
    EXPECT_NE(d, kNotSubset);
    EXPECT_GT(lockstep.budget.steps, 0);
}

TEST(Subset, FixedSequenceSearchStopsWhenTheBudgetIsSpent) {
    Harness h;
    AssumptionStack stack;
    const std::vector<Node> items = nodes({uni(nodes({int_(), str_()}))});
    const std::vector<std::vector<Node>> alternatives = {nodes({int_()}), nodes({str_()})};
    EXPECT_TRUE(decide_fixed_sequence_in_union(items, alternatives, h.ctx, stack));
    h.budget.steps = 0;
    EXPECT_FALSE(decide_fixed_sequence_in_union(items, alternatives, h.ctx, stack));
}

}  // namespace
}  // namespace tessaron::decide
