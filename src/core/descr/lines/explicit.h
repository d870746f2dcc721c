// The explicit form of a negated slot: the lines of the kind's universe
// outside the union of the given lines.
//
// Lines are one kind of term of the union algebra (term_union.h): their
// normal form is `compact_lines`, two lines meet atom by atom and condition
// list by condition list, a line's complement is its two-line complement
// (complement.h), and a slot's universe is its universe line.  The explicit
// form starts from the universe line and, for each excluded line in order,
// multiplies the accumulated lines pairwise by the two lines of its
// complement and compacts.  One failing unit per pair; the lines gathered
// in one step are compacted when more than `kCompactAbove` wait and after
// the step; more than `kMaxTerms` left fail.  The explicit forms of condition lists, set
// items and shapes live with their types (conditions.h, sets/set_item_algebra.h,
// shapes/shape_algebra.h).
#pragma once

#include <optional>
#include <vector>

#include "core/descr/descr.h"

namespace tessaron::descr {

// Lines as terms of a product (any slot).
struct LineProduct {
    using Term = Line;
    std::optional<std::vector<Line>> normalize(std::vector<Line> lines) const;
    std::optional<Line> meet(const Line& x, const Line& y) const;
};

// Lines as terms of one slot, with complements and the slot's universe.
struct LineTerms : LineProduct {
    Kind kind;
    explicit LineTerms(Kind slot) : kind(slot) {}
    std::vector<Line> complement(const Line& line) const;
    std::vector<Line> universe() const;
};

std::optional<std::vector<Line>> positive_slot(const std::vector<Line>& lines, Kind kind);

}  // namespace tessaron::descr
