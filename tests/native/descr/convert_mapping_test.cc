// Conversion of mapping nodes into shapes, checked against the dicts the
// walk admits: records, dicts keyed by kinds and by literals, the reading
// of a literal clause that names a field or not, the bounds marked inexact,
// and the key schemas that cannot be represented.
#include <gtest/gtest.h>

#include "core/descr/convert.h"
#include "core/descr/emptiness.h"
#include "core/descr/shape_algebra.h"
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
    bool inexact = false;
};

Converted convert(const Node& node, std::uint8_t polarity = 0) {
    FakeOracle o = oracle();
    Converted c;
    c.descr = descr_of_node(node, {}, polarity, o, &c.inexact);
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
        EXPECT_FALSE(c.inexact);
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
        ASSERT_EQ(c.descr->slot(10).lines.size(), 1u);
        EXPECT_TRUE(shapes_is_universe(std::get<Shapes>(c.descr->slot(10).lines[0].atom)));
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
        EXPECT_EQ(descr_is_empty(*c.descr), ir::Emptiness::Empty);
    }
}

TEST(ConvertMapping, AFieldIsCheckedAgainstItselfAloneAndOtherKeysAgainstEveryClause) {
    const Value one = int_item(1), text = str_item("x");
    // {"a": int, Literal["a"]: str}: the walk never tries the clause for
    // "a", so {"a": 1} is a member.
    const auto named = convert(mapping({entry("a", int_())}, {Clause{lit(kA), str_()}}));
    ASSERT_TRUE(named.descr);
    EXPECT_FALSE(named.inexact) << "a literal naming a field adds nothing";
    expect_members(*named.descr,
                   {{dict_of({{str_key_item("a"), one}}), true}, {dict_of({{str_key_item("a"), text}}), false}},
                   "{'a': int, Literal['a']: str}");
    EXPECT_EQ(descr_is_empty(*named.descr), ir::Emptiness::Inhabited);
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
    const auto wide = convert(literal_keys, 0);
    ASSERT_TRUE(wide.descr);
    EXPECT_TRUE(wide.inexact);
    expect_members(*wide.descr,
                   {{dict_of({{str_key_item("a"), int_item(1)}, {str_key_item("b"), int_item(2)}}), true},
                    {dict_of({{str_key_item("c"), int_item(1)}}), false}},
                   "dict[Literal['a', 'b'], int]");
    EXPECT_FALSE(convert(literal_keys, 1).descr) << "no subset of the schema can be given";
    // Below a complement the direction flips.
    bool inexact = false;
    FakeOracle o = oracle();
    EXPECT_FALSE(descr_of_node(comp(literal_keys), {}, 0, o, &inexact));
    EXPECT_TRUE(descr_of_node(comp(literal_keys), {}, 1, o, &inexact));
    EXPECT_TRUE(inexact);
    // Without a place for the flag, a bound is no descriptor.
    EXPECT_FALSE(descr_of_node(literal_keys, {}, 0, o));
    // Bytes and int literals have subclasses too; None and bool do not; a
    // literal the clause also admits through its class is exact.
    struct Case {
        const char* name;
        Node key;
        bool inexact;
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
        const auto converted = convert(mapping({}, {Clause{c.key, int_()}}));
        ASSERT_TRUE(converted.descr) << c.name;
        EXPECT_EQ(converted.inexact, c.inexact) << c.name;
        EXPECT_EQ(static_cast<bool>(convert(mapping({}, {Clause{c.key, int_()}}), 1).descr), !c.inexact) << c.name;
    }
}

TEST(ConvertMapping, KeySchemasThatCannotBeRepresented) {
    const Node keys[] = {lit(kHalf), lit(kOpaque), list_of(int_()), set_of(int_()), inst(kOpaque),
                         inter({str_(), comp(lit(kA))}), uni({str_(), lit(kHalf)})};
    for (const Node& key : keys) EXPECT_FALSE(convert(mapping({}, {Clause{key, int_()}})).descr);
    // A key schema counts towards the 64 nodes of a conversion.
    std::vector<Node> many;
    FakeOracle big([] {
        std::vector<FakeConst> p;
        for (int i = 0; i < 80; ++i) p.push_back(decide::testing::int_c(i));
        return p;
    }());
    for (std::uint64_t i = 0; i < 70; ++i) many.push_back(lit(i));
    bool inexact = false;
    EXPECT_FALSE(descr_of_node(mapping({}, {Clause{uni(many), int_()}}), {}, 0, big, &inexact));
}

}  // namespace
}  // namespace tessaron::descr
