// Exact sets of integers: residue classes with quotient intervals.
//
// An IntSet of modulus m (1 to `kMaxModulus`) holds, for each remainder r, the
// quotients k of the integers k * m + r that belong, as an IntIntervalSet.  It
// describes bounds, multiples, literals and every union, intersection and
// complement of those whose common modulus stays within `kMaxModulus`.  Quotients
// are signed 128-bit; the builders take signed 64-bit values.
//
// One set has many representations (any multiple of its modulus within the
// cap describes it too); int_set_equal compares sets, cmp_int_set orders
// representations.  Operations that would need a modulus above `kMaxModulus` answer
// no set, an ordinary result the caller reads as "cannot represent".
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/descr/set_op.h"
#include "core/descr/values/int128.h"

namespace tessaron::descr {

inline constexpr std::int64_t kMaxModulus = 4096;

// Inclusive quotient interval; an absent end is unbounded.
struct IntInterval {
    std::optional<i128> lo;
    std::optional<i128> hi;

    bool operator==(const IntInterval&) const = default;
};

// Normal form: no empty interval; sorted by lower end (absent first); for
// neighbours p, q both p.hi and q.lo are present and q.lo > p.hi + 1.
using IntIntervalSet = std::vector<IntInterval>;

struct IntSet {
    std::vector<IntIntervalSet> residues;  // exactly `modulus` entries
    std::int64_t modulus = 1;           // 1 .. kMaxModulus
};

// --- interval sets -----------------------------------------------------------
IntIntervalSet interval_set_all();
IntIntervalSet interval_set_from_bounds(std::optional<std::int64_t> lo, std::optional<std::int64_t> hi);
IntIntervalSet interval_set_normalize(std::vector<IntInterval> intervals);
IntIntervalSet interval_set_union(const IntIntervalSet& a, const IntIntervalSet& b);
IntIntervalSet interval_set_intersection(const IntIntervalSet& a, const IntIntervalSet& b);
// The quotients, under the modulus t * m, of the new residue whose old
// quotients (of some residue at modulus m) are k * t + j: each [lo, hi]
// becomes [ceil((lo - j) / t), floor((hi - j) / t)].  0 <= j < t.
IntIntervalSet interval_set_rebase(const IntIntervalSet& intervals, std::int64_t j, std::int64_t t);
bool interval_set_is_normal(const IntIntervalSet& intervals);

// --- integer sets --------------------------------------------------------------
IntSet int_set_all();
IntSet int_set_empty();
IntSet int_set_singleton(std::int64_t x);
IntSet int_set_from_bounds(std::optional<std::int64_t> lo, std::optional<std::int64_t> hi);
// The multiples of d; none for |d| > kMaxModulus, and for 0 and -2^63, whose
// multiples the validation walk does not read as a set of multiples
// (`x % 0` raises, so divisor 0 admits nothing; -2^63 admits 0 and +-2^63).
std::optional<IntSet> int_set_multiple_of(std::int64_t d);

bool int_set_contains(const IntSet& set, i128 x);
bool int_set_is_empty(const IntSet& set);
IntSet int_set_complement(const IntSet& set);

// The least common multiple of two moduli (each 1 .. kMaxModulus, so it fits).
std::int64_t common_modulus(std::int64_t a, std::int64_t b);

// The residues of `set` at modulus M (a multiple of its modulus).
struct RefinedResidues {
    enum class Outcome : std::uint8_t { Unchanged, Rebased, TooLarge };
    Outcome outcome;
    std::vector<IntIntervalSet> residues;  // filled for Rebased only
};
RefinedResidues int_set_refine(const IntSet& set, std::int64_t M);

// Union or intersection; none when the common modulus exceeds kMaxModulus.
std::optional<IntSet> combine_int_sets(const IntSet& a, const IntSet& b, SetOp op);
inline std::optional<IntSet> int_set_union(const IntSet& a, const IntSet& b) {
    return combine_int_sets(a, b, SetOp::Union);
}
inline std::optional<IntSet> int_set_intersection(const IntSet& a, const IntSet& b) {
    return combine_int_sets(a, b, SetOp::Intersection);
}

// Set equality at the common modulus; unequal when that exceeds kMaxModulus.
bool int_set_equal(const IntSet& a, const IntSet& b);
// Total order of representations: modulus, then residues interval by
// interval (absent ends first), then residue count.
std::strong_ordering cmp_int_set(const IntSet& a, const IntSet& b);

bool int_set_is_normal(const IntSet& set);

}  // namespace tessaron::descr
