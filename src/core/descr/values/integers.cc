// Integer sets: interval normal form, rebasing to a common modulus, and the
// residue-wise union, intersection and complement.
//
// What it computes.  An integer x belongs to an IntSet of modulus m when
// residue r = x mod m (0 .. m - 1) holds an interval containing the
// quotient (x - r) / m.  Two sets of moduli m1 and m2 combine at their
// least common multiple M: each side is rebased (residue R of modulus M
// reads residue R mod m of the old set, whose quotients are k * (M / m) +
// R div m), then the residues combine pairwise as interval sets.
// Complement works residue by residue at the same modulus: the gaps
// between the intervals.
//
// Invariants.  Every interval set leaving this file is in normal form
// (sorted, no empty interval, neighbours separated by at least one missing
// quotient), so residue-wise comparison of two sets at one modulus is set
// comparison.  Interval ends stay within the signed 128-bit range: sums
// saturate, divisions round towards the correct infinity.
//
// Budget.  Moduli never exceed `kMaxModulus`; a combination whose common modulus
// would is refused before anything is rebased, so an operation touches at
// most `kMaxModulus` residue pairs and each residue's intervals once per pair.
#include "core/descr/values/integers.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace tessaron::descr {

namespace {

// Lower ends: absent first, then by value.
bool lo_less(const std::optional<i128>& a, const std::optional<i128>& b) {
    if (!a) return bool(b);
    if (!b) return false;
    return *a < *b;
}

std::strong_ordering cmp_i128(i128 a, i128 b) {
    return a < b ? std::strong_ordering::less : a > b ? std::strong_ordering::greater : std::strong_ordering::equal;
}

// An absent end sorts before any present one.
std::strong_ordering cmp_end(const std::optional<i128>& a, const std::optional<i128>& b) {
    if (!a || !b) return bool(a) <=> bool(b);
    return cmp_i128(*a, *b);
}

bool interval_empty(const IntInterval& v) { return v.lo && v.hi && *v.hi < *v.lo; }

IntIntervalSet unbounded() { return IntIntervalSet{IntInterval{}}; }

bool is_unbounded(const IntIntervalSet& s) { return s.size() == 1 && !s[0].lo && !s[0].hi; }

}  // namespace

// --- interval sets -----------------------------------------------------------

IntIntervalSet interval_set_all() { return unbounded(); }

IntIntervalSet interval_set_from_bounds(std::optional<std::int64_t> lo, std::optional<std::int64_t> hi) {
    if (lo && hi && *hi < *lo) return {};
    IntInterval v;
    if (lo) v.lo = *lo;
    if (hi) v.hi = *hi;
    return {v};
}

IntIntervalSet interval_set_normalize(std::vector<IntInterval> v) {
    std::erase_if(v, interval_empty);
    std::stable_sort(v.begin(), v.end(), [](const IntInterval& a, const IntInterval& b) { return lo_less(a.lo, b.lo); });
    IntIntervalSet out;
    out.reserve(v.size());
    for (const IntInterval& q : v) {
        if (!out.empty()) {
            IntInterval& p = out.back();
            const bool apart = p.hi && q.lo && *q.lo > sat_add(*p.hi, 1);
            if (!apart) {
                if (!p.hi || !q.hi)
                    p.hi.reset();
                else
                    p.hi = std::max(*p.hi, *q.hi);
                continue;
            }
        }
        out.push_back(q);
    }
    return out;
}

IntIntervalSet interval_set_union(const IntIntervalSet& a, const IntIntervalSet& b) {
    std::vector<IntInterval> v;
    v.reserve(a.size() + b.size());
    v.insert(v.end(), a.begin(), a.end());
    v.insert(v.end(), b.begin(), b.end());
    return interval_set_normalize(std::move(v));
}

IntIntervalSet interval_set_intersection(const IntIntervalSet& a, const IntIntervalSet& b) {
    if (a.empty() || b.empty()) return {};
    std::vector<IntInterval> v;
    for (const IntInterval& p : a) {
        for (const IntInterval& q : b) {
            IntInterval r;
            if (p.lo && q.lo)
                r.lo = std::max(*p.lo, *q.lo);
            else
                r.lo = p.lo ? p.lo : q.lo;
            if (p.hi && q.hi)
                r.hi = std::min(*p.hi, *q.hi);
            else
                r.hi = p.hi ? p.hi : q.hi;
            if (!interval_empty(r)) v.push_back(r);
        }
    }
    return interval_set_normalize(std::move(v));
}

IntIntervalSet interval_set_rebase(const IntIntervalSet& intervals, std::int64_t j, std::int64_t t) {
    assert(t >= 1 && j >= 0 && j < t);
    std::vector<IntInterval> v;
    v.reserve(intervals.size());
    for (const IntInterval& p : intervals) {
        IntInterval r;
        if (p.lo) r.lo = ceil_div(sat_sub(*p.lo, j), t);
        if (p.hi) r.hi = floor_div(sat_sub(*p.hi, j), t);
        v.push_back(r);
    }
    return interval_set_normalize(std::move(v));
}

bool interval_set_is_normal(const IntIntervalSet& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (interval_empty(s[i])) return false;
        if (i == 0) continue;
        const IntInterval& p = s[i - 1];
        const IntInterval& q = s[i];
        if (!p.hi || !q.lo || *p.hi == kI128Max || *q.lo <= *p.hi + 1) return false;
    }
    return true;
}

// --- integer sets --------------------------------------------------------------

IntSet int_set_all() { return IntSet{{unbounded()}, 1}; }

IntSet int_set_empty() { return IntSet{{IntIntervalSet{}}, 1}; }

IntSet int_set_singleton(std::int64_t x) { return IntSet{{IntIntervalSet{IntInterval{x, x}}}, 1}; }

IntSet int_set_from_bounds(std::optional<std::int64_t> lo, std::optional<std::int64_t> hi) {
    return IntSet{{interval_set_from_bounds(lo, hi)}, 1};
}

std::optional<IntSet> int_set_multiple_of(std::int64_t d) {
    // 0 and INT64_MIN first: neither has a magnitude we can take, and
    // neither is a set of multiples for the walk.
    if (d == 0 || d == INT64_MIN) return std::nullopt;
    const std::int64_t a = d < 0 ? -d : d;
    if (a > kMaxModulus) return std::nullopt;
    IntSet s;
    s.modulus = a;
    s.residues.assign(static_cast<std::size_t>(a), IntIntervalSet{});
    s.residues[0] = unbounded();
    return s;
}

bool int_set_contains(const IntSet& set, i128 x) {
    const std::int64_t r = euclid_mod(x, set.modulus);
    const i128 k = floor_div(x, set.modulus);
    for (const IntInterval& v : set.residues[static_cast<std::size_t>(r)])
        if ((!v.lo || *v.lo <= k) && (!v.hi || k <= *v.hi)) return true;
    return false;
}

bool int_set_is_empty(const IntSet& set) {
    return std::all_of(set.residues.begin(), set.residues.end(), [](const IntIntervalSet& s) { return s.empty(); });
}

IntSet int_set_complement(const IntSet& set) {
    IntSet out;
    out.modulus = set.modulus;
    out.residues.reserve(set.residues.size());
    for (const IntIntervalSet& s : set.residues) {
        if (s.empty()) {
            out.residues.push_back(unbounded());
            continue;
        }
        std::vector<IntInterval> gaps;
        if (s.front().lo && *s.front().lo != kI128Min) gaps.push_back(IntInterval{std::nullopt, *s.front().lo - 1});
        for (std::size_t i = 0; i + 1 < s.size(); ++i) gaps.push_back(IntInterval{*s[i].hi + 1, *s[i + 1].lo - 1});
        if (s.back().hi && *s.back().hi != kI128Max) gaps.push_back(IntInterval{*s.back().hi + 1, std::nullopt});
        out.residues.push_back(interval_set_normalize(std::move(gaps)));
    }
    assert(int_set_is_normal(out));
    return out;
}

std::int64_t common_modulus(std::int64_t a, std::int64_t b) {
    // With both moduli within the cap the product is at most 2^24, so the
    // least common multiple is always exact: no fallback value is needed.
    assert(a >= 1 && a <= kMaxModulus && b >= 1 && b <= kMaxModulus);
    std::int64_t x = a, y = b;
    while (y != 0) x = std::exchange(y, x % y);
    return (a / x) * b;
}

RefinedResidues int_set_refine(const IntSet& set, std::int64_t M) {
    if (M == set.modulus) return {RefinedResidues::Outcome::Unchanged, {}};
    if (M < 1 || M > kMaxModulus) return {RefinedResidues::Outcome::TooLarge, {}};
    assert(M % set.modulus == 0);
    const std::int64_t m = set.modulus;
    const std::int64_t t = M / m;
    RefinedResidues r{RefinedResidues::Outcome::Rebased, {}};
    r.residues.reserve(static_cast<std::size_t>(M));
    for (std::int64_t i = 0; i < M; ++i)
        r.residues.push_back(interval_set_rebase(set.residues[static_cast<std::size_t>(i % m)], i / m, t));
    return r;
}

std::optional<IntSet> combine_int_sets(const IntSet& a, const IntSet& b, SetOp op) {
    const std::int64_t M = common_modulus(a.modulus, b.modulus);
    if (M > kMaxModulus) return std::nullopt;
    RefinedResidues ra = int_set_refine(a, M);
    RefinedResidues rb = int_set_refine(b, M);
    assert(ra.outcome != RefinedResidues::Outcome::TooLarge && rb.outcome != RefinedResidues::Outcome::TooLarge);
    const std::vector<IntIntervalSet>& xa = ra.outcome == RefinedResidues::Outcome::Unchanged ? a.residues : ra.residues;
    const std::vector<IntIntervalSet>& xb = rb.outcome == RefinedResidues::Outcome::Unchanged ? b.residues : rb.residues;

    IntSet out;
    out.modulus = M;
    out.residues.reserve(static_cast<std::size_t>(M));
    for (std::size_t r = 0; r < static_cast<std::size_t>(M); ++r)
        out.residues.push_back(op == SetOp::Union ? interval_set_union(xa[r], xb[r])
                                                  : interval_set_intersection(xa[r], xb[r]));

    // Collapse a result whose residues all agree on nothing or everything.
    if (M > 1 && std::all_of(out.residues.begin(), out.residues.end(),
                             [&](const IntIntervalSet& s) { return s == out.residues[0]; })) {
        if (out.residues[0].empty()) return int_set_empty();
        if (is_unbounded(out.residues[0])) return int_set_all();
    }
    assert(int_set_is_normal(out));
    return out;
}

bool int_set_equal(const IntSet& a, const IntSet& b) {
    const std::int64_t M = common_modulus(a.modulus, b.modulus);
    if (M > kMaxModulus) return false;
    RefinedResidues ra = int_set_refine(a, M);
    RefinedResidues rb = int_set_refine(b, M);
    const std::vector<IntIntervalSet>& xa = ra.outcome == RefinedResidues::Outcome::Unchanged ? a.residues : ra.residues;
    const std::vector<IntIntervalSet>& xb = rb.outcome == RefinedResidues::Outcome::Unchanged ? b.residues : rb.residues;
    return xa == xb;
}

std::strong_ordering cmp_int_set(const IntSet& a, const IntSet& b) {
    if (auto c = a.modulus <=> b.modulus; c != 0) return c;
    const std::size_t n = std::min(a.residues.size(), b.residues.size());
    for (std::size_t r = 0; r < n; ++r) {
        const IntIntervalSet& x = a.residues[r];
        const IntIntervalSet& y = b.residues[r];
        const std::size_t k = std::min(x.size(), y.size());
        for (std::size_t i = 0; i < k; ++i) {
            if (auto c = cmp_end(x[i].lo, y[i].lo); c != 0) return c;
            if (auto c = cmp_end(x[i].hi, y[i].hi); c != 0) return c;
        }
        if (auto c = x.size() <=> y.size(); c != 0) return c;
    }
    return a.residues.size() <=> b.residues.size();
}

bool int_set_is_normal(const IntSet& set) {
    if (set.modulus < 1 || set.modulus > kMaxModulus) return false;
    if (set.residues.size() != static_cast<std::size_t>(set.modulus)) return false;
    return std::all_of(set.residues.begin(), set.residues.end(), interval_set_is_normal);
}

}  // namespace tessaron::descr
