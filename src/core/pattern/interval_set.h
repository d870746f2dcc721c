// Sets of code points (or bytes) as sorted, disjoint, non-adjacent closed
// intervals: the value of every character class while a pattern is parsed.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaron::pattern {

struct Interval {
    std::uint32_t lo, hi;  // inclusive
    bool operator==(const Interval&) const = default;
};

class IntervalSet {
public:
    IntervalSet() = default;
    explicit IntervalSet(std::vector<Interval> ranges) : ranges_(std::move(ranges)) { canonicalize(); }

    static IntervalSet single(std::uint32_t c) { return IntervalSet({{c, c}}); }

    const std::vector<Interval>& ranges() const { return ranges_; }
    bool empty() const { return ranges_.empty(); }
    bool contains(std::uint32_t c) const;
    std::uint32_t max_value() const { return ranges_.empty() ? 0 : ranges_.back().hi; }

    void add(std::uint32_t lo, std::uint32_t hi);
    void add_all(const IntervalSet& other);

    void union_with(const IntervalSet& other);
    void intersect_with(const IntervalSet& other);
    void subtract(const IntervalSet& other);
    void symmetric_difference_with(const IntervalSet& other);
    // Complement among the Unicode scalar values (surrogates excluded).
    void negate_unicode();
    // Complement among the bytes 0..255.
    void negate_bytes();
    // Adds every code point that is equivalent under simple case folding.
    void case_fold_unicode();
    // Adds the other case of every ASCII letter.
    void case_fold_ascii();

    bool operator==(const IntervalSet& o) const { return ranges_ == o.ranges_; }

    // The representation invariant: every interval has lo <= hi, and the
    // intervals are in ascending order with a gap between neighbours
    // (a.hi + 1 < b.lo), so equal sets have equal vectors.
    bool is_normal() const;

private:
    void canonicalize();
    void negate_within(std::uint32_t max);

    std::vector<Interval> ranges_;
};

}  // namespace tessaron::pattern
