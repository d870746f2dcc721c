// Interval sets against a brute-force set of code points.
#include <gtest/gtest.h>

#include <bitset>
#include <random>

#include "core/pattern/interval_set.h"

namespace tessaron::pattern {
namespace {

constexpr std::uint32_t kUniverse = 300;  // values 0..299 stand for any code point
using Bits = std::bitset<kUniverse>;

IntervalSet random_set(std::mt19937& rng) {
    std::vector<Interval> ranges;
    const int count = std::uniform_int_distribution<int>(0, 6)(rng);
    std::uniform_int_distribution<std::uint32_t> point(0, kUniverse - 1);
    for (int i = 0; i < count; ++i) ranges.push_back({point(rng), point(rng)});  // lo > hi is swapped
    return IntervalSet(std::move(ranges));
}

Bits bits_of(const IntervalSet& s) {
    Bits b;
    for (const Interval& r : s.ranges())
        for (std::uint32_t c = r.lo; c <= r.hi && c < kUniverse; ++c) b.set(c);
    return b;
}

TEST(IntervalSet, OperationsMatchBruteForceAndStayNormal) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 2000; ++round) {
        const IntervalSet a = random_set(rng);
        const IntervalSet b = random_set(rng);
        ASSERT_TRUE(a.is_normal());
        const Bits ba = bits_of(a), bb = bits_of(b);

        IntervalSet u = a, i = a, d = a, x = a, added = a;
        u.union_with(b);
        i.intersect_with(b);
        d.subtract(b);
        x.symmetric_difference_with(b);
        for (const Interval& r : b.ranges()) added.add(r.hi, r.lo);  // add swaps a reversed pair
        for (const IntervalSet* s : {&u, &i, &d, &x, &added}) ASSERT_TRUE(s->is_normal()) << round;
        EXPECT_EQ(bits_of(u), ba | bb);
        EXPECT_EQ(bits_of(i), ba & bb);
        EXPECT_EQ(bits_of(d), ba & ~bb);
        EXPECT_EQ(bits_of(x), ba ^ bb);
        EXPECT_EQ(added, u) << "adding b's intervals one by one is the union";
        for (std::uint32_t c = 0; c < kUniverse; ++c) ASSERT_EQ(a.contains(c), ba.test(c)) << c;
    }
}

TEST(IntervalSet, NegationsStayWithinTheirUniverse) {
    IntervalSet s({{0x41, 0x5A}, {0xD000, 0xE000}});
    IntervalSet bytes = IntervalSet({{0x41, 0x5A}});
    bytes.negate_bytes();
    EXPECT_TRUE(bytes.is_normal());
    EXPECT_EQ(bytes, IntervalSet({{0, 0x40}, {0x5B, 0xFF}}));
    s.negate_unicode();
    EXPECT_TRUE(s.is_normal());
    EXPECT_EQ(s, IntervalSet({{0, 0x40}, {0x5B, 0xCFFF}, {0xE001, 0x10FFFF}}));
    IntervalSet twice = s;
    twice.negate_unicode();
    EXPECT_EQ(twice, IntervalSet({{0x41, 0x5A}, {0xD000, 0xD7FF}, {0xE000, 0xE000}}))
        << "surrogates are never members";
}

}  // namespace
}  // namespace tessaron::pattern
