// Union and intersection of descriptors (see combine.h).
//
// What it computes: per slot, for the union, the compacted concatenation
// of both sides' explicit lines; for the intersection, the cleaned product
// of the two line lists, or, with a negated side, the positive side's
// lines (the universe line when both are negated) multiplied by the
// two-line complement of every excluded line.
//
// Invariants: inputs are only read; results have every slot positive; a
// failure anywhere discards the whole result.
//
// Budget: see combine.h.  `meet_line_lists` takes its unit before it looks
// at a pair, so a counter at 0 fails at the first pair of two non-empty
// lists.
#include "core/descr/combine.h"

#include "core/descr/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/compact.h"
#include "core/descr/complement.h"
#include "core/descr/conditions.h"
#include "core/descr/explicit.h"
#include "core/descr/universe.h"

namespace tessaron::descr {

namespace {

using Lines = std::vector<Line>;

// The lines of a slot as a positive list.
std::optional<Lines> explicit_lines(const KindSlot& slot, KindCode code) {
    if (!slot.negated) return slot.lines;
    return positive_slot(slot.lines, code);
}

std::optional<Lines> union_slot(const KindSlot& a, const KindSlot& b, KindCode code) {
    auto lines = explicit_lines(a, code);
    if (!lines) return std::nullopt;
    auto right = explicit_lines(b, code);
    if (!right) return std::nullopt;
    lines->insert(lines->end(), std::make_move_iterator(right->begin()), std::make_move_iterator(right->end()));
    return compact_lines(std::move(*lines));
}

// `start` multiplied by the complement of every line of `excluded`.
bool subtract_lines(Lines& start, const Lines& excluded, KindCode code) {
    for (const Line& line : excluded) {
        auto [outside_atom, outside_conditions] = line_complement(line, code);
        Lines factor;
        factor.push_back(std::move(outside_atom));
        factor.push_back(std::move(outside_conditions));
        auto next = meet_line_lists(start, factor);
        if (!next) return false;
        start = std::move(*next);
    }
    return true;
}

std::optional<Lines> intersect_slot(const KindSlot& a, const KindSlot& b, KindCode code) {
    if (!a.negated && !b.negated) return meet_line_lists(a.lines, b.lines);
    Lines start;
    if (!a.negated)
        start = a.lines;
    else if (!b.negated)
        start = b.lines;
    else
        start.push_back(universe_line(code));
    if (a.negated && !subtract_lines(start, a.lines, code)) return std::nullopt;
    if (b.negated && !subtract_lines(start, b.lines, code)) return std::nullopt;
    return start;
}

// The slots of an intersection or union; the entry unit is the caller's.
OptDescr combine_slots(const Descr& a, const Descr& b, SetOp op) {
    Descr out;
    for (std::size_t s = 0; s < kSlotCount; ++s) {
        const KindCode code = slot_code(s);
        auto lines = op == SetOp::Union ? union_slot(a.slots[s], b.slots[s], code)
                                        : intersect_slot(a.slots[s], b.slots[s], code);
        if (!lines) return std::nullopt;
        out.slots[s].lines = std::move(*lines);
    }
    return out;
}

}  // namespace

OptDescr descr_combine(const Descr& a, const Descr& b, SetOp op) {
    if (!take_unit()) return std::nullopt;
    return combine_slots(a, b, op);
}

std::optional<std::vector<Line>> meet_line_lists(const std::vector<Line>& left, const std::vector<Line>& right) {
    Lines gathered;
    if (left.empty() || right.empty()) return gathered;
    for (const Line& x : left)
        for (const Line& y : right) {
            if (!take_unit()) return std::nullopt;
            if (gathered.size() > kCompactAbove) {
                auto compacted = compact_lines(std::move(gathered));
                if (!compacted) return std::nullopt;
                gathered = std::move(*compacted);
            }
            auto atom = combine_atoms(x.atom, y.atom, SetOp::Intersection);
            if (!atom) return std::nullopt;
            auto conditions = meet_condition_lists(x.conditions, y.conditions);
            if (!conditions) return std::nullopt;
            gathered.push_back(Line{std::move(*atom), ConditionList{std::move(*conditions), false}});
        }
    // The clean-up is the compaction of the gathered lines.
    return compact_lines(std::move(gathered));
}

SharedDescr meet_shared_descrs(const SharedDescr& first, const SharedDescr& second) {
    if (first.same(second)) return first;
    if (!take_unit()) return {};
    auto met = combine_slots(*first, *second, SetOp::Intersection);
    if (!met) return {};
    return SharedDescr::make(std::move(*met));
}

SharedDescr join_shared_descrs(const SharedDescr& first, const SharedDescr& second) {
    if (first.same(second)) return first;
    auto joined = descr_combine(*first, *second, SetOp::Union);
    if (!joined) return {};
    return SharedDescr::make(std::move(*joined));
}

std::optional<SharedDescr> meet_optional_shared(const SharedDescr& a, const SharedDescr& b) {
    const SharedDescr none = empty_descr();
    if (a.same(none) || b.same(none)) return none;
    if (a && b) {
        SharedDescr met = meet_shared_descrs(a, b);
        if (!met) return std::nullopt;
        return met;
    }
    return a ? a : b;
}

std::optional<SharedDescr> join_optional_shared(const SharedDescr& a, const SharedDescr& b) {
    if (!a || !b) return SharedDescr{};
    const SharedDescr none = empty_descr();
    if (a.same(none)) return b;
    if (b.same(none)) return a;
    SharedDescr joined = join_shared_descrs(a, b);
    if (!joined) return std::nullopt;
    return joined;
}

}  // namespace tessaron::descr
