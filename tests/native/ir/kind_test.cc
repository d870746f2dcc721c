// The value kinds: slots and masks.
#include <gtest/gtest.h>

#include "core/ir/kind.h"

namespace tessaron::ir {
namespace {

TEST(Kind, KindsListsEveryKindOnceInSlotOrder) {
    for (std::size_t slot = 0; slot < kKindCount; ++slot) EXPECT_EQ(kind_slot(kKinds[slot]), slot);
    EXPECT_EQ(kKinds.front(), Kind::None);
    EXPECT_EQ(kKinds.back(), Kind::Other);
}

TEST(KindMask, NamedMasksAndComplement) {
    EXPECT_EQ(kAllKinds.bits(), (1u << kKindCount) - 1);
    EXPECT_TRUE(kNoKinds.empty());
    EXPECT_EQ(~kAllKinds, kNoKinds);
    EXPECT_EQ(~kNoKinds, kAllKinds);
    EXPECT_EQ(kScalarKinds | kNonScalarKinds, kAllKinds);
    EXPECT_FALSE(kScalarKinds.intersects(kNonScalarKinds));
    for (std::size_t slot = 0; slot < kKindCount; ++slot) {
        const Kind k = static_cast<Kind>(slot);
        EXPECT_TRUE(KindMask(k).contains(k));
        EXPECT_FALSE((~KindMask(k)).contains(k));
        EXPECT_EQ((~KindMask(k) | k), kAllKinds);
        EXPECT_EQ(kScalarKinds.contains(k), slot <= kind_slot(Kind::Bytes));
        EXPECT_EQ(kIntegralKinds.contains(k), is_integral_kind(k));
    }
}

}  // namespace
}  // namespace tessaron::ir
