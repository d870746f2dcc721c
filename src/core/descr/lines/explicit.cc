// The explicit form of a negated slot (see explicit.h).
//
// What it computes: universe minus L1 minus L2 ..., each subtraction a
// product with the two-line complement of one excluded line.
//
// Invariants: the accumulated lines always carry positive condition lists
// and are compacted (no line proved empty, sorted, no duplicates).
//
// Budget: one failing unit per pair of lines, plus what atom meets (text
// products) and condition products take; a failure of any of these, or a
// compaction leaving more than `kMaxTerms` lines, fails the whole form.
#include "core/descr/lines/explicit.h"

#include "core/descr/lines/atoms.h"
#include "core/descr/lines/compact.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/conditions.h"
#include "core/descr/term_union.h"
#include "core/descr/lines/universe.h"

namespace tessaron::descr {

std::optional<std::vector<Line>> LineProduct::normalize(std::vector<Line> lines) const {
    return compact_lines(std::move(lines));
}

std::optional<Line> LineProduct::meet(const Line& x, const Line& y) const {
    auto atom = combine_atoms(x.atom, y.atom, SetOp::Intersection);
    if (!atom) return std::nullopt;
    auto conditions = meet_condition_lists(x.conditions, y.conditions);
    if (!conditions) return std::nullopt;
    return Line{std::move(*atom), ConditionList{std::move(*conditions), false}};
}

std::vector<Line> LineTerms::complement(const Line& line) const {
    auto [outside_atom, outside_conditions] = line_complement(line, kind);
    std::vector<Line> factors;
    factors.push_back(std::move(outside_atom));
    factors.push_back(std::move(outside_conditions));
    return factors;
}

std::vector<Line> LineTerms::universe() const {
    std::vector<Line> lines;
    lines.push_back(universe_line(kind));
    return lines;
}

std::optional<std::vector<Line>> positive_slot(const std::vector<Line>& lines, Kind kind) {
    return explicit_terms(LineTerms{kind}, SignedTerms<Line>{lines, true});
}

}  // namespace tessaron::descr
