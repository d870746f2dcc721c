// Float sets: stepped ends, normal form, union, intersection, complement,
// and the sets of one bound.
//
// What it computes.  A FloatSet is a union of intervals of doubles plus a
// NaN flag.  Every comparison of ends uses the total-order key of a double
// (its bits as a signed integer, the 63 low bits flipped when the sign bit
// is set): -inf < negatives < -0.0 < +0.0 < positives < +inf, NaNs beyond.
// Doubles are discrete, so an interval is read through its stepped ends:
// a closed end is its own key, an open lower end the next key above, an
// open upper end the next key below, and the key of -0.0 is skipped (zero
// ends are stored as +0.0, and -0.0 belongs wherever +0.0 does).  An
// interval is empty exactly when its stepped lower key exceeds its stepped
// upper key; every test of emptiness here (construction, intersection
// candidates, complement gaps, normalisation) reads it that way, so an
// interval holding no double never survives to make a set look inhabited.
//
// Invariants.  Results are in normal form: no empty interval, sorted by
// the key of the lower end (closed before open at a tie), neighbours
// separated (key(q.lo) > key(p.hi), or equal with both touching ends
// open); no end is NaN or -0.0.  The intervals of a normal set are
// disjoint, so the complement is the list of gaps between them.
//
// Budget.  Linear in the number of intervals, apart from the sort of the
// normalisation and the pairwise candidates of an intersection.
#include "core/descr/values/float_set.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace tessaron::descr {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMinusZeroKey = -1;

// Zero as +0.0, so -0.0 never becomes an end or a key.
double unsigned_zero(double x) { return x == 0.0 ? 0.0 : x; }

std::int64_t end_key(double x) { return float_key(unsigned_zero(x)); }

constexpr std::int64_t kPlusInfKey = float_key(kInf);
constexpr std::int64_t kMinusInfKey = float_key(-kInf);

// The first double at or above an end, as a key; none beyond +inf.
std::optional<std::int64_t> stepped_lo(double lo, bool closed) {
    std::int64_t k = end_key(lo);
    if (closed) return k;
    if (k >= kPlusInfKey) return std::nullopt;
    ++k;
    if (k == kMinusZeroKey) ++k;
    return k;
}

// The last double at or below an end, as a key; none below -inf.
std::optional<std::int64_t> stepped_hi(double hi, bool closed) {
    std::int64_t k = end_key(hi);
    if (closed) return k;
    if (k <= kMinusInfKey) return std::nullopt;
    --k;
    if (k == kMinusZeroKey) --k;
    return k;
}

// The lower end of the interval that sorts first.
bool lo_before(const FloatInterval& a, const FloatInterval& b) {
    const std::int64_t ka = end_key(a.lo), kb = end_key(b.lo);
    if (ka != kb) return ka < kb;
    return a.lo_closed && !b.lo_closed;
}

// x with zero ends as +0.0; NaN ends make it empty.
FloatInterval stored(FloatInterval v) {
    v.lo = unsigned_zero(v.lo);
    v.hi = unsigned_zero(v.hi);
    return v;
}

bool has_nan_end(const FloatInterval& v) { return std::isnan(v.lo) || std::isnan(v.hi); }

FloatSet of_interval(double lo, bool lo_closed, double hi, bool hi_closed) {
    return float_set_from_interval(FloatInterval{lo, hi, lo_closed, hi_closed});
}

}  // namespace

std::optional<KeyRange> float_interval_keys(const FloatInterval& v) {
    if (has_nan_end(v)) return std::nullopt;
    const auto lo = stepped_lo(v.lo, v.lo_closed);
    const auto hi = stepped_hi(v.hi, v.hi_closed);
    if (!lo || !hi || *lo > *hi) return std::nullopt;
    return KeyRange{*lo, *hi};
}

bool float_interval_is_empty(const FloatInterval& v) { return !float_interval_keys(v); }

FloatSet float_set_all() { return FloatSet{{FloatInterval{-kInf, kInf, true, true}}, true}; }

FloatSet float_set_empty() { return FloatSet{}; }

FloatSet float_set_from_interval(FloatInterval v) {
    FloatSet s;
    if (!float_interval_is_empty(v)) s.intervals.push_back(stored(v));
    return s;
}

FloatSet float_set_from_float_bound(BoundKind kind, double v) {
    if (std::isnan(v)) return float_set_empty();
    switch (kind) {
        case BoundKind::Ge: return of_interval(v, true, kInf, true);
        case BoundKind::Gt: return of_interval(v, false, kInf, true);
        case BoundKind::Le: return of_interval(-kInf, true, v, true);
        case BoundKind::Lt: return of_interval(-kInf, true, v, false);
    }
    assert(false && "a BoundKind no case names");
    return float_set_empty();
}

FloatSet float_set_from_int_bound(BoundKind kind, std::int64_t n) {
    const double d = static_cast<double>(n);  // nearest, ties to even
    // 2^63 is the one double n can round to that does not convert back.
    const bool above = d >= 0x1p63 || static_cast<std::int64_t>(d) > n;
    const bool below = !above && static_cast<std::int64_t>(d) < n;
    if (!above && !below) return float_set_from_float_bound(kind, d);
    // No double lies strictly between d and n: strict and non-strict
    // bounds coincide and every end is closed.
    const bool lower = kind == BoundKind::Ge || kind == BoundKind::Gt;
    if (below) {
        return lower ? of_interval(std::nextafter(d, kInf), true, kInf, true) : of_interval(-kInf, true, d, true);
    }
    return lower ? of_interval(d, true, kInf, true) : of_interval(-kInf, true, std::nextafter(d, -kInf), true);
}

bool float_set_contains(const FloatSet& set, double x) {
    if (std::isnan(x)) return set.nan;
    const std::int64_t k = end_key(x);
    for (const FloatInterval& v : set.intervals) {
        const auto r = float_interval_keys(v);
        if (r && r->lo <= k && k <= r->hi) return true;
    }
    return false;
}

bool float_set_is_empty(const FloatSet& set) { return set.intervals.empty() && !set.nan; }

FloatSet normalize_float_intervals(FloatSet set) {
    std::vector<FloatInterval>& v = set.intervals;
    std::erase_if(v, float_interval_is_empty);
    for (FloatInterval& x : v) x = stored(x);
    std::stable_sort(v.begin(), v.end(), lo_before);
    std::vector<FloatInterval> out;
    out.reserve(v.size());
    for (const FloatInterval& q : v) {
        if (!out.empty()) {
            FloatInterval& p = out.back();
            const std::int64_t ph = end_key(p.hi), ql = end_key(q.lo);
            if (ph > ql || (ph == ql && (p.hi_closed || q.lo_closed))) {
                const std::int64_t qh = end_key(q.hi);
                if (qh > ph) {
                    p.hi = q.hi;
                    p.hi_closed = q.hi_closed;
                } else if (qh == ph) {
                    p.hi_closed = p.hi_closed || q.hi_closed;
                }
                continue;
            }
        }
        out.push_back(q);
    }
    v = std::move(out);
    assert(float_set_is_normal(set));
    return set;
}

FloatSet float_set_union(const FloatSet& a, const FloatSet& b) {
    FloatSet s;
    s.intervals.reserve(a.intervals.size() + b.intervals.size());
    s.intervals.insert(s.intervals.end(), a.intervals.begin(), a.intervals.end());
    s.intervals.insert(s.intervals.end(), b.intervals.begin(), b.intervals.end());
    s.nan = a.nan || b.nan;
    return normalize_float_intervals(std::move(s));
}

FloatSet intersect_float_intervals(const FloatSet& a, const FloatSet& b) {
    FloatSet s;
    for (const FloatInterval& x : a.intervals) {
        for (const FloatInterval& y : b.intervals) {
            FloatInterval c;
            const std::int64_t xl = end_key(x.lo), yl = end_key(y.lo);
            if (xl != yl) {
                const FloatInterval& w = xl > yl ? x : y;
                c.lo = w.lo;
                c.lo_closed = w.lo_closed;
            } else {
                c.lo = x.lo;
                c.lo_closed = x.lo_closed && y.lo_closed;
            }
            const std::int64_t xh = end_key(x.hi), yh = end_key(y.hi);
            if (xh != yh) {
                const FloatInterval& w = xh < yh ? x : y;
                c.hi = w.hi;
                c.hi_closed = w.hi_closed;
            } else {
                c.hi = x.hi;
                c.hi_closed = x.hi_closed && y.hi_closed;
            }
            if (!float_interval_is_empty(c)) s.intervals.push_back(c);
        }
    }
    s.nan = a.nan && b.nan;
    return normalize_float_intervals(std::move(s));
}

FloatSet float_set_complement(const FloatSet& set) {
    FloatSet s;
    double start = -kInf;
    bool start_closed = true;
    for (const FloatInterval& q : set.intervals) {
        const FloatInterval gap{start, q.lo, start_closed, !q.lo_closed};
        if (!float_interval_is_empty(gap)) s.intervals.push_back(gap);
        start = q.hi;
        start_closed = !q.hi_closed;
    }
    const FloatInterval last{start, kInf, start_closed, true};
    if (!float_interval_is_empty(last)) s.intervals.push_back(last);
    s.nan = !set.nan;
    return normalize_float_intervals(std::move(s));
}

bool float_set_equal(const FloatSet& a, const FloatSet& b) {
    if (a.nan != b.nan || a.intervals.size() != b.intervals.size()) return false;
    for (std::size_t i = 0; i < a.intervals.size(); ++i) {
        const FloatInterval& x = a.intervals[i];
        const FloatInterval& y = b.intervals[i];
        if (x.lo != y.lo || x.hi != y.hi || x.lo_closed != y.lo_closed || x.hi_closed != y.hi_closed) return false;
    }
    return true;
}

std::strong_ordering cmp_float_interval(const FloatInterval& a, const FloatInterval& b) {
    if (auto c = float_key(a.lo) <=> float_key(b.lo); c != 0) return c;
    if (auto c = a.lo_closed <=> b.lo_closed; c != 0) return c;
    if (auto c = float_key(a.hi) <=> float_key(b.hi); c != 0) return c;
    return a.hi_closed <=> b.hi_closed;
}

std::strong_ordering cmp_float_set(const FloatSet& a, const FloatSet& b) {
    const std::size_t n = std::min(a.intervals.size(), b.intervals.size());
    for (std::size_t i = 0; i < n; ++i)
        if (auto c = cmp_float_interval(a.intervals[i], b.intervals[i]); c != 0) return c;
    if (auto c = a.intervals.size() <=> b.intervals.size(); c != 0) return c;
    return a.nan <=> b.nan;
}

bool float_set_is_normal(const FloatSet& set) {
    const auto& v = set.intervals;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const FloatInterval& q = v[i];
        if (has_nan_end(q) || float_interval_is_empty(q)) return false;
        if (std::signbit(q.lo) && q.lo == 0.0) return false;
        if (std::signbit(q.hi) && q.hi == 0.0) return false;
        if (i == 0) continue;
        const FloatInterval& p = v[i - 1];
        const std::int64_t ph = float_key(p.hi), ql = float_key(q.lo);
        if (ph > ql || (ph == ql && (p.hi_closed || q.lo_closed))) return false;
    }
    return true;
}

}  // namespace tessaron::descr
