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
// compaction leaving more than 256 lines, fails the whole form.
#include "core/descr/explicit.h"

#include "core/descr/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/compact.h"
#include "core/descr/complement.h"
#include "core/descr/conditions.h"
#include "core/descr/universe.h"

namespace tessaron::descr {

std::optional<std::vector<Line>> positive_slot(const std::vector<Line>& lines, KindCode code) {
    std::vector<Line> acc;
    acc.push_back(universe_line(code));
    for (const Line& excluded : lines) {
        auto [outside_atom, outside_conditions] = line_complement(excluded, code);
        const Line* factors[2] = {&outside_atom, &outside_conditions};
        std::vector<Line> gathered;
        for (const Line& x : acc)
            for (const Line* y : factors) {
                if (!take_unit()) return std::nullopt;
                if (gathered.size() > kCompactAbove) {
                    auto compacted = compact_lines(std::move(gathered));
                    if (!compacted) return std::nullopt;
                    gathered = std::move(*compacted);
                }
                auto atom = combine_atoms(x.atom, y->atom, SetOp::Intersection);
                if (!atom) return std::nullopt;
                auto conditions = meet_condition_lists(x.conditions, y->conditions);
                if (!conditions) return std::nullopt;
                gathered.push_back(Line{std::move(*atom), ConditionList{std::move(*conditions), false}});
            }
        auto compacted = compact_lines(std::move(gathered));
        if (!compacted) return std::nullopt;
        acc = std::move(*compacted);
    }
    return acc;
}

}  // namespace tessaron::descr
