// Union, intersection, complement and inhabitation of atoms.
//
// What it computes: the dispatch of the three operations by atom variant,
// one line per variant, over the value sets' own operations.
//
// Invariants: the inputs are only read; a combination of two text automata
// that are the same shared object answers that object (both operations are
// idempotent), so repeated meets of one automaton cost nothing.
//
// Budget: text products take one failing unit per `kTextCellsPerUnit`
// cells of product table they compute, and stop early when the counter
// could not pay for more; sequence products, set-item and shape operations
// take theirs (one per new product state, one per pair of items or of
// shapes); the other variants take no unit here.
#include "core/descr/lines/atoms.h"

#include <cassert>

#include "core/descr/budget.h"
#include "core/descr/sequences/sequence_accept.h"
#include "core/descr/sequences/sequence_product.h"
#include "core/descr/sets/set_item_algebra.h"
#include "core/descr/sets/set_item_verdict.h"
#include "core/descr/shapes/shape_algebra.h"
#include "core/descr/values/text_product.h"

namespace tessaron::descr {

namespace {

std::optional<Atom> combine_text(const SharedTextAutomaton& a, const SharedTextAutomaton& b, SetOp op) {
    if (a.same(b)) return Atom(a);
    const TextProduct p = text_product(a, b, op, text_work_allowance());
    if (!charge_text_work(p.work) || !p.automaton) return std::nullopt;
    return Atom(p.automaton);
}

// A container atom meets or joins only the universe of its kind: U & x = x,
// U | x = U.
template <class T>
std::optional<Atom> combine_with_universe(const T& a, const T& b, SetOp op, bool (*is_universe)(const T&)) {
    const bool ua = is_universe(a), ub = is_universe(b);
    if (!ua && !ub) return std::nullopt;
    if (op == SetOp::Intersection) return Atom(ua ? b : a);
    return Atom(ua ? a : b);
}

// Sequence automata: the product; the universe is the identity of a meet
// and absorbs a join.
std::optional<Atom> combine_sequences(const SequenceAutomaton& a, const SequenceAutomaton& b, SetOp op) {
    if (sequence_is_universe(a) || sequence_is_universe(b)) return combine_with_universe(a, b, op, sequence_is_universe);
    auto p = sequence_product(a, b, op);
    if (!p) return std::nullopt;
    return Atom(std::move(*p));
}

// Set items: the item algebra; the universe as for sequences.
std::optional<Atom> combine_set_items(const SetItems& a, const SetItems& b, SetOp op) {
    if (set_items_is_universe(a) || set_items_is_universe(b)) return combine_with_universe(a, b, op, set_items_is_universe);
    if (op == SetOp::Union) {
        auto joined = join_set_items(a, b);
        if (!joined) return std::nullopt;
        return Atom(std::move(*joined));
    }
    auto met = meet_set_item_slots(a, b);
    if (!met) return std::nullopt;
    return Atom(SetItems{std::move(*met), false});
}

// Shapes: the shape algebra; the universe as for sequences.
std::optional<Atom> combine_shapes(const Shapes& a, const Shapes& b, SetOp op) {
    if (shapes_is_universe(a) || shapes_is_universe(b)) return combine_with_universe(a, b, op, shapes_is_universe);
    auto s = op == SetOp::Intersection ? meet_shape_slots(a, b) : join_shape_slots(a, b);
    if (!s) return std::nullopt;
    return Atom(std::move(*s));
}

bool presence_of(const Atom& a) { return std::get<Presence>(a).flag; }
std::uint8_t mask_of(const Atom& a) { return std::get<TruthMask>(a).mask; }

std::optional<Atom> combine_ints(const IntSet& a, const IntSet& b, SetOp op) {
    auto s = combine_int_sets(a, b, op);
    if (!s) return std::nullopt;
    return Atom(std::move(*s));
}

ir::Emptiness inhabited_if(bool yes) { return yes ? ir::Emptiness::Inhabited : ir::Emptiness::Empty; }

}  // namespace

std::optional<Atom> combine_atoms(const Atom& a, const Atom& b, SetOp op) {
    if (a.index() != b.index()) return std::nullopt;
    const bool meet = op == SetOp::Intersection;
    switch (atom_variant(a)) {
        case AtomVariant::Presence: return Atom(Presence{meet ? presence_of(a) && presence_of(b) : presence_of(a) || presence_of(b)});
        case AtomVariant::TruthMask: return Atom(TruthMask{static_cast<std::uint8_t>(meet ? mask_of(a) & mask_of(b) : mask_of(a) | mask_of(b))});
        case AtomVariant::Integers: return combine_ints(std::get<IntSet>(a), std::get<IntSet>(b), op);
        case AtomVariant::Floats: return Atom(combine_float_sets(std::get<FloatSet>(a), std::get<FloatSet>(b), op));
        case AtomVariant::Text: return combine_text(std::get<SharedTextAutomaton>(a), std::get<SharedTextAutomaton>(b), op);
        case AtomVariant::Sequence: return combine_sequences(std::get<SequenceAutomaton>(a), std::get<SequenceAutomaton>(b), op);
        case AtomVariant::SetItems: return combine_set_items(std::get<SetItems>(a), std::get<SetItems>(b), op);
        case AtomVariant::Shapes: return combine_shapes(std::get<Shapes>(a), std::get<Shapes>(b), op);
    }
    assert(false && "an AtomVariant no case names");
    return std::nullopt;
}

Atom atom_complement(const Atom& a) {
    switch (atom_variant(a)) {
        case AtomVariant::Presence: return Presence{!presence_of(a)};
        case AtomVariant::TruthMask: return TruthMask{static_cast<std::uint8_t>(~mask_of(a) & 3)};
        case AtomVariant::Integers: return int_set_complement(std::get<IntSet>(a));
        case AtomVariant::Floats: return float_set_complement(std::get<FloatSet>(a));
        case AtomVariant::Text: return text_automaton_complement(std::get<SharedTextAutomaton>(a));
        case AtomVariant::Sequence: return sequence_complement(std::get<SequenceAutomaton>(a));
        case AtomVariant::SetItems: return set_item_list_complement(std::get<SetItems>(a));
        case AtomVariant::Shapes: return shape_list_complement(std::get<Shapes>(a));
    }
    assert(false && "an AtomVariant no case names");
    return a;
}

ir::Emptiness atom_verdict(const Atom& a) {
    switch (atom_variant(a)) {
        case AtomVariant::Presence: return inhabited_if(presence_of(a));
        case AtomVariant::TruthMask: return inhabited_if((mask_of(a) & 3) != 0);
        case AtomVariant::Integers: return inhabited_if(!int_set_is_empty(std::get<IntSet>(a)));
        case AtomVariant::Floats: return inhabited_if(!float_set_is_empty(std::get<FloatSet>(a)));
        case AtomVariant::Text: return inhabited_if(!text_automaton_is_empty(*std::get<SharedTextAutomaton>(a)));
        case AtomVariant::Sequence: return sequence_verdict(std::get<SequenceAutomaton>(a));
        case AtomVariant::SetItems: return set_items_verdict(std::get<SetItems>(a));
        case AtomVariant::Shapes: return shapes_verdict(std::get<Shapes>(a));
    }
    assert(false && "an AtomVariant no case names");
    return ir::Emptiness::Undecided;
}

}  // namespace tessaron::descr
