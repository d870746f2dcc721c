// The descriptor algebra against a reference evaluator: union,
// intersection and complement of generated flat descriptors agree with
// membership value by value, and every "empty" answer has no member.
#include <gtest/gtest.h>

#include <random>

#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/emptiness.h"
#include "descr/descr_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;
using ir::Emptiness;

void expect_positive(const Descr& d, const char* what) {
    for (const Kind k : ir::kKinds) EXPECT_FALSE(d.slot(k).negated) << what << " slot " << ir::kind_slot(k);
}

void expect_empty_means_no_member(const Descr& d, const std::vector<Value>& values, const char* what) {
    if (descr_verdict(d) != Emptiness::Empty) return;
    for (const Value& v : values) EXPECT_FALSE(contains(d, v)) << what << " was proved empty but holds " << v.name;
}

TEST(ReferenceEvaluator, UnionIntersectionAndComplementAgreeWithMembership) {
    std::mt19937 rng(20240617);
    const std::vector<Value> values = value_universe();
    for (int round = 0; round < 400; ++round) {
        const Descr a = random_flat_descr(rng);
        const Descr b = random_flat_descr(rng);
        const OptDescr joined = descr_combine(a, b, SetOp::Union);
        const OptDescr met = descr_combine(a, b, SetOp::Intersection);
        const Descr outside = descr_complement(a);
        const Descr back = descr_complement(outside);
        ASSERT_TRUE(joined) << "round " << round;
        ASSERT_TRUE(met) << "round " << round;
        expect_positive(*joined, "union");
        expect_positive(*met, "intersection");
        for (const Value& v : values) {
            const bool in_a = contains(a, v), in_b = contains(b, v);
            ASSERT_EQ(contains(*joined, v), in_a || in_b) << "union, round " << round << ", " << v.name;
            ASSERT_EQ(contains(*met, v), in_a && in_b) << "intersection, round " << round << ", " << v.name;
            ASSERT_EQ(contains(outside, v), !in_a) << "complement, round " << round << ", " << v.name;
            ASSERT_EQ(contains(back, v), in_a) << "double complement, round " << round << ", " << v.name;
        }
        expect_empty_means_no_member(a, values, "a");
        expect_empty_means_no_member(*joined, values, "a | b");
        expect_empty_means_no_member(*met, values, "a & b");
        expect_empty_means_no_member(outside, values, "~a");
        // a & ~a is the question the decisions ask; it must never be
        // "inhabited" by a value, and is empty on every proof.
        const OptDescr none = descr_combine(a, outside, SetOp::Intersection);
        ASSERT_TRUE(none);
        for (const Value& v : values) ASSERT_FALSE(contains(*none, v)) << v.name;
        EXPECT_NE(descr_verdict(*none), Emptiness::Inhabited) << "round " << round;
    }
}

TEST(ReferenceEvaluator, SharedMeetsAgreeWithTheirDescriptors) {
    std::mt19937 rng(7);
    const std::vector<Value> values = value_universe();
    for (int round = 0; round < 100; ++round) {
        const SharedDescr a = SharedDescr::make(random_flat_descr(rng));
        const SharedDescr b = SharedDescr::make(random_flat_descr(rng));
        const auto met_or_none = meet_shared_descrs(a, b);
        const auto joined_or_none = join_shared_descrs(a, b);
        ASSERT_TRUE(met_or_none);
        ASSERT_TRUE(joined_or_none);
        const SharedDescr met = *met_or_none;
        const SharedDescr joined = *joined_or_none;
        for (const Value& v : values) {
            ASSERT_EQ(contains(*met, v), contains(*a, v) && contains(*b, v)) << v.name;
            ASSERT_EQ(contains(*joined, v), contains(*a, v) || contains(*b, v)) << v.name;
        }
        // a within a | b, and a & b within a: never refuted.
        EXPECT_NE(shared_descr_subset(a, joined), ir::Decision::NotSubset);
        EXPECT_NE(shared_descr_subset(met, a), ir::Decision::NotSubset);
    }
}

TEST(ReferenceEvaluator, ABudgetRunningOutNeverProvesEmptiness) {
    // The same questions under small windows: answers may become undecided,
    // never wrong.
    std::mt19937 rng(99);
    const std::vector<Value> values = value_universe();
    for (int round = 0; round < 200; ++round) {
        const Descr a = random_flat_descr(rng);
        const Descr b = random_flat_descr(rng);
        const std::uint64_t units = rng() % 24;
        WorkWindow window(units);
        if (const OptDescr joined = descr_combine(a, b, SetOp::Union)) {
            for (const Value& v : values)
                ASSERT_EQ(contains(*joined, v), contains(a, v) || contains(b, v)) << "units " << units << ", " << v.name;
        }
        const Descr outside = descr_complement(b);
        const OptDescr meet = descr_combine(a, outside, SetOp::Intersection);
        if (!meet) continue;
        for (const Value& v : values)
            ASSERT_EQ(contains(*meet, v), contains(a, v) && !contains(b, v)) << "units " << units << ", " << v.name;
        expect_empty_means_no_member(*meet, values, "a & ~b");
    }
}

}  // namespace
}  // namespace tessaron::descr
