// Descriptors for the algebra's tests: small builders, a reference
// evaluator `contains(descriptor, value)` over abstract values, a small
// universe of such values and a generator of flat descriptors.
//
// The abstract values stand for Python values: a kind, a payload (bool,
// integer, double, bytes of a str or bytes), the ids of the classes the
// value is an instance of (its type's ancestors; the exact-type record of
// its slot when its type is the builtin itself) and its attributes.  The
// class universe is consistent with the records: an instance of B is one
// of A, no value derives from two builtin types, an exact int is an
// instance of no other class.
#pragma once

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/descr/descr.h"
#include "core/descr/lines/universe.h"

namespace tessaron::descr::testing {

// --- classes ---------------------------------------------------------------------
inline ClassRecord record(std::uint32_t id, std::vector<std::uint32_t> ancestors, Kind kind) {
    ClassRecord r;
    r.class_id = id;
    r.ancestor_ids = std::move(ancestors);
    r.builtin_kind = kind;
    return r;
}
// A: a plain class; B derives from A; I derives from int; IA from int and
// A; F from float; S from str.
inline ClassRecord cls_A() { return record(0, {0}, Kind::Other); }
inline ClassRecord cls_B() { return record(1, {0, 1}, Kind::Other); }
inline ClassRecord cls_I() { return record(2, {2}, Kind::Int); }
inline ClassRecord cls_IA() { return record(4, {0, 2, 4}, Kind::Int); }
inline ClassRecord cls_F() { return record(5, {5}, Kind::Float); }
inline ClassRecord cls_S() { return record(3, {3}, Kind::Str); }
inline std::vector<ClassRecord> all_classes() {
    return {cls_A(), cls_B(), cls_I(), cls_IA(), cls_F(), cls_S(), exact_type_record(Kind::Int), exact_type_record(Kind::Float),
            exact_type_record(Kind::Str), exact_type_record(Kind::Bytes)};
}

// --- builders --------------------------------------------------------------------
inline Condition requiring(std::vector<ClassRecord> classes, std::vector<ClassRecord> excluded = {}) {
    Condition c;
    for (auto& r : classes) insert_class(c.classes, r);
    for (auto& r : excluded) insert_class(c.excluded_classes, r);
    return c;
}
inline Condition attribute(std::string name, SharedDescr value, bool optional) {
    Condition c;
    c.attributes.push_back(AttributeEntry{std::move(name), AttributeRequirement{std::move(value), optional}});
    return c;
}
inline ConditionList conditions(std::vector<Condition> cs, bool negated = false) {
    return ConditionList{std::move(cs), negated};
}
inline Line line(Atom atom, ConditionList cs = unrestricted()) { return Line{std::move(atom), std::move(cs)}; }
inline Descr with_slot(Kind kind, std::vector<Line> lines, bool negated = false) {
    Descr d;
    d.slot(kind).lines = std::move(lines);
    d.slot(kind).negated = negated;
    return d;
}
inline IntSet ints(std::optional<std::int64_t> lo, std::optional<std::int64_t> hi) { return int_set_from_bounds(lo, hi); }
inline IntSet multiples(std::int64_t d) { return *int_set_multiple_of(d); }
inline FloatSet floats(double lo, double hi, bool lo_closed = true, bool hi_closed = true) {
    return float_set_from_interval(FloatInterval{lo, hi, lo_closed, hi_closed});
}
inline SharedTextAutomaton text(std::string_view bytes) { return literal_text_automaton(bytes); }
inline SharedTextAutomaton str_pattern(std::string_view p) { return pattern_automaton(p, TextKind::Str); }
inline SharedTextAutomaton bytes_pattern(std::string_view p) { return pattern_automaton(p, TextKind::Bytes); }

// --- abstract values -------------------------------------------------------------
struct Value {
    Kind kind = Kind::None;
    bool truth = false;
    std::int64_t integer = 0;
    double number = 0.0;
    std::string bytes;
    std::vector<std::uint32_t> classes;  // ids the value is an instance of
    std::map<std::string, std::shared_ptr<const Value>> attributes;
    std::string name;  // for messages
    // list, tuple: the items in order; set, frozenset: the elements, no two
    // equal as Python compares them (`python_equal`).
    std::vector<std::shared_ptr<const Value>> elements = {};
    // A dict: its items in order, no two keys a dict takes for one.
    std::vector<std::pair<std::shared_ptr<const Value>, std::shared_ptr<const Value>>> items = {};
};

bool contains(const Descr& d, const Value& v);
bool sequence_contains(const SequenceAutomaton& a, const Value& v);
bool set_items_contains(const SetItems& a, const Value& v);
// Whether a dict value lies in a shapes atom (dict_fixture.cc).
bool shapes_contain(const Shapes& a, const Value& dict);

inline bool atom_contains(const Atom& a, const Value& v) {
    switch (atom_variant(a)) {
        case AtomVariant::Presence: return std::get<Presence>(a).flag;
        case AtomVariant::TruthMask: return (std::get<TruthMask>(a).mask >> (v.truth ? 1 : 0)) & 1;
        case AtomVariant::Integers: return int_set_contains(std::get<IntSet>(a), v.integer);
        case AtomVariant::Floats: return float_set_contains(std::get<FloatSet>(a), v.number);
        case AtomVariant::Text: return std::get<SharedTextAutomaton>(a)->accepts(v.bytes);
        case AtomVariant::Sequence: return sequence_contains(std::get<SequenceAutomaton>(a), v);
        case AtomVariant::SetItems: return set_items_contains(std::get<SetItems>(a), v);
        case AtomVariant::Shapes: return shapes_contain(std::get<Shapes>(a), v);
        default: return false;
    }
}

inline bool is_instance(const Value& v, const ClassRecord& c) {
    for (std::uint32_t id : v.classes)
        if (id == c.class_id) return true;
    return false;
}

inline bool condition_holds(const Condition& c, const Value& v) {
    for (const AttributeEntry& a : c.attributes) {
        auto it = v.attributes.find(a.name);
        if (it == v.attributes.end()) {
            if (!a.requirement.optional) return false;
        } else if (a.requirement.value && !contains(*a.requirement.value, *it->second)) {
            return false;
        }
    }
    for (const ClassRecord& r : c.classes)
        if (!is_instance(v, r)) return false;
    for (const ClassRecord& r : c.excluded_classes)
        if (is_instance(v, r)) return false;
    return true;
}

inline bool list_holds(const ConditionList& list, const Value& v) {
    bool any = false;
    for (const Condition& c : list.conditions) any = any || condition_holds(c, v);
    return list.negated ? !any : any;
}

inline bool contains(const Descr& d, const Value& v) {
    const KindSlot& slot = d.slot(v.kind);
    bool in = false;
    for (const Line& l : slot.lines) in = in || (atom_contains(l.atom, v) && list_holds(l.conditions, v));
    return slot.negated ? !in : in;
}

// --- containers --------------------------------------------------------------------
// The reference acceptor: the sets of states a path can be in after each
// item; an absent label admits what no present label of its state admits.
inline bool label_admits(const std::vector<Transition>& state, const Transition& t, const Value& item) {
    if (t.label) return contains(*t.label, item);
    for (const Transition& other : state)
        if (other.label && contains(*other.label, item)) return false;
    return true;
}

inline bool sequence_accepts_from(const SequenceAutomaton& a, std::uint32_t start, const Value& v) {
    std::vector<std::uint8_t> current(a.states.size(), 0);
    current[start] = 1;
    for (const auto& item : v.elements) {
        std::vector<std::uint8_t> next(a.states.size(), 0);
        for (std::size_t s = 0; s < a.states.size(); ++s) {
            if (!current[s]) continue;
            for (const Transition& t : a.states[s])
                if (label_admits(a.states[s], t, *item)) next[t.target] = 1;
        }
        current = std::move(next);
    }
    for (std::size_t s = 0; s < a.states.size(); ++s)
        if (current[s] && a.accepting[s]) return true;
    return false;
}

inline bool sequence_contains(const SequenceAutomaton& a, const Value& v) {
    return !a.states.empty() && sequence_accepts_from(a, 0, v);
}

// The reference set evaluator: every element within `element`, and for each
// `not_within` entry some element outside it.
inline bool set_item_holds(const SetItem& item, const Value& v) {
    for (const auto& e : v.elements)
        if (item.element && !contains(*item.element, *e)) return false;
    for (const SharedDescr& r : item.not_within) {
        bool outside = false;
        for (const auto& e : v.elements) outside = outside || (r && !contains(*r, *e));
        if (!outside) return false;
    }
    return true;
}

inline bool set_items_contains(const SetItems& a, const Value& v) {
    bool any = false;
    for (const SetItem& item : a.items) any = any || set_item_holds(item, v);
    return a.negated ? !any : any;
}

// Python's == between the values the tests build: numbers across bool, int
// and float by value (NaN equals nothing), str and bytes by their bytes
// whatever the subclass, lists and tuples item by item (a list never equals
// a tuple), sets and frozen sets as sets of elements, None with None; other
// objects by name (identity).
bool python_equal(const Value& a, const Value& b);

// A list (6) or tuple (7) of the items; a set (8) or frozen set (9) of the
// elements, later ones equal to an earlier one dropped as Python does.
Value sequence_value(Kind kind, const std::vector<Value>& items);
Value set_value(Kind kind, const std::vector<Value>& elements);

// The values the properties are checked on: every flat kind, subclass
// instances next to exact ones, values with and without attributes.
std::vector<Value> value_universe();

// A random flat descriptor: lines in the None, bool, int, float, str,
// bytes and other slots, class and attribute conditions, negations.
Descr random_flat_descr(std::mt19937& rng, int nesting = 1);

}  // namespace tessaron::descr::testing
