// Descriptors: the per-kind normal form of a schema.
//
// Every Python value falls into exactly one of twelve kinds (ir::Kind).  A
// Descr holds one KindSlot per kind; a slot is a union of Lines (or, when
// negated, every value of the kind outside that union), and a Line is an
// Atom -- the exact value set of the kind -- narrowed by a ConditionList of
// nominal constraints that do not depend on the kind: class membership and
// attributes.
//
//   kind             atom
//   None             Presence
//   Bool             TruthMask (bit 0 False, bit 1 True)
//   Int              IntSet (subclass instances included; not bool)
//   Float            FloatSet
//   Str              shared TextAutomaton over the UTF-8 form
//   Bytes            shared TextAutomaton
//   List, Tuple      SequenceAutomaton
//   Set, Frozenset   SetItems
//   Dict             Shapes
//   Other            Presence
//
// `kind_atom_variant` states this table in code, checked at compile time
// against the order of the `Atom` variant.
//
// A ConditionList is the union of its Conditions (negated: none of them
// holds); a positive list with no condition admits nothing, a list of one
// empty Condition admits everything.  A Condition holds when all its
// attribute requirements hold, the value is an instance of every class of
// `classes` and of none of `excluded_classes`.
//
// A literal of int, float, str or bytes admits only values of that exact
// type, not instances of subclasses.  Its line carries the exact-type
// record of the slot: a reserved class id whose ancestors are itself and
// whose builtin kind is the slot's.  Beside any real class it is
// unsatisfiable (an exact int is an instance only of int and object, which
// no instance node names); excluded, it stands for the proper subclass
// instances.
//
// Descriptors are plain values with owned lists; shared parts (nested
// descriptors, text automata) are reference-counted and never changed.
// An operation that cannot represent its result answers no descriptor
// (std::nullopt), an ordinary result the decisions read as undecided.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "core/descr/descr_fwd.h"
#include "core/descr/values/integers.h"
#include "core/descr/values/float_set.h"
#include "core/descr/sequences/sequence_automaton.h"
#include "core/descr/sets/set_items.h"
#include "core/descr/shapes/shape.h"
#include "core/descr/values/text_automaton.h"

namespace tessaron::descr {

// --- caps ------------------------------------------------------------------------
// A pairwise product compacts what it gathered once it holds more than this.
inline constexpr std::size_t kCompactAbove = 255;
// Lines of a slot, conditions of a list: more than this fails.
inline constexpr std::size_t kMaxTerms = 256;

// --- atoms -----------------------------------------------------------------------
struct Presence {
    bool flag = true;  // true: every value of the kind; false: none
};
struct TruthMask {
    std::uint8_t mask = 3;  // bit 0 False, bit 1 True
};

// The variant order is the atom order's first key.
using Atom = std::variant<Presence, TruthMask, IntSet, FloatSet, SharedTextAutomaton, SequenceAutomaton, SetItems,
                          Shapes>;

enum class AtomVariant : std::uint8_t {
    Presence = 0,
    TruthMask = 1,
    Integers = 2,
    Floats = 3,
    Text = 4,
    Sequence = 5,
    SetItems = 6,
    Shapes = 7,
};
inline AtomVariant atom_variant(const Atom& a) { return static_cast<AtomVariant>(a.index()); }

// The atom alternative of each kind's lines, as the slot table above lists.
constexpr AtomVariant kind_atom_variant(Kind k) {
    switch (k) {
        case Kind::None:
        case Kind::Other: return AtomVariant::Presence;
        case Kind::Bool: return AtomVariant::TruthMask;
        case Kind::Int: return AtomVariant::Integers;
        case Kind::Float: return AtomVariant::Floats;
        case Kind::Str:
        case Kind::Bytes: return AtomVariant::Text;
        case Kind::List:
        case Kind::Tuple: return AtomVariant::Sequence;
        case Kind::Set:
        case Kind::Frozenset: return AtomVariant::SetItems;
        case Kind::Dict: return AtomVariant::Shapes;
    }
    assert(false && "a Kind no case names");
    return AtomVariant::Presence;
}

template <AtomVariant V>
using AtomAlternative = std::variant_alternative_t<static_cast<std::size_t>(V), Atom>;
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::None)>, Presence>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Bool)>, TruthMask>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Int)>, IntSet>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Float)>, FloatSet>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Str)>, SharedTextAutomaton>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Bytes)>, SharedTextAutomaton>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::List)>, SequenceAutomaton>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Tuple)>, SequenceAutomaton>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Set)>, SetItems>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Frozenset)>, SetItems>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Dict)>, Shapes>);
static_assert(std::is_same_v<AtomAlternative<kind_atom_variant(Kind::Other)>, Presence>);
static_assert(std::variant_size_v<Atom> == static_cast<std::size_t>(AtomVariant::Shapes) + 1);

// --- conditions ------------------------------------------------------------------
// One class as the oracle describes it; compared by `class_id` alone.
struct ClassRecord {
    std::vector<std::uint32_t> ancestor_ids;  // sorted; the class itself included
    std::uint32_t class_id = 0;
    Kind builtin_kind = Kind::Other;  // the kind of its builtin base; Other: none

    bool has_ancestor(std::uint32_t id) const;
};

// The attribute is present (`optional` false) or may be missing (true), and
// when present its value lies in `value` (absent: `every_value()`).
struct AttributeRequirement {
    SharedDescr value;
    bool optional = false;
};
struct AttributeEntry {
    std::string name;
    AttributeRequirement requirement;
};

struct Condition {
    std::vector<AttributeEntry> attributes;   // sorted by name bytes, unique
    std::vector<ClassRecord> classes;         // sorted by class_id, unique
    std::vector<ClassRecord> excluded_classes;

    bool empty() const { return attributes.empty() && classes.empty() && excluded_classes.empty(); }
};

struct ConditionList {
    std::vector<Condition> conditions;
    bool negated = false;
};

// One empty condition, not negated: every value.
ConditionList unrestricted();

// The exact-type record of int, float, str or bytes.
ClassRecord exact_type_record(Kind kind);
bool is_exact_type_record(const ClassRecord& c);

// The form every condition keeps: attributes sorted by name bytes and
// unique; classes and excluded classes sorted by
// class_id and unique, each with its ancestors sorted, unique and holding
// its own id.  Builders assert it.
bool condition_is_normal(const Condition& c);

// Inserts a class into a set ordered by class_id (kept when already there).
void insert_class(std::vector<ClassRecord>& set, const ClassRecord& c);

// --- lines, slots, descriptors ---------------------------------------------------
struct Line {
    Atom atom;
    ConditionList conditions;
};

struct KindSlot {
    std::vector<Line> lines;
    bool negated = false;
};

// The slots are reached by kind only; a walk over them goes through
// `ir::kKinds`.
struct Descr {
    KindSlot& slot(Kind k) { return slots_[ir::kind_slot(k)]; }
    const KindSlot& slot(Kind k) const { return slots_[ir::kind_slot(k)]; }

private:
    std::array<KindSlot, ir::kKindCount> slots_{};  // in slot order: slots_[kind_slot(k)] is kind k's
};

using OptDescr = std::optional<Descr>;

// A new reference to the one shared descriptor of no value (every slot
// without lines, not negated), created on first use and never freed.
SharedDescr empty_descr();

}  // namespace tessaron::descr
