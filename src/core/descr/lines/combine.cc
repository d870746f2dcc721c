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
// lists.  The line algebra itself is the union of terms (term_union.h)
// over the line table of explicit.h.
#include "core/descr/lines/combine.h"

#include "core/descr/budget.h"
#include "core/descr/lines/explicit.h"
#include "core/descr/term_union.h"

namespace tessaron::descr {

namespace {

using Lines = std::vector<Line>;

std::optional<Lines> union_slot(const KindSlot& a, const KindSlot& b, Kind kind) {
    const LineTerms terms{kind};
    auto lines = explicit_terms(terms, SignedTerms<Line>{a.lines, a.negated});
    if (!lines) return std::nullopt;
    auto right = explicit_terms(terms, SignedTerms<Line>{b.lines, b.negated});
    if (!right) return std::nullopt;
    lines->insert(lines->end(), std::make_move_iterator(right->begin()), std::make_move_iterator(right->end()));
    return terms.normalize(std::move(*lines));
}

std::optional<Lines> intersect_slot(const KindSlot& a, const KindSlot& b, Kind kind) {
    return meet_signed_terms(LineTerms{kind}, SignedTerms<Line>{a.lines, a.negated},
                             SignedTerms<Line>{b.lines, b.negated});
}

// The slots of an intersection or union; the entry unit is the caller's.
OptDescr combine_slots(const Descr& a, const Descr& b, SetOp op) {
    Descr out;
    for (const Kind k : ir::kKinds) {
        auto lines = op == SetOp::Union ? union_slot(a.slot(k), b.slot(k), k) : intersect_slot(a.slot(k), b.slot(k), k);
        if (!lines) return std::nullopt;
        out.slot(k).lines = std::move(*lines);
    }
    return out;
}

}  // namespace

OptDescr descr_combine(const Descr& a, const Descr& b, SetOp op) {
    if (!take_unit()) return std::nullopt;
    return combine_slots(a, b, op);
}

std::optional<std::vector<Line>> meet_line_lists(const std::vector<Line>& left, const std::vector<Line>& right) {
    return product_terms(LineProduct{}, left, right);
}

std::optional<SharedDescr> meet_shared_descrs(const SharedDescr& first, const SharedDescr& second) {
    if (first.same(second)) return first;
    if (!take_unit()) return std::nullopt;
    auto met = combine_slots(*first, *second, SetOp::Intersection);
    if (!met) return std::nullopt;
    return SharedDescr::make(std::move(*met));
}

std::optional<SharedDescr> join_shared_descrs(const SharedDescr& first, const SharedDescr& second) {
    if (first.same(second)) return first;
    auto joined = descr_combine(*first, *second, SetOp::Union);
    if (!joined) return std::nullopt;
    return SharedDescr::make(std::move(*joined));
}

std::optional<SharedDescr> meet_optional_shared(const SharedDescr& a, const SharedDescr& b) {
    const SharedDescr none = empty_descr();
    if (a.same(none) || b.same(none)) return none;
    if (a && b) return meet_shared_descrs(a, b);
    return a ? a : b;
}

std::optional<SharedDescr> join_optional_shared(const SharedDescr& a, const SharedDescr& b) {
    if (!a || !b) return every_value();
    const SharedDescr none = empty_descr();
    if (a.same(none)) return b;
    if (b.same(none)) return a;
    return join_shared_descrs(a, b);
}

}  // namespace tessaron::descr
