// Smoke test of the native test build: the Fx hash against values computed
// independently from its definition (state = (state + w) * K, finish = rotl 26).
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "core/util/fxhash.h"

namespace {

std::uint64_t fx_words(std::initializer_list<std::uint64_t> words) {
    tessaron::util::FxHasher h;
    for (std::uint64_t w : words) h.write(w);
    return h.finish();
}

TEST(FxHash, MatchesReferenceValuesAndIsOrderSensitive) {
    EXPECT_EQ(fx_words({}), 0u);
    EXPECT_EQ(fx_words({1, 2}), 0x0650bc148fda4ac4ULL);
    EXPECT_EQ(fx_words({2, 1}), 0x1274d833dc6613c5ULL);
}

}  // namespace
