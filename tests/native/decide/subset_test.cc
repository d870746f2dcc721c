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
        {"bool within int", bool_(), int_(), Decision::Subset},
        {"int not within bool", int_(), bool_(), Decision::NotSubset},
        {"str within anything", str_(), anything0(), Decision::Subset},
        {"int not within str or bytes", int_(), uni(nodes({str_(), bytes_()})), Decision::NotSubset},
        {"literal within its union", lit(kFive), uni(nodes({lit(kFive), lit(kThree)})), Decision::Subset},
        {"NaN literal within any literal", lit(kNaN), lit(kFive), Decision::Subset},
        {"int literal outside the equal float literal", lit(kOne), lit(kOneFloat), Decision::NotSubset},
        {"literal outside a literal union", lit(kStrA), uni(nodes({lit(kStrB), lit(kStrX)})), Decision::NotSubset},
        {"literal within its kind", lit(kFive), int_(), Decision::Subset},
        {"literal outside another kind", lit(kStrA), int_(), Decision::NotSubset},
        {"empty union on the left", raw(NodeKind::Union, {}), int_(), Decision::Subset},
        {"empty intersection on the right", str_(), raw(NodeKind::Intersection, {}), Decision::Subset},
        {"union with a refuted member", uni(nodes({int_(), str_()})), int_(), Decision::NotSubset},
        {"union with an undecided member", uni(nodes({int_(), inst(kAbstractClass)})), int_(), Decision::Undecided},
        {"subclass within its base", inst(kIntSubclass), inst(kIntClass), Decision::Subset},
        {"unrelated class outside", inst(kPlainClass), inst(kIntClass), Decision::NotSubset},
        {"a whole kind outside a class", int_(), inst(kPlainClass), Decision::NotSubset},
        {"a list outside a class deriving from int", list_of(int_()), inst(kIntSubclass), Decision::NotSubset},
        {"kind outside an overriding metaclass is undecided", int_(), inst(kAbstractClass), Decision::Undecided},
        {"disjoint from the complemented node", list_of(int_()), comp(str_()), Decision::Subset},
        {"inside the complemented node", list_of(int_()), comp(list_of(int_())), Decision::NotSubset},
        {"complement against complement", comp(list_of(int_())), comp(list_of(bool_())), Decision::Subset},
        // Refuting needs the left complement shown inhabited, which the
        // inhabitation test only does for complements of whole kinds.
        {"complement against a wider complement", comp(list_of(bool_())), comp(list_of(int_())), Decision::Undecided},
        {"a class with its attributes outside another class",
         raw(NodeKind::Intersection, {inst(kPlainClass), obj({entry("x", int_())})}), inst(kIntClass), Decision::NotSubset},
        {"a class with its attributes outside a kind",
         raw(NodeKind::Intersection, {inst(kPlainClass), obj({entry("x", int_())})}), str_(), Decision::NotSubset},
        {"an intersection holds through one member", raw(NodeKind::Intersection, {int_(), inst(kPlainClass)}),
         uni(nodes({int_(), str_()})), Decision::Subset},
        {"right union covering every kind proves an undecided question", inst(kAbstractClass), covering, Decision::Subset},
    });
}

TEST(Subset, Sequences) {
    const std::uint8_t L = ir::kFlavourList;
    const std::uint8_t T = ir::kFlavourTuple;
    run({
        {"two items against three", seq(T, {int_(), int_()}), seq(T, {int_(), int_(), int_()}), Decision::NotSubset},
        {"three items against two", seq(T, {int_(), int_(), int_()}), seq(T, {int_(), int_()}), Decision::NotSubset},
        {"any length against exactly one", list_of(int_()), seq(L, {int_()}), Decision::NotSubset},
        {"exactly one against any length", seq(L, {int_()}), list_of(int_()), Decision::Subset},
        {"only the empty list", seq(L, {}, nothing_()), seq(L, {}), Decision::Subset},
        {"inhabited tail against no tail", seq(L, {int_()}, int_()), seq(L, {int_()}), Decision::NotSubset},
        {"undecided tail against no tail", seq(L, {int_()}, inst(kAbstractClass)), seq(L, {int_()}), Decision::Undecided},
        {"item by item", seq(T, {bool_(), lit(kStrA)}), seq(T, {int_(), str_()}), Decision::Subset},
        {"item outside", seq(T, {bool_(), float_()}), seq(T, {int_(), str_()}), Decision::NotSubset},
        {"items past the right prefix meet its tail", seq(T, {int_(), bool_(), bool_()}), seq(T, {int_()}, int_()),
         Decision::Subset},
        {"tails compared", seq(T, {int_()}, bool_()), seq(T, {}, int_()), Decision::Subset},
        {"list against tuple", list_of(int_()), seq(T, {}, int_()), Decision::NotSubset},
        {"set elements", set_of(bool_()), set_of(int_()), Decision::Subset},
        {"set against frozenset", set_of(bool_()), make_set(ir::kFlavourFrozenset, int_()), Decision::NotSubset},
        {"split into alternatives", seq(T, {uni(nodes({int_(), str_()}))}),
         uni(nodes({seq(T, {int_()}), seq(T, {str_()})})), Decision::Subset},
        {"not covered by one alternative", seq(T, {uni(nodes({int_(), str_()}))}), seq(T, {int_()}), Decision::NotSubset},
        {"two positions split", seq(T, {uni(nodes({int_(), str_()})), uni(nodes({int_(), str_()}))}),
         uni(nodes({seq(T, {int_(), int_()}), seq(T, {int_(), str_()}), seq(T, {str_(), anything0()})})), Decision::Subset},
        {"an empty item is inside any alternative", seq(T, {int_(), nothing_()}),
         uni(nodes({seq(T, {str_(), str_()}), seq(T, {bytes_(), bytes_()})})), Decision::Subset},
        {"a non-empty set outside a least length", set_of(int_()), refined(set_of(int_()), {min_len(1)}),
         Decision::NotSubset},
    });
}

TEST(Subset, RecordsAndObjects) {
    const Clause str_to_int{str_(), int_()};
    run({
        {"optional key the right side requires", record({entry("a", int_(), false)}), record({entry("a", int_())}),
         Decision::NotSubset},
        {"missing key optional on the right", record({entry("a", int_())}),
         record({entry("a", int_()), entry("b", str_(), false)}), Decision::Subset},
        {"value of a shared key outside", record({entry("a", int_())}), record({entry("a", str_())}), Decision::NotSubset},
        {"required key the right side lacks", record({entry("a", int_())}), record({entry("a", int_()), entry("b", int_())}),
         Decision::NotSubset},
        {"undeclared optional key", record({entry("a", int_()), entry("b", int_(), false)}),
         record({entry("a", int_())}), Decision::NotSubset},
        {"undeclared key of an empty value", record({entry("b", nothing_(), false)}), record({}), Decision::Subset},
        {"undeclared key admitted by a clause", record({entry("b", bool_())}), record({}, {str_to_int}), Decision::Subset},
        {"value admitted by the union of clause values", record({entry("a", uni(nodes({int_(), str_()})))}),
         record({}, {Clause{str_(), int_()}, Clause{inst(kObjectClass), str_()}}), Decision::Subset},
        // The record takes a str subclass instance equal to "a" for its key;
        // the literal admits the exact str only.
        {"literal key clause of the same name", record({entry("a", int_())}),
         record({}, {Clause{lit(kStrA), int_()}, Clause{lit(kStrB), str_()}}), Decision::NotSubset},
        {"literal key clause beside a str clause", record({entry("a", int_())}),
         record({}, {Clause{lit(kStrA), int_()}, str_to_int}), Decision::Subset},
        {"literal key clause for another key", record({entry("x", int_())}),
         record({}, {Clause{lit(kStrA), int_()}, Clause{lit(kStrB), str_()}}), Decision::NotSubset},
        {"value outside every admitting clause", record({entry("a", float_())}),
         record({}, {Clause{str_(), int_()}, Clause{int_(), float_()}}), Decision::NotSubset},
        {"key schema that cannot be judged", record({entry("a", int_())}),
         record({}, {Clause{inst(kAbstractClass), int_()}}), Decision::Undecided},
        {"left clause covered", record({}, {str_to_int}), record({}, {Clause{str_(), anything0()}}), Decision::Subset},
        {"left clause uncovered is undecided", record({}, {str_to_int}), record({}), Decision::Undecided},
        {"left clause admitting a key the right side types otherwise", record({}, {str_to_int}),
         record({entry("a", str_(), false)}, {str_to_int}), Decision::NotSubset},
        {"object lacking a required attribute", obj({entry("a", int_())}), obj({entry("a", int_()), entry("b", int_())}),
         Decision::NotSubset},
        {"extra attributes do not matter", obj({entry("a", bool_()), entry("b", int_())}), obj({entry("a", int_())}),
         Decision::Subset},
        {"unnamed attribute against an optional one of any value", obj({}), obj({entry("b", anything0(), false)}),
         Decision::Subset},
        {"unnamed attribute against an optional typed one", obj({}), obj({entry("b", int_(), false)}), Decision::NotSubset},
    });
}

TEST(Subset, Refinements) {
    using K = ConstraintKind;
    const Node multiple_of_4 = refined(int_(), {bound(K::MultipleOf, kFour)});
    const Node multiple_of_2 = refined(int_(), {bound(K::MultipleOf, kTwo)});
    const Node multiple_of_2f = refined(int_(), {bound(K::MultipleOf, kTwoFloat)});
    run({
        {">= 5 within >= 3", int_where(K::Ge, kFive), int_where(K::Ge, kThree), Decision::Subset},
        {">= 5 within > 3", int_where(K::Ge, kFive), int_where(K::Gt, kThree), Decision::Subset},
        {"> 3 within >= 3", int_where(K::Gt, kThree), int_where(K::Ge, kThree), Decision::Subset},
        {">= 3 not implying > 3", int_where(K::Ge, kThree), int_where(K::Gt, kThree), Decision::Undecided},
        {"<= 2 within < 2.5", int_where(K::Le, kTwo), int_where(K::Lt, kTwoAndHalf), Decision::Subset},
        {"bool >= 5 within int >= 3", refined(bool_(), {bound(K::Ge, kFive)}), int_where(K::Ge, kThree), Decision::Subset},
        {"bounds over anything are not trusted", refined(anything0(), {bound(K::Ge, kFive)}),
         refined(anything0(), {bound(K::Ge, kThree)}), Decision::Undecided},
        {"multiple of 4 within multiple of 2", multiple_of_4, multiple_of_2, Decision::Subset},
        {"multiple of 2 not within multiple of 4", multiple_of_2, multiple_of_4, Decision::Undecided},
        {"float divisor against int divisor", multiple_of_2f, multiple_of_2, Decision::Undecided},
        {"int divisor against float divisor", multiple_of_4, multiple_of_2f, Decision::Undecided},
        {"the same predicate", refined(bool_(), {predicate(kPredicate)}), refined(int_(), {predicate(kPredicate)}),
         Decision::Subset},
        {"another predicate", refined(int_(), {predicate(kPredicate)}), refined(int_(), {predicate(kFive)}),
         Decision::Undecided},
        {"longer strings", refined(str_(), {min_len(5)}), refined(str_(), {min_len(3)}), Decision::Subset},
        {"refined within its inner kind", int_where(K::Ge, kFive), int_(), Decision::Subset},
        {"kind outside refined", str_(), int_where(K::Ge, kFive), Decision::NotSubset},
        {"refined outside another kind", int_where(K::Ge, kFive), str_(), Decision::NotSubset},
    });
}

TEST(Subset, Recursion) {
    const std::vector<Node> lists = nodes({list_of(uni(nodes({int_(), edge(0)}))), list_of(uni(nodes({int_(), edge(1)})))});
    const std::vector<Node> narrower = nodes({list_of(uni(nodes({bool_(), edge(0)}))), list_of(uni(nodes({int_(), edge(1)})))});
    run({
        {"equal recursive lists", edge(0), edge(1), Decision::Subset, lists},
        {"narrower recursive list", edge(0), edge(1), Decision::Subset, narrower},
        {"a list of int outside the nested empty lists", list_of(int_()), edge(0), Decision::NotSubset,
         nodes({list_of(edge(0))})},
        {"back edge outside the definitions", edge(4), int_(), Decision::Undecided},
        {"right back edge outside the definitions", list_of(int_()), edge(4), Decision::Undecided},
    });
}

TEST(Subset, BudgetAndNesting) {
    Harness h;
    const Node a = list_of(int_());
    const Node b = list_of(int_());
    h.budget.steps = 0;
    EXPECT_EQ(h.subset(a, a), Decision::Subset);  // the same node needs no step
    EXPECT_EQ(h.subset(a, b), Decision::Undecided);

    // Two recursive lists whose cycles (997 and 1009 definitions) share no
    // factor: their unfoldings only repeat a pair after about a million
    // steps, so the nesting limit ends the question.
    std::vector<Node> defs;
    const std::uint64_t p = 997, q = 1009;
    for (std::uint64_t i = 0; i < p; ++i) defs.push_back(list_of(edge((i + 1) % p)));
    for (std::uint64_t i = 0; i < q; ++i) defs.push_back(list_of(edge(p + (i + 1) % q)));
    Harness lockstep(defs);
    const Decision d = lockstep.subset(edge(0), edge(p));
    EXPECT_NE(d, Decision::NotSubset);
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
