// Emptiness of lines, slots and descriptors (see emptiness.h).
//
// What it computes: per line the atom verdict and the condition verdict
// (always both, atom first), combined per slot and per descriptor.
//
// Invariants: the tested values are only read; temporary explicit forms are
// dropped on every path.  An answer "empty" rests on proofs only: a failed
// explicit form, an undecided atom or condition, an exhausted budget are
// never read as empty.
//
// Budget: the explicit forms of negated slots and condition lists take one
// failing unit per pair of their products; nothing else here takes units
// of its own.  `shared_descr_verdict` keeps what it proved in the
// decision's memo (decision_memo.h); an undecided verdict may depend on
// the budget left, so it is asked again.
#include "core/descr/lines/emptiness.h"

#include <algorithm>

#include "core/descr/decision_memo.h"
#include "core/descr/lines/atoms.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/conditions.h"
#include "core/descr/lines/explicit.h"

namespace tessaron::descr {

using ir::Emptiness;

ir::Emptiness condition_list_verdict(const ConditionList& list, std::optional<Kind> slot) {
    const auto conditions = positive_conditions(list);
    if (!conditions) return Emptiness::Undecided;
    Emptiness verdict = Emptiness::Empty;
    for (const Condition& c : *conditions) {
        switch (condition_verdict(c, slot)) {
            case ir::Emptiness::Empty: break;
            case ir::Emptiness::Inhabited:
                if (slot) return Emptiness::Inhabited;
                verdict = Emptiness::Undecided;
                break;
            case ir::Emptiness::Undecided: verdict = Emptiness::Undecided; break;
        }
        // Without a slot only a proof of emptiness matters: one condition
        // that may hold settles it.
        if (!slot && verdict != Emptiness::Empty) return verdict;
    }
    return verdict;
}

bool line_is_empty(const Line& line) {
    const Emptiness atom = atom_verdict(line.atom);
    const Emptiness conditions = condition_list_verdict(line.conditions, std::nullopt);
    return atom == Emptiness::Empty || conditions == Emptiness::Empty;
}

namespace {

Emptiness lines_verdict(const std::vector<Line>& lines, Kind kind) {
    Emptiness verdict = Emptiness::Empty;
    for (const Line& line : lines) {
        const Emptiness atom = atom_verdict(line.atom);
        const Emptiness conditions = condition_list_verdict(line.conditions, kind);
        if (atom == Emptiness::Empty || conditions == Emptiness::Empty) continue;
        if (atom == Emptiness::Inhabited && conditions == Emptiness::Inhabited) return Emptiness::Inhabited;
        verdict = Emptiness::Undecided;
    }
    return verdict;
}

}  // namespace

ir::Emptiness slot_verdict(const KindSlot& slot, Kind kind) {
    if (!slot.negated) return lines_verdict(slot.lines, kind);
    const auto lines = positive_slot(slot.lines, kind);
    if (!lines) return Emptiness::Undecided;
    return lines_verdict(*lines, kind);
}

ir::Emptiness descr_verdict(const Descr& d) {
    const Emptiness other = slot_verdict(d.slot(Kind::Other), Kind::Other);
    Emptiness verdict = Emptiness::Empty;
    for (const Kind k : ir::kKinds) {
        if (k == Kind::Other) continue;
        const Emptiness e = slot_verdict(d.slot(k), k);
        if (e == Emptiness::Inhabited) return e;
        if (e == Emptiness::Undecided) verdict = e;
    }
    if (other == Emptiness::Inhabited) return other;
    if (other == Emptiness::Undecided) verdict = other;
    return verdict;
}

ir::Emptiness shared_descr_verdict(const SharedDescr& d) {
    if (const auto known = remembered_verdict(d)) return *known;
    const Emptiness verdict = descr_verdict(*d);
    remember_verdict(d, verdict);
    return verdict;
}

bool descr_within_kinds(const Descr& d, std::initializer_list<Kind> kinds) {
    for (const Kind k : ir::kKinds) {
        if (std::find(kinds.begin(), kinds.end(), k) != kinds.end()) continue;
        if (slot_verdict(d.slot(k), k) != Emptiness::Empty) return false;
    }
    return true;
}

ir::Decision shared_descr_subset(const SharedDescr& inner, const SharedDescr& outer) {
    if (!outer) return ir::Decision::Subset;
    const SharedDescr outside = complement_shared_descr(outer);
    const auto met = meet_optional_shared(inner, outside);
    if (!met) return ir::Decision::Undecided;
    switch (descr_verdict(**met)) {
        case Emptiness::Empty: return ir::Decision::Subset;
        case Emptiness::Inhabited: return ir::Decision::NotSubset;
        case Emptiness::Undecided: break;
    }
    return ir::Decision::Undecided;
}

}  // namespace tessaron::descr
