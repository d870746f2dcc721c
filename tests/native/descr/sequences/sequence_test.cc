// Sequence automata against the reference acceptor: automata built from
// list and tuple shapes, their unions, meets and complements agree with it
// on every sequence of up to four items from a small pool; normalisation
// keeps the language and merges only equivalent states; the caps and the
// budget fail products where they should; acceptance is strict or lenient.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <tuple>

#include "core/descr/lines/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/lines/order.h"
#include "core/descr/sequences/sequence_accept.h"
#include "core/descr/sequences/sequence_build.h"
#include "core/descr/sequences/sequence_normalize.h"
#include "core/descr/sequences/sequence_product.h"
#include "descr/descr_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;
using ir::Emptiness;

constexpr std::uint32_t kExactInt = 0xFFFFFF02u, kExactFloat = 0xFFFFFF03u, kExactStr = 0xFFFFFF04u;

SharedDescr share(Descr d) { return SharedDescr::make(std::move(d)); }

// --- element descriptors ---------------------------------------------------------
struct Labels {
    SharedDescr integer = share(*descr_combine(descr_of_kind(Kind::Int), descr_of_kind(Kind::Bool), SetOp::Union));
    SharedDescr boolean = share(descr_of_kind(Kind::Bool));
    SharedDescr one = share(with_slot(Kind::Int, {line(int_set_singleton(1), conditions({requiring({exact_type_record(Kind::Int)})}))}));
    SharedDescr str = share(descr_of_kind(Kind::Str));
    SharedDescr none_or_str = share(*descr_combine(descr_of_kind(Kind::None), descr_of_kind(Kind::Str), SetOp::Union));
    SharedDescr top = share(descr_top());
    SharedDescr nothing = empty_descr();
    SharedDescr not_int = share(descr_complement(*integer));
    SharedDescr real = share(descr_of_kind(Kind::Float));
    // Instances of two unrelated plain classes: neither proved empty nor
    // proved inhabited.
    SharedDescr undecided = share(with_slot(Kind::Other, {line(Presence{true}, conditions({requiring({cls_A(), record(7, {7}, Kind::Other)})}))}));
};

const Labels& labels() {
    static const Labels l;
    return l;
}

// --- element values and sequences --------------------------------------------------
Value element(Kind kind, std::string name, std::vector<std::uint32_t> classes = {}) {
    Value v;
    v.kind = kind;
    v.name = std::move(name);
    v.classes = std::move(classes);
    return v;
}

std::vector<Value> element_pool() {
    Value t = element(Kind::Bool, "True");
    t.truth = true;
    Value one = element(Kind::Int, "1", {kExactInt});
    one.integer = 1;
    Value sub = element(Kind::Int, "I(1)", {2});
    sub.integer = 1;
    Value half = element(Kind::Float, "0.5", {kExactFloat});
    half.number = 0.5;
    Value a = element(Kind::Str, "'a'", {kExactStr});
    a.bytes = "a";
    return {element(Kind::None, "None"), t, one, sub, half, a};
}

// Every sequence of up to `longest` pool items.
std::vector<Value> sequences(std::size_t longest) {
    const std::vector<Value> pool = element_pool();
    std::vector<Value> out;
    std::vector<Value> items;
    std::function<void()> grow = [&] {
        out.push_back(sequence_value(Kind::List, items));
        if (items.size() == longest) return;
        for (const Value& x : pool) {
            items.push_back(x);
            grow();
            items.pop_back();
        }
    };
    grow();
    return out;
}

const std::vector<Value>& all_sequences() {
    static const std::vector<Value> s = sequences(4);
    return s;
}

// --- automata ----------------------------------------------------------------------
SequenceAutomaton no_sequence() { return sequence_complement(sequence_universe()); }

SequenceAutomaton automaton_of(const OptDescr& d, Kind kind = Kind::List) {
    EXPECT_TRUE(d);
    if (!d || d->slot(kind).lines.empty()) return no_sequence();
    EXPECT_EQ(d->slot(kind).lines.size(), 1u);
    return std::get<SequenceAutomaton>(d->slot(kind).lines[0].atom);
}

SequenceAutomaton shape(std::vector<SharedDescr> items, SharedDescr tail = {}, Kind kind = Kind::List) {
    return automaton_of(build_sequence_automaton(items, tail ? &tail : nullptr, kind), kind);
}

Transition to(std::uint32_t target, SharedDescr label = {}) { return Transition{std::move(label), target}; }

SequenceAutomaton written(std::vector<std::vector<Transition>> states, std::vector<std::uint8_t> accepting) {
    return SequenceAutomaton{std::move(states), std::move(accepting)};
}

struct Named {
    std::string name;
    SequenceAutomaton automaton;
};

std::vector<Named> family() {
    const Labels& l = labels();
    return {
        {"list[int]", shape({}, l.integer)},
        {"list[str]", shape({}, l.str)},
        {"(int, str)", shape({l.integer, l.str})},
        {"[1, *str]", shape({l.one}, l.str)},
        {"every list", shape({}, l.top)},
        {"two items", shape({l.top, l.top})},
        {"[None | str, *not int]", shape({l.none_or_str}, l.not_int)},
        {"[bool, *int]", shape({l.boolean}, l.integer)},
        {"at least 2", automaton_of(min_count_descr(2, Kind::List))},
        {"at most 1", automaton_of(max_count_descr(1, Kind::List))},
        {"empty list", shape({})},
        {"[float, int, *any]", shape({l.real, l.integer}, l.top)},
        {"[nothing]", shape({l.nothing})},
        // Written without an absent label: an int somewhere.  Its first
        // state's labels cover every element, so its remainder is empty.
        {"holds an int", written({{to(1, l.integer), to(0, l.not_int)}, {to(1)}}, {0, 1})},
    };
}

std::size_t absent_labels(const std::vector<Transition>& state) {
    return static_cast<std::size_t>(std::count_if(state.begin(), state.end(), [](const Transition& t) { return !t.label; }));
}

void expect_sound_verdict(const SequenceAutomaton& a, const std::string& what) {
    const Emptiness v = sequence_verdict(a);
    bool member = false;
    for (const Value& s : all_sequences()) member = member || sequence_contains(a, s);
    if (v == Emptiness::Empty) {
        EXPECT_FALSE(member) << what << " was proved empty";
    }
    // The family's labels all have members in the pool, within four items.
    if (v == Emptiness::Inhabited) {
        EXPECT_TRUE(member) << what << " was proved inhabited";
    }
    EXPECT_NE(v, Emptiness::Undecided) << what << ": every label of the family is decided";
}

// --- shapes ------------------------------------------------------------------------

TEST(SequenceShapes, BuildTheLayoutOfTheirItems) {
    const Labels& l = labels();
    const SequenceAutomaton ints = shape({}, l.integer);
    EXPECT_TRUE(sequence_automaton_equal(ints, written({{to(0, l.integer), to(1)}, {to(1)}}, {1, 0})));
    const SequenceAutomaton pair = shape({l.integer, l.str});
    EXPECT_TRUE(sequence_automaton_equal(
        pair, written({{to(1, l.integer), to(2)}, {to(3, l.str), to(2)}, {to(2)}, {to(2)}}, {0, 0, 0, 1})));
    // An item admitting every element: one transition with an absent label.
    const SequenceAutomaton any_then_int = shape({l.top}, l.integer);
    EXPECT_TRUE(sequence_automaton_equal(any_then_int, written({{to(1)}, {to(1, l.integer), to(2)}, {to(2)}}, {0, 1, 0})));
    EXPECT_FALSE(build_sequence_automaton({}, &l.integer, Kind::Set));
    // A tuple with an item that holds nothing holds no tuple: no line.
    const OptDescr none = build_sequence_automaton(std::vector<SharedDescr>{l.nothing}, nullptr, Kind::Tuple);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->slot(Kind::Tuple).lines.empty());
}

TEST(SequenceShapes, AgreeWithTheirDefinitions) {
    const Labels& l = labels();
    const std::vector<Named> f = family();
    auto in = [](const SharedDescr& d, const Value& v) { return contains(*d, v); };
    const std::vector<std::function<bool(const Value&)>> definitions = {
        [&](const Value& s) { return std::all_of(s.elements.begin(), s.elements.end(), [&](auto& e) { return in(l.integer, *e); }); },
        [&](const Value& s) { return std::all_of(s.elements.begin(), s.elements.end(), [&](auto& e) { return in(l.str, *e); }); },
        [&](const Value& s) { return s.elements.size() == 2 && in(l.integer, *s.elements[0]) && in(l.str, *s.elements[1]); },
        [&](const Value& s) {
            return !s.elements.empty() && in(l.one, *s.elements[0]) &&
                   std::all_of(s.elements.begin() + 1, s.elements.end(), [&](auto& e) { return in(l.str, *e); });
        },
        [&](const Value&) { return true; },
        [&](const Value& s) { return s.elements.size() == 2; },
        [&](const Value& s) {
            return !s.elements.empty() && in(l.none_or_str, *s.elements[0]) &&
                   std::none_of(s.elements.begin() + 1, s.elements.end(), [&](auto& e) { return in(l.integer, *e); });
        },
        [&](const Value& s) {
            return !s.elements.empty() && in(l.boolean, *s.elements[0]) &&
                   std::all_of(s.elements.begin() + 1, s.elements.end(), [&](auto& e) { return in(l.integer, *e); });
        },
        [&](const Value& s) { return s.elements.size() >= 2; },
        [&](const Value& s) { return s.elements.size() <= 1; },
        [&](const Value& s) { return s.elements.empty(); },
        [&](const Value& s) {
            return s.elements.size() >= 2 && in(l.real, *s.elements[0]) && in(l.integer, *s.elements[1]);
        },
        [&](const Value&) { return false; },
        [&](const Value& s) { return std::any_of(s.elements.begin(), s.elements.end(), [&](auto& e) { return in(l.integer, *e); }); },
    };
    ASSERT_EQ(definitions.size(), f.size());
    for (std::size_t i = 0; i < f.size(); ++i)
        for (const Value& s : all_sequences())
            ASSERT_EQ(sequence_contains(f[i].automaton, s), definitions[i](s)) << f[i].name << " on " << s.name;
}

// --- products and complements --------------------------------------------------------

TEST(SequenceProducts, UnionMeetAndComplementAgreeWithTheReferenceAcceptor) {
    const std::vector<Named> f = family();
    for (const Named& a : f) {
        const SequenceAutomaton outside = sequence_complement(a.automaton);
        for (const Value& s : all_sequences())
            ASSERT_NE(sequence_contains(outside, s), sequence_contains(a.automaton, s)) << "~" << a.name << " on " << s.name;
        expect_sound_verdict(outside, "~" + a.name);
    }
    for (std::size_t i = 0; i < f.size(); ++i)
        for (std::size_t j = i; j < f.size(); ++j) {
            const Named& a = f[i];
            const Named& b = f[j];
            const auto joined = sequence_product(a.automaton, b.automaton, SetOp::Union);
            const auto met = sequence_product(a.automaton, b.automaton, SetOp::Intersection);
            ASSERT_TRUE(joined) << a.name << " | " << b.name;
            ASSERT_TRUE(met) << a.name << " & " << b.name;
            for (const Value& s : all_sequences()) {
                const bool in_a = sequence_contains(a.automaton, s), in_b = sequence_contains(b.automaton, s);
                ASSERT_EQ(sequence_contains(*joined, s), in_a || in_b) << a.name << " | " << b.name << " on " << s.name;
                ASSERT_EQ(sequence_contains(*met, s), in_a && in_b) << a.name << " & " << b.name << " on " << s.name;
            }
            // Complete and deterministic: one absent label per state, so the
            // flipped product is the complement.
            for (const SequenceAutomaton* p : {&*joined, &*met})
                for (const auto& state : p->states) ASSERT_EQ(absent_labels(state), 1u) << a.name << ", " << b.name;
            const SequenceAutomaton outside = sequence_complement(*met);
            for (const Value& s : all_sequences())
                ASSERT_NE(sequence_contains(outside, s), sequence_contains(*met, s)) << "~(" << a.name << " & " << b.name << ")";
            expect_sound_verdict(*joined, a.name + " | " + b.name);
            expect_sound_verdict(*met, a.name + " & " + b.name);
        }
}

TEST(SequenceProducts, TheEmptyRemainderRuleDropsTheEmptyPairAndMakesTheLastLabelAbsent) {
    const Labels& l = labels();
    // Both states of the pair (0, 0) have remainders: "holds an int" has none.
    const SequenceAutomaton holds_int = written({{to(1, l.integer), to(0, l.not_int)}, {to(1)}}, {0, 1});
    const SequenceAutomaton strs = shape({}, l.str);
    const auto met = sequence_product(holds_int, strs, SetOp::Intersection);
    ASSERT_TRUE(met);
    EXPECT_EQ(sequence_verdict(*met), Emptiness::Empty) << "no list of str holds an int";
    const auto joined = sequence_product(holds_int, strs, SetOp::Union);
    ASSERT_TRUE(joined);
    for (const Value& s : all_sequences()) {
        ASSERT_FALSE(sequence_contains(*met, s)) << s.name;
        ASSERT_EQ(sequence_contains(*joined, s), sequence_contains(holds_int, s) || sequence_contains(strs, s)) << s.name;
    }
    for (const auto& state : joined->states) EXPECT_EQ(absent_labels(state), 1u);
    // Two universes: one accepting state looping on an absent label, and no
    // unit taken for new states.
    {
        WorkWindow window(0);
        const auto u = sequence_product(sequence_universe(), sequence_universe(), SetOp::Intersection);
        ASSERT_TRUE(u);
        EXPECT_TRUE(sequence_is_universe(*u));
    }
}

TEST(SequenceProducts, ABudgetOfZeroFailsAtTheFirstNewPair) {
    const Labels& l = labels();
    const SequenceAutomaton ints = shape({}, l.integer), strs = shape({}, l.str);
    {
        WorkWindow window(0);
        EXPECT_FALSE(sequence_product(ints, strs, SetOp::Intersection));
        EXPECT_FALSE(sequence_product(ints, strs, SetOp::Union));
    }
    // The same product with budget succeeds.
    EXPECT_TRUE(sequence_product(ints, strs, SetOp::Intersection));
}

// An int in residue class r modulo 64, or in [lo, hi].
SharedDescr residue(std::int64_t r) {
    IntSet s;
    s.modulus = 64;
    s.residues.assign(64, {});
    s.residues[static_cast<std::size_t>(r)] = interval_set_all();
    return share(with_slot(Kind::Int, {line(std::move(s))}));
}
SharedDescr range(std::int64_t lo, std::int64_t hi) { return share(with_slot(Kind::Int, {line(ints(lo, hi))})); }

// A state reading `labels` into `next`, and the rest too.
std::vector<Transition> wide(const std::vector<SharedDescr>& labels, std::uint32_t next) {
    std::vector<Transition> s;
    for (const SharedDescr& l : labels) s.push_back(to(next, l));
    s.push_back(to(next));
    return s;
}

// n wide states in a chain, then an accepting state.
SequenceAutomaton wide_chain(const std::vector<SharedDescr>& labels, std::uint32_t n) {
    SequenceAutomaton a;
    for (std::uint32_t i = 0; i < n; ++i) {
        a.states.push_back(wide(labels, i + 1));
        a.accepting.push_back(0);
    }
    a.states.push_back({to(n)});
    a.accepting.push_back(1);
    return a;
}

TEST(SequenceProducts, CapsOfTransitionsPerStateAndInAll) {
    // Residues 0..62 against ranges [64j, 64j + 63] for j < 63: every pair
    // meets in one int, each residue beyond the ranges and each range at
    // residue 63 once more, and the remainders once: 63 * 63 + 63 + 63 + 1
    // = 4096 transitions in the start state.
    std::vector<SharedDescr> residues, ranges, shorter, more_residues;
    for (std::int64_t i = 0; i < 63; ++i) residues.push_back(residue(i));
    for (std::int64_t j = 0; j < 63; ++j) ranges.push_back(range(64 * j, 64 * j + 63));
    more_residues = residues;
    more_residues.push_back(residue(63));
    shorter = ranges;
    shorter.back() = range(64 * 62, 64 * 62 + 62);  // without the one int of residue 63
    const auto exactly = sequence_product(wide_chain(residues, 1), wide_chain(ranges, 1), SetOp::Intersection);
    ASSERT_TRUE(exactly) << "4096 transitions in one state";
    // All residues: 64 * 63 + 64 + 1 = 4097.
    EXPECT_FALSE(sequence_product(wide_chain(more_residues, 1), wide_chain(ranges, 1), SetOp::Intersection));
    // In all: 16 wide states of 4096 and the accepting one, 65537; 15 wide
    // states, one of 4095 (the shorter range leaves residue 63 out once) and
    // the accepting one, 65536.
    EXPECT_FALSE(sequence_product(wide_chain(residues, 16), wide_chain(ranges, 16), SetOp::Intersection));
    SequenceAutomaton b = wide_chain(ranges, 16);
    b.states[15] = wide(shorter, 16);
    ASSERT_TRUE(sequence_product(wide_chain(residues, 16), b, SetOp::Intersection)) << "65536 transitions in all";
}

// Counts elements of `label` modulo n; accepting at 0.
SequenceAutomaton counter(const SharedDescr& label, const SharedDescr& rest, std::uint32_t n) {
    SequenceAutomaton a;
    for (std::uint32_t i = 0; i < n; ++i) {
        a.states.push_back({to((i + 1) % n, label), to(i, rest)});
        a.accepting.push_back(i == 0 ? 1 : 0);
    }
    return a;
}

TEST(SequenceProducts, CapOfStates) {
    const Labels& l = labels();
    const SharedDescr not_str = share(descr_complement(*l.str));
    const auto full = sequence_product(counter(l.integer, l.not_int, 64), counter(l.str, not_str, 64), SetOp::Intersection);
    ASSERT_TRUE(full) << "64 x 64 = 4096 states";
    EXPECT_EQ(full->states.size(), 4096u);
    EXPECT_FALSE(sequence_product(counter(l.integer, l.not_int, 64), counter(l.str, not_str, 65), SetOp::Intersection));
    EXPECT_FALSE(sequence_product(counter(l.integer, l.not_int, 65), counter(l.str, not_str, 64), SetOp::Union));
}

TEST(SequenceProducts, ChainsMeetAtAboutAUnitPerState) {
    // Lists of ints met with "at most 2000 items": 2002 states.  Each chain
    // state has its own (absent-only) transitions; their remainders are one
    // object, so the label meets are formed once, not once per state.
    const Labels& l = labels();
    const SequenceAutomaton ints = automaton_of(build_sequence_automaton({}, &l.integer, Kind::List));
    const SequenceAutomaton at_most = automaton_of(max_count_descr(2000, Kind::List));
    std::optional<SequenceAutomaton> bounded;
    {
        WorkWindow window(4096);
        bounded = sequence_product(ints, at_most, SetOp::Intersection);
        ASSERT_TRUE(bounded);
        EXPECT_GT(work_budget(), 4096u - 2300u) << "about a unit per product state";
    }
    EXPECT_EQ(bounded->states.size(), 2002u);
    // One int against the complement: the pairs of the one-int automaton's
    // dead state with the chain can accept nothing and are one sink.
    const SequenceAutomaton one = automaton_of(build_sequence_automaton(std::vector<SharedDescr>{l.integer}, nullptr, Kind::List));
    WorkWindow window(4096);
    const auto outside = sequence_product(one, sequence_complement(*bounded), SetOp::Intersection);
    ASSERT_TRUE(outside);
    EXPECT_LE(outside->states.size(), 4u);
    EXPECT_GT(work_budget(), 4096u - 100u);
    EXPECT_FALSE(sequence_automaton_accepts(*outside, AcceptMode::Lenient));
}

// --- normalisation -------------------------------------------------------------------

TEST(SequenceNormalForm, StatesWithEqualFlagsAndSignaturesMerge) {
    const Labels& l = labels();
    // States 1 and 2 both accept and lead every element to the dead state 3:
    // one class, and state 0's two transitions merge into an absent one.
    const SequenceAutomaton a = written({{to(1, l.integer), to(2)}, {to(3)}, {to(3)}, {to(3)}}, {0, 1, 1, 0});
    const SequenceAutomaton n = normalize_sequence_automaton(a);
    EXPECT_TRUE(sequence_automaton_equal(n, written({{to(1)}, {to(2)}, {to(2)}}, {0, 1, 0})));
    // A state whose labels differ from another's stays apart.
    const SequenceAutomaton b = written({{to(1, l.integer), to(2)}, {to(0, l.str), to(3)}, {to(3)}, {to(3)}}, {0, 1, 1, 0});
    EXPECT_EQ(normalize_sequence_automaton(b).states.size(), 4u);
    // A label proved empty is dropped: the only way to acceptance goes.
    const SequenceAutomaton c = written({{to(1, l.nothing), to(2)}, {to(1)}, {to(2)}}, {0, 1, 0});
    EXPECT_FALSE(sequence_automaton_accepts(c, AcceptMode::Strict));
    EXPECT_FALSE(sequence_automaton_accepts(c, AcceptMode::Lenient));
    const SequenceAutomaton nc = normalize_sequence_automaton(c);
    EXPECT_TRUE(sequence_automaton_equal(nc, written({{to(0)}}, {0})));
}

// A random complete deterministic automaton: each state splits the
// elements by one of a few label partitions.
SequenceAutomaton random_automaton(std::mt19937& rng) {
    const Labels& l = labels();
    const std::vector<std::vector<SharedDescr>> partitions = {
        {SharedDescr()}, {l.integer, SharedDescr()}, {l.str, SharedDescr()}, {l.integer, l.not_int},
        {l.none_or_str, l.integer, SharedDescr()}, {l.one, SharedDescr()}};
    const std::uint32_t n = 1 + rng() % 6;
    SequenceAutomaton a;
    for (std::uint32_t s = 0; s < n; ++s) {
        std::vector<Transition> state;
        for (const SharedDescr& label : partitions[rng() % partitions.size()]) state.push_back(to(rng() % n, label));
        a.states.push_back(std::move(state));
        a.accepting.push_back(rng() % 2);
    }
    return a;
}

bool same_language_from(const SequenceAutomaton& a, std::uint32_t s, std::uint32_t t) {
    static const std::vector<Value> short_sequences = sequences(3);
    for (const Value& v : short_sequences)
        if (sequence_accepts_from(a, s, v) != sequence_accepts_from(a, t, v)) return false;
    return true;
}

TEST(SequenceNormalForm, KeepsTheLanguageAndMergesOnlyEquivalentStates) {
    std::mt19937 rng(1812);
    for (int round = 0; round < 150; ++round) {
        const SequenceAutomaton a = random_automaton(rng);
        const SequenceAutomaton n = normalize_sequence_automaton(a);
        for (const Value& s : all_sequences())
            ASSERT_EQ(sequence_contains(n, s), sequence_contains(a, s)) << "round " << round << ", " << s.name;
        EXPECT_LE(n.states.size(), a.states.size());
        const auto classes = sequence_state_classes(a);
        ASSERT_TRUE(classes);
        for (std::uint32_t s = 0; s < a.states.size(); ++s)
            for (std::uint32_t t = s + 1; t < a.states.size(); ++t) {
                if ((*classes)[s] == (*classes)[t]) {
                    EXPECT_TRUE(same_language_from(a, s, t)) << "round " << round << ": states " << s << ", " << t;
                }
                // Written alike: one class.
                const bool alike = a.accepting[s] == a.accepting[t] &&
                                   sequence_automaton_equal(written({a.states[s]}, {0}), written({a.states[t]}, {0}));
                if (alike) {
                    EXPECT_EQ((*classes)[s], (*classes)[t]) << "round " << round;
                }
            }
        // Normalising twice changes nothing.
        EXPECT_TRUE(sequence_automaton_equal(normalize_sequence_automaton(n), n)) << "round " << round;
    }
}

TEST(SequenceNormalForm, ARefinementOutOfBudgetMergesNothing) {
    const Labels& l = labels();
    const SequenceAutomaton a = written({{to(1, l.integer), to(2)}, {to(3)}, {to(3)}, {to(3)}}, {0, 1, 1, 0});
    WorkWindow window(0);
    EXPECT_FALSE(sequence_state_classes(a));
    const SequenceAutomaton n = normalize_sequence_automaton(a);
    EXPECT_EQ(n.states.size(), 4u) << "states 1 and 2 are equivalent, but no fixpoint was reached";
    for (const Value& s : all_sequences()) ASSERT_EQ(sequence_contains(n, s), sequence_contains(a, s)) << s.name;
}

// The pass-by-pass refinement, written plainly: every pass splits each
// class by the signatures of its states under the previous classes.
std::vector<std::uint32_t> reference_classes(const SequenceAutomaton& a) {
    const std::size_t m = a.states.size();
    std::vector<std::uint32_t> classes(m, 0);
    auto key_less = [](const std::vector<Transition>& x, const std::vector<Transition>& y) {
        if (x.size() != y.size()) return x.size() < y.size();
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i].target != y[i].target) return x[i].target < y[i].target;
            if (auto c = cmp_optional_descr(x[i].label, y[i].label); c != 0) return c < 0;
        }
        return false;
    };
    for (std::size_t pass = 0; pass <= m; ++pass) {
        std::vector<std::tuple<std::uint8_t, std::uint32_t, std::vector<Transition>>> keys;
        for (std::size_t s = 0; s < m; ++s) {
            std::vector<Transition> sig;
            for (const Transition& t : a.states[s]) {
                const std::uint32_t k = classes[t.target];
                auto it = std::find_if(sig.begin(), sig.end(), [&](const Transition& e) { return e.target == k; });
                if (it == sig.end())
                    sig.push_back(Transition{t.label, k});
                else if (!it->label || !t.label)
                    it->label = SharedDescr();
                else
                    it->label = join_shared_descrs(it->label, t.label).value_or(SharedDescr());
            }
            std::stable_sort(sig.begin(), sig.end(), [](const Transition& x, const Transition& y) {
                if (x.target != y.target) return x.target < y.target;
                if (bool(x.label) != bool(y.label)) return !x.label;
                return cmp_optional_descr(x.label, y.label) < 0;
            });
            keys.emplace_back(a.accepting[s], classes[s], std::move(sig));
        }
        std::vector<std::uint32_t> next(m);
        std::vector<std::size_t> firsts;  // the first state of each new class
        for (std::size_t s = 0; s < m; ++s) {
            auto same = [&](std::size_t f) {
                return std::get<0>(keys[f]) == std::get<0>(keys[s]) && std::get<1>(keys[f]) == std::get<1>(keys[s]) &&
                       !key_less(std::get<2>(keys[f]), std::get<2>(keys[s])) &&
                       !key_less(std::get<2>(keys[s]), std::get<2>(keys[f]));
            };
            auto it = std::find_if(firsts.begin(), firsts.end(), same);
            next[s] = static_cast<std::uint32_t>(it - firsts.begin());
            if (it == firsts.end()) firsts.push_back(s);
        }
        if (next == classes) break;
        classes = std::move(next);
    }
    return classes;
}

TEST(SequenceNormalForm, RefinementFindsThePassByPassFixpoint) {
    const Labels& l = labels();
    const std::vector<std::vector<SharedDescr>> partitions = {
        {SharedDescr()}, {l.integer, SharedDescr()}, {l.str, SharedDescr()}, {l.integer, l.not_int},
        {l.none_or_str, l.integer, SharedDescr()}, {l.one, SharedDescr()}};
    std::mt19937 rng(2044);
    for (int round = 0; round < 200; ++round) {
        // Larger automata, few labels and targets, so that classes split
        // over many rounds and in several ways at once.
        const std::uint32_t n = 1 + rng() % 40;
        const std::uint32_t reach = 1 + rng() % 4;
        SequenceAutomaton a;
        for (std::uint32_t s = 0; s < n; ++s) {
            std::vector<Transition> state;
            for (const SharedDescr& label : partitions[rng() % partitions.size()])
                state.push_back(to(std::min<std::uint32_t>(n - 1, s + rng() % (reach + 1)), label));
            a.states.push_back(std::move(state));
            a.accepting.push_back(rng() % 5 == 0);
        }
        const auto classes = sequence_state_classes(a);
        ASSERT_TRUE(classes) << "round " << round;
        EXPECT_EQ(*classes, reference_classes(a)) << "round " << round << ", " << n << " states";
    }
}

TEST(SequenceNormalForm, CountBoundsAreWrittenInTheirNormalForm) {
    const SharedDescr top = share(descr_top());
    for (const Kind kind : {Kind::List, Kind::Tuple}) {
        for (const std::uint64_t n : {0u, 1u, 2u, 7u, 40u}) {
            // At least n: n prefix items and a tail, each admitting anything.
            const std::vector<SharedDescr> items(n, top);
            const OptDescr at_least = min_count_descr(n, kind);
            ASSERT_TRUE(at_least);
            EXPECT_TRUE(descr_equal(*at_least, *build_sequence_automaton(items, &top, kind))) << "at least " << n;
            // At most n: the kind outside "at least n + 1".
            const std::vector<SharedDescr> more(n + 1, top);
            const OptDescr at_most = max_count_descr(n, kind);
            ASSERT_TRUE(at_most);
            const OptDescr expected = descr_combine(
                descr_of_kind(kind), descr_complement(*build_sequence_automaton(more, &top, kind)), SetOp::Intersection);
            ASSERT_TRUE(expected);
            EXPECT_TRUE(descr_equal(*at_most, *expected)) << "at most " << n;
            for (const OptDescr* d : {&at_least, &at_most}) {
                const SequenceAutomaton a = automaton_of(*d, kind);
                EXPECT_TRUE(sequence_automaton_equal(normalize_sequence_automaton(a), a));
            }
            // A range: the meet of its two bounds.
            for (const std::uint64_t most : {n, n + 3, 2 * n + 1}) {
                const OptDescr range = count_range_descr(n, most, kind);
                const OptDescr meet = descr_combine(*at_least, *max_count_descr(most, kind), SetOp::Intersection);
                ASSERT_TRUE(range && meet);
                EXPECT_TRUE(descr_equal(*range, *meet)) << n << ".." << most;
            }
        }
        // Crossed bounds: no sequence at all.
        const OptDescr crossed = count_range_descr(5000, 10, kind);
        ASSERT_TRUE(crossed);
        EXPECT_EQ(descr_verdict(*crossed), Emptiness::Empty);
        EXPECT_FALSE(count_range_descr(0, 4096, kind));
        EXPECT_TRUE(count_range_descr(4096, std::nullopt, kind));
    }
}

TEST(SequenceNormalForm, ALongChainIsRefinedWithWorkLinearInItsLength) {
    // At most 4000 ints: a chain that takes a round per state to tell
    // apart.  Refining it pass by pass would compute 4000 signatures per
    // round, thousands of units; only the states next to a split are
    // looked at again, about 3 signatures per state in all.
    const Labels& l = labels();
    const std::uint32_t n = 4000, dead = n + 1;
    SequenceAutomaton a;
    for (std::uint32_t i = 0; i <= n; ++i) a.states.push_back({to(i + 1, l.integer), to(dead)});
    a.states[n] = {to(dead)};
    a.states.push_back({to(dead)});
    a.accepting.assign(n + 2, 1);
    a.accepting[dead] = 0;
    WorkWindow window(400);
    const auto classes = sequence_state_classes(a);
    ASSERT_TRUE(classes);
    for (std::uint32_t s = 0; s < a.states.size(); ++s) EXPECT_EQ((*classes)[s], s);
    EXPECT_GT(work_budget(), 200u) << "a unit per 64 signatures, a few signatures per state";
    EXPECT_EQ(normalize_sequence_automaton(a).states.size(), a.states.size());
}

TEST(SequenceNormalForm, AChainNeedsAPassPerStateAndGetsThem) {
    // At least 40 items: 41 states, 41 rounds to tell the chain apart.
    const SequenceAutomaton at_least = automaton_of(min_count_descr(40, Kind::List));
    EXPECT_EQ(at_least.states.size(), 41u);
    const auto at_most = max_count_descr(40, Kind::Tuple);
    ASSERT_TRUE(at_most);
    EXPECT_EQ(automaton_of(at_most, Kind::Tuple).states.size(), 42u);
    EXPECT_FALSE(min_count_descr(4097, Kind::List));
    EXPECT_FALSE(max_count_descr(4096, Kind::List));
}

// --- acceptance ----------------------------------------------------------------------

TEST(SequenceAcceptance, StrictAndLenientDifferOnAnUndecidedLabel) {
    const Labels& l = labels();
    EXPECT_EQ(descr_verdict(*l.undecided), Emptiness::Undecided);
    const SequenceAutomaton a = written({{to(1, l.undecided), to(2)}, {to(2)}, {to(2)}}, {0, 1, 0});
    EXPECT_FALSE(sequence_automaton_accepts(a, AcceptMode::Strict));
    EXPECT_TRUE(sequence_automaton_accepts(a, AcceptMode::Lenient));
    EXPECT_EQ(sequence_verdict(a), Emptiness::Undecided);
    // Normalisation keeps an undecided label.
    EXPECT_EQ(sequence_verdict(normalize_sequence_automaton(a)), Emptiness::Undecided);
    // An absent label whose remainder is proved empty is not followed.
    const SequenceAutomaton covered = written({{to(2, l.integer), to(2, l.not_int), to(1)}, {to(1)}, {to(2)}}, {0, 1, 0});
    EXPECT_EQ(sequence_verdict(covered), Emptiness::Empty);
    // The empty sequence: a start state that accepts.
    EXPECT_EQ(sequence_verdict(shape({})), Emptiness::Inhabited);
}

}  // namespace
}  // namespace tessaron::descr
