// The memo of one decision: the order and the equality of two distinct
// shared descriptors walked once inside a scope (and every time outside
// one), both directions of a pair one entry, a scope inside another using
// the outer one's memo.  (Verdicts: tests/native/descr/shapes/.)
#include <gtest/gtest.h>

#include "core/descr/decision_memo.h"
#include "core/descr/lines/order.h"
#include "descr/descr_fixture.h"

namespace tessaron::descr {
namespace {

using namespace testing;

SharedDescr ints_from(std::int64_t lo) { return SharedDescr::make(with_slot(Kind::Int, {line(ints(lo, std::nullopt))})); }

// The walks of `ask`.
template <class Ask>
std::uint64_t walks(Ask&& ask) {
    const std::uint64_t before = descr_comparisons();
    ask();
    return descr_comparisons() - before;
}

TEST(DecisionMemo, APairIsWalkedOncePerDecision) {
    const SharedDescr a = ints_from(0), b = ints_from(1), a_again = ints_from(0);
    auto ask_all = [&] {
        EXPECT_TRUE(cmp_optional_descr(a, b) < 0);
        EXPECT_TRUE(cmp_optional_descr(b, a) > 0) << "the pair asked the other way round";
        EXPECT_TRUE(cmp_optional_descr(a, a_again) == 0);
        EXPECT_TRUE(optional_descr_equal(a_again, a)) << "an equal order answers the equality";
        EXPECT_FALSE(optional_descr_equal(a, b));
        EXPECT_FALSE(optional_descr_equal(b, a));
        EXPECT_TRUE(cmp_optional_descr(a, a) == 0);
    };
    {
        DecisionMemoScope scope;
        // (a, b) ordered and told unequal, (a, a_again) ordered: three walks.
        EXPECT_EQ(walks(ask_all), 3u);
        EXPECT_EQ(walks(ask_all), 0u);
        {
            DecisionMemoScope inner;
            EXPECT_EQ(walks(ask_all), 0u) << "an inner scope uses the outer memo";
        }
        EXPECT_EQ(walks(ask_all), 0u) << "the inner scope left the outer memo open";
    }
    EXPECT_FALSE(decision_memo_open());
    EXPECT_EQ(decision_memo(), nullptr) << "the outermost scope dropped its memo";
    EXPECT_EQ(walks(ask_all), 6u) << "outside a decision every distinct pair walks";
}

TEST(DecisionMemo, EqualSetsOrderedApartAreToldEqual) {
    // One set under two moduli: ordered apart, equal as sets.
    const SharedDescr all = SharedDescr::make(with_slot(Kind::Int, {line(int_set_all())}));
    IntSet halves;
    halves.modulus = 2;
    halves.residues = {interval_set_all(), interval_set_all()};
    const SharedDescr split = SharedDescr::make(with_slot(Kind::Int, {line(halves)}));
    DecisionMemoScope scope;
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(cmp_optional_descr(all, split) != 0) << "round " << round;
        EXPECT_TRUE(optional_descr_equal(all, split)) << "round " << round;
    }
}

}  // namespace
}  // namespace tessaron::descr
