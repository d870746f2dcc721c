// Float sets: discrete ends (an open end stands for the neighbouring double,
// -0.0 is 0.0), the sets of one bound, and union, intersection and
// complement checked against membership on samples around every edge.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/descr/values/float_set.h"

namespace tessaron::descr {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTiny = 5e-324;  // the smallest subnormal
const double kNaN = std::nan("");
const double kAbove1 = std::nextafter(1.0, 2.0);
const double kBelow1 = std::nextafter(1.0, 0.0);

FloatInterval iv(double lo, double hi, bool lo_closed = true, bool hi_closed = true) {
    return FloatInterval{lo, hi, lo_closed, hi_closed};
}

// The double whose total-order key is k.
double of_key(std::int64_t k) {
    return std::bit_cast<double>(k < 0 ? k ^ std::numeric_limits<std::int64_t>::max() : k);
}

std::vector<double> probes() {
    std::vector<double> xs = {0.0,  -0.0,    kTiny,    -kTiny,  2 * kTiny, -2 * kTiny, kBelow1, 1.0,
                              kAbove1, -1.0, 0.5,      2.0,     -2.5,      1e300,      DBL_MAX, -DBL_MAX,
                              kInf,   -kInf, kNaN,     0x1p53,  0x1p53 + 2, 0x1p63,    -0x1p63, DBL_MIN};
    return xs;
}

std::string str(const FloatSet& s) {
    std::string out = "{";
    for (const FloatInterval& v : s.intervals)
        out += std::string(v.lo_closed ? "[" : "(") + std::to_string(v.lo) + ", " + std::to_string(v.hi) +
               (v.hi_closed ? "]" : ")");
    return out + (s.nan ? " nan}" : "}");
}

bool same_set(const FloatSet& a, const FloatSet& b) {
    return float_set_equal(a, b);
}

TEST(FloatSet, IntervalsHoldingNoDoubleAreEmpty) {
    // Each of these was taken for inhabited when only the raw ends were
    // compared.
    struct Case {
        const char* name;
        FloatInterval v;
    };
    for (const Case& c : {Case{"(inf, inf]", iv(kInf, kInf, false, true)},
                          Case{"[-inf, -inf)", iv(-kInf, -kInf, true, false)},
                          Case{"(1, next(1))", iv(1.0, kAbove1, false, false)},
                          Case{"(-5e-324, 0)", iv(-kTiny, 0.0, false, false)},
                          Case{"(-5e-324, -0.0)", iv(-kTiny, -0.0, false, false)},
                          Case{"(0, 5e-324)", iv(0.0, kTiny, false, false)},
                          Case{"(-0.0, 5e-324)", iv(-0.0, kTiny, false, false)}}) {
        EXPECT_TRUE(float_interval_is_empty(c.v)) << c.name;
        EXPECT_TRUE(float_set_is_empty(float_set_from_interval(c.v))) << c.name;
    }
    // What stepping leaves.
    const FloatSet top = float_set_from_interval(iv(DBL_MAX, kInf, false, true));
    for (double x : probes()) EXPECT_EQ(float_set_contains(top, x), x == kInf) << x;
    const FloatSet zero = float_set_from_interval(iv(-kTiny, kTiny, false, false));
    for (double x : probes()) EXPECT_EQ(float_set_contains(zero, x), x == 0.0) << x;
}

TEST(FloatSet, BoundsBetweenNeighbouringDoublesMeetInNothing) {
    // Annotated[float, Gt(-5e-324), Lt(0.0)] and Gt(1.0), Lt(next(1.0)).
    const FloatSet a = intersect_float_intervals(float_set_from_float_bound(BoundKind::Gt, -kTiny),
                                                 float_set_from_float_bound(BoundKind::Lt, 0.0));
    EXPECT_TRUE(float_set_is_empty(a)) << str(a);
    const FloatSet b = intersect_float_intervals(float_set_from_float_bound(BoundKind::Gt, 1.0),
                                                 float_set_from_float_bound(BoundKind::Lt, kAbove1));
    EXPECT_TRUE(float_set_is_empty(b)) << str(b);
    // The complement of two intervals that leave only a gap holding no
    // double has no interval.
    const FloatSet halves = float_set_union(float_set_from_interval(iv(-kInf, 1.0)),
                                            float_set_from_interval(iv(kAbove1, kInf)));
    ASSERT_EQ(halves.intervals.size(), 2u) << "neighbouring doubles are not merged";
    EXPECT_TRUE(float_set_complement(halves).intervals.empty()) << str(float_set_complement(halves));
    const FloatSet around_zero = float_set_union(float_set_from_float_bound(BoundKind::Le, -kTiny),
                                                 float_set_from_float_bound(BoundKind::Ge, 0.0));
    EXPECT_TRUE(float_set_complement(around_zero).intervals.empty()) << str(float_set_complement(around_zero));
    // Normalisation drops what holds no double.
    FloatSet raw;
    raw.intervals = {iv(1.0, kAbove1, false, false), iv(5.0, 6.0)};
    EXPECT_EQ(normalize_float_intervals(raw).intervals.size(), 1u);
}

TEST(FloatSet, SetsOfOneBound) {
    struct Case {
        const char* name;
        FloatSet set;
        std::function<bool(double)> member;
    };
    const std::int64_t two53p1 = (std::int64_t{1} << 53) + 1;
    const std::vector<Case> cases = {
        {"Gt 0", float_set_from_float_bound(BoundKind::Gt, 0.0), [](double x) { return x > 0; }},
        {"Gt -0.0", float_set_from_float_bound(BoundKind::Gt, -0.0), [](double x) { return x > 0; }},
        {"Ge 0", float_set_from_float_bound(BoundKind::Ge, 0.0), [](double x) { return x >= 0; }},
        {"Le -0.0", float_set_from_float_bound(BoundKind::Le, -0.0), [](double x) { return x <= 0; }},
        {"Lt 1", float_set_from_float_bound(BoundKind::Lt, 1.0), [](double x) { return x < 1; }},
        {"Ge inf", float_set_from_float_bound(BoundKind::Ge, kInf), [](double x) { return x == kInf; }},
        {"Gt inf", float_set_from_float_bound(BoundKind::Gt, kInf), [](double) { return false; }},
        {"Lt -inf", float_set_from_float_bound(BoundKind::Lt, -kInf), [](double) { return false; }},
        {"Ge nan", float_set_from_float_bound(BoundKind::Ge, kNaN), [](double) { return false; }},
        {"int Ge 3", float_set_from_int_bound(BoundKind::Ge, 3), [](double x) { return x >= 3; }},
        {"int Gt 0", float_set_from_int_bound(BoundKind::Gt, 0), [](double x) { return x > 0; }},
        {"int Ge 2^53+1", float_set_from_int_bound(BoundKind::Ge, two53p1), [](double x) { return x >= 0x1p53 + 2; }},
        {"int Gt 2^53+1", float_set_from_int_bound(BoundKind::Gt, two53p1), [](double x) { return x >= 0x1p53 + 2; }},
        {"int Le 2^53+1", float_set_from_int_bound(BoundKind::Le, two53p1), [](double x) { return x <= 0x1p53; }},
        {"int Lt 2^53+1", float_set_from_int_bound(BoundKind::Lt, two53p1), [](double x) { return x <= 0x1p53; }},
        {"int Le -(2^53+1)", float_set_from_int_bound(BoundKind::Le, -two53p1),
         [](double x) { return x <= -0x1p53 - 2; }},
        // INT64_MAX rounds up to 2^63, which no int64 holds.
        {"int Ge INT64_MAX", float_set_from_int_bound(BoundKind::Ge, INT64_MAX), [](double x) { return x >= 0x1p63; }},
        {"int Lt INT64_MAX", float_set_from_int_bound(BoundKind::Lt, INT64_MAX), [](double x) { return x < 0x1p63; }},
        {"int Lt INT64_MIN", float_set_from_int_bound(BoundKind::Lt, INT64_MIN), [](double x) { return x < -0x1p63; }},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(float_set_is_normal(c.set)) << c.name;
        EXPECT_FALSE(c.set.nan) << c.name;
        for (double x : probes()) {
            if (std::isnan(x)) continue;
            EXPECT_EQ(float_set_contains(c.set, x), c.member(x)) << c.name << " at " << x;
        }
    }
    // The odd int bound's ends are closed.
    const FloatSet g = float_set_from_int_bound(BoundKind::Gt, two53p1);
    ASSERT_EQ(g.intervals.size(), 1u);
    EXPECT_EQ(g.intervals[0].lo, 0x1p53 + 2);
    EXPECT_TRUE(g.intervals[0].lo_closed);
}

struct Sample {
    std::string name;
    FloatSet set;
    std::function<bool(double)> member;
};

std::vector<Sample> samples() {
    std::vector<Sample> out;
    auto add_iv = [&](std::string name, FloatInterval v, std::function<bool(double)> f) {
        out.push_back({std::move(name), float_set_from_interval(v), std::move(f)});
    };
    out.push_back({"all", float_set_all(), [](double) { return true; }});
    out.push_back({"empty", float_set_empty(), [](double) { return false; }});
    out.push_back({"nan", FloatSet{{}, true}, [](double x) { return std::isnan(x); }});
    add_iv("[0, 1)", iv(0, 1, true, false), [](double x) { return x >= 0 && x < 1; });
    add_iv("(0, 1]", iv(0, 1, false, true), [](double x) { return x > 0 && x <= 1; });
    add_iv("[1, 1]", iv(1, 1), [](double x) { return x == 1; });
    add_iv("(-5e-324, 5e-324)", iv(-kTiny, kTiny, false, false), [](double x) { return x == 0; });
    add_iv("[-inf, -5e-324]", iv(-kInf, -kTiny), [](double x) { return x <= -kTiny; });
    add_iv("(next(1), inf]", iv(kAbove1, kInf, false, true), [&](double x) { return x > kAbove1; });
    add_iv("[-1, -0.0]", iv(-1, -0.0), [](double x) { return x >= -1 && x <= 0; });
    add_iv("(DBL_MAX, inf]", iv(DBL_MAX, kInf, false, true), [](double x) { return x == kInf; });
    add_iv("[-inf, -inf]", iv(-kInf, -kInf), [](double x) { return x == -kInf; });
    out.push_back({"Gt -5e-324 or nan",
                   float_set_union(float_set_from_float_bound(BoundKind::Gt, -kTiny), FloatSet{{}, true}),
                   [](double x) { return std::isnan(x) || x > -kTiny; }});
    out.push_back({"two pieces",
                   float_set_union(float_set_from_interval(iv(-2.5, -1, false, true)),
                                   float_set_from_interval(iv(1, 2, false, false))),
                   [](double x) { return (x > -2.5 && x <= -1) || (x > 1 && x < 2); }});
    return out;
}

// Every interval of the set holds a double that the predicate admits (its
// first one), so an interval never makes an empty set look inhabited.
void expect_matches(const FloatSet& s, const std::function<bool(double)>& f, const std::string& what) {
    ASSERT_TRUE(float_set_is_normal(s)) << what << ": " << str(s);
    for (double x : probes()) ASSERT_EQ(float_set_contains(s, x), f(x)) << what << " at " << x << ": " << str(s);
    for (const FloatInterval& v : s.intervals) {
        const auto keys = float_interval_keys(v);
        ASSERT_TRUE(keys) << what;
        EXPECT_TRUE(f(of_key(keys->lo))) << what << " first member " << of_key(keys->lo);
        EXPECT_TRUE(f(of_key(keys->hi))) << what << " last member " << of_key(keys->hi);
    }
}

TEST(FloatSet, UnionIntersectionAndComplementAgreeWithMembership) {
    const auto all = samples();
    for (const Sample& a : all) {
        expect_matches(a.set, a.member, a.name);
        expect_matches(float_set_complement(a.set), [&](double x) { return !a.member(x); }, "not " + a.name);
        EXPECT_TRUE(same_set(float_set_complement(float_set_complement(a.set)), a.set)) << a.name;
        for (const Sample& b : all) {
            expect_matches(float_set_union(a.set, b.set), [&](double x) { return a.member(x) || b.member(x); },
                           a.name + " | " + b.name);
            expect_matches(intersect_float_intervals(a.set, b.set),
                           [&](double x) { return a.member(x) && b.member(x); }, a.name + " & " + b.name);
        }
    }
}

TEST(FloatSet, NormalFormCases) {
    struct Case {
        const char* name;
        FloatSet got;
        std::vector<FloatInterval> want;
    };
    auto one = [](FloatInterval v) { return float_set_from_interval(v); };
    const std::vector<Case> cases = {
        {"[0,1) | [1,2]", float_set_union(one(iv(0, 1, true, false)), one(iv(1, 2))), {iv(0, 2)}},
        {"[0,1) | (1,2]", float_set_union(one(iv(0, 1, true, false)), one(iv(1, 2, false, true))),
         {iv(0, 1, true, false), iv(1, 2, false, true)}},
        {"[0,1] | [0.5,3)", float_set_union(one(iv(0, 1)), one(iv(0.5, 3, true, false))), {iv(0, 3, true, false)}},
        {"[0,1] | [0,1)", float_set_union(one(iv(0, 1)), one(iv(0, 1, true, false))), {iv(0, 1)}},
        {"(0,2) | [0,1)", float_set_union(one(iv(0, 2, false, false)), one(iv(0, 1, true, false))),
         {iv(0, 2, true, false)}},
        {"[0,1] & [1,2]", intersect_float_intervals(one(iv(0, 1)), one(iv(1, 2))), {iv(1, 1)}},
        {"[0,1) & [1,2]", intersect_float_intervals(one(iv(0, 1, true, false)), one(iv(1, 2))), {}},
        {"not [0,1)", float_set_complement(one(iv(0, 1, true, false))),
         {iv(-kInf, 0, true, false), iv(1, kInf)}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.got.intervals.size(), c.want.size()) << c.name << ": " << str(c.got);
        for (std::size_t i = 0; i < c.want.size(); ++i)
            EXPECT_EQ(cmp_float_interval(c.got.intervals[i], c.want[i]), std::strong_ordering::equal) << c.name;
    }
    EXPECT_TRUE(float_set_complement(float_set_empty()).nan);
    EXPECT_TRUE(same_set(float_set_complement(float_set_empty()), float_set_all()));
    EXPECT_TRUE(same_set(float_set_complement(float_set_all()), float_set_empty()));
    EXPECT_TRUE(intersect_float_intervals(FloatSet{{}, true}, FloatSet{{}, true}).nan);
    EXPECT_FALSE(intersect_float_intervals(FloatSet{{}, true}, float_set_empty()).nan);
}

TEST(FloatSet, Orders) {
    EXPECT_TRUE(cmp_float_interval(iv(1, 2, false, true), iv(1, 2)) < 0);
    EXPECT_TRUE(cmp_float_interval(iv(1, 2, true, false), iv(1, 2)) < 0);
    EXPECT_TRUE(cmp_float_interval(iv(-kInf, 0), iv(-1, 0)) < 0);
    FloatSet s = float_set_from_interval(iv(0, 1));
    FloatSet with_nan = s;
    with_nan.nan = true;
    EXPECT_TRUE(cmp_float_set(s, with_nan) < 0);
    EXPECT_TRUE(cmp_float_set(float_set_empty(), s) < 0);
    EXPECT_FALSE(float_set_equal(s, with_nan));
    // Zero ends are stored as +0.0, so -0.0 and 0.0 bounds build equal sets.
    EXPECT_TRUE(float_set_equal(float_set_from_float_bound(BoundKind::Ge, -0.0),
                                float_set_from_float_bound(BoundKind::Ge, 0.0)));
    EXPECT_EQ(cmp_float_set(float_set_from_float_bound(BoundKind::Le, -0.0),
                            float_set_from_float_bound(BoundKind::Le, 0.0)),
              std::strong_ordering::equal);
}

}  // namespace
}  // namespace tessaron::descr
