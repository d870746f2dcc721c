// The memo of answers per descriptor object: one computation per key (an
// ordered pair of objects is a key of its own), a failure kept as it was
// answered, and the key objects held while the memo lives, so that an
// address is never taken by another descriptor meanwhile.
#include <gtest/gtest.h>

#include <optional>

#include "core/descr/descr.h"
#include "core/descr/descr_memo.h"
#include "core/descr/lines/universe.h"

namespace tessaron::descr {
namespace {

TEST(DescrMemo, OneComputationPerKey) {
    const SharedDescr a = SharedDescr::make(descr_top());
    const SharedDescr b = SharedDescr::make(Descr{});
    DescrMemo<int, 2> memo;
    int calls = 0;
    auto ask = [&](const SharedDescr& x, const SharedDescr& y, int answer) {
        return memo.get({x, y}, [&] {
            ++calls;
            return answer;
        });
    };
    EXPECT_EQ(ask(a, b, 1), 1);
    EXPECT_EQ(ask(a, b, 2), 1) << "the first answer stands";
    EXPECT_EQ(ask(b, a, 3), 3) << "the pair is ordered";
    EXPECT_EQ(ask(a, every_value(), 4), 4) << "an absent handle is a key too";
    EXPECT_EQ(ask(a, every_value(), 5), 4);
    EXPECT_EQ(calls, 3);
}

TEST(DescrMemo, AFailureStaysAFailure) {
    const SharedDescr a = SharedDescr::make(descr_top());
    DescrMemo<std::optional<SharedDescr>> memo;
    EXPECT_FALSE(memo.get({a}, [] { return std::optional<SharedDescr>(); }));
    EXPECT_FALSE(memo.get({a}, [&] { return std::optional<SharedDescr>(a); }));
}

TEST(DescrMemo, KeyObjectsAreHeldWhileTheMemoLives) {
    DescrMemo<bool> memo;
    const Descr* address = nullptr;
    {
        const SharedDescr built = SharedDescr::make(descr_top());
        address = built.get();
        memo.get({built}, [] { return true; });
        EXPECT_EQ(built.use_count(), 2u);
    }
    // The built descriptor is still held: asking by a new object cannot
    // meet its address, and the memo answers for the new one afresh.
    const SharedDescr other = SharedDescr::make(Descr{});
    EXPECT_NE(other.get(), address);
    EXPECT_FALSE(memo.get({other}, [] { return false; }));
}

}  // namespace
}  // namespace tessaron::descr
