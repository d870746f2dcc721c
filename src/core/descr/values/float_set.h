// Exact sets of floats: unions of intervals of doubles, and NaN.
//
// A FloatSet holds intervals whose ends are doubles, each end open or
// closed, plus a flag for NaN.  Ends are compared by their total-order key
// (IEEE 754 totalOrder as a signed integer); the infinities are ordinary
// ends, no end is NaN, and every end equal to zero is stored as +0.0, so
// -0.0 and 0.0 are one value here as they are for Python's comparisons.
//
// Doubles are discrete: an open end stands for the neighbouring double.
// An interval denotes the doubles from its stepped lower end (lo itself
// when closed, else the next double above it) to its stepped upper end
// (hi when closed, else the next double below), stepping over -0.0; it is
// empty when the stepped lower end lies above the stepped upper end.  So
// (1, nextafter(1, 2)) and (-5e-324, 0) are empty, and (DBL_MAX, inf] is
// {inf}.  The representation keeps the ends as written.
#pragma once

#include <bit>
#include <compare>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/descr/set_op.h"

namespace tessaron::descr {

struct FloatInterval {
    double lo = 0.0;
    double hi = 0.0;
    bool lo_closed = true;
    bool hi_closed = true;
};

// Normal form: no empty interval; sorted by key(lo), a closed lower end
// before an open one; for neighbours p, q: key(q.lo) > key(p.hi), or equal
// with both touching ends open.  Neighbouring doubles are not merged.
struct FloatSet {
    std::vector<FloatInterval> intervals;
    bool nan = false;
};

enum class BoundKind : std::uint8_t { Ge, Gt, Le, Lt };

// The IEEE 754 total-order key of a double: its bits as a signed integer,
// the 63 low bits flipped when the sign bit is set.
constexpr std::int64_t float_key(double x) {
    const auto bits = std::bit_cast<std::int64_t>(x);
    return bits < 0 ? bits ^ INT64_MAX : bits;
}

// The doubles an interval denotes, as keys; none when it denotes none.
struct KeyRange {
    std::int64_t lo;
    std::int64_t hi;
};
std::optional<KeyRange> float_interval_keys(const FloatInterval& v);
bool float_interval_is_empty(const FloatInterval& v);

FloatSet float_set_all();
FloatSet float_set_empty();
FloatSet float_set_from_interval(FloatInterval v);
// One bound of a refined float: a float bound, or an integer bound (which
// may lie between two doubles).  A NaN bound gives the empty set.
FloatSet float_set_from_float_bound(BoundKind kind, double v);
FloatSet float_set_from_int_bound(BoundKind kind, std::int64_t n);

bool float_set_contains(const FloatSet& set, double x);
bool float_set_is_empty(const FloatSet& set);
FloatSet float_set_complement(const FloatSet& set);
FloatSet float_set_union(const FloatSet& a, const FloatSet& b);
FloatSet intersect_float_intervals(const FloatSet& a, const FloatSet& b);
FloatSet normalize_float_intervals(FloatSet set);
inline FloatSet combine_float_sets(const FloatSet& a, const FloatSet& b, SetOp op) {
    return op == SetOp::Union ? float_set_union(a, b) : intersect_float_intervals(a, b);
}

// Ends equal as doubles and equal closed flags, equal NaN flags.
bool float_set_equal(const FloatSet& a, const FloatSet& b);
std::strong_ordering cmp_float_interval(const FloatInterval& a, const FloatInterval& b);
std::strong_ordering cmp_float_set(const FloatSet& a, const FloatSet& b);

bool float_set_is_normal(const FloatSet& set);

}  // namespace tessaron::descr
