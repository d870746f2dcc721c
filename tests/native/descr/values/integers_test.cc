// Integer sets: the normal form, rebasing, the builders, and union,
// intersection, complement and refinement checked against membership by
// brute force over [-300, 300] and the 64-bit edges.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/descr/values/integers.h"

namespace tessaron::descr {
namespace {

std::string str(i128 v) {
    if (v == 0) return "0";
    const bool neg = v < 0;
    unsigned __int128 u = neg ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    std::string s;
    while (u != 0) {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        u /= 10;
    }
    return neg ? "-" + s : s;
}

std::string str(const IntIntervalSet& s) {
    std::string out = "{";
    for (const IntInterval& v : s)
        out += "[" + (v.lo ? str(*v.lo) : std::string("-inf")) + ", " + (v.hi ? str(*v.hi) : std::string("inf")) + "]";
    return out + "}";
}

constexpr i128 kTwo63 = static_cast<i128>(1) << 63;

// The integers every property is checked on.
std::vector<i128> probes() {
    std::vector<i128> xs;
    for (int x = -300; x <= 300; ++x) xs.push_back(x);
    for (i128 e : {kTwo63, kTwo63 - 1, kTwo63 + 1, -kTwo63, -kTwo63 - 1, -kTwo63 + 1, 3 * kTwo63, -5 * kTwo63})
        xs.push_back(e);
    return xs;
}

struct Sample {
    std::string name;
    IntSet set;
    std::function<bool(i128)> member;
};

i128 mod(i128 x, i128 m) { return ((x % m) + m) % m; }

// Sets at moduli 1, 2, 3, 4, 6, 64, 96 and 4096, bounded and not, with
// negative quotients, and sets that are combinations themselves.
std::vector<Sample> samples() {
    std::vector<Sample> out;
    out.push_back({"all", int_set_all(), [](i128) { return true; }});
    out.push_back({"empty", int_set_empty(), [](i128) { return false; }});
    out.push_back({"{7}", int_set_singleton(7), [](i128 x) { return x == 7; }});
    out.push_back({"{-64}", int_set_singleton(-64), [](i128 x) { return x == -64; }});
    out.push_back({"[-17, 40]", int_set_from_bounds(-17, 40), [](i128 x) { return x >= -17 && x <= 40; }});
    out.push_back({">= -250", int_set_from_bounds(-250, std::nullopt), [](i128 x) { return x >= -250; }});
    out.push_back({"<= 99", int_set_from_bounds(std::nullopt, 99), [](i128 x) { return x <= 99; }});
    out.push_back({">= INT64_MAX", int_set_from_bounds(INT64_MAX, std::nullopt),
                   [](i128 x) { return x >= INT64_MAX; }});
    out.push_back({"<= INT64_MIN", int_set_from_bounds(std::nullopt, INT64_MIN),
                   [](i128 x) { return x <= INT64_MIN; }});
    for (std::int64_t d : {1, 2, 3, 4, 6, 64, 96, 4096, -3}) {
        const i128 a = d < 0 ? -d : d;
        out.push_back({"mult " + std::to_string(d), *int_set_multiple_of(d), [a](i128 x) { return mod(x, a) == 0; }});
    }
    // Combinations: bounded residue classes with negative quotients.
    auto add = [&](const std::string& name, std::optional<IntSet> s, std::function<bool(i128)> f) {
        ASSERT_TRUE(s) << name;
        out.push_back({name, *s, std::move(f)});
    };
    add("odd in [-201, 150]",
        int_set_intersection(int_set_complement(*int_set_multiple_of(2)), int_set_from_bounds(-201, 150)),
        [](i128 x) { return mod(x, 2) == 1 && x >= -201 && x <= 150; });
    add("mult 3 below -5 or mult 4 above 10",
        int_set_union(*int_set_intersection(*int_set_multiple_of(3), int_set_from_bounds(std::nullopt, -5)),
                      *int_set_intersection(*int_set_multiple_of(4), int_set_from_bounds(10, std::nullopt))),
        [](i128 x) { return (mod(x, 3) == 0 && x <= -5) || (mod(x, 4) == 0 && x >= 10); });
    add("not mult 6 in [-97, 97] plus {200}",
        int_set_union(*int_set_intersection(int_set_complement(*int_set_multiple_of(6)), int_set_from_bounds(-97, 97)),
                      int_set_singleton(200)),
        [](i128 x) { return (mod(x, 6) != 0 && x >= -97 && x <= 97) || x == 200; });
    add("mult 96 in [-288, 95]", int_set_intersection(*int_set_multiple_of(96), int_set_from_bounds(-288, 95)),
        [](i128 x) { return mod(x, 96) == 0 && x >= -288 && x <= 95; });
    return out;
}

// One member of the set, read off its first non-empty residue.
std::optional<i128> witness(const IntSet& s) {
    for (std::int64_t r = 0; r < s.modulus; ++r) {
        const IntIntervalSet& v = s.residues[static_cast<std::size_t>(r)];
        if (v.empty()) continue;
        const i128 k = v[0].lo ? *v[0].lo : v[0].hi ? *v[0].hi : 0;
        return k * s.modulus + r;
    }
    return std::nullopt;
}

void expect_matches(const IntSet& s, const std::function<bool(i128)>& f, const std::string& what) {
    ASSERT_TRUE(int_set_is_normal(s)) << what;
    for (i128 x : probes()) ASSERT_EQ(int_set_contains(s, x), f(x)) << what << " at " << str(x);
}

TEST(IntSet, SamplesHoldTheirMembers) {
    for (const Sample& s : samples()) expect_matches(s.set, s.member, s.name);
}

TEST(IntSet, UnionIntersectionAndComplementAgreeWithMembership) {
    const auto all = samples();
    const auto xs = probes();
    for (const Sample& a : all) {
        const IntSet c = int_set_complement(a.set);
        EXPECT_EQ(c.modulus, a.set.modulus);
        expect_matches(c, [&](i128 x) { return !a.member(x); }, "not " + a.name);
        for (const Sample& b : all) {
            const std::int64_t M = common_modulus(a.set.modulus, b.set.modulus);
            auto u = int_set_union(a.set, b.set);
            auto i = int_set_intersection(a.set, b.set);
            if (M > kMaxModulus) {
                EXPECT_FALSE(u) << a.name << " | " << b.name;
                EXPECT_FALSE(i) << a.name << " & " << b.name;
                EXPECT_FALSE(int_set_equal(a.set, b.set));
                continue;
            }
            ASSERT_TRUE(u && i) << a.name << ", " << b.name;
            expect_matches(*u, [&](i128 x) { return a.member(x) || b.member(x); }, a.name + " | " + b.name);
            expect_matches(*i, [&](i128 x) { return a.member(x) && b.member(x); }, a.name + " & " + b.name);
            // Empty only when no integer is in both; otherwise a member
            // read off the representation is in both.
            if (auto w = witness(*i)) {
                EXPECT_TRUE(a.member(*w) && b.member(*w)) << a.name << " & " << b.name << " at " << str(*w);
            } else {
                EXPECT_TRUE(int_set_is_empty(*i));
                EXPECT_TRUE(std::none_of(xs.begin(), xs.end(), [&](i128 x) { return a.member(x) && b.member(x); }))
                    << a.name << " & " << b.name;
            }
        }
    }
}

TEST(IntSet, RefineKeepsTheSetAtEveryMultipleModulus) {
    for (const Sample& a : samples()) {
        for (std::int64_t k : {1, 2, 3, 5, 64}) {
            const std::int64_t M = a.set.modulus * k;
            RefinedResidues r = int_set_refine(a.set, M);
            if (M > kMaxModulus) {
                EXPECT_EQ(r.outcome, RefinedResidues::Outcome::TooLarge);
                continue;
            }
            if (k == 1) {
                EXPECT_EQ(r.outcome, RefinedResidues::Outcome::Unchanged);
                continue;
            }
            ASSERT_EQ(r.outcome, RefinedResidues::Outcome::Rebased);
            IntSet at_m{std::move(r.residues), M};
            expect_matches(at_m, a.member, a.name + " at modulus " + std::to_string(M));
            EXPECT_TRUE(int_set_equal(at_m, a.set));
            EXPECT_NE(cmp_int_set(at_m, a.set), std::strong_ordering::equal);
        }
    }
}

TEST(IntSet, CommonModulusBeyondTheCapIsUnrepresentable) {
    struct Case {
        std::int64_t a, b, lcm;
    };
    for (const Case& c : {Case{4, 6, 12}, Case{64, 96, 192}, Case{4096, 3, 12288}, Case{64, 67, 4288},
                          Case{4096, 4095, 16773120}, Case{1, 4096, 4096}}) {
        EXPECT_EQ(common_modulus(c.a, c.b), c.lcm);
        auto u = int_set_union(*int_set_multiple_of(c.a), *int_set_multiple_of(c.b));
        auto i = int_set_intersection(*int_set_multiple_of(c.a), *int_set_multiple_of(c.b));
        EXPECT_EQ(bool(u), c.lcm <= kMaxModulus) << c.a << ", " << c.b;
        EXPECT_EQ(bool(i), c.lcm <= kMaxModulus) << c.a << ", " << c.b;
        if (i && c.lcm > 1) {
            EXPECT_EQ(i->modulus, c.lcm);
            EXPECT_TRUE(int_set_equal(*i, *int_set_multiple_of(c.lcm)));
        }
    }
}

TEST(IntSet, MultiplesOfZeroAndOfMinus2To63AreUnrepresentable) {
    // The walk admits nothing for divisor 0 and every multiple of 2^63 for
    // -2^63: neither is the set {0}.
    EXPECT_FALSE(int_set_multiple_of(0));
    EXPECT_FALSE(int_set_multiple_of(INT64_MIN));
    EXPECT_FALSE(int_set_multiple_of(4097));
    EXPECT_FALSE(int_set_multiple_of(-4097));
    auto big = int_set_multiple_of(-4096);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->modulus, 4096);
    EXPECT_TRUE(int_set_equal(*int_set_multiple_of(-6), *int_set_multiple_of(6)));
}

TEST(IntSet, CollapseToModulusOne) {
    const IntSet even = *int_set_multiple_of(2);
    const IntSet odd = int_set_complement(even);
    auto all = int_set_union(even, odd);
    auto none = int_set_intersection(even, odd);
    ASSERT_TRUE(all && none);
    EXPECT_EQ(all->modulus, 1);
    EXPECT_EQ(all->residues, int_set_all().residues);
    EXPECT_EQ(none->modulus, 1);
    EXPECT_EQ(none->residues, int_set_empty().residues);
    // No collapse when the residues differ or agree on something else.
    auto evens_0_10 = int_set_intersection(int_set_from_bounds(0, 10), even);
    ASSERT_TRUE(evens_0_10);
    EXPECT_EQ(evens_0_10->modulus, 2);
    EXPECT_EQ(evens_0_10->residues[0], (IntIntervalSet{{0, 5}}));
    EXPECT_TRUE(evens_0_10->residues[1].empty());
}

TEST(IntIntervalSet, NormalizeMergesOverlappingAndAdjacent) {
    struct Case {
        const char* name;
        std::vector<IntInterval> in;
        IntIntervalSet out;
    };
    const i128 top = kI128Max;
    const std::vector<Case> cases = {
        {"adjacent merge", {{1, 3}, {4, 9}}, {{1, 9}}},
        {"gap kept", {{5, 9}, {1, 3}}, {{1, 3}, {5, 9}}},
        {"empty dropped", {{3, 1}, {2, 2}}, {{2, 2}}},
        {"unbounded above absorbs", {{0, std::nullopt}, {5, 7}, {100, 200}}, {{0, std::nullopt}}},
        {"unbounded below first", {{5, 7}, {std::nullopt, 2}}, {{std::nullopt, 2}, {5, 7}}},
        {"end at the 128-bit top absorbs", {{0, top}, {top, top}}, {{0, top}}},
        {"contained", {{0, 100}, {10, 20}}, {{0, 100}}},
    };
    for (const Case& c : cases) {
        const IntIntervalSet got = interval_set_normalize(c.in);
        EXPECT_EQ(got, c.out) << c.name << ": " << str(got);
        EXPECT_TRUE(interval_set_is_normal(got)) << c.name;
    }
    EXPECT_TRUE(interval_set_from_bounds(5, 4).empty());
    EXPECT_FALSE(interval_set_is_normal({{1, 3}, {4, 9}}));
}

TEST(IntIntervalSet, RebaseRoundsTowardsTheRightInfinity) {
    struct Case {
        IntIntervalSet in;
        std::int64_t j, t;
        IntIntervalSet out;
    };
    const std::vector<Case> cases = {
        {{{0, 10}}, 1, 3, {{0, 3}}},     // old quotients 1, 4, 7, 10
        {{{2, 2}}, 0, 3, {}},            // 2 is not 3k
        {{{-7, -1}}, 1, 3, {{-2, -1}}},  // -5, -2: ceil(-8/3) = -2, floor(-2/3) = -1
        {{{-7, -1}}, 0, 2, {{-3, -1}}},  // -6, -4, -2
        {{{-8, -8}}, 0, 4, {{-2, -2}}},
        {{{std::nullopt, -5}}, 2, 4, {{std::nullopt, -2}}},  // floor(-7/4) = -2
        {{{kI128Min, kI128Max}}, 3, 4, {{ceil_div(kI128Min + 0, 4), floor_div(kI128Max - 3, 4)}}},
    };
    for (const Case& c : cases) {
        const IntIntervalSet got = interval_set_rebase(c.in, c.j, c.t);
        EXPECT_EQ(got, c.out) << str(c.in) << " j=" << c.j << " t=" << c.t << ": " << str(got);
    }
}

TEST(IntSet, ComplementAtTheEdgesOf128Bits) {
    IntSet full{{IntIntervalSet{{kI128Min, kI128Max}}}, 1};
    EXPECT_TRUE(int_set_is_empty(int_set_complement(full)));
    const IntSet c = int_set_complement(int_set_all());
    EXPECT_EQ(c.modulus, 1);
    EXPECT_TRUE(c.residues[0].empty());
    const IntSet m3 = int_set_complement(*int_set_multiple_of(3));
    EXPECT_TRUE(m3.residues[0].empty());
    EXPECT_EQ(m3.residues[1], interval_set_all());
    EXPECT_EQ(m3.residues[2], interval_set_all());
}

TEST(IntSet, EqualityAcrossModuliAndOrder) {
    const IntSet even2 = *int_set_multiple_of(2);
    IntSet even4{std::move(int_set_refine(even2, 4).residues), 4};
    EXPECT_TRUE(int_set_equal(even2, even4));
    EXPECT_TRUE(cmp_int_set(even2, even4) < 0);
    EXPECT_TRUE(cmp_int_set(even4, even2) > 0);
    EXPECT_EQ(cmp_int_set(even2, even2), std::strong_ordering::equal);
    // Every integer at moduli 4093 and 4091: equal sets, but their common
    // modulus is beyond the cap, so they count as unequal.
    IntSet all4093{std::vector<IntIntervalSet>(4093, interval_set_all()), 4093};
    IntSet all4091{std::vector<IntIntervalSet>(4091, interval_set_all()), 4091};
    EXPECT_FALSE(int_set_equal(all4093, all4091));
    // Absent ends sort first, at both ends.
    EXPECT_TRUE(cmp_int_set(int_set_from_bounds(std::nullopt, 5), int_set_from_bounds(0, 5)) < 0);
    EXPECT_TRUE(cmp_int_set(int_set_from_bounds(0, std::nullopt), int_set_from_bounds(0, 5)) < 0);
    EXPECT_TRUE(cmp_int_set(int_set_empty(), int_set_singleton(0)) < 0);
}

TEST(Int128, FloorAndCeilDivision) {
    struct Case {
        i128 a;
        std::int64_t d;
        i128 floor, ceil;
    };
    for (const Case& c : {Case{7, 2, 3, 4}, Case{-7, 2, -4, -3}, Case{-6, 3, -2, -2}, Case{0, 5, 0, 0},
                          Case{-1, 4096, -1, 0}, Case{kI128Min, 1, kI128Min, kI128Min},
                          Case{kI128Max, 2, kI128Max / 2, kI128Max / 2 + 1}}) {
        EXPECT_EQ(floor_div(c.a, c.d), c.floor) << str(c.a) << " / " << c.d;
        EXPECT_EQ(ceil_div(c.a, c.d), c.ceil) << str(c.a) << " / " << c.d;
    }
    EXPECT_EQ(sat_add(kI128Max, 1), kI128Max);
    EXPECT_EQ(sat_sub(kI128Min, 1), kI128Min);
    EXPECT_EQ(euclid_mod(-7, 3), 2);
}

}  // namespace
}  // namespace tessaron::descr
