// Complements (see complement.h).
//
// What it computes: the exact complement of lines and descriptors, with
// the universe of each kind as the reference set, so a complemented str
// atom (flipped over all byte strings) only ever meets atoms inside the
// str universe before anyone asks whether it is empty.
//
// Invariants: inputs are only read; every result slot denotes exactly the
// complement of the input slot within its kind.
//
// Budget: one-line slots are multiplied out by `positive_slot` under
// failing units; a refused unit leaves that slot negated.  Empty, negated
// and multi-line slots take nothing.  `complement_shared_descr` takes one
// saturating unit; `complement_of_union` the units of its unions and one
// saturating unit.
#include "core/descr/lines/complement.h"

#include "core/descr/lines/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/conditions.h"
#include "core/descr/lines/explicit.h"
#include "core/descr/lines/universe.h"

namespace tessaron::descr {

std::pair<Line, Line> line_complement(const Line& line, Kind kind) {
    Line outside_atom = line_of_atom(atom_complement(line.atom));
    ConditionList flipped{line.conditions.conditions, !line.conditions.negated};
    if (flipped.conditions.size() <= 1) {
        if (auto explicit_conditions = positive_conditions(flipped))
            flipped = ConditionList{std::move(*explicit_conditions), false};
    }
    return {std::move(outside_atom), Line{universe_atom(kind), std::move(flipped)}};
}

Descr descr_complement(const Descr& d) {
    Descr out;
    for (const Kind k : ir::kKinds) {
        const KindSlot& in = d.slot(k);
        KindSlot& slot = out.slot(k);
        if (in.negated) {
            slot.lines = in.lines;
        } else if (in.lines.size() >= 2) {
            slot.lines = in.lines;
            slot.negated = true;
        } else if (in.lines.empty()) {
            slot.lines.push_back(universe_line(k));
        } else if (auto lines = positive_slot(in.lines, k)) {
            slot.lines = std::move(*lines);
        } else {
            slot.lines = in.lines;
            slot.negated = true;
        }
    }
    return out;
}

SharedDescr complement_shared_descr(const SharedDescr& s) {
    take_saturating_unit();
    return SharedDescr::make(descr_complement(*s));
}

std::optional<SharedDescr> complement_of_union(const std::vector<Transition>& transitions) {
    SharedDescr acc = empty_descr();
    for (const Transition& t : transitions) {
        if (!t.label || t.label.same(acc)) continue;
        auto joined = descr_combine(*acc, *t.label, SetOp::Union);
        if (!joined) return std::nullopt;
        acc = SharedDescr::make(std::move(*joined));
    }
    take_saturating_unit();
    return SharedDescr::make(descr_complement(*acc));
}

}  // namespace tessaron::descr
