// Set items against the reference set evaluator: unions, meets and
// complements of set atoms agree with it on every set of up to three
// elements from a pool whose elements compare across kinds as Python's do
// (True == 1 == 1.0, a str subclass instance equal to its str); every
// verdict is backed by the pool.  Then the normal form, the caps, the
// budget and the explicit forms.
#include <gtest/gtest.h>

#include <functional>

#include "core/descr/lines/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/convert/builders.h"
#include "core/descr/lines/order.h"
#include "core/descr/sets/set_item_algebra.h"
#include "core/descr/sets/set_item_verdict.h"
#include "descr/descr_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;
using ir::Emptiness;

constexpr std::uint32_t kExactInt = 0xFFFFFF02u, kExactFloat = 0xFFFFFF03u, kExactStr = 0xFFFFFF04u,
                        kExactBytes = 0xFFFFFF05u;

SharedDescr share(Descr d) { return SharedDescr::make(std::move(d)); }
Descr join(const Descr& a, const Descr& b) { return *descr_combine(a, b, SetOp::Union); }

Descr exact(Kind kind, Atom atom) { return with_slot(kind, {line(std::move(atom), conditions({requiring({exact_type_record(kind)})}))}); }
Descr lit_bool(bool b) { return with_slot(Kind::Bool, {line(TruthMask{static_cast<std::uint8_t>(b ? 2 : 1)})}); }
Descr lit_int(std::int64_t n) { return exact(Kind::Int, int_set_singleton(n)); }
Descr lit_float(double x) { return exact(Kind::Float, floats(x, x)); }
Descr lit_str(std::string_view s) { return exact(Kind::Str, text(s)); }
Descr int_kind() { return join(descr_of_kind(Kind::Int), descr_of_kind(Kind::Bool)); }
// Instances of the str subclass S.
Descr sub_str() { return with_slot(Kind::Str, {line(str_universe(), conditions({requiring({cls_S()})}))}); }

// --- the element pool ----------------------------------------------------------------
Value element(Kind kind, std::string name, std::vector<std::uint32_t> classes = {}) {
    Value v;
    v.kind = kind;
    v.name = std::move(name);
    v.classes = std::move(classes);
    return v;
}
Value boolean(bool b) {
    Value v = element(Kind::Bool, b ? "True" : "False");
    v.truth = b;
    return v;
}
Value integer(std::int64_t n, std::vector<std::uint32_t> classes = {kExactInt}) {
    Value v = element(Kind::Int, (classes[0] == kExactInt ? "" : "I") + std::to_string(n), classes);
    v.integer = n;
    return v;
}
Value real(double x) {
    Value v = element(Kind::Float, std::to_string(x), {kExactFloat});
    v.number = x;
    return v;
}
Value text_value(Kind kind, std::string bytes, std::uint32_t cls) {
    Value v = element(kind, (kind == Kind::Bytes ? "b'" : "'") + bytes + "'" + (cls == 3 ? "S" : ""), {cls});
    v.bytes = std::move(bytes);
    return v;
}

std::vector<Value> element_pool() {
    return {element(Kind::None, "None"), boolean(false), boolean(true), integer(0), integer(1), integer(2),
            integer(1, {2}), real(1.0), real(0.5), text_value(Kind::Str, "a", kExactStr), text_value(Kind::Str, "a", 3),
            text_value(Kind::Str, "b", kExactStr), text_value(Kind::Str, "c", 3), text_value(Kind::Bytes, "a", kExactBytes),
            element(Kind::Other, "A()", {0})};
}

// Every set of up to three pool elements, as Python would build it.
std::vector<Value> pool_sets() {
    const std::vector<Value> pool = element_pool();
    std::vector<Value> out;
    out.push_back(set_value(Kind::Set, {}));
    for (std::size_t i = 0; i < pool.size(); ++i) {
        out.push_back(set_value(Kind::Set, {pool[i]}));
        for (std::size_t j = i + 1; j < pool.size(); ++j) {
            out.push_back(set_value(Kind::Set, {pool[i], pool[j]}));
            for (std::size_t k = j + 1; k < pool.size(); ++k) out.push_back(set_value(Kind::Set, {pool[i], pool[j], pool[k]}));
        }
    }
    return out;
}

const std::vector<Value>& all_sets() {
    static const std::vector<Value> s = pool_sets();
    return s;
}

SetItems set_of(const Descr& element) { return std::get<SetItems>(set_descr(element, Kind::Set).slot(Kind::Set).lines[0].atom); }

SetItems without(const SetItems& a, const SetItems& b) {
    return std::get<SetItems>(*combine_atoms(a, atom_complement(b), SetOp::Intersection));
}

bool some_pool_set_in(const SetItems& a) {
    for (const Value& s : all_sets())
        if (set_items_contains(a, s)) return true;
    return false;
}

// --- verdicts ------------------------------------------------------------------------

TEST(SetItemVerdicts, ElementsThatPythonHoldsEqualAreOneElement) {
    struct Case {
        const char* name;
        SetItems atom;
        Emptiness verdict;
    };
    const SetItems true_or_one = set_of(join(lit_bool(true), lit_int(1)));
    const Case cases[] = {
        // {True, 1} is {True}: no set holds both, so neither refuted.
        {"set[True | 1] outside set[True] and set[1]",
         without(without(true_or_one, set_of(lit_bool(true))), set_of(lit_int(1))), Emptiness::Undecided},
        {"set[True | 1.0] outside set[True] and set[1.0]",
         without(without(set_of(join(lit_bool(true), lit_float(1.0))), set_of(lit_bool(true))), set_of(lit_float(1.0))),
         Emptiness::Undecided},
        {"set['a' | S] outside set['a'] and set[S]",
         without(without(set_of(join(lit_str("a"), sub_str())), set_of(lit_str("a"))), set_of(sub_str())),
         Emptiness::Undecided},
        // One element outside every entry: a set of one.
        {"set[int] outside set[1] and set[2]", without(without(set_of(int_kind()), set_of(lit_int(1))), set_of(lit_int(2))),
         Emptiness::Inhabited},
        // Witnesses of different kind groups: {None, 'a'}, {1, 'a'}.
        {"set[None | str] outside set[None] and set[str]",
         without(without(set_of(join(descr_of_kind(Kind::None), descr_of_kind(Kind::Str))), set_of(descr_of_kind(Kind::None))), set_of(descr_of_kind(Kind::Str))),
         Emptiness::Inhabited},
        {"set[1 | 'a'] outside set[1] and set['a']",
         without(without(set_of(join(lit_int(1), lit_str("a"))), set_of(lit_int(1))), set_of(lit_str("a"))), Emptiness::Inhabited},
        // Two bools outside different entries: {False, True}.
        {"set[bool] outside set[True] and set[False]",
         without(without(set_of(descr_of_kind(Kind::Bool)), set_of(lit_bool(true))), set_of(lit_bool(false))), Emptiness::Inhabited},
        {"set[int] outside set[int]", without(set_of(int_kind()), set_of(int_kind())), Emptiness::Empty},
        {"set[nothing]: the empty set", set_of(Descr{}), Emptiness::Inhabited},
        {"no item", SetItems{}, Emptiness::Empty},
        {"the universe excluded", SetItems{set_items_universe().items, true}, Emptiness::Empty},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(set_items_verdict(c.atom), c.verdict) << c.name;
        EXPECT_EQ(atom_verdict(c.atom), c.verdict) << c.name;
        if (c.verdict == Emptiness::Inhabited) {
            EXPECT_TRUE(some_pool_set_in(c.atom)) << c.name;
        }
        if (c.verdict == Emptiness::Empty) {
            EXPECT_FALSE(some_pool_set_in(c.atom)) << c.name;
        }
    }
    // The first two hold no set at all among the pool's.
    EXPECT_FALSE(some_pool_set_in(cases[0].atom));
    EXPECT_FALSE(some_pool_set_in(cases[1].atom));
}

// --- operations against the reference evaluator --------------------------------------

std::vector<std::pair<std::string, Descr>> element_family() {
    return {
        {"True", lit_bool(true)},   {"1", lit_int(1)},         {"1.0", lit_float(1.0)},   {"'a'", lit_str("a")},
        {"int", int_kind()},        {"bool", descr_of_kind(Kind::Bool)}, {"str", descr_of_kind(Kind::Str)}, {"S", sub_str()},
        {"None", descr_of_kind(Kind::None)}, {"True | 1", join(lit_bool(true), lit_int(1))},
        {"None | 'a'", join(descr_of_kind(Kind::None), lit_str("a"))}, {"any", descr_top()}, {"nothing", Descr{}},
    };
}

SetItems random_atom(std::mt19937& rng, const std::vector<std::pair<std::string, Descr>>& f, std::string& name) {
    auto pick = [&] { return rng() % f.size(); };
    const std::size_t i = pick();
    SetItems a = set_of(f[i].second);
    name = "set[" + f[i].first + "]";
    switch (rng() % 4) {
        case 0: break;
        case 1: {
            const std::size_t j = pick();
            a = std::get<SetItems>(*combine_atoms(a, set_of(f[j].second), SetOp::Union));
            name += " | set[" + f[j].first + "]";
            break;
        }
        case 2: {
            const std::size_t j = pick();
            a = without(a, set_of(f[j].second));
            name += " - set[" + f[j].first + "]";
            break;
        }
        default: {
            const std::size_t j = pick(), k = pick();
            a = without(without(a, set_of(f[j].second)), set_of(f[k].second));
            name += " - set[" + f[j].first + "] - set[" + f[k].first + "]";
        }
    }
    if (rng() % 4 == 0) {
        a = std::get<SetItems>(atom_complement(a));
        name = "~(" + name + ")";
    }
    return a;
}

TEST(SetItemOperations, AgreeWithTheReferenceEvaluatorAndTheirVerdictsWithThePool) {
    std::mt19937 rng(4711);
    const auto f = element_family();
    for (int round = 0; round < 250; ++round) {
        std::string na, nb;
        const SetItems a = random_atom(rng, f, na);
        const SetItems b = random_atom(rng, f, nb);
        const auto joined = combine_atoms(a, b, SetOp::Union);
        const auto met = combine_atoms(a, b, SetOp::Intersection);
        ASSERT_TRUE(joined) << na << " | " << nb;
        ASSERT_TRUE(met) << na << " & " << nb;
        const Atom outside = atom_complement(a);
        for (const Value& s : all_sets()) {
            const bool in_a = set_items_contains(a, s), in_b = set_items_contains(b, s);
            ASSERT_EQ(atom_contains(*joined, s), in_a || in_b) << na << " | " << nb << " on " << s.name;
            ASSERT_EQ(atom_contains(*met, s), in_a && in_b) << na << " & " << nb << " on " << s.name;
            ASSERT_EQ(atom_contains(outside, s), !in_a) << "~" << na << " on " << s.name;
        }
        // The pool holds a witness for every set an item of these elements
        // can be proved to hold, so the verdicts are checked both ways.
        for (const auto& [what, atom] : {std::pair<std::string, Atom>{na, a}, {na + " | " + nb, *joined},
                                         {na + " & " + nb, *met}, {"~" + na, outside}}) {
            const Emptiness v = atom_verdict(atom);
            bool member = false;
            for (const Value& s : all_sets()) member = member || atom_contains(atom, s);
            if (v == Emptiness::Empty) {
                EXPECT_FALSE(member) << what << " was proved empty";
            }
            if (v == Emptiness::Inhabited) {
                EXPECT_TRUE(member) << what << " was proved inhabited";
            }
        }
    }
}

// --- normal form, caps, budget, explicit forms ---------------------------------------

TEST(SetItemNormalForm, EntriesNarrowToMaximalOnesAndEmptyItemsGo) {
    const SharedDescr ints = share(int_kind()), bools = share(descr_of_kind(Kind::Bool));
    // Any element; not within int, not within bool: only the int entry stays.
    auto n = normalize_set_items({SetItem{{bools, ints}, {}}});
    ASSERT_TRUE(n);
    ASSERT_EQ(n->size(), 1u);
    ASSERT_EQ((*n)[0].not_within.size(), 1u);
    EXPECT_TRUE(shared_descr_equal((*n)[0].not_within[0], ints));
    // Sets of int with an element outside int: none.
    n = normalize_set_items({SetItem{{ints}, ints}});
    ASSERT_TRUE(n);
    EXPECT_TRUE(n->empty());
    // An absent entry: an element outside every value.
    n = normalize_set_items({SetItem{{SharedDescr()}, ints}, SetItem{{SharedDescr()}, {}}});
    ASSERT_TRUE(n);
    EXPECT_TRUE(n->empty());
    // Equal items meet as one.
    n = normalize_set_items({SetItem{{bools}, {}}, SetItem{{share(descr_of_kind(Kind::Bool))}, {}}});
    ASSERT_TRUE(n);
    EXPECT_EQ(n->size(), 1u);
    // Products with an empty list are empty; with the universe item they
    // normalise the other list.
    auto p = product_set_items({SetItem{{bools}, ints}}, {});
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->empty());
    p = product_set_items(set_items_universe().items, {SetItem{{ints}, ints}, SetItem{{}, bools}});
    ASSERT_TRUE(p);
    ASSERT_EQ(p->size(), 1u);
    EXPECT_TRUE((*p)[0].element.same(bools) || shared_descr_equal((*p)[0].element, bools));
}

TEST(SetItemNormalForm, TwoHundredFiftySixItemsPassAndOneMoreFails) {
    std::vector<SetItem> items;
    for (std::int64_t i = 0; i < 256; ++i) items.push_back(SetItem{{}, share(lit_int(i))});
    EXPECT_TRUE(normalize_set_items(items));
    items.push_back(SetItem{{}, share(lit_int(256))});
    EXPECT_FALSE(normalize_set_items(items));
}

TEST(SetItemNormalForm, AProductOutOfBudgetFailsAsAWhole) {
    std::vector<SetItem> left, right;
    for (std::int64_t i = 0; i < 3; ++i) {
        left.push_back(SetItem{{}, share(lit_int(i))});
        right.push_back(SetItem{{}, share(int_kind())});
    }
    {
        WorkWindow window(4);
        EXPECT_FALSE(product_set_items(left, right));
    }
    EXPECT_TRUE(product_set_items(left, right));
}

TEST(SetItemExplicitForms, NegatedAtomsAndTheirMeets) {
    // Negated, no item: every set; negated, holding the universe item: none.
    auto p = positive_set_items(SetItems{{}, true});
    ASSERT_TRUE(p);
    ASSERT_EQ(p->size(), 1u);
    EXPECT_TRUE(set_items_is_universe(SetItems{*p, false}));
    p = positive_set_items(SetItems{set_items_universe().items, true});
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->empty());
    // A negated one-item atom met with the universe: its complement terms
    // (sets with an element outside int, then nothing more).
    const SetItems ints = set_of(int_kind());
    const auto m = meet_set_item_slots(SetItems{ints.items, true}, set_items_universe());
    ASSERT_TRUE(m);
    ASSERT_EQ(m->size(), 1u);
    EXPECT_FALSE((*m)[0].element);
    ASSERT_EQ((*m)[0].not_within.size(), 1u);
    // The complement of a one-item atom is explicit; of two items, negated.
    EXPECT_FALSE(std::get<SetItems>(atom_complement(ints)).negated);
    const SetItems two = std::get<SetItems>(*combine_atoms(ints, set_of(descr_of_kind(Kind::Str)), SetOp::Union));
    ASSERT_EQ(two.items.size(), 2u);
    EXPECT_TRUE(std::get<SetItems>(atom_complement(two)).negated);
    // With no budget the explicit form of a negated item fails: the verdict
    // is undecided, never empty.
    WorkWindow window(0);
    EXPECT_EQ(set_items_verdict(SetItems{ints.items, true}), Emptiness::Undecided);
}

}  // namespace
}  // namespace tessaron::descr
