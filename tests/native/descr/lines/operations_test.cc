// Complements, explicit forms, products and their caps, condition tests and
// the emptiness procedure, case by case.
#include <gtest/gtest.h>

#include <string>

#include "core/descr/lines/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/compact.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/conditions.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/lines/explicit.h"
#include "core/descr/lines/order.h"
#include "descr/descr_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;
using ir::Emptiness;

// A condition requiring attribute `name` (any value): distinct names give
// distinct, satisfiable conditions.
Condition has(const std::string& name) { return attribute(name, SharedDescr(), false); }
std::string numbered(const char* prefix, int i) { return prefix + std::to_string(1000 + i); }

// --- complements -------------------------------------------------------------------

TEST(Complement, OfNothingIsEveryUniverseLineAndBack) {
    const Descr all = descr_complement(Descr{});
    for (const Kind k : ir::kKinds) {
        ASSERT_EQ(all.slot(k).lines.size(), 1u) << ir::kind_slot(k);
        EXPECT_FALSE(all.slot(k).negated);
        EXPECT_TRUE(line_equal(all.slot(k).lines[0], universe_line(k))) << ir::kind_slot(k);
    }
    // The universe lines of the flat kinds complement to empty slots.
    const Descr none = descr_complement(all);
    for (Kind kind : {Kind::None, Kind::Bool, Kind::Int, Kind::Float, Kind::Str, Kind::Bytes, Kind::Other}) {
        EXPECT_TRUE(none.slot(kind).lines.empty()) << int(kind);
        EXPECT_FALSE(none.slot(kind).negated);
    }
}

TEST(Complement, SlotsOfTwoLinesAreFlaggedAndNegatedSlotsGiveTheirLinesBack) {
    const Descr two = with_slot(Kind::Int, {line(int_set_singleton(1)), line(int_set_singleton(5))});
    const Descr flagged = descr_complement(two);
    EXPECT_TRUE(flagged.slot(Kind::Int).negated);
    EXPECT_TRUE(lines_equal(flagged.slot(Kind::Int).lines, two.slot(Kind::Int).lines));
    const Descr back = descr_complement(flagged);
    EXPECT_FALSE(back.slot(Kind::Int).negated);
    EXPECT_TRUE(lines_equal(back.slot(Kind::Int).lines, two.slot(Kind::Int).lines));
    // A negated slot with no line is the whole kind; its complement nothing.
    const Descr every_int = with_slot(Kind::Int, {}, true);
    EXPECT_TRUE(descr_complement(every_int).slot(Kind::Int).lines.empty());
}

TEST(Complement, ALineOfFalseBecomesTrue) {
    const Descr only_false = with_slot(Kind::Bool, {line(TruthMask{1})});
    const Descr rest = descr_complement(only_false);
    ASSERT_EQ(rest.slot(Kind::Bool).lines.size(), 1u);
    EXPECT_TRUE(line_equal(rest.slot(Kind::Bool).lines[0], line(TruthMask{2})));
    // The two lines of the line complement, before any compaction.
    const auto [outside_atom, outside_conditions] = line_complement(line(TruthMask{1}), Kind::Bool);
    EXPECT_TRUE(line_equal(outside_atom, line(TruthMask{2})));
    EXPECT_TRUE(atom_equal(outside_conditions.atom, TruthMask{3}));
    EXPECT_TRUE(outside_conditions.conditions.conditions.empty()) << "no condition: it admits nothing";
    EXPECT_FALSE(outside_conditions.conditions.negated);
}

TEST(Complement, ANegatedListOfOneConditionComesBackPositive) {
    const Line l = line(Presence{true}, conditions({requiring({cls_A()})}, true));
    const auto [first, second] = line_complement(l, Kind::Other);
    EXPECT_FALSE(std::get<Presence>(first.atom).flag);
    EXPECT_FALSE(second.conditions.negated);
    ASSERT_EQ(second.conditions.conditions.size(), 1u);
    EXPECT_TRUE(condition_equal(second.conditions.conditions[0], requiring({cls_A()})));
    // Two conditions stay as they are, flipped.
    const Line two = line(Presence{true}, conditions({requiring({cls_A()}), requiring({cls_B()})}));
    EXPECT_TRUE(line_complement(two, Kind::Other).second.conditions.negated);
}

TEST(Complement, WithNoBudgetOneLineSlotsStayNegated) {
    const Descr d = with_slot(Kind::Int, {line(int_set_singleton(1))});
    WorkWindow window(0);
    const Descr c = descr_complement(d);
    EXPECT_TRUE(c.slot(Kind::Int).negated);
    ASSERT_EQ(c.slot(Kind::Int).lines.size(), 1u);
    EXPECT_EQ(c.slot(Kind::None).lines.size(), 1u) << "empty slots still become universe lines";
}

TEST(Complement, ExplicitFormsOfSlotsAndConditionLists) {
    EXPECT_EQ(positive_slot({}, Kind::Other)->size(), 1u);
    for (Kind kind : {Kind::None, Kind::Bool, Kind::Int, Kind::Float, Kind::Other})
        EXPECT_TRUE(positive_slot({universe_line(kind)}, kind)->empty()) << int(kind);
    {
        WorkWindow window(0);
        EXPECT_FALSE(positive_slot({universe_line(Kind::Int)}, Kind::Int)) << "the first pair needs a unit";
        EXPECT_TRUE(positive_slot({}, Kind::Int)) << "no line, no pair";
    }
    // A negated list without conditions admits everything, one holding the
    // empty condition nothing.
    EXPECT_EQ(positive_conditions(conditions({}, true))->size(), 1u);
    EXPECT_TRUE(positive_conditions(conditions({Condition{}}, true))->empty());
    // The complement of a condition: attributes by name, then classes.
    Condition c = has("b");
    c.attributes.insert(c.attributes.begin(), AttributeEntry{"a", AttributeRequirement{SharedDescr(), false}});
    c.classes.push_back(cls_A());
    const auto terms = complement_condition(c);
    ASSERT_EQ(terms.size(), 3u);
    EXPECT_EQ(terms[0].attributes[0].name, "a");
    EXPECT_TRUE(terms[0].attributes[0].requirement.value.same(empty_descr())) << "the attribute is missing";
    EXPECT_TRUE(terms[0].attributes[0].requirement.optional);
    EXPECT_EQ(terms[1].attributes[0].name, "b");
    EXPECT_EQ(terms[2].excluded_classes[0].class_id, cls_A().class_id);
    EXPECT_TRUE(complement_condition(Condition{}).empty());
}

// --- union and intersection ------------------------------------------------------

TEST(Combine, EveryCallTakesItsEntryUnit) {
    {
        WorkWindow window(0);
        EXPECT_FALSE(descr_combine(Descr{}, Descr{}, SetOp::Union));
        EXPECT_FALSE(descr_combine(Descr{}, Descr{}, SetOp::Intersection));
    }
    {
        WorkWindow window(1);
        EXPECT_TRUE(descr_combine(Descr{}, Descr{}, SetOp::Intersection));
        EXPECT_EQ(work_budget(), 0u);
    }
}

TEST(Combine, NegatedSlotsWithoutLinesContributeNoFactor) {
    const Descr every_int = with_slot(Kind::Int, {}, true);
    const Descr two = with_slot(Kind::Int, {line(int_set_singleton(5)), line(int_set_singleton(1))});
    const OptDescr met = descr_combine(two, every_int, SetOp::Intersection);
    ASSERT_TRUE(met);
    EXPECT_TRUE(lines_equal(met->slot(Kind::Int).lines, two.slot(Kind::Int).lines)) << "copied in their own order";
    const OptDescr both = descr_combine(every_int, every_int, SetOp::Intersection);
    ASSERT_TRUE(both);
    ASSERT_EQ(both->slot(Kind::Int).lines.size(), 1u);
    EXPECT_TRUE(line_equal(both->slot(Kind::Int).lines[0], universe_line(Kind::Int)));
}

TEST(Combine, ModuliBeyondTheCapFailTheWholeCall) {
    const Descr a = with_slot(Kind::Int, {line(multiples(64))});
    EXPECT_TRUE(descr_combine(a, with_slot(Kind::Int, {line(multiples(96))}), SetOp::Intersection));
    const Descr big = with_slot(Kind::Int, {line(multiples(4096))});
    const Descr three = with_slot(Kind::Int, {line(multiples(3))});
    EXPECT_FALSE(descr_combine(big, three, SetOp::Intersection));
    // In a union the two lines merely stay apart.
    const OptDescr joined = descr_combine(big, three, SetOp::Union);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->slot(Kind::Int).lines.size(), 2u);
}

TEST(Combine, SharedDescriptorsMetWithThemselvesAreTheSameObject) {
    const SharedDescr a = SharedDescr::make(with_slot(Kind::Int, {line(int_set_singleton(1))}));
    WorkWindow window(0);
    EXPECT_TRUE(meet_shared_descrs(a, a)->same(a));
    EXPECT_TRUE(join_shared_descrs(a, a)->same(a));
    const SharedDescr copy = SharedDescr::make(*a);
    EXPECT_FALSE(meet_shared_descrs(a, copy)) << "equal contents are met in full";
    const auto absent = meet_optional_shared(SharedDescr(), SharedDescr());
    ASSERT_TRUE(absent);
    EXPECT_FALSE(*absent);
    EXPECT_TRUE(meet_optional_shared(a, SharedDescr())->same(a));
}

// --- caps ------------------------------------------------------------------------

TEST(Caps, TwoHundredFiftySixLinesPassAndOneMoreFails) {
    std::vector<Line> lines;
    for (int i = 0; i < 257; ++i) lines.push_back(line(int_set_singleton(i), conditions({has(numbered("a", i))})));
    std::vector<Line> first256(lines.begin(), lines.begin() + 256);
    const auto kept = compact_lines(first256);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size(), 256u);
    EXPECT_FALSE(compact_lines(lines));
    // The same through a union of two slots.
    const Descr left = with_slot(Kind::Int, std::vector<Line>(lines.begin(), lines.begin() + 128));
    EXPECT_TRUE(descr_combine(left, with_slot(Kind::Int, std::vector<Line>(lines.begin() + 128, lines.begin() + 256)), SetOp::Union));
    EXPECT_FALSE(descr_combine(left, with_slot(Kind::Int, std::vector<Line>(lines.begin() + 128, lines.end())), SetOp::Union));
}

TEST(Caps, ALineProductOf256PassesAnd257Fail) {
    // 16 x 16 and 16 x 17 lines with distinct condition pairs.
    auto lines = [](const char* prefix, int n) {
        std::vector<Line> out;
        for (int i = 0; i < n; ++i) out.push_back(line(int_set_all(), conditions({has(numbered(prefix, i))})));
        return out;
    };
    const auto ok = meet_line_lists(lines("x", 16), lines("y", 16));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->size(), 256u);
    EXPECT_FALSE(meet_line_lists(lines("x", 17), lines("y", 16)));
}

TEST(Caps, ACondition16By16ProductPassesAnd17By16Fails) {
    auto list = [](const char* prefix, int n) {
        std::vector<Condition> out;
        for (int i = 0; i < n; ++i) out.push_back(has(numbered(prefix, i)));
        return out;
    };
    const auto ok = product_condition_lists(list("x", 16), list("y", 16));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->size(), 256u);
    EXPECT_FALSE(product_condition_lists(list("x", 17), list("y", 16)));
    WorkWindow window(100);
    EXPECT_FALSE(product_condition_lists(list("x", 16), list("y", 16))) << "a budget running out midway fails it";
}

// --- conditions ------------------------------------------------------------------

TEST(Conditions, WhatProvesOneUnsatisfiableAndWhatOnlyMayHold) {
    const SharedDescr nothing = empty_descr();
    const SharedDescr undecided = SharedDescr::make(with_slot(Kind::Int, {line(int_set_all(), conditions({requiring({cls_A()})}))}));
    struct Case {
        const char* name;
        Condition condition;
        std::optional<Kind> slot;
        ir::Emptiness expected;
    };
    const Case cases[] = {
        {"nothing asked", Condition{}, Kind::Other, ir::Emptiness::Inhabited},
        {"a class", requiring({cls_A()}), Kind::Other, ir::Emptiness::Inhabited},
        {"a subclass excluding its base", requiring({cls_B()}, {cls_A()}), std::nullopt, ir::Emptiness::Empty},
        {"a base excluding a subclass", requiring({cls_A()}, {cls_B()}), Kind::Other, ir::Emptiness::Inhabited},
        {"int and str subclasses", requiring({cls_I(), cls_S()}), std::nullopt, ir::Emptiness::Empty},
        {"int subclass and its subclass", requiring({cls_I(), cls_IA()}), Kind::Int, ir::Emptiness::Undecided},
        {"two plain classes", requiring({cls_A(), record(7, {7}, Kind::Other)}), Kind::Other, ir::Emptiness::Undecided},
        {"exact int beside a plain class", requiring({exact_type_record(Kind::Int), cls_A()}), std::nullopt, ir::Emptiness::Empty},
        {"exact int beside an int subclass", requiring({exact_type_record(Kind::Int), cls_I()}), std::nullopt, ir::Emptiness::Empty},
        {"exact int alone", requiring({exact_type_record(Kind::Int)}), Kind::Int, ir::Emptiness::Inhabited},
        {"exact int excluded", requiring({cls_I()}, {exact_type_record(Kind::Int)}), Kind::Int, ir::Emptiness::Inhabited},
        {"a required empty attribute", attribute("a", nothing, false), std::nullopt, ir::Emptiness::Empty},
        {"an optional empty attribute: missing", attribute("a", nothing, true), Kind::Other, ir::Emptiness::Inhabited},
        {"an undecided attribute", attribute("a", undecided, false), Kind::Other, ir::Emptiness::Undecided},
        {"a plain class in the int slot", requiring({cls_A()}), Kind::Int, ir::Emptiness::Undecided},
        {"an int subclass in the int slot", requiring({cls_I()}), Kind::Int, ir::Emptiness::Inhabited},
        {"a plain class in the None slot", requiring({cls_A()}), Kind::None, ir::Emptiness::Undecided},
        {"an attribute of None", has("a"), Kind::None, ir::Emptiness::Undecided},
        {"an attribute of a bool", has("a"), Kind::Bool, ir::Emptiness::Undecided},
        {"an attribute of an int", has("a"), Kind::Int, ir::Emptiness::Inhabited},
    };
    for (const Case& c : cases) EXPECT_EQ(condition_verdict(c.condition, c.slot), c.expected) << c.name;
    Condition exact_with_attribute = has("a");
    exact_with_attribute.classes.push_back(exact_type_record(Kind::Str));
    EXPECT_EQ(condition_verdict(exact_with_attribute, Kind::Str), ir::Emptiness::Undecided)
        << "an exact str has no attributes of its own";
}

TEST(Conditions, PruningSimplifiesDropsAndSorts) {
    Condition implied = requiring({cls_A(), cls_B()}, {cls_A(), cls_IA()});
    implied.attributes.push_back(AttributeEntry{"free", AttributeRequirement{SharedDescr(), true}});
    const auto pruned = prune_conditions({requiring({cls_B()}), implied, requiring({cls_B()}, {cls_A()})});
    ASSERT_TRUE(pruned);
    // B implies A; excluding A... would exclude B: the second and third
    // conditions are unsatisfiable once simplified, the first stays.
    ASSERT_EQ(pruned->size(), 1u);
    EXPECT_TRUE(condition_equal((*pruned)[0], requiring({cls_B()})));
    const auto simplified = prune_conditions({requiring({cls_A(), cls_B()}, {cls_I(), cls_IA()})});
    ASSERT_TRUE(simplified);
    ASSERT_EQ(simplified->size(), 1u);
    EXPECT_TRUE(condition_equal((*simplified)[0], requiring({cls_B()}, {cls_I()})));
}

// --- emptiness ---------------------------------------------------------------------

TEST(Emptiness, LinesSlotsAndDescriptors) {
    EXPECT_EQ(descr_verdict(*empty_descr()), Emptiness::Empty);
    EXPECT_EQ(descr_verdict(descr_top()), Emptiness::Inhabited);
    EXPECT_TRUE(line_is_empty(line(int_set_all(), conditions({}))));
    EXPECT_TRUE(line_is_empty(line(int_set_all(), conditions({Condition{}}, true))));
    EXPECT_TRUE(line_is_empty(line(float_set_empty(), conditions({requiring({cls_A(), record(7, {7}, Kind::Other)})}))));
    EXPECT_FALSE(line_is_empty(line(int_set_all(), conditions({requiring({cls_A()})}))));
    EXPECT_EQ(slot_verdict(with_slot(Kind::Int, {line(int_set_all(), conditions({requiring({cls_A()})}))}).slot(Kind::Int), Kind::Int),
              Emptiness::Undecided);
    EXPECT_EQ(slot_verdict(with_slot(Kind::Other, {line(Presence{true}, conditions({requiring({cls_A()})}))}).slot(Kind::Other),
                            Kind::Other),
              Emptiness::Inhabited);
    EXPECT_EQ(slot_verdict(KindSlot{{}, true}, Kind::None), Emptiness::Inhabited);
    EXPECT_EQ(slot_verdict(KindSlot{{}, true}, Kind::Other), Emptiness::Inhabited);
}

TEST(Emptiness, WithNoBudgetANegatedAttributeListIsNotProvedEmpty) {
    WorkWindow window(0);
    EXPECT_FALSE(line_is_empty(line(Presence{true}, conditions({has("a")}, true))));
    EXPECT_TRUE(line_is_empty(line(Presence{false}, conditions({has("a")}, true))));
    const Descr negated = with_slot(Kind::Int, {line(int_set_singleton(1))}, true);
    EXPECT_EQ(descr_verdict(negated), Emptiness::Undecided) << "its explicit form needs units";
}

TEST(Emptiness, OtherKindIsDecidedFirstButAnsweredLast) {
    {
        // Answered last: Kind::Other inhabited, Kind::Int negated; the Int
        // slot is still made explicit (units spent) before the answer.
        Descr d = with_slot(Kind::Int, {line(int_set_singleton(1))}, true);
        d.slot(Kind::Other).lines.push_back(universe_line(Kind::Other));
        WorkWindow window(100);
        EXPECT_EQ(descr_verdict(d), Emptiness::Inhabited);
        EXPECT_LT(work_budget(), 100u);
    }
    // Decided first: a negated Other slot (made explicit, units spent) and
    // every int.  The Int slot is inhabited for free, but the Other slot's
    // units are spent before it answers.
    Descr d = with_slot(Kind::Other, {line(Presence{true}, conditions({requiring({cls_A()})}))}, true);
    d.slot(Kind::Int).lines.push_back(universe_line(Kind::Int));
    std::uint64_t other_units = 0;
    {
        WorkWindow window(100);
        EXPECT_EQ(slot_verdict(d.slot(Kind::Other), Kind::Other), Emptiness::Inhabited);
        other_units = 100 - work_budget();
    }
    ASSERT_GT(other_units, 0u) << "the negated Other slot takes units";
    WorkWindow window(100);
    EXPECT_EQ(descr_verdict(d), Emptiness::Inhabited);
    EXPECT_EQ(work_budget(), 100 - other_units) << "the Other slot decided before the Int slot answered";
}

// --- literals admit their exact type only ------------------------------------------

TEST(ExactLiterals, ASubclassNeverMeetsALiteralButItsComplementHoldsSubclasses) {
    const Descr one = with_slot(Kind::Int, {line(int_set_singleton(1), conditions({requiring({exact_type_record(Kind::Int)})}))});
    const Descr my_int = with_slot(Kind::Int, {line(int_set_all(), conditions({requiring({cls_I()})}))});
    const OptDescr both = descr_combine(one, my_int, SetOp::Intersection);
    ASSERT_TRUE(both);
    EXPECT_EQ(descr_verdict(*both), Emptiness::Empty);
    // MyInt within Literal[1]: refuted (MyInt(1) is no member).
    const OptDescr outside = descr_combine(my_int, descr_complement(one), SetOp::Intersection);
    ASSERT_TRUE(outside);
    EXPECT_EQ(descr_verdict(*outside), Emptiness::Inhabited);
    // Literal[1] within int: proved.
    const OptDescr inside = descr_combine(one, descr_complement(descr_of_kind(Kind::Int)), SetOp::Intersection);
    ASSERT_TRUE(inside);
    EXPECT_EQ(descr_verdict(*inside), Emptiness::Empty);
}

}  // namespace
}  // namespace tessaron::descr
