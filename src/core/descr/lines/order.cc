// Orders and equalities of descriptors (see order.h).
//
// Per-variant comparisons live with their value sets; the two dispatch
// tables below name one per atom variant.  Shared descriptors and text
// automata compare equal to themselves without a walk.  Two distinct
// shared descriptors are walked once per decision: inside a
// `DecisionMemoScope` (decision_memo.h) their order and their equality are
// remembered, so a sort that meets the same nested values pair after pair
// (the shapes of a complement all hold the complements of one shape's
// values) walks each pair once, and a nested pair met inside an outer
// walk is looked up too.
//
// Budget: a walk of two distinct shared descriptors (one not remembered)
// takes a saturating small step (budget.h); everything below it is
// bounded by the caps of the lines, automata and shapes it reads, nested
// descriptors being walks of their own.
#include "core/descr/lines/order.h"

#include <algorithm>
#include <cassert>

#include "core/descr/budget.h"
#include "core/descr/decision_memo.h"

namespace tessaron::descr {

namespace {

// A comparison of two distinct shared descriptors that walks them: counted,
// and charged a saturating small step (budget.h): a sort never fails, but
// the work it did is spent.
void charge_descr_comparison() {
    count_descr_comparison();
    take_saturating_small_step();
}

std::strong_ordering cmp_slot(const KindSlot& a, const KindSlot& b) {
    if (auto c = cmp_lists(a.lines, b.lines, cmp_line); c != 0) return c;
    return a.negated <=> b.negated;
}

std::strong_ordering cmp_class_ids(const std::vector<ClassRecord>& a, const std::vector<ClassRecord>& b) {
    return cmp_lists(a, b, [](const ClassRecord& x, const ClassRecord& y) { return x.class_id <=> y.class_id; });
}

std::strong_ordering cmp_attribute(const AttributeEntry& a, const AttributeEntry& b) {
    if (auto c = a.name <=> b.name; c != 0) return c;
    if (auto c = cmp_optional_descr(a.requirement.value, b.requirement.value); c != 0) return c;
    return a.requirement.optional <=> b.requirement.optional;
}

// One comparison per atom variant.
std::strong_ordering cmp_same_variant(const Atom& a, const Atom& b) {
    switch (atom_variant(a)) {
        case AtomVariant::Presence: return std::get<Presence>(a).flag <=> std::get<Presence>(b).flag;
        case AtomVariant::TruthMask: return std::get<TruthMask>(a).mask <=> std::get<TruthMask>(b).mask;
        case AtomVariant::Integers: return cmp_int_set(std::get<IntSet>(a), std::get<IntSet>(b));
        case AtomVariant::Floats: return cmp_float_set(std::get<FloatSet>(a), std::get<FloatSet>(b));
        case AtomVariant::Text: {
            const SharedTextAutomaton& x = std::get<SharedTextAutomaton>(a);
            const SharedTextAutomaton& y = std::get<SharedTextAutomaton>(b);
            return x.same(y) ? std::strong_ordering::equal : cmp_text_automaton(*x, *y);
        }
        case AtomVariant::Sequence: return cmp_sequence_automaton(std::get<SequenceAutomaton>(a), std::get<SequenceAutomaton>(b));
        case AtomVariant::SetItems: return cmp_set_items(std::get<SetItems>(a), std::get<SetItems>(b));
        case AtomVariant::Shapes: return cmp_shapes(std::get<Shapes>(a), std::get<Shapes>(b));
    }
    assert(false && "an AtomVariant no case names");
    return std::strong_ordering::equal;
}

// One equality per atom variant.
bool equal_same_variant(const Atom& a, const Atom& b) {
    switch (atom_variant(a)) {
        case AtomVariant::Presence: return std::get<Presence>(a).flag == std::get<Presence>(b).flag;
        case AtomVariant::TruthMask: return std::get<TruthMask>(a).mask == std::get<TruthMask>(b).mask;
        case AtomVariant::Integers: return int_set_equal(std::get<IntSet>(a), std::get<IntSet>(b));
        case AtomVariant::Floats: return float_set_equal(std::get<FloatSet>(a), std::get<FloatSet>(b));
        case AtomVariant::Text: return text_automaton_equal(std::get<SharedTextAutomaton>(a), std::get<SharedTextAutomaton>(b));
        case AtomVariant::Sequence: return sequence_automaton_equal(std::get<SequenceAutomaton>(a), std::get<SequenceAutomaton>(b));
        case AtomVariant::SetItems: return set_items_equal(std::get<SetItems>(a), std::get<SetItems>(b));
        case AtomVariant::Shapes: return shapes_equal(std::get<Shapes>(a), std::get<Shapes>(b));
    }
    assert(false && "an AtomVariant no case names");
    return false;
}

}  // namespace

std::strong_ordering cmp_descr(const Descr& a, const Descr& b) {
    for (const Kind k : ir::kKinds)
        if (auto c = cmp_slot(a.slot(k), b.slot(k)); c != 0) return c;
    return std::strong_ordering::equal;
}

std::strong_ordering cmp_optional_descr(const SharedDescr& a, const SharedDescr& b) {
    if (!a || !b) return bool(a) <=> bool(b);
    if (a.same(b)) return std::strong_ordering::equal;
    if (const auto known = remembered_order(a, b)) return *known;
    charge_descr_comparison();
    const std::strong_ordering c = cmp_descr(*a, *b);
    remember_order(a, b, c);
    return c;
}

std::strong_ordering cmp_line(const Line& a, const Line& b) {
    if (auto c = cmp_atom(a.atom, b.atom); c != 0) return c;
    if (auto c = cmp_lists(a.conditions.conditions, b.conditions.conditions, cmp_condition); c != 0) return c;
    return a.conditions.negated <=> b.conditions.negated;
}

std::strong_ordering cmp_atom(const Atom& a, const Atom& b) {
    if (auto c = a.index() <=> b.index(); c != 0) return c;
    return cmp_same_variant(a, b);
}

std::strong_ordering cmp_condition(const Condition& a, const Condition& b) {
    if (auto c = cmp_lists(a.attributes, b.attributes, cmp_attribute); c != 0) return c;
    if (auto c = cmp_class_ids(a.classes, b.classes); c != 0) return c;
    return cmp_class_ids(a.excluded_classes, b.excluded_classes);
}

bool descr_equal(const Descr& a, const Descr& b) {
    for (const Kind k : ir::kKinds) {
        const KindSlot& x = a.slot(k);
        const KindSlot& y = b.slot(k);
        if (x.negated != y.negated || !lines_equal(x.lines, y.lines)) return false;
    }
    return true;
}

bool shared_descr_equal(const SharedDescr& a, const SharedDescr& b) {
    if (a.same(b)) return true;
    if (!a || !b) return false;
    if (const auto known = remembered_equality(a, b)) return *known;
    charge_descr_comparison();
    const bool equal = descr_equal(*a, *b);
    remember_equality(a, b, equal);
    return equal;
}

bool optional_descr_equal(const SharedDescr& a, const SharedDescr& b) {
    if (!a || !b) return !a && !b;
    return shared_descr_equal(a, b);
}

bool atom_equal(const Atom& a, const Atom& b) { return a.index() == b.index() && equal_same_variant(a, b); }

bool condition_attrs_equal(const Condition& a, const Condition& b) {
    return lists_equal(a.attributes, b.attributes, [](const AttributeEntry& x, const AttributeEntry& y) {
        return x.name == y.name && x.requirement.optional == y.requirement.optional &&
               optional_descr_equal(x.requirement.value, y.requirement.value);
    });
}

bool condition_ids_equal(const std::vector<ClassRecord>& a, const std::vector<ClassRecord>& b) {
    return lists_equal(a, b, [](const ClassRecord& x, const ClassRecord& y) { return x.class_id == y.class_id; });
}

bool condition_equal(const Condition& a, const Condition& b) {
    return condition_attrs_equal(a, b) && condition_ids_equal(a.classes, b.classes) &&
           condition_ids_equal(a.excluded_classes, b.excluded_classes);
}

bool conditions_equal(const std::vector<Condition>& a, const std::vector<Condition>& b) {
    return lists_equal(a, b, condition_equal);
}

bool condition_lists_equal(const ConditionList& a, const ConditionList& b) {
    return a.negated == b.negated && conditions_equal(a.conditions, b.conditions);
}

bool line_equal(const Line& a, const Line& b) {
    return atom_equal(a.atom, b.atom) && condition_lists_equal(a.conditions, b.conditions);
}

bool lines_equal(const std::vector<Line>& a, const std::vector<Line>& b) { return lists_equal(a, b, line_equal); }

}  // namespace tessaron::descr
