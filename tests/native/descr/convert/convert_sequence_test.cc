// Conversion of list, tuple, set and frozenset nodes, checked against a
// reference walk over abstract values: fixed, variadic and homogeneous
// shapes, item counts, subclass instances of the containers, sets whose
// elements Python holds equal across kinds, and the limits of a conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/descr/convert/convert.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/sequences/sequence_build.h"
#include "decide/fake_oracle.h"
#include "descr/dict_fixture.h"
#include "ir/ir_builders.h"

namespace tessaron::descr {
namespace {

using namespace ir::testing;
using decide::testing::FakeConst;
using decide::testing::FakeOracle;
using ir::ConstraintKind;
using ir::Kind;
using ir::Node;
using ir::NodeKind;
using testing::Value;

enum : std::uint64_t { kOne, kTwo, kStrA, kTrue, kMyList, kMyTuple, kMyInt, kMyStr, kObject, kStrKey, kPoolSize };

std::vector<FakeConst> pool() {
    using namespace decide::testing;
    std::vector<FakeConst> p(kPoolSize);
    p[kOne] = int_c(1);
    p[kTwo] = int_c(2);
    p[kStrA] = str_c("a");
    p[kTrue] = bool_c(true);
    p[kMyList] = class_c(Kind::List, {kMyList, kObject});
    p[kMyTuple] = class_c(Kind::Tuple, {kMyTuple, kObject});
    p[kMyInt] = class_c(Kind::Int, {kMyInt, kObject});
    p[kMyStr] = class_c(Kind::Str, {kMyStr, kObject});
    p[kObject] = class_c(Kind::Other, {kObject});
    p[kStrKey] = str_c("k");
    return p;
}

struct Converted {
    OptDescr descr;
    bool bounded = false;
};

Converted convert(const Node& node, ir::Polarity polarity = ir::Polarity::Above) {
    FakeOracle o(pool());
    Converted c;
    c.descr = descr_bound_of_node(node, {}, polarity, o, c.bounded);
    return c;
}

constexpr std::uint32_t exact(Kind k) { return 0xFFFFFF00u + static_cast<std::uint32_t>(ir::kind_slot(k)); }

bool has_class(const Value& v, std::uint64_t id) {
    return std::find(v.classes.begin(), v.classes.end(), static_cast<std::uint32_t>(id)) != v.classes.end();
}

// --- the reference walk ----------------------------------------------------------
// What the walk admits for the node kinds of these tests: a list node takes
// lists and list subclass instances by their items, a literal its exact
// type only, `int` bools too, a length its items' count.
bool admits(const Node& node, const Value& v);

bool literal_admits(const FakeConst& c, const Value& v) {
    switch (c.type) {
        case FakeConst::Int: return v.kind == Kind::Int && has_class(v, exact(Kind::Int)) && v.integer == static_cast<std::int64_t>(c.number);
        case FakeConst::Bool: return v.kind == Kind::Bool && v.truth == (c.number != 0);
        case FakeConst::Str: return v.kind == Kind::Str && has_class(v, exact(Kind::Str)) && v.bytes == c.text;
        default: return false;
    }
}

bool all_items_admitted(const Node& node, const Value& v) {
    return std::all_of(v.elements.begin(), v.elements.end(), [&](const auto& e) { return admits(node, *e); });
}

bool admits(const Node& node, const Value& v) {
    const auto members = [&] { return ir::as_span(node.members()); };
    switch (node.kind) {
        case NodeKind::Anything: return true;
        case NodeKind::Nothing: return false;
        case NodeKind::None: return v.kind == Kind::None;
        case NodeKind::Bool: return v.kind == Kind::Bool;
        case NodeKind::Int: return v.kind == Kind::Bool || v.kind == Kind::Int;
        case NodeKind::Float: return v.kind == Kind::Float;
        case NodeKind::Str: return v.kind == Kind::Str;
        case NodeKind::Bytes: return v.kind == Kind::Bytes;
        case NodeKind::Literal: return literal_admits(pool()[node.pool_index()], v);
        case NodeKind::Sequence: {
            if (v.kind != (node.flavour() == ir::kFlavourTuple ? Kind::Tuple : Kind::List)) return false;
            const auto prefix = ir::as_span(node.prefix());
            const ir::Node* tail = node.tail().get();
            const std::size_t n = v.elements.size();
            if (tail ? n < prefix.size() : n != prefix.size()) return false;
            for (std::size_t i = 0; i < n; ++i)
                if (!admits(i < prefix.size() ? prefix[i] : *tail, *v.elements[i])) return false;
            return true;
        }
        case NodeKind::Set:
            return v.kind == (node.flavour() == ir::kFlavourFrozenset ? Kind::Frozenset : Kind::Set) && all_items_admitted(*node.element(), v);
        case NodeKind::Union: {
            const auto ms = members();
            return std::any_of(ms.begin(), ms.end(), [&](const Node& m) { return admits(m, v); });
        }
        case NodeKind::Intersection: {
            const auto ms = members();
            return std::all_of(ms.begin(), ms.end(), [&](const Node& m) { return admits(m, v); });
        }
        case NodeKind::Complement: return !admits(*node.inner(), v);
        case NodeKind::Instance: {
            const Kind base = pool()[node.pool_index()].base_kind;
            return v.kind == base && has_class(v, node.pool_index());
        }
        case NodeKind::Refined: {
            if (!admits(*node.inner(), v)) return false;
            for (const ir::Constraint& c : ir::as_span(node.constraints)) {
                const std::size_t n = v.elements.size();
                if (c.kind == ConstraintKind::MinLen && n < c.value) return false;
                if (c.kind == ConstraintKind::MaxLen && n > c.value) return false;
            }
            return true;
        }
        default: ADD_FAILURE() << "no reference for node kind " << static_cast<int>(node.kind); return false;
    }
}

// --- values ----------------------------------------------------------------------
Value with_classes(Value v, std::vector<std::uint32_t> classes, std::string name) {
    v.classes = std::move(classes);
    v.name = std::move(name);
    return v;
}
Value my_int(std::int64_t n) {
    Value v = testing::int_item(n);
    return with_classes(v, {kMyInt, kObject}, "MyInt(" + std::to_string(n) + ")");
}
Value my_str(std::string s) {
    Value v = testing::str_item(s);
    return with_classes(v, {kMyStr, kObject}, "MyStr('" + s + "')");
}
Value float_item(double x) {
    Value v;
    v.kind = Kind::Float;
    v.number = x;
    v.classes = {exact(Kind::Float)};
    v.name = std::to_string(x);
    return v;
}
Value list_of_values(std::vector<Value> items) { return testing::sequence_value(Kind::List, items); }
Value my_list(std::vector<Value> items) {
    Value v = testing::sequence_value(Kind::List, items);
    return with_classes(v, {kMyList, kObject}, "MyList(" + v.name + ")");
}
Value my_tuple(std::vector<Value> items) {
    Value v = testing::sequence_value(Kind::Tuple, items);
    return with_classes(v, {kMyTuple, kObject}, "MyTuple(" + v.name + ")");
}

// Every list and tuple of at most `max_len` items drawn from `items`, and
// the list and tuple subclass instances of at most two items.
std::vector<Value> sequences_over(const std::vector<Value>& items, std::size_t max_len) {
    std::vector<Value> out;
    std::vector<std::vector<Value>> level{{}};
    for (std::size_t len = 0; len <= max_len; ++len) {
        for (const auto& seq : level) {
            out.push_back(testing::sequence_value(Kind::List, seq));
            out.push_back(testing::sequence_value(Kind::Tuple, seq));
            if (len <= 2) {
                out.push_back(my_list(seq));
                out.push_back(my_tuple(seq));
            }
        }
        std::vector<std::vector<Value>> next;
        for (const auto& seq : level)
            for (const Value& x : items) {
                next.push_back(seq);
                next.back().push_back(x);
            }
        level = std::move(next);
    }
    return out;
}

// Every set and frozen set of elements drawn from `elements` (equal
// elements kept once, as Python does).
std::vector<Value> sets_over(const std::vector<Value>& elements) {
    std::vector<Value> out;
    const std::size_t n = elements.size();
    for (std::size_t mask = 0; mask < (std::size_t{1} << n); ++mask) {
        std::vector<Value> chosen;
        for (std::size_t i = 0; i < n; ++i)
            if (mask >> i & 1) chosen.push_back(elements[i]);
        out.push_back(testing::set_value(Kind::Set, chosen));
        out.push_back(testing::set_value(Kind::Frozenset, chosen));
    }
    return out;
}

const std::vector<Value>& sequence_universe() {
    static const std::vector<Value> values = [] {
        const std::vector<Value> items{testing::none_item(), testing::bool_item(true), testing::int_item(1),
                                       my_int(1),            testing::str_item("a"),  list_of_values({testing::int_item(1)})};
        std::vector<Value> vs = sequences_over(items, 4);
        // Flat values and sets: no sequence schema admits them.
        vs.push_back(testing::int_item(1));
        vs.push_back(testing::str_item("a"));
        vs.push_back(testing::set_value(Kind::Set, {testing::int_item(1)}));
        return vs;
    }();
    return values;
}

const std::vector<Value>& set_universe() {
    static const std::vector<Value> values = [] {
        // True, 1, MyInt(1) and 1.0 are one element; so are "a" and
        // MyStr("a").  A hashable list subclass instance can be an element.
        std::vector<Value> vs = sets_over({testing::none_item(), testing::bool_item(false), testing::bool_item(true),
                                           testing::int_item(1), my_int(2), float_item(1.0), testing::str_item("a"),
                                           my_str("a"), my_list({testing::int_item(1)}),
                                           testing::sequence_value(Kind::Tuple, {testing::int_item(1)})});
        vs.push_back(testing::sequence_value(Kind::List, {}));
        vs.push_back(testing::int_item(1));
        return vs;
    }();
    return values;
}

void expect_walk_agrees(const char* name, const Node& node, const std::vector<Value>& values) {
    const Converted c = convert(node);
    ASSERT_TRUE(c.descr) << name;
    EXPECT_FALSE(c.bounded) << name;
    int disagreements = 0;
    for (const Value& v : values) {
        const bool walk = admits(node, v);
        if (testing::contains(*c.descr, v) != walk && ++disagreements <= 5)
            ADD_FAILURE() << name << ": " << v.name << " is " << (walk ? "" : "not ") << "admitted by the walk";
    }
}

Node literals(std::vector<std::uint64_t> indices) {
    std::vector<Node> ms;
    for (auto i : indices) ms.push_back(lit(i));
    return raw(NodeKind::Union, std::move(ms));
}
Node list_n(Node item) { return raw_seq(ir::kFlavourList, {}, std::move(item)); }
Node tuple_n(std::vector<Node> prefix, std::optional<Node> tail = std::nullopt) {
    return raw_seq(ir::kFlavourTuple, std::move(prefix), std::move(tail));
}
Node set_n(Node element, bool frozen = false) {
    return raw_single(NodeKind::Set, std::move(element), frozen ? ir::kFlavourFrozenset : ir::kFlavourSet);
}
ir::Constraint max_len(std::uint64_t n) { return con(ConstraintKind::MaxLen, n); }

TEST(ConvertSequence, ListsAndTuplesAdmitWhatTheWalkAdmits) {
    struct Case {
        const char* name;
        Node node;
    };
    const Case cases[] = {
        {"list[int]", list_n(int_())},
        {"list", list_n(anything0())},
        {"list[Literal[1, 'a']]", list_n(literals({kOne, kStrA}))},
        {"list[Literal[True]]", list_n(lit(kTrue))},
        {"list[list[int]]", list_n(list_n(int_()))},
        {"list[MyInt]", list_n(inst(kMyInt))},
        {"tuple[()]", tuple_n({})},
        {"tuple[int, str]", tuple_n({int_(), str_()})},
        {"tuple[int, ...]", tuple_n({}, int_())},
        {"tuple[str, *tuple[int, ...]]", tuple_n({str_()}, int_())},
        {"tuple[Any, int]", tuple_n({anything0(), int_()})},
        {"tuple[None, Any, ...]", tuple_n({none_()}, anything0())},
        {"tuple[int, nothing]", tuple_n({int_(), nothing_()})},
        {"tuple[nothing, ...]", tuple_n({}, nothing_())},
        {"list[int] | tuple[int, int]", raw(NodeKind::Union, {list_n(int_()), tuple_n({int_(), int_()})})},
        {"tuple[()] | tuple[int] | tuple[int, int]",
         raw(NodeKind::Union, {tuple_n({}), tuple_n({int_()}), tuple_n({int_(), int_()})})},
        {"list[int] & list[Literal[1] | str]",
         raw(NodeKind::Intersection, {list_n(int_()), list_n(raw(NodeKind::Union, {lit(kOne), str_()}))})},
        {"not list[int]", raw_single(NodeKind::Complement, list_n(int_()))},
        {"MyList & list[int]", raw(NodeKind::Intersection, {inst(kMyList), list_n(int_())})},
        {"MyTuple", inst(kMyTuple)},
        {"list[int] of at least 2", raw_refined(list_n(int_()), {min_len(2)})},
        {"tuple[int, ...] of at most 2", raw_refined(tuple_n({}, int_()), {max_len(2)})},
        {"list | tuple of 1 to 3", raw_refined(raw(NodeKind::Union, {list_n(anything0()), tuple_n({}, anything0())}),
                                               {min_len(1), max_len(3)})},
        {"tuple[int, str] of at most 1", raw_refined(tuple_n({int_(), str_()}), {max_len(1)})},
        {"list[int] of at least 0", raw_refined(list_n(int_()), {min_len(0)})},
        {"list of at most 0", raw_refined(list_n(anything0()), {max_len(0)})},
    };
    for (const Case& c : cases) expect_walk_agrees(c.name, c.node, sequence_universe());
}

TEST(ConvertSequence, SetsAdmitWhatTheWalkAdmits) {
    struct Case {
        const char* name;
        Node node;
    };
    const Case cases[] = {
        {"set[int]", set_n(int_())},
        {"set", set_n(anything0())},
        {"frozenset[bool]", set_n(bool_(), true)},
        {"frozenset[int]", set_n(int_(), true)},
        {"set[Literal[True, 1]]", set_n(literals({kTrue, kOne}))},
        {"set[Literal[True]] | set[Literal[1]]", raw(NodeKind::Union, {set_n(lit(kTrue)), set_n(lit(kOne))})},
        {"set[str]", set_n(str_())},
        {"set[Literal['a']]", set_n(lit(kStrA))},
        {"set[int | list[int]]", set_n(raw(NodeKind::Union, {int_(), list_n(int_())}))},
        {"set[tuple[int]]", set_n(tuple_n({int_()}))},
        {"set[nothing]", set_n(nothing_())},
        {"not set[int]", raw_single(NodeKind::Complement, set_n(int_()))},
        {"set[int] & not set[bool]", raw(NodeKind::Intersection, {set_n(int_()), raw_single(NodeKind::Complement, set_n(bool_()))})},
        {"set[int] | frozenset[str]", raw(NodeKind::Union, {set_n(int_()), set_n(str_(), true)})},
    };
    for (const Case& c : cases) expect_walk_agrees(c.name, c.node, set_universe());
}

TEST(ConvertSequence, ShapesOfTheAutomata) {
    // list[int]: after normalisation one accepting state looping on int
    // and the dead sink.
    const auto ints = convert(list_n(int_()));
    ASSERT_TRUE(ints.descr);
    ASSERT_EQ(ints.descr->slot(Kind::List).lines.size(), 1u);
    const auto& a = std::get<SequenceAutomaton>(ints.descr->slot(Kind::List).lines[0].atom);
    ASSERT_EQ(a.states.size(), 2u);
    EXPECT_EQ(a.accepting, (std::vector<std::uint8_t>{1, 0}));
    // Only the flavour's slot is filled.
    for (const Kind k : ir::kKinds)
        EXPECT_EQ(ints.descr->slot(k).lines.empty(), k != Kind::List) << ir::kind_slot(k);
    // An item admitting every element reads with an absent label alone.
    const auto any = convert(tuple_n({anything0()}));
    ASSERT_TRUE(any.descr);
    const auto& b = std::get<SequenceAutomaton>(any.descr->slot(Kind::Tuple).lines[0].atom);
    ASSERT_FALSE(b.states[0].empty());
    EXPECT_FALSE(b.states[0][0].label);
    // A set schema is one item bounding its elements.
    const auto bools = convert(set_n(bool_(), true));
    ASSERT_TRUE(bools.descr);
    ASSERT_EQ(bools.descr->slot(Kind::Frozenset).lines.size(), 1u);
    EXPECT_TRUE(bools.descr->slot(Kind::Set).lines.empty());
    const auto& items = std::get<SetItems>(bools.descr->slot(Kind::Frozenset).lines[0].atom);
    ASSERT_EQ(items.items.size(), 1u);
    EXPECT_TRUE(items.items[0].not_within.empty());
    // The empty set is a member even when no element is possible.
    const auto none = convert(set_n(nothing_()));
    ASSERT_TRUE(none.descr);
    EXPECT_EQ(descr_verdict(*none.descr), ir::Emptiness::Inhabited);
    EXPECT_EQ(descr_verdict(*convert(tuple_n({int_(), nothing_()})).descr), ir::Emptiness::Empty);
}

TEST(ConvertSequence, TheLimitsOfAConversion) {
    // Nested lists: the item of the fourth level below the root converts,
    // one level more does not.
    Node four = int_();
    for (int i = 0; i < 4; ++i) four = list_n(four);
    EXPECT_TRUE(convert(four).descr);
    EXPECT_FALSE(convert(list_n(four)).descr);
    EXPECT_FALSE(convert(set_n(four)).descr);
    // A tuple of 63 items and its root take the 64 nodes; one more item
    // is one node too many.
    EXPECT_TRUE(convert(tuple_n(std::vector<Node>(63, int_()))).descr);
    EXPECT_FALSE(convert(tuple_n(std::vector<Node>(64, int_()))).descr);
    EXPECT_FALSE(convert(tuple_n(std::vector<Node>(62, int_()), list_n(int_()))).descr);
    // An item that cannot be converted, prefix or tail or element.
    EXPECT_FALSE(convert(tuple_n({int_(), hole(1)})).descr);
    EXPECT_FALSE(convert(tuple_n({int_()}, hole(1))).descr);
    EXPECT_FALSE(convert(set_n(hole(1))).descr);
    // Item counts: at least 4096 and at most 4095 are the largest bounds;
    // past them, and for a count of a set (no length of one), the
    // constraint is left out of a bound from above and there is no bound
    // from below.
    for (const Node& node : {raw_refined(list_n(int_()), {min_len(4097)}),
                             raw_refined(tuple_n({}, int_()), {max_len(4096)}),
                             raw_refined(set_n(int_()), {min_len(1)})}) {
        const Converted above = convert(node, ir::Polarity::Above);
        ASSERT_TRUE(above.descr);
        EXPECT_TRUE(above.bounded);
        EXPECT_FALSE(convert(node, ir::Polarity::Below).descr);
    }
    // On str | list, the length bounds both.
    const auto both = convert(raw_refined(raw(NodeKind::Union, {str_(), list_n(int_())}), {min_len(1)}));
    ASSERT_TRUE(both.descr);
    EXPECT_FALSE(testing::contains(*both.descr, testing::sequence_value(Kind::List, {})));
    EXPECT_TRUE(testing::contains(*both.descr, testing::sequence_value(Kind::List, {testing::int_item(3)})));
    EXPECT_FALSE(testing::contains(*both.descr, testing::str_item("")));
    EXPECT_TRUE(testing::contains(*both.descr, testing::str_item("a")));
}

TEST(ConvertSequence, ItemsCarryTheirBoundAndDirection) {
    // A dict keyed by a literal is bounded from above (a str subclass key
    // equal to it) and from below (no such key): inside a list or a set it
    // stays a bound, either way and below a complement.
    const Node keyed = raw_mapping({}, {ir::Clause{lit(kStrKey), int_()}});
    for (const Node& node : {list_n(keyed), tuple_n({int_(), keyed}), set_n(tuple_n({keyed}), true)}) {
        const Node outside = raw_single(NodeKind::Complement, node);
        for (const Node* n : {&node, &outside}) {
            for (ir::Polarity polarity : {ir::Polarity::Above, ir::Polarity::Below}) {
                const Converted bound = convert(*n, polarity);
                ASSERT_TRUE(bound.descr);
                EXPECT_TRUE(bound.bounded);
            }
        }
    }
}

}  // namespace
}  // namespace tessaron::descr
