// Conversion of mapping nodes into shapes, checked against the dicts the
// walk admits: records, dicts keyed by kinds and by literals, the reading
// of a literal clause that names a field or not, the bounds so marked,
// and the key schemas that cannot be represented.
#include <gtest/gtest.h>

#include "core/descr/convert/convert.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/shapes/shape_algebra.h"
#include "decide/fake_oracle.h"
#include "descr/dict_fixture.h"
#include "ir/ir_builders.h"

namespace tessaron::descr {
namespace {

using namespace ir::testing;
using decide::testing::FakeConst;
using decide::testing::FakeOracle;
using ir::Clause;
using ir::Node;
using testing::Value;

enum : std::uint64_t { kA, kB, kBytesA, kOne, kTrue, kNone, kHalf, kOpaque, kPoolSize };

FakeOracle oracle() {
    using namespace decide::testing;
    std::vector<FakeConst> p(kPoolSize);
    p[kA] = str_c("a");
    p[kB] = str_c("b");
    p[kBytesA] = make_const(FakeConst::Bytes, 0, "a");
    p[kOne] = int_c(1);
    p[kTrue] = bool_c(true);
    p[kNone] = none_c();
    p[kHalf] = float_c(0.5);
    p[kOpaque] = opaque_c();
    return FakeOracle(p);
}

struct Converted {
    OptDescr descr;
    bool bounded = false;
};

Converted convert(const Node& node, ir::Polarity polarity = ir::Polarity::Above) {
    FakeOracle o = oracle();
    Converted c;
    c.descr = descr_bound_of_node(node, {}, polarity, o, c.bounded);
    return c;
}

Node mapping(std::vector<ir::RecordEntry> entries, std::vector<Clause> clauses) {
    return raw_mapping(std::move(entries), std::move(clauses));
}

Value str_key_item(const char* s) { return testing::str_item(s); }
// A str subclass instance equal to the name: a dict takes it for the name.
Value sub_str_key(const char* s) {
    Value v = testing::str_item(s);
    v.classes = {3};
    v.name = "S('" + std::string(s) + "')";
    return v;
}

struct Membership {
    Value dict;
    bool member;
};

void expect_members(const Descr& d, const std::vector<Membership>& cases, const char* what) {
    for (const Membership& m : cases) EXPECT_EQ(contains(d, m.dict), m.member) << what << ": " << m.dict.name;
}

using testing::dict_of;
using testing::int_item;
using testing::none_item;
using testing::str_item;

TEST(ConvertMapping, RecordsAndDictsAdmitWhatTheWalkAdmits) {
    const Value one = int_item(1), text = str_item("x");
    {
        const auto c = convert(record({entry("a", int_()), entry("b", str_(), false)}));
        ASSERT_TRUE(c.descr);
        EXPECT_FALSE(c.bounded);
        expect_members(*c.descr,
                       {{dict_of({{str_key_item("a"), one}}), true},
                        {dict_of({{sub_str_key("a"), one}}), true},
                        {dict_of({{str_key_item("a"), one}, {str_key_item("b"), text}}), true},
                        {dict_of({}), false},
                        {dict_of({{str_key_item("a"), text}}), false},
                        {dict_of({{str_key_item("a"), one}, {str_key_item("c"), one}}), false},
                        {dict_of({{str_key_item("a"), one}, {str_key_item("b"), one}}), false}},
                       "{'a': int, 'b?': str}");
    }
    {
        const auto c = convert(mapping({}, {Clause{str_(), int_()}}));
        ASSERT_TRUE(c.descr);
        expect_members(*c.descr,
                       {{dict_of({}), true},
                        {dict_of({{str_key_item("k"), one}, {sub_str_key("a"), one}}), true},
                        {dict_of({{str_key_item("k"), text}}), false},
                        {dict_of({{int_item(1), one}}), false}},
                       "dict[str, int]");
    }
    {
        // An int key schema admits bool keys.
        const auto c = convert(mapping({}, {Clause{int_(), str_()}}));
        ASSERT_TRUE(c.descr);
        expect_members(*c.descr,
                       {{dict_of({{int_item(1), text}, {testing::bool_item(false), text}}), true},
                        {dict_of({{testing::float_key_value(0.5), text}}), false}},
                       "dict[int, str]");
    }
    {
        // dict: every dict, as the universe shape.
        const auto c = convert(mapping({}, {Clause{anything0(), anything0()}}));
        ASSERT_TRUE(c.descr);
        ASSERT_EQ(c.descr->slot(Kind::Dict).lines.size(), 1u);
        EXPECT_TRUE(shapes_is_universe(std::get<Shapes>(c.descr->slot(Kind::Dict).lines[0].atom)));
    }
    {
        // An opened record: any other key, with any value.
        const auto c = convert(mapping({entry("a", int_())}, {Clause{anything0(), anything0()}}));
        ASSERT_TRUE(c.descr);
        expect_members(*c.descr,
                       {{dict_of({{str_key_item("a"), one}, {testing::tuple_key_value(), text}}), true},
                        {dict_of({{str_key_item("a"), text}}), false}},
                       "{'a': int, ...}");
    }
    {
        // A required field of no value: no dict.
        const auto c = convert(record({entry("a", nothing_())}));
        ASSERT_TRUE(c.descr);
        EXPECT_EQ(descr_verdict(*c.descr), ir::Emptiness::Empty);
    }
}

TEST(ConvertMapping, AFieldIsCheckedAgainstItselfAloneAndOtherKeysAgainstEveryClause) {
    const Value one = int_item(1), text = str_item("x");
    // {"a": int, Literal["a"]: str}: the walk never tries the clause for
    // "a", so {"a": 1} is a member.
    const auto named = convert(mapping({entry("a", int_())}, {Clause{lit(kA), str_()}}));
    ASSERT_TRUE(named.descr);
    EXPECT_FALSE(named.bounded) << "a literal naming a field adds nothing";
    expect_members(*named.descr,
                   {{dict_of({{str_key_item("a"), one}}), true}, {dict_of({{str_key_item("a"), text}}), false}},
                   "{'a': int, Literal['a']: str}");
    EXPECT_EQ(descr_verdict(*named.descr), ir::Emptiness::Inhabited);
    // {Literal["a"]: int, str: str}: "a" may hold a value of either clause.
    const auto both = convert(mapping({}, {Clause{lit(kA), int_()}, Clause{str_(), str_()}}));
    ASSERT_TRUE(both.descr);
    expect_members(*both.descr,
                   {{dict_of({{str_key_item("a"), text}}), true},
                    {dict_of({{str_key_item("a"), one}}), true},
                    {dict_of({{str_key_item("b"), one}}), false},
                    {dict_of({{str_key_item("b"), text}}), true}},
                   "{Literal['a']: int, str: str}");
}

TEST(ConvertMapping, LiteralKeysThatAdmitOnlyTheirExactTypeAreBounds) {
    // dict[Literal["a", "b"], int]: a shape also admits a str subclass key
    // equal to "a", which the walk refuses.
    const Node literal_keys = mapping({}, {Clause{uni({lit(kA), lit(kB)}), int_()}});
    const auto wide = convert(literal_keys, ir::Polarity::Above);
    ASSERT_TRUE(wide.descr);
    EXPECT_TRUE(wide.bounded);
    expect_members(*wide.descr,
                   {{dict_of({{str_key_item("a"), int_item(1)}, {str_key_item("b"), int_item(2)}}), true},
                    {dict_of({{str_key_item("c"), int_item(1)}}), false}},
                   "dict[Literal['a', 'b'], int]");
    // From below: the dicts without those keys.
    const auto narrow = convert(literal_keys, ir::Polarity::Below);
    ASSERT_TRUE(narrow.descr);
    EXPECT_TRUE(narrow.bounded);
    expect_members(*narrow.descr,
                   {{dict_of({}), true},
                    {dict_of({{str_key_item("a"), int_item(1)}}), false},
                    {dict_of({{sub_str_key("a"), int_item(1)}}), false}},
                   "dict[Literal['a', 'b'], int] from below");
    // Below a complement the direction flips: the complement of the bound
    // from below holds {'a': 1}, which the complement of the schema does
    // not, and the complement of the bound from above misses {S('a'): 1}.
    bool bounded = false;
    FakeOracle o = oracle();
    const OptDescr outside_above = descr_bound_of_node(comp(literal_keys), {}, ir::Polarity::Above, o, bounded);
    ASSERT_TRUE(outside_above);
    EXPECT_TRUE(bounded);
    EXPECT_TRUE(contains(*outside_above, dict_of({{str_key_item("a"), int_item(1)}})));
    bounded = false;
    const OptDescr outside_below = descr_bound_of_node(comp(literal_keys), {}, ir::Polarity::Below, o, bounded);
    ASSERT_TRUE(outside_below);
    EXPECT_TRUE(bounded);
    EXPECT_FALSE(contains(*outside_below, dict_of({{sub_str_key("a"), int_item(1)}})));
    // Without a place for the flag, a bound is no descriptor.
    EXPECT_FALSE(descr_of_node(literal_keys, {}, ir::Polarity::Above, o));
    // Bytes and int literals have subclasses too; None and bool do not; a
    // literal the clause also admits through its class is exact.
    struct Case {
        const char* name;
        Node key;
        bool bounded;
    };
    const Case cases[] = {
        {"Literal[b'a']", lit(kBytesA), true},
        {"Literal[1]", lit(kOne), true},
        {"Literal[None]", lit(kNone), false},
        {"Literal[True]", lit(kTrue), false},
        {"str | Literal['a']", uni({str_(), lit(kA)}), false},
        {"int | Literal[1]", uni({int_(), lit(kOne)}), false},
    };
    for (const Case& c : cases) {
        for (ir::Polarity polarity : {ir::Polarity::Above, ir::Polarity::Below}) {
            const auto converted = convert(mapping({}, {Clause{c.key, int_()}}), polarity);
            ASSERT_TRUE(converted.descr) << c.name;
            EXPECT_EQ(converted.bounded, c.bounded) << c.name << " polarity " << int(polarity);
        }
    }
}

TEST(ConvertMapping, KeySchemasThatCannotBeRepresentedAreBounds) {
    // From above every key a dict may have, from below none (the clause
    // left out); a union's representable members keep their keys.
    const Value one = int_item(1), text = str_item("x");
    const Node keys[] = {lit(kHalf), lit(kOpaque), list_of(int_()), set_of(int_()), inst(kOpaque),
                         inter({str_(), comp(lit(kA))})};
    for (const Node& key : keys) {
        const Node m = mapping({}, {Clause{key, int_()}});
        const auto wide = convert(m, ir::Polarity::Above);
        ASSERT_TRUE(wide.descr);
        EXPECT_TRUE(wide.bounded);
        expect_members(*wide.descr,
                       {{dict_of({{str_key_item("k"), one}}), true},
                        {dict_of({{none_item(), one}}), true},
                        {dict_of({{str_key_item("k"), text}}), false}},
                       "from above");
        const auto narrow = convert(m, ir::Polarity::Below);
        ASSERT_TRUE(narrow.descr);
        EXPECT_TRUE(narrow.bounded);
        expect_members(*narrow.descr, {{dict_of({}), true}, {dict_of({{str_key_item("k"), one}}), false}},
                       "from below");
    }
    const auto narrow = convert(mapping({}, {Clause{uni({str_(), lit(kHalf)}), int_()}}), ir::Polarity::Below);
    ASSERT_TRUE(narrow.descr);
    expect_members(*narrow.descr,
                   {{dict_of({{str_key_item("k"), one}}), true}, {dict_of({{none_item(), one}}), false}},
                   "str | Literal[0.5] from below");
    // A key schema counts towards the 64 nodes of a conversion.
    std::vector<Node> many;
    FakeOracle big([] {
        std::vector<FakeConst> p;
        for (int i = 0; i < 80; ++i) p.push_back(decide::testing::int_c(i));
        return p;
    }());
    for (std::uint64_t i = 0; i < 70; ++i) many.push_back(lit(i));
    bool bounded = false;
    EXPECT_FALSE(descr_bound_of_node(mapping({}, {Clause{uni(many), int_()}}), {}, ir::Polarity::Above, big, bounded));
}

}  // namespace
}  // namespace tessaron::descr
