// The descriptors of refinements (see refine.h).
//
// What it computes: per constraint, the set of values of the running
// schema's kinds that satisfy it as the walk tests it: a comparison with
// the pooled bound (ints and bools by value, floats by their order with
// -0.0 equal to 0.0 and NaN below and above nothing), a remainder of 0, a
// length of code points or bytes or a count of list or tuple items, a
// whole-text pattern match on str.
//
// Invariants: a constraint whose set depends on values the oracle cannot
// describe is no descriptor, never an approximation; str atoms stay inside
// the str universe.
//
// Budget: the meets take their units from the conversion window; the
// automata builders have their own caps (`kMaxTextStates`), and a pattern's
// build is granted and charged its work from the same window
// (pattern_automaton).
#include "core/descr/convert/refine.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <vector>

#include "core/descr/lines/atoms.h"
#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/sequences/sequence_build.h"

namespace tessaron::descr {

namespace {

using ir::ConstraintKind;

// The integer value of a bound the oracle describes as an int or a bool.
std::optional<std::int64_t> integer_of(const ir::LeafInfo& info) {
    if (info.tag == ir::LeafInfo::Tag::Int) return info.int_value;
    if (info.tag == ir::LeafInfo::Tag::Bool) return info.bool_value ? 1 : 0;
    return std::nullopt;
}

BoundKind bound_kind(ConstraintKind k) {
    switch (k) {
        case ConstraintKind::Ge: return BoundKind::Ge;
        case ConstraintKind::Gt: return BoundKind::Gt;
        case ConstraintKind::Le: return BoundKind::Le;
        default: return BoundKind::Lt;
    }
}

// The float slot holding F.
OptDescr float_bound_descr(FloatSet f) {
    Descr d;
    descr_of_atom(d, Kind::Float, std::move(f));
    return d;
}

// The int slot holding S and the bool slot holding the bools whose values
// S holds.
OptDescr int_bound_descr(const Descr& running, IntSet s) {
    if (!descr_within_kinds(running, {Kind::Bool, Kind::Int})) return std::nullopt;
    const std::uint8_t mask = static_cast<std::uint8_t>((int_set_contains(s, 0) ? 1 : 0) | (int_set_contains(s, 1) ? 2 : 0));
    Descr d;
    descr_of_atom(d, Kind::Int, std::move(s));
    descr_of_atom(d, Kind::Bool, TruthMask{mask});
    return d;
}

OptDescr bound_descr(const Descr& running, const ir::Constraint& c, ConvertContext& ctx) {
    const ir::LeafInfo bound = ctx.oracle.bound_info(c.value);
    if (bound.is_declined()) return std::nullopt;
    const BoundKind kind = bound_kind(c.kind);
    if (descr_within_kinds(running, {Kind::Float})) {
        if (bound.tag == ir::LeafInfo::Tag::Float) return float_bound_descr(float_set_from_float_bound(kind, bound.float_value));
        if (auto n = integer_of(bound)) return float_bound_descr(float_set_from_int_bound(kind, *n));
        return std::nullopt;
    }
    auto n = integer_of(bound);
    if (!n) return std::nullopt;
    switch (kind) {
        case BoundKind::Ge: return int_bound_descr(running, int_set_from_bounds(*n, std::nullopt));
        case BoundKind::Gt:
            if (*n == INT64_MAX) return std::nullopt;
            return int_bound_descr(running, int_set_from_bounds(*n + 1, std::nullopt));
        case BoundKind::Le: return int_bound_descr(running, int_set_from_bounds(std::nullopt, *n));
        case BoundKind::Lt:
            if (*n == INT64_MIN) return std::nullopt;
            return int_bound_descr(running, int_set_from_bounds(std::nullopt, *n - 1));
    }
    assert(false && "a BoundKind no case names");
    return std::nullopt;
}

OptDescr multiple_of_descr(const Descr& running, const ir::Constraint& c, ConvertContext& ctx) {
    const auto divisor = integer_of(ctx.oracle.bound_info(c.value));
    if (!divisor) return std::nullopt;
    auto s = int_set_multiple_of(*divisor);
    if (!s) return std::nullopt;
    return int_bound_descr(running, std::move(*s));
}

// Texts of at least `least` and at most `most` units, in the str and
// bytes slots the running schema holds, and lists and tuples of as many
// items.  No value is longer than `ir::kMaxLength`: a least length above
// it admits none, a greatest length at or above it limits nothing.
OptDescr length_descr(const Descr& running, std::uint64_t least, std::optional<std::uint64_t> most) {
    if (!descr_within_kinds(running, {Kind::Str, Kind::Bytes, Kind::List, Kind::Tuple})) return std::nullopt;
    Descr out;
    if (least > ir::kMaxLength) return out;
    if (most && *most >= ir::kMaxLength) most.reset();
    for (const Kind slot_kind : {Kind::Str, Kind::Bytes}) {
        if (slot_verdict(running.slot(slot_kind), slot_kind) == ir::Emptiness::Empty) continue;
        const TextKind kind = slot_kind == Kind::Str ? TextKind::Str : TextKind::Bytes;
        SharedTextAutomaton a = length_range_automaton(least, most, kind);
        if (!a) return std::nullopt;
        descr_of_atom(out, slot_kind, std::move(a));
    }
    // Lists and tuples by their item counts (the walk measures the storage).
    for (const Kind slot_kind : {Kind::List, Kind::Tuple}) {
        if (slot_verdict(running.slot(slot_kind), slot_kind) == ir::Emptiness::Empty) continue;
        OptDescr counts = count_range_descr(least, most, slot_kind);
        if (!counts) return std::nullopt;
        out.slot(slot_kind) = std::move(counts->slot(slot_kind));
    }
    return out;
}

bool is_length(ConstraintKind k) { return k == ConstraintKind::MinLen || k == ConstraintKind::MaxLen; }

struct LengthRange {
    std::uint64_t least = 0;
    std::optional<std::uint64_t> most;
};

// The lengths every length bound of the list admits; none without one.
std::optional<LengthRange> length_range(std::span<const ir::Constraint> constraints) {
    std::optional<LengthRange> range;
    for (const ir::Constraint& c : constraints) {
        if (!is_length(c.kind)) continue;
        if (!range) range.emplace();
        if (c.kind == ConstraintKind::MinLen)
            range->least = std::max(range->least, c.value);
        else
            range->most = std::min(range->most.value_or(c.value), c.value);
    }
    return range;
}

// The str texts the pattern matches; the walk fails every bytes value.
OptDescr pattern_descr(const Descr& running, const ir::Constraint& c) {
    if (!descr_within_kinds(running, {Kind::Str, Kind::Bytes})) return std::nullopt;
    Descr out;
    if (slot_verdict(running.slot(Kind::Str), Kind::Str) != ir::Emptiness::Empty) {
        SharedTextAutomaton a = pattern_automaton(c.pattern, TextKind::Str);
        if (!a) return std::nullopt;
        // Kept inside the str universe, as every str atom is.
        auto in_str = combine_atoms(Atom(std::move(a)), Atom(str_universe()), SetOp::Intersection);
        if (!in_str) return std::nullopt;
        descr_of_atom(out, Kind::Str, std::move(*in_str));
    }
    if (descr_verdict(out) == ir::Emptiness::Empty) return std::nullopt;
    return out;
}

OptDescr constraint_descr(const Descr& running, const ir::Constraint& c, ConvertContext& ctx) {
    switch (c.kind) {
        case ConstraintKind::Ge:
        case ConstraintKind::Gt:
        case ConstraintKind::Le:
        case ConstraintKind::Lt: return bound_descr(running, c, ctx);
        case ConstraintKind::MinLen: return length_descr(running, c.value, std::nullopt);
        case ConstraintKind::MaxLen: return length_descr(running, 0, c.value);
        case ConstraintKind::MultipleOf: return multiple_of_descr(running, c, ctx);
        case ConstraintKind::Predicate: return std::nullopt;
        case ConstraintKind::Regex: return pattern_descr(running, c);
    }
    assert(false && "a ConstraintKind no case names");
    return std::nullopt;
}

}  // namespace

// A constraint that has no descriptor over the running schema may have one
// once the others narrowed it (a non-integer bound on bools becomes a
// float bound over the empty set that `Ge(10)` leaves), and the canonical
// order of constraints follows their pool indices, which differ between
// the two sides of one question.  So a constraint without a descriptor is
// put off and tried again after the others, in rounds, until one round
// meets none: the meet is the same in any order, and the result does not
// depend on where the constraints' constants sit in the pool.
OptDescr refined_descr(const ir::Node& inner, std::span<const ir::Constraint> constraints, ConvertContext& ctx,
                       std::uint32_t depth) {
    auto acc = to_normal_form(inner, ctx, depth);
    if (!acc) return std::nullopt;
    // Every length bound at once, as one range: one automaton or chain as
    // small as the larger bound alone, where meeting the bounds one by one
    // would pair the states of both.  The meet is the same in any order;
    // where the range has no descriptor over the inner schema, the bounds
    // are taken one by one below.
    std::vector<const ir::Constraint*> pending;
    pending.reserve(constraints.size());
    bool ranged = false;
    if (const std::optional<LengthRange> range = length_range(constraints)) {
        if (OptDescr r = length_descr(*acc, range->least, range->most)) {
            acc = descr_combine(*acc, *r, SetOp::Intersection);
            if (!acc) return std::nullopt;
            ranged = true;
        }
    }
    for (const ir::Constraint& c : constraints)
        if (!ranged || !is_length(c.kind)) pending.push_back(&c);
    while (!pending.empty()) {
        std::size_t kept = 0;
        for (const ir::Constraint* c : pending) {
            auto r = constraint_descr(*acc, *c, ctx);
            if (!r) {
                pending[kept++] = c;
                continue;
            }
            acc = descr_combine(*acc, *r, SetOp::Intersection);
            if (!acc) return std::nullopt;
        }
        if (kept == pending.size()) break;
        pending.resize(kept);
    }
    if (pending.empty()) return acc;
    // Polarity::Above may hold more values: without the constraints left, the
    // running descriptor bounds the refinement from above.
    if (ctx.direction == ir::Polarity::Below) return std::nullopt;
    ctx.bounded = true;
    return acc;
}

}  // namespace tessaron::descr
