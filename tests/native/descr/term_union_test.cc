// The union of possibly negated terms on a small kind whose meaning is
// plain: a term is a set of the values 0..7 (a bitmask), a union of terms
// the union of their sets, a negated atom the values outside it.  Every
// operation of term_union.h is checked against that meaning on every atom
// of a table, both polarities; then the budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/descr/budget.h"
#include "core/descr/term_union.h"

namespace tessaron::descr {
namespace {

using Bits = std::uint8_t;
using Terms = std::vector<Bits>;

// Complements are written as one term per value outside, so that a
// subtraction multiplies by several terms, as the real kinds do.
struct BitTerms {
    using Term = Bits;
    std::optional<Terms> normalize(Terms terms) const {
        std::erase(terms, Bits{0});
        std::sort(terms.begin(), terms.end());
        terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
        if (terms.size() > kMaxTerms) return std::nullopt;
        return terms;
    }
    std::optional<Bits> meet(Bits x, Bits y) const { return static_cast<Bits>(x & y); }
    Terms complement(Bits x) const {
        Terms out;
        for (int v = 0; v < 8; ++v)
            if (!(x & (1u << v))) out.push_back(static_cast<Bits>(1u << v));
        return out;
    }
    Terms universe() const { return {0xFF}; }
};
static_assert(TermTraits<BitTerms>);

Bits denote(const Terms& terms, bool negated) {
    Bits all = 0;
    for (Bits t : terms) all |= t;
    return negated ? static_cast<Bits>(~all) : all;
}

const std::vector<Terms> kAtoms = {{}, {0x01}, {0x0F, 0x30}, {0xFF}, {0x81, 0x42, 0x24}, {0x55}};

TEST(TermUnion, OperationsDenoteTheirSetOperations) {
    const BitTerms kind;
    for (const Terms& a : kAtoms)
        for (bool an : {false, true}) {
            const SignedTerms<Bits> first{a, an};
            const auto positive = explicit_terms(kind, first);
            ASSERT_TRUE(positive);
            EXPECT_EQ(denote(*positive, false), denote(a, an));
            const auto [flipped, flipped_negated] = flip_terms(kind, first);
            EXPECT_EQ(denote(flipped, flipped_negated), static_cast<Bits>(~denote(a, an)));
            if (a.size() <= 1) {
                EXPECT_FALSE(flipped_negated) << "one term or none is flipped explicitly";
            }
            for (const Terms& b : kAtoms)
                for (bool bn : {false, true}) {
                    const SignedTerms<Bits> second{b, bn};
                    const auto met = meet_signed_terms(kind, first, second);
                    ASSERT_TRUE(met);
                    EXPECT_EQ(denote(*met, false), denote(a, an) & denote(b, bn));
                    const auto joined = join_signed_terms(kind, first, second);
                    ASSERT_TRUE(joined);
                    EXPECT_EQ(denote(joined->first, joined->second), denote(a, an) | denote(b, bn));
                }
        }
}

TEST(TermUnion, ProductsAreNormalised) {
    const BitTerms kind;
    const auto p = product_terms(kind, Terms{0x03, 0x0C}, Terms{0x06, 0x30});
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, (Terms{0x02, 0x04})) << "empty meets dropped, sorted, without duplicates";
}

TEST(TermUnion, BudgetOnePerPairAndNoneForAnEmptySide) {
    const BitTerms kind;
    {
        WorkWindow window(0);
        const auto empty = product_terms(kind, Terms{}, Terms{0x01});
        ASSERT_TRUE(empty) << "an empty side takes no unit";
        EXPECT_TRUE(empty->empty());
        EXPECT_FALSE(product_terms(kind, Terms{0x01}, Terms{0x01}));
        EXPECT_FALSE(explicit_terms(kind, SignedTerms<Bits>{Terms{0x01}, true}));
        const auto [terms, negated] = flip_terms(kind, SignedTerms<Bits>{Terms{0x01}, false});
        EXPECT_TRUE(negated) << "a flip that cannot be made explicit keeps the negated atom";
        EXPECT_EQ(terms, Terms{0x01});
    }
    {
        WorkWindow window(4);
        EXPECT_TRUE(product_terms(kind, Terms{0x01, 0x02}, Terms{0x03, 0x04}));
    }
    {
        WorkWindow window(3);
        EXPECT_FALSE(product_terms(kind, Terms{0x01, 0x02}, Terms{0x03, 0x04}));
    }
}

}  // namespace
}  // namespace tessaron::descr
