// Conversion of schema trees into descriptors over a fake oracle: one case
// per node kind, the refinements, the limits, and the budget around it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/descr/budget.h"
#include "core/descr/convert/convert.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/lines/order.h"
#include "core/descr/values/text_automaton.h"
#include "decide/fake_oracle.h"
#include "descr/descr_fixture.h"
#include "ir/ir_builders.h"

namespace tessaron::descr {
namespace {

using namespace ir::testing;
using decide::testing::FakeConst;
using decide::testing::FakeOracle;
using ir::ConstraintKind;
using ir::Emptiness;
using ir::Kind;
using ir::Node;
using testing::Value;

enum : std::uint64_t {
    kZero, kTen, kThree, k5000, kFive, kZeroFloat, kNaN, kMinusZero, kTrue, kStrA, kBytesA, kPlain, kAbstract,
    kMyStr, kMyInt, kObject, kOpaque, kStrBig, kIntMax, kPoolSize
};

class Oracle : public FakeOracle {
public:
    Oracle() : FakeOracle(pool()) {}
    static std::vector<FakeConst> pool() {
        using namespace decide::testing;
        std::vector<FakeConst> p(kPoolSize);
        p[kZero] = int_c(0);
        p[kTen] = int_c(10);
        p[kThree] = int_c(3);
        p[k5000] = int_c(5000);
        p[kFive] = int_c(5);
        p[kZeroFloat] = float_c(0.0);
        p[kNaN] = float_c(std::numeric_limits<double>::quiet_NaN());
        p[kMinusZero] = float_c(-0.0);
        p[kTrue] = bool_c(true);
        p[kStrA] = str_c("a");
        p[kBytesA] = make_const(FakeConst::Bytes, 0, "a");
        p[kPlain] = class_c(Kind::Other, {kPlain, kObject});
        p[kAbstract] = class_c(Kind::Other, {kAbstract, kObject}, false);
        p[kMyStr] = class_c(Kind::Str, {kMyStr, kObject});
        p[kMyInt] = class_c(Kind::Int, {kMyInt, kObject});
        p[kObject] = class_c(Kind::Other, {kObject});
        p[kOpaque] = opaque_c();
        p[kStrBig] = str_c("zz");
        p[kIntMax] = int_c(0);  // answered by bound_info below
        return p;
    }
    ir::LeafInfo bound_info(std::uint64_t i) override {
        if (i != kIntMax) return FakeOracle::bound_info(i);
        ir::LeafInfo info;
        info.tag = ir::LeafInfo::Tag::Int;
        info.int_value = std::numeric_limits<std::int64_t>::max();
        return info;
    }
};

OptDescr convert(const Node& node, std::vector<Node> definitions = {}) {
    Oracle oracle;
    return descr_of_node(node, definitions, ir::Polarity::Above, oracle);
}

Value val(Kind kind, std::vector<std::uint32_t> classes = {}) {
    Value v;
    v.kind = kind;
    v.classes = std::move(classes);
    return v;
}
Value int_val(std::int64_t n, std::vector<std::uint32_t> classes) {
    Value v = val(Kind::Int, std::move(classes));
    v.integer = n;
    return v;
}
Value float_val(double x) {
    Value v = val(Kind::Float, {0xFFFFFF03u});
    v.number = x;
    return v;
}
Value text_val(Kind kind, std::string bytes, std::vector<std::uint32_t> classes) {
    Value v = val(kind, std::move(classes));
    v.bytes = std::move(bytes);
    return v;
}
Value bool_val(bool b) {
    Value v = val(Kind::Bool);
    v.truth = b;
    return v;
}
constexpr std::uint32_t kExactInt = 0xFFFFFF02u, kExactStr = 0xFFFFFF04u;

// The slots holding lines.
std::vector<Kind> filled(const Descr& d) {
    std::vector<Kind> out;
    for (const Kind k : ir::kKinds)
        if (!d.slot(k).lines.empty() || d.slot(k).negated) out.push_back(k);
    return out;
}

ir::Constraint bound(ConstraintKind k, std::uint64_t p) { return con(k, p); }
ir::Constraint max_len(std::uint64_t n) { return con(ConstraintKind::MaxLen, n); }
ir::Constraint multiple_of(std::uint64_t p) { return con(ConstraintKind::MultipleOf, p); }

TEST(Convert, WhichSlotsEachKindFills) {
    const std::vector<Kind> every(ir::kKinds.begin(), ir::kKinds.end());
    struct Case {
        const char* name;
        Node node;
        std::vector<Kind> slots;
    };
    const Case cases[] = {
        {"anything", anything0(), every},
        {"nothing", nothing_(), {}},
        {"None", none_(), {Kind::None}},
        {"bool", bool_(), {Kind::Bool}},
        {"int admits the bools", int_(), {Kind::Bool, Kind::Int}},
        {"float", float_(), {Kind::Float}},
        {"str", str_(), {Kind::Str}},
        {"bytes", bytes_(), {Kind::Bytes}},
        {"a str subclass", inst(kMyStr), {Kind::Str}},
        {"an int subclass", inst(kMyInt), {Kind::Int}},
        {"a plain class", inst(kPlain), every},
        {"an int literal", lit(kFive), {Kind::Int}},
        {"True", lit(kTrue), {Kind::Bool}},
        {"a bytes literal", lit(kBytesA), {Kind::Bytes}},
        {"a NaN literal admits nothing", lit(kNaN), {}},
        {"an object node", raw_object({entry("x", int_())}), every},
    };
    for (const Case& c : cases) {
        const OptDescr d = convert(c.node);
        ASSERT_TRUE(d) << c.name;
        EXPECT_EQ(filled(*d), c.slots) << c.name;
    }
    EXPECT_EQ(descr_verdict(*convert(inst(kPlain))), Emptiness::Inhabited);
}

TEST(Convert, WhatGivesNoDescriptor) {
    struct Case {
        const char* name;
        Node node;
    };
    const Case cases[] = {
        {"a class the oracle declines", inst(kAbstract)},
        {"a literal the oracle declines", lit(kOpaque)},
        {"a class as a literal", lit(kPlain)},
        {"a predicate", raw_refined(int_(), {con(ConstraintKind::Predicate, kOpaque)})},
        {"a back edge without definitions", edge(0)},
        {"a placeholder", hole(3)},
        {"bounds on int | float", raw_refined(raw(ir::NodeKind::Union, {int_(), float_()}), {bound(ConstraintKind::Ge, kZero)})},
        {"a float bound on int", raw_refined(int_(), {bound(ConstraintKind::Ge, kZeroFloat)})},
        {"Gt the largest int", raw_refined(int_(), {bound(ConstraintKind::Gt, kIntMax)})},
        {"a divisor above 4096", raw_refined(int_(), {multiple_of(k5000)})},
        {"a length on int", raw_refined(int_(), {min_len(1)})},
        {"a pattern on int", raw_refined(int_(), {regex("a")})},
        {"a pattern that does not compile", raw_refined(str_(), {regex("(")})},
        {"a pattern matching no str", raw_refined(str_(), {regex("[^\\s\\S]")})},
        {"a pattern on bytes alone", raw_refined(bytes_(), {regex("a")})},
    };
    for (const Case& c : cases) EXPECT_FALSE(convert(c.node)) << c.name;
}

TEST(Convert, AConstraintWithoutADescriptorIsLeftOutOfABoundFromAbove) {
    // 0 <= int with a predicate: from above the ints from 0, marked
    // bounded; from below none.
    Oracle oracle;
    const Node node = raw_refined(int_(), {con(ConstraintKind::Predicate, kOpaque), bound(ConstraintKind::Ge, kZero)});
    bool bounded = false;
    const OptDescr above = descr_bound_of_node(node, {}, ir::Polarity::Above, oracle, bounded);
    ASSERT_TRUE(above);
    EXPECT_TRUE(bounded);
    EXPECT_TRUE(testing::contains(*above, int_val(7, {})));
    EXPECT_FALSE(testing::contains(*above, int_val(-1, {})));
    bounded = false;
    EXPECT_FALSE(descr_bound_of_node(node, {}, ir::Polarity::Below, oracle, bounded));
    EXPECT_FALSE(convert(node)) << "no bound where none is asked for";
}

TEST(Convert, ConstraintsMeetInAnyOrder) {
    // On bool, a float bound has a descriptor only once another bound left
    // no bool (a float bound over nothing): each order gives nothing.
    Oracle oracle;
    for (const auto& constraints :
         {std::vector<ir::Constraint>{bound(ConstraintKind::Ge, kZeroFloat), bound(ConstraintKind::Ge, kTen)},
          std::vector<ir::Constraint>{bound(ConstraintKind::Ge, kTen), bound(ConstraintKind::Ge, kZeroFloat)}}) {
        const OptDescr d = convert(raw_refined(bool_(), constraints));
        ASSERT_TRUE(d);
        EXPECT_EQ(descr_verdict(*d), Emptiness::Empty);
    }
}

TEST(Convert, RefinementsAgreeWithTheWalk) {
    struct Case {
        const char* name;
        Node node;
        std::vector<std::pair<Value, bool>> members;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"0 <= int < 10",
         raw_refined(int_(), {bound(ConstraintKind::Ge, kZero), bound(ConstraintKind::Lt, kTen)}),
         {{int_val(0, {}), true}, {int_val(9, {kMyInt}), true}, {int_val(10, {}), false}, {int_val(-1, {}), false},
          {bool_val(false), true}, {bool_val(true), true}}},
        {"bool > 0", raw_refined(bool_(), {bound(ConstraintKind::Gt, kZero)}),
         {{bool_val(true), true}, {bool_val(false), false}}},
        {"float > 0", raw_refined(float_(), {bound(ConstraintKind::Gt, kZero)}),
         {{float_val(5e-324), true}, {float_val(inf), true}, {float_val(0.0), false}, {float_val(-0.0), false},
          {float_val(std::nan("")), false}}},
        {"float >= -0.0", raw_refined(float_(), {bound(ConstraintKind::Ge, kMinusZero)}),
         {{float_val(0.0), true}, {float_val(-0.0), true}, {float_val(-5e-324), false}}},
        {"int multiple of 3", raw_refined(int_(), {multiple_of(kThree)}),
         {{int_val(-3, {}), true}, {int_val(4, {}), false}, {bool_val(false), true}, {bool_val(true), false}}},
        {"str of at most 3", raw_refined(str_(), {max_len(3)}),
         {{text_val(Kind::Str, "abc", {}), true}, {text_val(Kind::Str, "\xC3\xA9\xC3\xA9\xC3\xA9", {}), true},
          {text_val(Kind::Str, "abcd", {}), false}}},
        {"a pattern on str | bytes holds str only",
         raw_refined(raw(ir::NodeKind::Union, {str_(), bytes_()}), {regex("a+")}),
         {{text_val(Kind::Str, "aa", {}), true}, {text_val(Kind::Bytes, "aa", {}), false}, {text_val(Kind::Str, "\xED\xA0\x80", {}), false}}},
        {"the literal 5 admits exact ints only", lit(kFive),
         {{int_val(5, {kExactInt}), true}, {int_val(5, {kMyInt}), false}}},
        {"the literal 'a' admits exact strs only", lit(kStrA),
         {{text_val(Kind::Str, "a", {kExactStr}), true}, {text_val(Kind::Str, "a", {kMyStr}), false}}},
        {"-0.0 is the point 0.0", lit(kMinusZero), {{float_val(0.0), true}, {float_val(-0.0), true}}},
    };
    for (const Case& c : cases) {
        const OptDescr d = convert(c.node);
        ASSERT_TRUE(d) << c.name;
        for (const auto& [value, member] : c.members) EXPECT_EQ(testing::contains(*d, value), member) << c.name;
    }
}

// The enumerations of an oracle that tells their members' contents: one
// whose members are all its instances (ints 1 and 2), one whose members
// are some of them (the int 4, as a flag's), one of strs ("a", "bb").
class EnumOracle : public Oracle {
public:
    ir::LeafInfo class_info(std::uint64_t i) override {
        if (i != kMyInt && i != kMyStr) return Oracle::class_info(i);
        ir::LeafInfo info = Oracle::class_info(i);
        auto member = [](std::int64_t n) {
            ir::LeafInfo m;
            m.tag = ir::LeafInfo::Tag::Int;
            m.int_value = n;
            return m;
        };
        auto text = [](std::string t) {
            ir::LeafInfo m;
            m.tag = ir::LeafInfo::Tag::Text;
            m.text = std::move(t);
            return m;
        };
        if (i == kMyStr) {
            info.instances = ir::LeafInfo::Instances::Exactly;
            info.members = {text("a"), text("bb")};
        } else if (closed) {
            info.instances = ir::LeafInfo::Instances::Exactly;
            info.members = {member(1), member(2)};
        } else {
            info.instances = ir::LeafInfo::Instances::AtLeast;
            info.members = {member(4)};
        }
        return info;
    }
    bool closed = true;
};

TEST(Convert, AnEnumerationIsItsMembersContentsOnlyWhenTheyAreAllItsInstances) {
    EnumOracle oracle;
    const std::vector<std::uint32_t> cls = {kMyInt, kObject};
    for (const ir::Polarity direction : {ir::Polarity::Above, ir::Polarity::Below}) {
        bool bounded = false;
        const OptDescr d = descr_bound_of_node(inst(kMyInt), {}, direction, oracle, bounded);
        ASSERT_TRUE(d);
        EXPECT_FALSE(bounded);
        EXPECT_TRUE(testing::contains(*d, int_val(1, cls)));
        EXPECT_TRUE(testing::contains(*d, int_val(2, cls)));
        EXPECT_FALSE(testing::contains(*d, int_val(3, cls)));
        EXPECT_FALSE(testing::contains(*d, int_val(1, {kExactInt}))) << "members are no exact ints";
        const OptDescr s = descr_bound_of_node(inst(kMyStr), {}, direction, oracle, bounded);
        ASSERT_TRUE(s);
        EXPECT_TRUE(testing::contains(*s, text_val(Kind::Str, "bb", {kMyStr, kObject})));
        EXPECT_FALSE(testing::contains(*s, text_val(Kind::Str, "b", {kMyStr, kObject})));
    }
    // Members that are not all its instances bound it: from above by any
    // content of its kind, from below by the members.
    oracle.closed = false;
    bool bounded = false;
    const OptDescr above = descr_bound_of_node(inst(kMyInt), {}, ir::Polarity::Above, oracle, bounded);
    ASSERT_TRUE(above);
    EXPECT_TRUE(bounded);
    EXPECT_TRUE(testing::contains(*above, int_val(8, cls)));
    bounded = false;
    const OptDescr below = descr_bound_of_node(inst(kMyInt), {}, ir::Polarity::Below, oracle, bounded);
    ASSERT_TRUE(below);
    EXPECT_TRUE(bounded);
    EXPECT_TRUE(testing::contains(*below, int_val(4, cls)));
    EXPECT_FALSE(testing::contains(*below, int_val(8, cls)));
    EXPECT_FALSE(descr_of_node(inst(kMyInt), {}, ir::Polarity::Above, oracle)) << "no bound where none is asked for";
}

// Sets of sets of ... of int, `levels` set nodes deep, each below a run of
// `complements` complement nodes.
Node nested_sets(int levels, int complements) {
    Node n = int_();
    for (int i = 0; i < levels; ++i) {
        for (int k = 0; k < complements; ++k) n = raw_single(ir::NodeKind::Complement, std::move(n));
        n = raw_single(ir::NodeKind::Set, std::move(n));
    }
    return n;
}

TEST(Convert, FourLevelsBelowTheRootConvertAndFiveDoNot) {
    EXPECT_TRUE(convert(nested_sets(4, 0)));
    EXPECT_FALSE(convert(nested_sets(5, 0)));
}

TEST(Convert, ComplementsTakeNoLevel) {
    // Complements between the levels (one or two at each) leave the depth
    // as it is; the counter still bounds a run of them.
    for (int complements : {1, 2}) {
        EXPECT_TRUE(convert(nested_sets(4, complements))) << complements;
        EXPECT_FALSE(convert(nested_sets(5, complements))) << complements;
    }
    Node chain = int_();
    for (int i = 0; i < 70; ++i) chain = raw_single(ir::NodeKind::Complement, std::move(chain));
    EXPECT_FALSE(convert(chain));
    // An even run cancels: ~~x converts to x's descriptor, also below a
    // complement of an intersection that holds it.
    const Node x = raw_refined(int_(), {multiple_of(kThree)});
    const Node twice = raw_single(ir::NodeKind::Complement, raw_single(ir::NodeKind::Complement, x));
    ASSERT_TRUE(convert(twice));
    EXPECT_TRUE(descr_equal(*convert(twice), *convert(x)));
    // int & ~(int & ~(int % 3)) is int % 3, four nodes deep under the root
    // before the refinement's own int.
    const Node meet = raw(ir::NodeKind::Intersection,
                          {int_(), raw_single(ir::NodeKind::Complement,
                                              raw(ir::NodeKind::Intersection,
                                                  {int_(), raw_single(ir::NodeKind::Complement, x)}))});
    const OptDescr d = convert(meet);
    ASSERT_TRUE(d);
    for (std::int64_t n : {-3, 0, 3, 6}) EXPECT_TRUE(testing::contains(*d, int_val(n, {}))) << n;
    for (std::int64_t n : {-1, 1, 4}) EXPECT_FALSE(testing::contains(*d, int_val(n, {}))) << n;
}

TEST(Convert, SixtyFourNodesConvertAndOneMoreDoesNot) {
    auto literals = [](int n) {
        std::vector<Node> members;
        for (int i = 0; i < n; ++i) members.push_back(lit(i % 2 ? kFive : kTen));
        return raw(ir::NodeKind::Union, std::move(members));
    };
    EXPECT_TRUE(convert(literals(63)));
    EXPECT_FALSE(convert(literals(64)));
    EXPECT_FALSE(convert(literals(70)));
}

TEST(Convert, ATreePastTheCounterBuildsNoPattern) {
    // Each member a refined str: two nodes, one pattern.  Thirty-one of
    // them and their union are sixty-three nodes and convert, patterns and
    // all; thirty-two are past the counter whatever is converted first, and
    // are refused before any pattern is built.
    auto patterns = [](int n) {
        std::vector<Node> members;
        for (int i = 0; i < n; ++i)
            members.push_back(raw_refined(str_(), {regex("[a-c]{1," + std::to_string(1 + i) + "}")}));
        return raw(ir::NodeKind::Union, std::move(members));
    };
    const std::uint64_t builds = pattern_build_counts().builds;
    EXPECT_TRUE(convert(patterns(31)));
    EXPECT_EQ(pattern_build_counts().builds - builds, 31u);
    EXPECT_FALSE(convert(patterns(32)));
    EXPECT_FALSE(convert(tuple_of({patterns(20), patterns(12)})));
    EXPECT_EQ(pattern_build_counts().builds - builds, 31u);
}

TEST(Convert, RecursionIsUnfoldedOnceWithItsDefinitions) {
    // def 0 = int | ~def 0: below the first unfolding the back edge is cut to
    // anything or nothing by the polarity, which flips under the complement,
    // so the descriptor is every value (from above) or int (from below).
    const std::vector<Node> defs = {raw(ir::NodeKind::Union, {int_(), raw_single(ir::NodeKind::Complement, edge(0))})};
    Oracle oracle;
    const OptDescr wide = descr_of_node(edge(0), defs, ir::Polarity::Above, oracle);
    const OptDescr narrow = descr_of_node(edge(0), defs, ir::Polarity::Below, oracle);
    ASSERT_TRUE(wide);
    ASSERT_TRUE(narrow);
    EXPECT_TRUE(testing::contains(*wide, int_val(1, {})));
    EXPECT_TRUE(testing::contains(*narrow, int_val(1, {})));
    EXPECT_TRUE(testing::contains(*wide, text_val(Kind::Str, "a", {})));
    EXPECT_FALSE(testing::contains(*narrow, text_val(Kind::Str, "a", {})));
    EXPECT_FALSE(descr_of_node(edge(0), {}, ir::Polarity::Above, oracle)) << "no definitions: the back edge stays";
}

TEST(Convert, TheBudgetIsRestoredWhateverTheOutcome) {
    Oracle oracle;
    WorkWindow window(777);
    for (const Node& n : {int_(), inst(kAbstract), raw_refined(int_(), {multiple_of(k5000)}), anything0()}) {
        (void)descr_of_node(n, {}, ir::Polarity::Above, oracle);
        EXPECT_EQ(work_budget(), 777u);
    }
}

}  // namespace
}  // namespace tessaron::descr
