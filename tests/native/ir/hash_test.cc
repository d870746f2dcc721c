// Structural hash (exact byte format, order independence, pool failures) and
// equality across pools.
#include <gtest/gtest.h>

#include "core/ir/hash.h"
#include "core/ir/order.h"
#include "ir/fake_pool.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;
using util::SipHasher13;

constexpr int kInt = 1, kBool = 2, kFloat = 3;

std::uint64_t hash_of(const Node& n, const PoolAccess& pool) { return fresh_node_hash(n, pool); }

// Feeds the words a pooled object contributes in FakePool.
void feed_object(SipHasher13& h, const FakePool& pool, std::uint64_t i) {
    h.write_u64(*pool.object_hash(i));
    h.write_u64(*pool.type_hash(i));
}

TEST(HashNode, SequenceAndLiteralByteFormat) {
    FakePool pool({obj(1, kInt, 5)});
    Node n = tuple_of({lit(0)}, int_());
    SipHasher13 expected;
    expected.write_u64(9);  // sequence tag
    expected.write_u64(1);  // tuple flavour
    expected.write_u64(1);  // prefix length
    expected.write_u64(8);  // literal tag
    feed_object(expected, pool, 0);
    expected.write_u8(1);   // a tail follows
    expected.write_u64(4);  // int tag
    EXPECT_EQ(hash_of(n, pool), expected.finish());
}

TEST(HashNode, MappingAndRefinedByteFormat) {
    FakePool pool({obj(1, kInt, 5)});
    Node n = record({entry("ab", refined(int_(), {ge(0), regex("x")}), false)}, {Clause{str_(), int_()}});

    auto fresh_words = [](std::initializer_list<std::uint64_t> words) {
        SipHasher13 h;
        for (auto w : words) h.write_u64(w);
        return h.finish();
    };
    SipHasher13 ge_hash;
    ge_hash.write_u64(0);
    feed_object(ge_hash, pool, 0);
    SipHasher13 regex_hash;
    regex_hash.write_u64(8);
    regex_hash.write_bytes("x");
    regex_hash.write_u8(0xff);

    SipHasher13 expected;
    expected.write_u64(11);  // mapping
    expected.write_u64(1);   // one entry
    expected.write_bytes("ab");
    expected.write_u8(0xff);
    expected.write_u8(0);     // optional
    expected.write_u64(17);   // refined
    expected.write_u64(4);    // its inner int
    expected.write_u64(2);    // two constraints
    expected.write_u64(ge_hash.finish() + regex_hash.finish());
    expected.write_u64(1);    // one clause
    expected.write_u64(fresh_words({6, 4}));  // (str, int)
    EXPECT_EQ(hash_of(n, pool), expected.finish());
}

TEST(HashNode, PoolRefWritesOnlyWhatSucceeded) {
    FakePool pool({obj(1, kInt, 5), obj(2, kInt, 6), obj(3, kInt, 7)});
    pool.objects[1].hash_raises = true;
    pool.objects[2].type_hash_raises = true;
    auto expected_for = [&](auto feed) {
        SipHasher13 h;
        h.write_u64(8);
        feed(h);
        return h.finish();
    };
    EXPECT_EQ(hash_of(lit(0), pool), expected_for([&](SipHasher13& h) { feed_object(h, pool, 0); }));
    EXPECT_EQ(hash_of(lit(1), pool), expected_for([](SipHasher13&) {})) << "unhashable: nothing";
    EXPECT_EQ(hash_of(lit(2), pool), expected_for([&](SipHasher13& h) { h.write_u64(*pool.object_hash(2)); }))
        << "type hash failed: the object hash only";
    EXPECT_EQ(hash_of(lit(3), pool), expected_for([](SipHasher13&) {})) << "outside the pool: nothing";
}

TEST(HashNode, IndependentOfListOrderAndOfAnyFlagAndPlaceholderIds) {
    FakePool pool({obj(1, kInt, 1), obj(2, kInt, 2)});
    struct Case {
        const char* name;
        Node a, b;
    };
    std::vector<Case> cases = {
        {"union members", raw(NodeKind::Union, {int_(), str_()}), raw(NodeKind::Union, {str_(), int_()})},
        {"intersection members", raw(NodeKind::Intersection, {lit(0), lit(1)}),
         raw(NodeKind::Intersection, {lit(1), lit(0)})},
        {"clauses", raw_mapping({}, {Clause{int_(), str_()}, Clause{str_(), int_()}}),
         raw_mapping({}, {Clause{str_(), int_()}, Clause{int_(), str_()}})},
        {"constraints", raw_refined(int_(), {ge(0), min_len(2)}), raw_refined(int_(), {min_len(2), ge(0)})},
        {"Any flag", list_of(Any1()), list_of(anything0())},
        {"placeholder id", hole(1), hole(2)},
    };
    for (const Case& c : cases) EXPECT_EQ(hash_of(c.a, pool), hash_of(c.b, pool)) << c.name;
    EXPECT_EQ(validator_hash(uni(nodes({int_(), str_()})), {}, pool),
              validator_hash(uni(nodes({str_(), int_()})), {}, pool));
    EXPECT_NE(hash_of(edge(1), pool), hash_of(edge(2), pool)) << "back edges hash their index";
}

TEST(ValidatorHash, RootThenDefinitionCountThenDefinitions) {
    FakePool pool;
    std::vector<Node> defs = nodes({list_of(edge(0)), int_()});
    SipHasher13 expected;
    hash_node(edge(0), pool, expected);
    expected.write_u64(2);
    hash_node(defs[0], pool, expected);
    hash_node(defs[1], pool, expected);
    EXPECT_EQ(validator_hash(edge(0), defs, pool), expected.finish());
    EXPECT_NE(validator_hash(edge(0), defs, pool), validator_hash(edge(0), std::span(defs).first(1), pool));
}

TEST(HashNode, EqualValuesInDifferentPoolsHashAlike) {
    // Literal[1, 2] pooled in opposite orders: the members stand in pool
    // order, so the two unions list different values first.
    FakePool a({obj(1, kInt, 1), obj(2, kInt, 2)});
    FakePool b({obj(3, kInt, 2), obj(4, kInt, 1)});
    Node ua = uni(nodes({lit(0), lit(1)}));
    Node ub = uni(nodes({lit(1), lit(0)}));
    EXPECT_EQ(validator_hash(ua, {}, a), validator_hash(ub, {}, b));
    EXPECT_TRUE(equal_across_pools(ua, a, ub, b));
}

TEST(EqualAcrossPools, Cases) {
    FakePool a({obj(1, kInt, 1), obj(2, kFloat, 1), obj(3, kInt, 2), obj(7, kFloat, 0), obj(8, kInt, 9)});
    a.objects[3].nan_like = true;
    a.objects[4].eq_raises = true;
    FakePool b({obj(11, kInt, 1), obj(12, kBool, 1), obj(13, kInt, 2), obj(7, kFloat, 0), obj(14, kFloat, 0),
                obj(15, kInt, 9)});
    b.objects[4].nan_like = true;

    struct Case {
        const char* name;
        Node x;  // over pool a
        Node y;  // over pool b
        bool equal;
    };
    std::vector<Case> cases = {
        {"equal ints in different objects", lit(0), lit(0), true},
        {"int 1 vs bool True: different exact types", lit(0), lit(1), false},
        {"float 1.0 vs int 1", lit(1), lit(0), false},
        {"the same NaN object", lit(3), lit(3), true},
        {"two NaN objects", lit(3), lit(4), false},
        {"a raising __eq__ is unequal", lit(4), lit(5), false},
        {"an index outside its pool", lit(9), lit(0), false},
        {"instance nodes compare objects too", inst(0), inst(0), true},
        {"literal vs instance", lit(0), inst(0), false},
        {"union members in other order", raw(NodeKind::Union, {lit(0), lit(2)}), raw(NodeKind::Union, {lit(2), lit(0)}),
         true},
        {"union member counts differ", raw(NodeKind::Union, {lit(0), lit(2)}),
         raw(NodeKind::Union, {lit(2), lit(0), int_()}), false},
        {"sequences position by position", tuple_of({lit(0), lit(2)}), tuple_of({lit(2), lit(0)}), false},
        {"sequence tails", tuple_of({}, lit(0)), tuple_of({}, lit(0)), true},
        {"one tail absent", tuple_of({lit(0)}), tuple_of({lit(0)}, int_()), false},
        {"set flavours", set_of(lit(0)), make_set(kFlavourFrozenset, lit(0)), false},
        {"complements", comp(lit(2)), comp(lit(2)), true},
        {"clauses matched in any order", raw_mapping({entry("k", lit(0))}, {Clause{str_(), lit(0)}, Clause{int_(), lit(2)}}),
         raw_mapping({entry("k", lit(0))}, {Clause{int_(), lit(2)}, Clause{str_(), lit(0)}}), true},
        {"entry required flags", record({entry("k", int_(), false)}), record({entry("k", int_(), true)}), false},
        {"object entries", make_object({entry("k", lit(2))}), make_object({entry("k", lit(2))}), true},
        {"refined: pool bounds by value, in any order", raw_refined(int_(), {ge(0), min_len(3), regex("r")}),
         raw_refined(int_(), {regex("r"), min_len(3), ge(0)}), true},
        {"refined: bound of another type", raw_refined(int_(), {ge(0)}), raw_refined(int_(), {ge(1)}), false},
        {"refined: counts differ", raw_refined(int_(), {ge(0)}), raw_refined(int_(), {ge(0), ge(0)}), false},
        {"back edges by index", edge(3), edge(3), true},
        {"back edges differ", edge(3), edge(4), false},
        {"placeholders by id", hole(5), hole(6), false},
        {"Any flag ignored", Any1(), anything0(), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(equal_across_pools(c.x, a, c.y, b), c.equal) << c.name;
    }
}

TEST(EqualAcrossPools, MatchingIsGreedyAndNeverRevised) {
    // x0 equals y0 and y1; x1 equals y0 only.  A perfect matching exists
    // (x0-y1, x1-y0), but the greedy pairing takes y0 for x0 and leaves x1
    // without a partner.
    FakePool a({obj(1, kInt, 0), obj(2, kInt, 1)});
    FakePool b({obj(3, kInt, 10), obj(4, kInt, 11)});
    a.custom_eq = [](const FakeObject& x, const FakeObject& y) { return x.value == 0 || y.value == 10; };
    Node x = raw(NodeKind::Union, {lit(0), lit(1)});
    Node y = raw(NodeKind::Union, {lit(0), lit(1)});
    EXPECT_FALSE(equal_across_pools(x, a, y, b));
    // Listed the other way round, greedy finds the matching.
    Node x_reversed = raw(NodeKind::Union, {lit(1), lit(0)});
    EXPECT_TRUE(equal_across_pools(x_reversed, a, y, b));
}

}  // namespace
}  // namespace tessaron::ir
