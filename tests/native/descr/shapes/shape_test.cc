// Mapping shapes against the reference dict evaluator: complement, meet,
// normal form and the atom operations agree with membership dict by dict;
// emptiness answers "empty" only when no dict is a member and "inhabited"
// only when one is; the tables of emptiness cases, the caps and the budget.
#include <gtest/gtest.h>

#include <random>

#include "core/descr/budget.h"
#include "core/descr/decision_memo.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/shapes/shape_algebra.h"
#include "core/descr/shapes/shape_emptiness.h"
#include "descr/dict_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;
using ir::Emptiness;

std::vector<Value> keys_for_algebra() {
    std::vector<Value> keys;
    for (const LiteralKey& k : {none_key(), bool_key(false), bool_key(true), int_key(0), int_key(1), int_key(2),
                                str_key("a"), str_key("b"), str_key("z"), bytes_key("a")})
        keys.push_back(key_value(k));
    keys.push_back(float_key_value(0.5));
    keys.push_back(tuple_key_value());
    keys.push_back(object_key_value());
    return keys;
}

const std::vector<Value>& algebra_dicts() {
    static const std::vector<Value> dicts = dicts_over(
        keys_for_algebra(), {none_item(), int_item(0), str_item("a"), bool_item(true), dict_of({})}, 2);
    return dicts;
}

std::string key_text(const LiteralKey& k) { return key_value(k).name; }

// The shape in words; values by their position in `pool` ("v3"), "any"
// for none, "?" for one outside it.
std::string describe(const Shape& s, const std::vector<SharedDescr>& pool = {}) {
    auto value = [&](const SharedDescr& v) -> std::string {
        if (!v) return "any";
        for (std::size_t i = 0; i < pool.size(); ++i)
            if (pool[i].same(v)) return "v" + std::to_string(i);
        return "?";
    };
    std::string out = "{";
    for (const auto& [k, r] : s.declared_keys)
        out += key_text(k) + (r.optional ? "?" : "") + ": " + value(r.value) + ", ";
    out += "classes";
    for (const KeyRequirement& r : s.key_classes) out += " " + value(r.value);
    for (const ExistentialEntry& e : s.existentials) {
        out += ", exists class " + std::to_string(key_class_slot(e.key_class)) + " " + value(e.value) + " not in [";
        for (const LiteralKey& k : e.excluded_keys) out += key_text(k) + " ";
        out += "]";
    }
    return out + "}";
}

TEST(ShapeAlgebra, ComplementAgreesWithMembership) {
    std::mt19937 rng(19);
    const auto pool = value_pool(true);
    for (int round = 0; round < 200; ++round) {
        const Shape s = random_shape(rng, pool);
        const std::vector<Shape> outside = shape_complement(s);
        const auto normal = normalize_shapes(outside);
        ASSERT_TRUE(normal) << "round " << round;
        for (const Value& d : algebra_dicts()) {
            const bool in = shape_contains(s, d);
            ASSERT_EQ(shape_list_contains(outside, d), !in) << "round " << round << ", " << describe(s) << ", " << d.name;
            ASSERT_EQ(shape_list_contains(*normal, d), !in) << "normalised, round " << round << ", " << d.name;
        }
    }
}

TEST(ShapeAlgebra, MeetAndNormalFormAgreeWithMembership) {
    std::mt19937 rng(23);
    const auto pool = value_pool(true);
    for (int round = 0; round < 150; ++round) {
        std::vector<Shape> a, b;
        for (std::size_t i = 0, n = 1 + rng() % 2; i < n; ++i) a.push_back(random_shape(rng, pool));
        for (std::size_t i = 0, n = 1 + rng() % 2; i < n; ++i) b.push_back(random_shape(rng, pool));
        const auto met = meet_shape_lists(a, b);
        const auto normal = normalize_shapes(a);
        ASSERT_TRUE(met) << "round " << round;
        ASSERT_TRUE(normal) << "round " << round;
        for (std::size_t i = 1; i < met->size(); ++i)
            ASSERT_TRUE(cmp_shape((*met)[i - 1], (*met)[i]) < 0) << "the meet is sorted and free of duplicates";
        for (const Value& d : algebra_dicts()) {
            const bool in_a = shape_list_contains(a, d), in_b = shape_list_contains(b, d);
            ASSERT_EQ(shape_list_contains(*met, d), in_a && in_b) << "round " << round << ", " << d.name;
            ASSERT_EQ(shape_list_contains(*normal, d), in_a) << "round " << round << ", " << d.name;
        }
    }
}

TEST(ShapeAlgebra, AtomOperationsAgreeWithMembership) {
    std::mt19937 rng(29);
    const auto pool = value_pool(false);
    // Negated atoms of at most one shape, as complements make them: the
    // explicit forms of longer ones soon pass the cap of 256 shapes.
    auto random_atom = [&] {
        Shapes atom;
        atom.negated = rng() % 2 == 0;
        for (std::size_t i = 0, n = rng() % (atom.negated ? 2 : 3); i < n; ++i)
            atom.shapes.push_back(random_shape(rng, pool, {2, 1}));
        return atom;
    };
    for (int round = 0; round < 120; ++round) {
        const Shapes a = random_atom(), b = random_atom();
        const auto met = meet_shape_slots(a, b);
        const auto joined = join_shape_slots(a, b);
        const Shapes outside = shape_list_complement(a);
        const auto explicit_a = positive_shapes(a);
        ASSERT_TRUE(met && joined && explicit_a) << "round " << round;
        EXPECT_FALSE(met->negated);
        for (const Value& d : algebra_dicts()) {
            const bool in_a = shapes_contain(a, d), in_b = shapes_contain(b, d);
            ASSERT_EQ(shapes_contain(*met, d), in_a && in_b) << "meet, round " << round << ", " << d.name;
            ASSERT_EQ(shapes_contain(*joined, d), in_a || in_b) << "join, round " << round << ", " << d.name;
            ASSERT_EQ(shapes_contain(outside, d), !in_a) << "complement, round " << round << ", " << d.name;
            ASSERT_EQ(shape_list_contains(*explicit_a, d), in_a) << "explicit, round " << round << ", " << d.name;
        }
    }
}

// Dicts of up to three keys over keys the generated shapes declare, and
// over fresh keys of the classes their entries name: enough to hold a
// member of every shape with at most three keys that must be there.
const std::vector<Value>& emptiness_dicts() {
    static const std::vector<Value> dicts = [] {
        std::vector<Value> keys;
        for (const LiteralKey& k : {none_key(), bool_key(false), bool_key(true), int_key(0), int_key(1), int_key(2),
                                    int_key(3), str_key("a"), str_key("b"), str_key("y"), str_key("z"), bytes_key("a")})
            keys.push_back(key_value(k));
        keys.push_back(float_key_value(0.5));
        return dicts_over(keys, {none_item(), int_item(0), int_item(1), str_item("a"), bool_item(true)}, 3);
    }();
    return dicts;
}

TEST(ShapeEmptiness, EmptyHasNoMemberAndInhabitedHasOne) {
    std::mt19937 rng(31);
    const auto pool = value_pool(false);
    int inhabited = 0, empty = 0;
    for (int round = 0; round < 400; ++round) {
        const Shape s = random_shape(rng, pool, {3, 3, {KeyClass::None, KeyClass::Bool, KeyClass::Int, KeyClass::Str}});
        std::size_t needed = s.existentials.size();
        for (const auto& entry : s.declared_keys) needed += entry.second.optional ? 0 : 1;
        const Emptiness e = shape_verdict(s);
        const Value* member = nullptr;
        for (const Value& d : emptiness_dicts())
            if (shape_contains(s, d)) {
                member = &d;
                break;
            }
        if (e == Emptiness::Empty) {
            ++empty;
            ASSERT_EQ(member, nullptr) << "round " << round << ": proved empty, but holds " << member->name;
        }
        if (e == Emptiness::Inhabited && needed <= 3) {
            ++inhabited;
            ASSERT_NE(member, nullptr) << "round " << round << ": proved inhabited, but no dict of the universe is a member: "
                                       << describe(s, pool);
        }
    }
    EXPECT_GT(empty, 20) << "the generator reaches both answers";
    EXPECT_GT(inhabited, 20) << "the generator reaches both answers";
}

SharedDescr kind(Kind k) { return SharedDescr::make(descr_of_kind(k)); }
SharedDescr int_or_str() {
    Descr d = descr_of_kind(Kind::Int);
    d.slot(Kind::Str) = descr_of_kind(Kind::Str).slot(Kind::Str);
    return SharedDescr::make(d);
}
SharedDescr outside(const SharedDescr& v) { return complement_shared_descr(v); }
KeyRequirement required(SharedDescr v) { return KeyRequirement{std::move(v), false}; }
KeyRequirement optional(SharedDescr v) { return KeyRequirement{std::move(v), true}; }
ExistentialEntry entry(KeyClass key_class, SharedDescr v, std::vector<LiteralKey> excluded = {}) {
    return ExistentialEntry{key_class, std::move(v), std::move(excluded)};
}

TEST(ShapeEmptiness, Cases) {
    const SharedDescr any;
    const SharedDescr none = empty_descr();
    struct Case {
        const char* name;
        Shape shape;
        Emptiness expected;
    };
    const Case cases[] = {
        {"the universe", universe_shape(), Emptiness::Inhabited},
        {"a required key with no value", shape_of({{str_key("a"), required(none)}}), Emptiness::Empty},
        {"an optional key with no value: the empty dict", shape_of({{str_key("a"), optional(none)}}),
         Emptiness::Inhabited},
        {"True and 1 both required", shape_of({{bool_key(true), required(any)}, {int_key(1), required(any)}}),
         Emptiness::Empty},
        {"False and 0 both required", shape_of({{bool_key(false), required(any)}, {int_key(0), required(any)}}),
         Emptiness::Empty},
        {"True and 2 both required", shape_of({{bool_key(true), required(any)}, {int_key(2), required(any)}}),
         Emptiness::Inhabited},
        {"True optional beside 1 required", shape_of({{bool_key(true), optional(any)}, {int_key(1), required(any)}}),
         Emptiness::Inhabited},
        {"an entry of the None class with None excluded", shape_of({}, {entry(KeyClass::None, any, {none_key()})}, any),
         Emptiness::Empty},
        {"an entry of the None class", shape_of({}, {entry(KeyClass::None, any)}, any), Emptiness::Inhabited},
        {"an entry whose class admits no value", shape_of({}, {entry(KeyClass::Str, any)}), Emptiness::Empty},
        {"an entry served by a declared key", shape_of({{str_key("a"), optional(kind(Kind::Int))}}, {entry(KeyClass::Str, kind(Kind::Int))}),
         Emptiness::Inhabited},
        {"an entry that no declared key's value serves", shape_of({{str_key("a"), optional(kind(Kind::Str))}}, {entry(KeyClass::Str, kind(Kind::Int))}),
         Emptiness::Empty},
        {"an entry served by a fresh key", shape_of({{str_key("a"), optional(none)}}, {entry(KeyClass::Str, kind(Kind::Int))}, any),
         Emptiness::Inhabited},
        // One key, two entries: the key must hold a value in both.
        {"closed record, two entries on one key",
         shape_of({{str_key("a"), required(int_or_str())}}, {entry(KeyClass::Str, outside(kind(Kind::Int))), entry(KeyClass::Str, outside(kind(Kind::Str)))}),
         Emptiness::Empty},
        {"closed record, two entries one key can serve at once",
         shape_of({{str_key("a"), required(int_or_str())}}, {entry(KeyClass::Str, outside(kind(Kind::Str))), entry(KeyClass::Str, kind(Kind::Int))}),
         Emptiness::Inhabited},
        {"the one None key for an int and a str", shape_of({}, {entry(KeyClass::None, kind(Kind::Int)), entry(KeyClass::None, kind(Kind::Str))}, any),
         Emptiness::Empty},
        // A declared key is never an undeclared witness.
        {"None declared absent, an entry of the None class",
         shape_of({{none_key(), optional(none)}}, {entry(KeyClass::None, any)}, any), Emptiness::Empty},
        // True and 1 are one key to a dict.
        {"a bool entry beside a required 1, False excluded",
         shape_of({{int_key(1), required(any)}}, {entry(KeyClass::Bool, any, {bool_key(false)})}, any), Emptiness::Empty},
        {"a bool entry beside a required 1: False serves",
         shape_of({{int_key(1), required(any)}}, {entry(KeyClass::Bool, any)}, any), Emptiness::Inhabited},
        {"a bool entry beside a required 0 and 1", shape_of({{int_key(0), required(any)}, {int_key(1), required(any)}},
                                                             {entry(KeyClass::Bool, any)}, any),
         Emptiness::Empty},
        {"True declared first beside a required 1: False still serves",
         shape_of({{bool_key(true), optional(any)}, {int_key(1), required(any)}}, {entry(KeyClass::Bool, any)}, any),
         Emptiness::Inhabited},
        {"an int entry that only 1 could serve, True required",
         shape_of({{bool_key(true), required(any)}, {int_key(1), optional(any)}}, {entry(KeyClass::Int, any)}), Emptiness::Empty},
        {"a forced True beside a required 1",
         shape_of({{int_key(1), required(any)}, {bool_key(false), optional(none)}}, {entry(KeyClass::Bool, any)}, any),
         Emptiness::Empty},
    };
    for (const Case& c : cases) EXPECT_EQ(shape_verdict(c.shape), c.expected) << c.name;
}

TEST(ShapeEmptiness, AnUndecidedValueIsNeverEmptyNorInhabited) {
    // An int line restricted to instances of a plain class: not decided in
    // the int slot.
    const SharedDescr undecided =
        SharedDescr::make(with_slot(Kind::Int, {line(int_set_all(), conditions({requiring({cls_A()})}))}));
    ASSERT_EQ(descr_verdict(*undecided), Emptiness::Undecided);
    EXPECT_EQ(shape_verdict(shape_of({{str_key("a"), required(undecided)}})), Emptiness::Undecided);
    EXPECT_EQ(shape_verdict(shape_of({}, {entry(KeyClass::Str, undecided)}, SharedDescr{})), Emptiness::Undecided);
    // Two entries on the one None key, one undecided: the key is forced by
    // the first and the second's value is not proved empty.
    EXPECT_EQ(shape_verdict(shape_of({}, {entry(KeyClass::None, kind(Kind::Int)), entry(KeyClass::None, undecided)}, SharedDescr{})),
              Emptiness::Undecided);
}

TEST(ShapeEmptiness, AnExhaustedBudgetNeverProvesEmptiness) {
    const Shape s = shape_of({{str_key("a"), required(int_or_str())}}, {entry(KeyClass::Str, outside(kind(Kind::Int))), entry(KeyClass::Str, kind(Kind::Str))});
    WorkWindow window(0);
    EXPECT_NE(shape_verdict(s), Emptiness::Empty);
}

// Required keys, each holding its own object of an inhabited value.
Shape required_keys(int n) {
    std::vector<std::pair<LiteralKey, KeyRequirement>> keys;
    for (int i = 0; i < n; ++i) keys.push_back({int_key(i), required(kind(Kind::Int))});
    return shape_of(keys);
}

TEST(ShapeEmptiness, TheValuesWeighedAreChargedToTheBudget) {
    // 200 values to weigh: a window of two units pays for 128 of them, the
    // rest are refused and leave the shape undecided, never empty.
    const Shape s = required_keys(200);
    ASSERT_EQ(shape_verdict(s), Emptiness::Inhabited) << "unbounded, every value is weighed";
    // Small steps taken before the window do not count in it.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(take_small_step());
    {
        WorkWindow window(2);
        const std::uint64_t before = shape_values_weighed();
        EXPECT_EQ(shape_verdict(s), Emptiness::Undecided);
        EXPECT_EQ(work_budget(), 0u);
        EXPECT_EQ(shape_values_weighed() - before, 2 * kSmallStepsPerUnit);
    }
    {
        WorkWindow window(0);
        EXPECT_EQ(shape_verdict(required_keys(1)), Emptiness::Undecided) << "no step left for the one value";
    }
}

TEST(ShapeEmptiness, ADecisionWeighsEachValueOnce) {
    const Shape s = required_keys(3);
    const std::uint64_t before = shape_values_weighed();
    {
        DecisionMemoScope scope;
        EXPECT_EQ(shape_verdict(s), Emptiness::Inhabited);
        EXPECT_EQ(shape_verdict(s), Emptiness::Inhabited);
        EXPECT_EQ(shape_values_weighed() - before, 3u) << "the second search finds the verdicts proved";
    }
    EXPECT_EQ(shape_verdict(s), Emptiness::Inhabited);
    EXPECT_EQ(shape_values_weighed() - before, 6u) << "outside a decision nothing is remembered";
}

TEST(ShapeEmptiness, AnUndecidedVerdictIsAskedAgain) {
    // The ints below 0 as a negated slot: its verdict needs the slot made
    // explicit, which one unit does not pay for.  Undecided then, proved
    // once there is budget: the decision keeps proofs only.
    const SharedDescr negatives = SharedDescr::make(with_slot(Kind::Int, {line(ints(0, std::nullopt))}, true));
    const Shape s = shape_of({{str_key("a"), required(negatives)}});
    DecisionMemoScope scope;
    {
        WorkWindow window(1);
        EXPECT_EQ(shape_verdict(s), Emptiness::Undecided);
    }
    WorkWindow window(100);
    EXPECT_EQ(shape_verdict(s), Emptiness::Inhabited);
}

TEST(ShapeAlgebra, TheOrderOfShapesIsChargedByTheValuesItWalks) {
    // Shapes equal but for the objects of their values: sorting and
    // deduplicating them walks pairs of values, outside a decision every
    // time, each walk a small step; nothing here is weighed.
    std::vector<Shape> shapes;
    for (int i = 0; i < 200; ++i) shapes.push_back(shape_of({{str_key("a"), optional(kind(Kind::Int))}}, {}, kind(Kind::Str)));
    WorkWindow window(1000);
    const std::uint64_t walks = descr_comparisons();
    const std::uint64_t weighed = shape_values_weighed();
    const auto normal = normalize_shapes(shapes);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->size(), 1u);
    EXPECT_EQ(shape_values_weighed(), weighed);
    const std::uint64_t walked = descr_comparisons() - walks;
    EXPECT_GE(walked, 2 * kSmallStepsPerUnit);
    EXPECT_LE(1000 - work_budget(), walked / kSmallStepsPerUnit + 1);
    EXPECT_GE(1000 - work_budget(), walked / kSmallStepsPerUnit - 1);
}

TEST(ShapeAlgebra, KeysAreOrderedByVariantThenPayload) {
    const std::vector<LiteralKey> sorted = {none_key(), bool_key(false), bool_key(true), int_key(-1), int_key(0),
                                            str_key("a"), bytes_key("a"), str_key("ab"), str_key("b")};
    for (std::size_t i = 0; i + 1 < sorted.size(); ++i)
        EXPECT_TRUE(cmp_literal_key(sorted[i], sorted[i + 1]) < 0) << key_text(sorted[i]);
}

TEST(ShapeAlgebra, EdgeCases) {
    // The universe's complement is nine shapes that normalise to none.
    const auto outside_all = shape_complement(universe_shape());
    EXPECT_EQ(outside_all.size(), kKeyClassCount);
    EXPECT_TRUE(normalize_shapes(outside_all)->empty());
    EXPECT_TRUE(positive_shapes(Shapes{{universe_shape()}, true})->empty());
    EXPECT_EQ(positive_shapes(Shapes{{}, true})->size(), 1u);
    // A meet with the empty list takes no unit.
    {
        WorkWindow window(0);
        const auto met = meet_shape_lists({universe_shape()}, {});
        ASSERT_TRUE(met);
        EXPECT_TRUE(met->empty());
        EXPECT_FALSE(meet_shape_lists({universe_shape()}, {universe_shape()})) << "a pair needs a unit";
    }
    // A key declared with its class's requirement is dropped.
    const SharedDescr ints = kind(Kind::Int);
    Shape s = shape_of({{str_key("a"), optional(ints)}}, {}, ints);
    const auto normal = normalize_shapes({s});
    ASSERT_EQ(normal->size(), 1u);
    EXPECT_TRUE((*normal)[0].declared_keys.empty());
    // Required "a" met with a closed shape that does not declare it: empty;
    // optional "a": only the dicts without "a".
    const Shape closed = shape_of({});
    EXPECT_TRUE(meet_shape_lists({shape_of({{str_key("a"), required(ints)}})}, {closed})->empty());
    const auto without = meet_shape_lists({shape_of({{str_key("a"), optional(ints)}})}, {closed});
    ASSERT_EQ(without->size(), 1u);
    EXPECT_TRUE(shape_contains((*without)[0], dict_of({})));
    EXPECT_FALSE(shape_contains((*without)[0], dict_of({{str_item("a"), int_item(0)}})));
}

TEST(ShapeAlgebra, TheCaps) {
    // 256 distinct inhabited shapes stay; 257 fail.
    std::vector<Shape> shapes;
    for (int i = 0; i < 257; ++i) shapes.push_back(shape_of({{int_key(i), required(SharedDescr{})}}, {}, SharedDescr{}));
    EXPECT_FALSE(normalize_shapes(shapes));
    shapes.pop_back();
    const auto kept = normalize_shapes(shapes);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size(), 256u);
    // A meet that runs out of budget fails instead of answering part of it.
    std::vector<Shape> many;
    for (int i = 0; i < 10; ++i) many.push_back(shape_of({{int_key(i), required(SharedDescr{})}}, {}, SharedDescr{}));
    WorkWindow window(50);
    EXPECT_FALSE(meet_shape_lists(many, many));
}

TEST(ReferenceEvaluator, DescriptorsWithDictsAgreeWithMembership) {
    std::mt19937 rng(37);
    const auto pool = value_pool(false);
    std::vector<Value> values = value_universe();
    for (const Value& d : algebra_dicts())
        if (d.items.size() <= 1 || (rng() % 8) == 0) values.push_back(d);
    for (int round = 0; round < 100; ++round) {
        const Descr a = random_dict_descr(rng, pool);
        const Descr b = random_dict_descr(rng, pool);
        const OptDescr joined = descr_combine(a, b, SetOp::Union);
        const OptDescr met = descr_combine(a, b, SetOp::Intersection);
        const Descr outside_a = descr_complement(a);
        ASSERT_TRUE(joined && met) << "round " << round;
        for (const Value& v : values) {
            const bool in_a = contains(a, v), in_b = contains(b, v);
            ASSERT_EQ(contains(*joined, v), in_a || in_b) << "union, round " << round << ", " << v.name;
            ASSERT_EQ(contains(*met, v), in_a && in_b) << "intersection, round " << round << ", " << v.name;
            ASSERT_EQ(contains(outside_a, v), !in_a) << "complement, round " << round << ", " << v.name;
        }
        const OptDescr none = descr_combine(a, outside_a, SetOp::Intersection);
        ASSERT_TRUE(none);
        EXPECT_NE(descr_verdict(*none), Emptiness::Inhabited) << "round " << round;
        if (descr_verdict(*met) == Emptiness::Empty) {
            for (const Value& v : values) ASSERT_FALSE(contains(*met, v)) << "proved empty, holds " << v.name;
        }
    }
}

}  // namespace
}  // namespace tessaron::descr
