// The descriptor model: the work budget and its windows, the universes and
// the shared empty descriptor, orders and equalities, container atoms.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "core/descr/lines/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/lines/order.h"
#include "core/descr/values/text_product.h"
#include "core/descr/lines/universe.h"
#include "descr/descr_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;
using ir::Emptiness;

// --- budget ------------------------------------------------------------------------

TEST(WorkBudget, AFreshThreadIsUnboundedAndWindowsRestoreOnEveryExit) {
    std::thread([] {
        EXPECT_EQ(work_budget(), kUnboundedWork);
        {
            WorkWindow outer(4096);
            EXPECT_EQ(work_budget(), 4096u);
            EXPECT_TRUE(take_unit());
            {
                WorkWindow inner(2);
                EXPECT_TRUE(take_unit());
                EXPECT_TRUE(take_unit());
                EXPECT_FALSE(take_unit()) << "a counter at 0 refuses a failing unit";
                take_saturating_unit();
                EXPECT_EQ(work_budget(), 0u) << "a saturating unit never goes below 0";
            }
            EXPECT_EQ(work_budget(), 4095u) << "the inner window put the outer count back";
            try {
                WorkWindow thrown(7);
                throw std::runtime_error("unwinding");
            } catch (const std::runtime_error&) {
            }
            EXPECT_EQ(work_budget(), 4095u) << "unwinding restores as well";
        }
        EXPECT_EQ(work_budget(), kUnboundedWork);
    }).join();
}

TEST(WorkBudget, SeveralUnitsAtOnceSpendWhatIsLeftWhenTheyCannotBePaid) {
    WorkWindow window(10);
    EXPECT_TRUE(take_units(4));
    EXPECT_EQ(work_budget(), 6u);
    EXPECT_FALSE(take_units(7));
    EXPECT_EQ(work_budget(), 0u);
}

TEST(WorkBudget, TextProductsAreChargedByTheirWork) {
    // Unicode word characters (hundreds of states, ~100 classes), at most two.
    const SharedTextAutomaton at_most = max_length_automaton(2, TextKind::Str);
    const SharedTextAutomaton at_least = str_pattern("\\w+");
    // The units the product takes, its minimisation included.
    std::uint64_t units = 0;
    {
        constexpr std::uint64_t kPlenty = std::uint64_t{1} << 30;
        WorkWindow window(kPlenty);
        ASSERT_TRUE(combine_atoms(Atom(at_most), Atom(at_least), SetOp::Intersection));
        units = kPlenty - work_budget();
    }
    ASSERT_GE(units, 2u) << "a product of many rows";
    {
        WorkWindow window(units + 5);
        EXPECT_TRUE(combine_atoms(Atom(at_most), Atom(at_least), SetOp::Intersection));
        EXPECT_EQ(work_budget(), 5u) << "one unit per " << kTextCellsPerUnit << " cells";
    }
    {
        WorkWindow window(units - 1);
        EXPECT_FALSE(combine_atoms(Atom(at_most), Atom(at_least), SetOp::Intersection))
            << "a product that needs more units than are left fails";
        EXPECT_EQ(work_budget(), 0u);
    }
    {
        WorkWindow window(0);
        EXPECT_TRUE(combine_atoms(Atom(text("a")), Atom(text("b")), SetOp::Union)) << "a small product is free";
    }
}

// --- universes -----------------------------------------------------------------

TEST(Universes, EachKindTopAdmitsEveryValueOfItsKind) {
    const double inf = std::numeric_limits<double>::infinity();
    const FloatSet f = std::get<FloatSet>(kind_top(Kind::Float));
    for (double x : {std::nan(""), inf, -inf, -0.0, 0.0, 5e-324}) EXPECT_TRUE(float_set_contains(f, x)) << x;
    EXPECT_EQ(std::get<TruthMask>(kind_top(Kind::Bool)).mask, 3);
    EXPECT_TRUE(std::get<SharedTextAutomaton>(kind_top(Kind::Str)).same(str_universe()));
    EXPECT_TRUE(std::get<SharedTextAutomaton>(kind_top(Kind::Str)).same(std::get<SharedTextAutomaton>(kind_top(Kind::Str))));
    EXPECT_TRUE(std::get<SharedTextAutomaton>(kind_top(Kind::Bytes)).same(bytes_universe()));
    EXPECT_TRUE(std::get<Presence>(universe_atom(Kind::Other)).flag);
    for (const Kind kind : ir::kKinds) {
        if (kind == Kind::Other) continue;
        EXPECT_EQ(atom_verdict(kind_top(kind)), Emptiness::Inhabited) << ir::kind_slot(kind);
    }
}

TEST(Universes, TheEmptyDescriptorIsOneObject) {
    const SharedDescr a = empty_descr();
    const SharedDescr b = empty_descr();
    EXPECT_TRUE(a.same(b));
    for (const Kind k : ir::kKinds) {
        const KindSlot& s = a->slot(k);
        EXPECT_TRUE(s.lines.empty());
        EXPECT_FALSE(s.negated);
    }
}

// --- orders and equalities -----------------------------------------------------

TEST(Orders, ListsPrefixesFlagsAndAbsentDescriptors) {
    const Line l = line(int_set_singleton(1));
    const Line m = line(int_set_singleton(2));
    const Descr one = with_slot(Kind::Int, {l});
    const Descr two = with_slot(Kind::Int, {l, m});
    EXPECT_TRUE(cmp_descr(one, two) < 0) << "a prefix sorts first";
    EXPECT_TRUE(cmp_descr(with_slot(Kind::Int, {l}), with_slot(Kind::Int, {l}, true)) < 0) << "the clear flag first";
    EXPECT_TRUE(cmp_optional_descr(SharedDescr(), empty_descr()) < 0) << "absent before any present descriptor";
    EXPECT_TRUE(cmp_optional_descr(SharedDescr::make(one), SharedDescr::make(one)) == 0);
    EXPECT_TRUE(shared_descr_equal(SharedDescr::make(one), SharedDescr::make(one)));
    EXPECT_FALSE(shared_descr_equal(SharedDescr::make(one), SharedDescr::make(two)));
    // Atom variants order first.
    EXPECT_TRUE(cmp_atom(Presence{true}, TruthMask{0}) < 0);
    EXPECT_TRUE(cmp_atom(TruthMask{3}, int_set_empty()) < 0);
}

TEST(Orders, OneIntegerSetAtTwoModuliIsEqualButOrderedApart) {
    IntSet at4 = multiples(4);
    at4.residues[2] = interval_set_all();  // the evens at modulus 4
    const Atom a = multiples(2), b = at4;
    EXPECT_TRUE(atom_equal(a, b));
    EXPECT_TRUE(cmp_atom(a, b) < 0);
}

// --- normal forms: each check accepts what builders make and rejects each broken rule

TEST(NormalForms, ConditionsKeepSortedUniqueClassesAndAttributes) {
    auto with_classes = [](std::vector<ClassRecord> classes, std::vector<ClassRecord> excluded = {}) {
        Condition c;
        c.classes = std::move(classes);
        c.excluded_classes = std::move(excluded);
        return c;
    };
    auto with_attributes = [](std::vector<std::string> names) {
        Condition c;
        for (std::string& n : names) c.attributes.push_back(AttributeEntry{std::move(n), AttributeRequirement{}});
        return c;
    };
    struct Case {
        const char* name;
        Condition condition;
        bool normal;
    };
    const Case cases[] = {
        {"nothing asked", Condition{}, true},
        {"classes in id order", requiring({cls_I(), cls_A()}, {cls_B()}), true},
        {"attributes in name order", with_attributes({"a", "b"}), true},
        {"classes out of order", with_classes({cls_B(), cls_A()}), false},
        {"a class twice", with_classes({cls_A(), cls_A()}), false},
        {"excluded classes out of order", with_classes({}, {cls_B(), cls_A()}), false},
        {"a class not among its ancestors", with_classes({record(7, {0}, Kind::Other)}), false},
        {"unsorted ancestors", with_classes({record(7, {7, 0}, Kind::Other)}), false},
        {"attributes out of order", with_attributes({"b", "a"}), false},
        {"an attribute twice", with_attributes({"a", "a"}), false},
    };
    for (const Case& c : cases) EXPECT_EQ(condition_is_normal(c.condition), c.normal) << c.name;
}

// Two labels, `low` before `high` in the descriptor order.
struct OrderedLabels {
    SharedDescr low, high;
};

OrderedLabels ordered_labels() {
    SharedDescr a = SharedDescr::make(descr_of_kind(Kind::Int)), b = SharedDescr::make(descr_of_kind(Kind::Str));
    if (cmp_optional_descr(a, b) > 0) std::swap(a, b);
    return {a, b};
}

TEST(NormalForms, SequenceAutomataAreSortedNumberedBreadthFirstAndReachable) {
    const auto [low, high] = ordered_labels();
    auto to = [](std::uint32_t target, SharedDescr label = {}) { return Transition{std::move(label), target}; };
    using States = std::vector<std::vector<Transition>>;
    struct Case {
        const char* name;
        SequenceAutomaton automaton;
        bool normal;
    };
    const Case cases[] = {
        {"the universe", sequence_universe(), true},
        {"no sequence", sequence_complement(sequence_universe()), true},
        {"two labels and the rest", {States{{to(1, low), to(2, high), to(2)}, {to(2)}, {to(2)}}, {0, 1, 0}}, true},
        {"present labels covering every element", {States{{to(1, low), to(0, high)}, {to(1)}}, {0, 1}}, true},
        {"no state", {States{}, {}}, false},
        {"a target past the last state", {States{{to(1)}}, {1}}, false},
        {"a state without its flag", {States{{to(0)}, {to(1)}}, {1}}, false},
        {"a flag of 2", {States{{to(0)}}, {2}}, false},
        {"a state without a transition", {States{{to(1)}, {}}, {0, 1}}, false},
        {"unsorted transitions", {States{{to(1, high), to(2, low), to(2)}, {to(2)}, {to(2)}}, {0, 1, 0}}, false},
        {"an absent label before a present one", {States{{to(1), to(2, low)}, {to(2)}, {to(2)}}, {0, 1, 0}}, false},
        {"two absent labels", {States{{to(1, low), to(1), to(1)}, {to(1)}}, {0, 1}}, false},
        {"an unreachable state", {States{{to(0)}, {to(1)}}, {1, 0}}, false},
        {"numbered out of breadth-first order",
         {States{{to(2, low), to(1, high), to(1)}, {to(1)}, {to(1)}}, {0, 1, 0}}, false},
        {"numbered depth first", {States{{to(1, low), to(3)}, {to(2)}, {to(2)}, {to(3)}}, {0, 0, 1, 0}}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(sequence_automaton_is_normal(c.automaton), c.normal) << c.name;
}

TEST(NormalForms, SetItemsAreSortedUniqueAndTheirEntriesSorted) {
    const SharedDescr any;
    const auto [low, high] = ordered_labels();
    struct Case {
        const char* name;
        std::vector<SetItem> items;
        bool normal;
    };
    const Case cases[] = {
        {"the universe", set_items_universe().items, true},
        {"no item", {}, true},
        {"items in order", {SetItem{{}, any}, SetItem{{}, low}, SetItem{{}, high}}, true},
        {"entries in order", {SetItem{{any, low, high}, any}}, true},
        {"an entry twice (only a containment test drops one)", {SetItem{{low, low}, any}}, true},
        {"items out of order", {SetItem{{}, high}, SetItem{{}, low}}, false},
        {"an item twice", {SetItem{{}, low}, SetItem{{}, low}}, false},
        {"an item twice in two objects",
         {SetItem{{}, SharedDescr::make(descr_of_kind(Kind::Int))}, SetItem{{}, SharedDescr::make(descr_of_kind(Kind::Int))}},
         false},
        {"entries out of order", {SetItem{{high, low}, any}}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(set_items_are_normal(c.items), c.normal) << c.name;
}

TEST(NormalForms, ShapesKeepTheirKeysInKeyOrder) {
    const LiteralKey a = str_literal_key("a"), b = str_literal_key("b");
    EXPECT_TRUE(shape_is_normal(universe_shape()));
    Shape declared = universe_shape();
    declare_key(declared, b, KeyRequirement{{}, false});
    declare_key(declared, a, KeyRequirement{{}, false});
    EXPECT_TRUE(shape_is_normal(declared)) << "declare_key keeps the order";
    Shape reversed = declared;
    std::swap(reversed.declared_keys[0], reversed.declared_keys[1]);
    EXPECT_FALSE(shape_is_normal(reversed)) << "declared keys out of order";
    Shape twice = declared;
    twice.declared_keys[1].first = a;
    EXPECT_FALSE(shape_is_normal(twice)) << "a key declared twice";
    Shape entry = universe_shape();
    entry.existentials.push_back(ExistentialEntry{KeyClass::Str, {}, {a, b}});
    EXPECT_TRUE(shape_is_normal(entry));
    entry.existentials[0].excluded_keys = {b, a};
    EXPECT_FALSE(shape_is_normal(entry)) << "excluded keys out of order";
}

TEST(NormalForms, ShapeListsAreSortedAndUniqueWithoutDefaultKeys) {
    const LiteralKey a = str_literal_key("a");
    Shape with_a = universe_shape();
    declare_key(with_a, a, KeyRequirement{{}, false});
    Shape small = universe_shape(), large = with_a;
    if (cmp_shape(small, large) > 0) std::swap(small, large);
    Shape default_key = universe_shape();
    default_key.declared_keys.emplace_back(a, universe_shape().class_requirement(KeyClass::Str));
    Shape unsorted_keys = universe_shape();
    unsorted_keys.declared_keys = {{str_literal_key("b"), KeyRequirement{{}, false}}, {a, KeyRequirement{{}, false}}};
    struct Case {
        const char* name;
        std::vector<Shape> shapes;
        bool normal;
    };
    const Case cases[] = {
        {"no shape", {}, true},
        {"the universe", shapes_universe().shapes, true},
        {"shapes in order", {small, large}, true},
        {"an unsorted shape list", {large, small}, false},
        {"a shape twice", {with_a, with_a}, false},
        {"a shape that is not normal", {unsorted_keys}, false},
        {"a key that only repeats its class's requirement", {default_key}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(shapes_are_normal(c.shapes), c.normal) << c.name;
}

TEST(Orders, ClassRecordsCompareByIdAlone) {
    ClassRecord x = cls_A();
    ClassRecord y = cls_A();
    y.builtin_kind = Kind::Float;
    y.ancestor_ids = {0, 9};
    EXPECT_TRUE(condition_equal(requiring({x}), requiring({y})));
    EXPECT_TRUE(cmp_condition(requiring({x}), requiring({y})) == 0);
    EXPECT_FALSE(condition_equal(requiring({x}), requiring({}, {y})));
}

// --- container atoms -----------------------------------------------------------

TEST(ContainerAtoms, UniversesComplementsAndIdentities) {
    struct Case {
        const char* name;
        Atom universe;
    };
    const Case cases[] = {
        {"sequence", kind_top(Kind::List)}, {"set items", kind_top(Kind::Set)}};
    for (const Case& c : cases) {
        const Atom outside = atom_complement(c.universe);
        EXPECT_FALSE(atom_equal(outside, c.universe)) << c.name;
        EXPECT_TRUE(atom_equal(atom_complement(outside), c.universe)) << c.name << ": complementing twice";
        EXPECT_EQ(atom_verdict(c.universe), Emptiness::Inhabited) << c.name;
        EXPECT_EQ(atom_verdict(outside), Emptiness::Empty) << c.name << ": the universe's complement is nothing";
        EXPECT_EQ(atom_verdict(atom_complement(outside)), Emptiness::Inhabited) << c.name;
        // The universe is the identity of both operations.
        auto met = combine_atoms(c.universe, outside, SetOp::Intersection);
        ASSERT_TRUE(met) << c.name;
        EXPECT_TRUE(atom_equal(*met, outside)) << c.name;
        auto joined = combine_atoms(outside, c.universe, SetOp::Union);
        ASSERT_TRUE(joined) << c.name;
        EXPECT_TRUE(atom_equal(*joined, c.universe)) << c.name;
        EXPECT_FALSE(combine_atoms(c.universe, Presence{true}, SetOp::Intersection)) << c.name << ": variants differ";
    }
    // The sequence complement flips the accepting flags and keeps the table.
    const Atom flipped = atom_complement(kind_top(Kind::Tuple));
    const auto& seq = std::get<SequenceAutomaton>(flipped);
    EXPECT_EQ(seq.accepting, std::vector<std::uint8_t>{0});
    EXPECT_EQ(seq.states.size(), 1u);
    // The complements of the universe set item and of the universe shape are
    // made explicit: no item, no shape.
    const SetItems no_set = std::get<SetItems>(atom_complement(kind_top(Kind::Frozenset)));
    EXPECT_FALSE(no_set.negated);
    EXPECT_TRUE(no_set.items.empty());
    const Shapes no_dict = std::get<Shapes>(atom_complement(kind_top(Kind::Dict)));
    EXPECT_FALSE(no_dict.negated);
    EXPECT_TRUE(no_dict.shapes.empty());
}

TEST(ContainerAtoms, SetItemComplementTerms) {
    SetItem universe;
    const auto terms = set_item_complement_terms(universe);
    ASSERT_EQ(terms.size(), 1u);
    ASSERT_EQ(terms[0].not_within.size(), 1u);
    EXPECT_FALSE(terms[0].not_within[0]) << "an element outside every value: no set";
    SetItem item;
    item.element = empty_descr();
    item.not_within = {SharedDescr::make(descr_of_kind(Kind::Int))};
    const auto two = set_item_complement_terms(item);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0].not_within[0].same(item.element));
    EXPECT_TRUE(two[1].element.same(item.not_within[0]));
    EXPECT_TRUE(two[1].not_within.empty());
}

TEST(ContainerAtoms, LiteralKeysOrderByVariantThenPayload) {
    auto key = [](LiteralKey::Tag tag, std::int64_t n, std::string bytes = {}, Kind kind = Kind::Str) {
        LiteralKey k;
        k.tag = tag;
        k.number = n;
        k.bytes = std::move(bytes);
        k.kind = kind;
        return k;
    };
    using T = LiteralKey::Tag;
    const std::vector<LiteralKey> sorted = {key(T::None, 0), key(T::Bool, 0), key(T::Bool, 1), key(T::Int, -5),
                                            key(T::Int, 3), key(T::Text, 0, "a", Kind::Str), key(T::Text, 0, "a", Kind::Bytes),
                                            key(T::Text, 0, "ab", Kind::Str)};
    for (std::size_t i = 0; i + 1 < sorted.size(); ++i)
        EXPECT_TRUE(cmp_literal_key(sorted[i], sorted[i + 1]) < 0) << i;
}

}  // namespace
}  // namespace tessaron::descr
