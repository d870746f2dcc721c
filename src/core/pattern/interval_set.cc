// Interval set algebra for character classes.
//
// Invariant: ranges_ is sorted by lo, and consecutive intervals neither
// overlap nor touch (a.hi + 1 < b.lo), so equal sets have equal vectors.
// Every operation is linear in the sizes of its operands (a merge), except
// add(), which inserts one interval in O(n); classes are built from a few
// dozen items at most, and the large Unicode tables come in already sorted
// through the constructor.
#include "core/pattern/interval_set.h"

#include <algorithm>
#include <cassert>

#include "core/pattern/unicode.h"

namespace tessaron::pattern {

namespace {
constexpr std::uint32_t kMaxScalar = 0x10FFFF;
constexpr std::uint32_t kSurrogateLo = 0xD800;
constexpr std::uint32_t kSurrogateHi = 0xDFFF;
}  // namespace

void IntervalSet::canonicalize() {
    std::sort(ranges_.begin(), ranges_.end(),
              [](const Interval& a, const Interval& b) { return a.lo < b.lo || (a.lo == b.lo && a.hi < b.hi); });
    std::size_t w = 0;
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        Interval r = ranges_[i];
        if (r.lo > r.hi) std::swap(r.lo, r.hi);
        if (w > 0 && static_cast<std::uint64_t>(ranges_[w - 1].hi) + 1 >= r.lo) {
            ranges_[w - 1].hi = std::max(ranges_[w - 1].hi, r.hi);
        } else {
            ranges_[w++] = r;
        }
    }
    ranges_.resize(w);
    assert(is_normal());
}

bool IntervalSet::is_normal() const {
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        if (ranges_[i].lo > ranges_[i].hi) return false;
        if (i > 0 && static_cast<std::uint64_t>(ranges_[i - 1].hi) + 1 >= ranges_[i].lo) return false;
    }
    return true;
}

bool IntervalSet::contains(std::uint32_t c) const {
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), c,
                               [](std::uint32_t v, const Interval& r) { return v < r.lo; });
    return it != ranges_.begin() && std::prev(it)->hi >= c;
}

void IntervalSet::add(std::uint32_t lo, std::uint32_t hi) {
    if (lo > hi) std::swap(lo, hi);
    // First interval that could merge: the first whose hi + 1 >= lo.
    auto first = std::lower_bound(ranges_.begin(), ranges_.end(), lo, [](const Interval& r, std::uint32_t v) {
        return static_cast<std::uint64_t>(r.hi) + 1 < v;
    });
    auto last = first;
    while (last != ranges_.end() && last->lo <= static_cast<std::uint64_t>(hi) + 1) {
        lo = std::min(lo, last->lo);
        hi = std::max(hi, last->hi);
        ++last;
    }
    if (first == last) {
        ranges_.insert(first, Interval{lo, hi});
    } else {
        *first = Interval{lo, hi};
        ranges_.erase(first + 1, last);
    }
    assert(is_normal());
}

void IntervalSet::add_all(const IntervalSet& other) { union_with(other); }

void IntervalSet::union_with(const IntervalSet& other) {
    if (other.ranges_.empty()) return;
    std::vector<Interval> merged;
    merged.reserve(ranges_.size() + other.ranges_.size());
    std::merge(ranges_.begin(), ranges_.end(), other.ranges_.begin(), other.ranges_.end(),
               std::back_inserter(merged), [](const Interval& a, const Interval& b) { return a.lo < b.lo; });
    ranges_ = std::move(merged);
    canonicalize();
}

void IntervalSet::intersect_with(const IntervalSet& other) {
    std::vector<Interval> out;
    std::size_t i = 0, j = 0;
    while (i < ranges_.size() && j < other.ranges_.size()) {
        const Interval& a = ranges_[i];
        const Interval& b = other.ranges_[j];
        std::uint32_t lo = std::max(a.lo, b.lo), hi = std::min(a.hi, b.hi);
        if (lo <= hi) out.push_back({lo, hi});
        if (a.hi < b.hi) {
            ++i;
        } else {
            ++j;
        }
    }
    ranges_ = std::move(out);
    assert(is_normal());
}

void IntervalSet::subtract(const IntervalSet& other) {
    std::vector<Interval> out;
    std::size_t j = 0;
    for (Interval a : ranges_) {
        std::uint64_t lo = a.lo;
        while (j < other.ranges_.size() && other.ranges_[j].hi < lo) ++j;
        std::size_t k = j;
        while (k < other.ranges_.size() && other.ranges_[k].lo <= a.hi && lo <= a.hi) {
            const Interval& b = other.ranges_[k];
            if (b.lo > lo) out.push_back({static_cast<std::uint32_t>(lo), b.lo - 1});
            lo = static_cast<std::uint64_t>(b.hi) + 1;
            if (b.hi >= a.hi) break;
            ++k;
        }
        if (lo <= a.hi) out.push_back({static_cast<std::uint32_t>(lo), a.hi});
    }
    ranges_ = std::move(out);
    assert(is_normal());
}

void IntervalSet::symmetric_difference_with(const IntervalSet& other) {
    IntervalSet both = *this;
    both.intersect_with(other);
    union_with(other);
    subtract(both);
}

void IntervalSet::negate_within(std::uint32_t max) {
    std::vector<Interval> out;
    std::uint64_t next = 0;
    for (const Interval& r : ranges_) {
        if (r.lo > next) out.push_back({static_cast<std::uint32_t>(next), r.lo - 1});
        next = static_cast<std::uint64_t>(r.hi) + 1;
    }
    if (next <= max) out.push_back({static_cast<std::uint32_t>(next), max});
    ranges_ = std::move(out);
    assert(is_normal());
}

void IntervalSet::negate_unicode() {
    negate_within(kMaxScalar);
    subtract(IntervalSet({{kSurrogateLo, kSurrogateHi}}));
}

void IntervalSet::negate_bytes() { negate_within(0xFF); }

void IntervalSet::case_fold_unicode() {
    std::vector<std::uint32_t> extra;
    for (const Interval& r : ranges_) unicode::for_each_case_partner(r.lo, r.hi, [&](std::uint32_t c) { extra.push_back(c); });
    if (extra.empty()) return;
    std::sort(extra.begin(), extra.end());
    std::vector<Interval> more;
    for (std::uint32_t c : extra) {
        if (!more.empty() && more.back().hi + 1 >= c) {
            more.back().hi = std::max(more.back().hi, c);
        } else {
            more.push_back({c, c});
        }
    }
    union_with(IntervalSet(std::move(more)));
}

void IntervalSet::case_fold_ascii() {
    IntervalSet extra;
    for (const Interval& r : ranges_) {
        std::uint32_t lo = std::max<std::uint32_t>(r.lo, 'a'), hi = std::min<std::uint32_t>(r.hi, 'z');
        if (lo <= hi) extra.add(lo - 32, hi - 32);
        lo = std::max<std::uint32_t>(r.lo, 'A');
        hi = std::min<std::uint32_t>(r.hi, 'Z');
        if (lo <= hi) extra.add(lo + 32, hi + 32);
    }
    union_with(extra);
}

}  // namespace tessaron::pattern
