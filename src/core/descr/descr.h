// Descriptors: the per-kind normal form of a schema.
//
// Every Python value falls into exactly one of twelve kinds (ir::Kind).  A
// Descr holds one KindSlot per kind; a slot is a union of Lines (or, when
// negated, every value of the kind outside that union), and a Line is an
// Atom -- the exact value set of the kind -- narrowed by a ConditionList of
// nominal constraints that do not depend on the kind: class membership and
// attributes.
//
//   slot  kind       atom
//   0     None       Presence
//   1     bool       TruthMask (bit 0 False, bit 1 True)
//   2     int        IntSet (subclass instances included; not bool)
//   3     float      FloatSet
//   4     str        shared TextAutomaton over the UTF-8 form
//   5     bytes      shared TextAutomaton
//   6, 7  list, tuple  SequenceAutomaton
//   8, 9  set, frozenset  SetItems
//   10    dict       Shapes
//   11    other      Presence
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
#include <cstdint>
#include <optional>
#include <string>
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
    std::uint8_t flag = 1;  // 1 every value of the kind, 0 none
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

// --- conditions ------------------------------------------------------------------
// One class as the oracle describes it; compared by `class_id` alone.
struct ClassRecord {
    std::vector<std::uint32_t> ancestor_ids;  // sorted; the class itself included
    std::uint32_t class_id = 0;
    std::uint32_t base_position = 0;    // 1..9: its builtin base; 0 none
    KindCode builtin_kind = kOtherCode;  // kind code of that base, 255 none

    bool has_ancestor(std::uint32_t id) const;
};

// The attribute is present (optional 0) or may be missing (optional 1), and
// when present its value lies in `value` (absent: `every_value()`).
struct AttributeRequirement {
    SharedDescr value;
    std::uint8_t optional = 0;
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

// The exact-type record of slot 2, 3, 4 or 5 (int, float, str, bytes).
ClassRecord exact_type_record(KindCode kind);
bool is_exact_type_record(const ClassRecord& c);

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

struct Descr {
    std::array<KindSlot, kSlotCount> slots{};

    KindSlot& slot(KindCode code) { return slots[code_slot(code)]; }
    const KindSlot& slot(KindCode code) const { return slots[code_slot(code)]; }
};

using OptDescr = std::optional<Descr>;

// A new reference to the one shared descriptor of no value (every slot
// without lines, not negated), created on first use and never freed.
SharedDescr empty_descr();

}  // namespace tessaron::descr
