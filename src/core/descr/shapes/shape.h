// Mapping shapes: the atoms of the dict slot.
//
// A Shape describes one family of dicts: what each declared key must hold
// (present or optional), what every other key of each of the nine key
// classes must hold, and which keys must exist (existential entries).  A
// Shapes atom is the union of its shapes, or, negated, every dict outside
// that union.  The universe shape declares nothing, lets every key class
// hold any value and demands no key: every dict.
//
// Key classes (`KeyClass`): None, bool, int, float, str, bytes, tuple,
// frozenset and other (lists, sets and dicts are never keys).  A
// dict key belongs to the class of its kind: True to bool, 1 to int, an
// int subclass instance to int.  A key is "the declared key k" when the
// dict takes it for k (equal and of equal hash) and it is of k's class; so
// True is never the declared key 1, but True and 1 cannot both be keys of
// one dict.
//
// A declared key's requirement with `optional` false demands the key with
// a value in `value`; with true it only bounds the value when the key is
// there.
// A key class's `value` bounds every key of the class the shape does not
// declare (the shared empty descriptor: no such key); its `optional` is the
// flag a key of the class takes when a meet declares it, true in every shape
// built here.  An empty `value` handle means any value.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/descr/descr_fwd.h"

namespace tessaron::descr {

// The kinds a dict key may have, in the order of a shape's table.
enum class KeyClass : std::uint8_t { None, Bool, Int, Float, Str, Bytes, Tuple, Frozenset, Other };
inline constexpr std::size_t kKeyClassCount = 9;
inline constexpr std::array<KeyClass, kKeyClassCount> kKeyClasses = {
    KeyClass::None, KeyClass::Bool,  KeyClass::Int,       KeyClass::Float, KeyClass::Str,
    KeyClass::Bytes, KeyClass::Tuple, KeyClass::Frozenset, KeyClass::Other,
};
constexpr std::size_t key_class_slot(KeyClass c) { return static_cast<std::size_t>(c); }

// One literal dict key.
struct LiteralKey {
    enum class Tag : std::uint8_t { None = 0, Bool = 1, Int = 2, Text = 3 };
    Tag tag = Tag::None;
    std::int64_t number = 0;  // Bool (0 or 1), Int
    std::string bytes;        // Text: UTF-8 of a str key, or the bytes key
    Kind kind = Kind::Str;    // Text: Str or Bytes
};

// What a shape asks of one declared key or of one key class.
struct KeyRequirement {
    SharedDescr value;  // absent (`every_value()`): any value
    bool optional = true;
};

// At least one key of `key_class` outside `excluded_keys` whose value lies
// in `value`.
struct ExistentialEntry {
    KeyClass key_class = KeyClass::None;
    SharedDescr value;
    std::vector<LiteralKey> excluded_keys;  // in key order
};

struct Shape {
    std::vector<ExistentialEntry> existentials;
    std::array<KeyRequirement, kKeyClassCount> key_classes{};  // in `kKeyClasses` order

    KeyRequirement& class_requirement(KeyClass c) { return key_classes[key_class_slot(c)]; }
    const KeyRequirement& class_requirement(KeyClass c) const { return key_classes[key_class_slot(c)]; }
    std::vector<std::pair<LiteralKey, KeyRequirement>> declared_keys;  // in key order
};

struct Shapes {
    std::vector<Shape> shapes;
    bool negated = false;
};

// The form every shape keeps: declared keys in key order and unique, each
// existential's excluded keys likewise.  Builders assert it.
bool shape_is_normal(const Shape& s);

// The structure of a normalised shape list (`normalize_shapes`): every
// shape normal, no declared key that only repeats its class's requirement,
// the shapes strictly in the shape order (`cmp_shape`): sorted, no shape
// twice.  Dropping the shapes proved empty needs deciding and is not
// checked.  Builders assert it.
bool shapes_are_normal(const std::vector<Shape>& shapes);

Shape universe_shape();
Shapes shapes_universe();
bool shapes_is_universe(const Shapes& a);

// --- keys and key classes ---------------------------------------------------------
// The key class of a kind; none for list, set and dict (never keys).
std::optional<KeyClass> key_class_of_kind(Kind kind);
// The kind of a key class.
Kind kind_of_key_class(KeyClass key_class);
// The key class of a literal key: None, Bool, Int, or Str or Bytes for Text.
KeyClass literal_key_class(const LiteralKey& k);
// The Text key of a str key's UTF-8 bytes.
LiteralKey str_literal_key(std::string_view bytes);
// Two keys a dict takes for one: a Bool and an Int of one value (False
// and 0, True and 1).  Keys of one variant never alias.
bool literal_keys_alias(const LiteralKey& a, const LiteralKey& b);
// Whether the ordered set holds the key.
bool key_set_holds(const std::vector<LiteralKey>& set, const LiteralKey& k);

// --- key queries ------------------------------------------------------------------
// The requirement of the key class of `kind` (EMPTY for kinds that are
// never keys: no such key can be present).
KeyRequirement shape_kind_slot(const Shape& s, Kind kind);
// The declared requirement of a key, or its class's when it is undeclared.
KeyRequirement shape_key_lookup(const Shape& s, const LiteralKey& k);
// The declared requirement of a key; null when the key is undeclared.
const KeyRequirement* find_declared_key(const Shape& s, const LiteralKey& k);
// Declares (or re-declares) a key, keeping the map in key order.
void declare_key(Shape& s, const LiteralKey& k, KeyRequirement r);
// Removes every declared key whose requirement equals its class's: such a
// key adds nothing to what the shape admits.
void drop_default_keys(Shape& s);

std::strong_ordering cmp_literal_key(const LiteralKey& a, const LiteralKey& b);
bool literal_key_equal(const LiteralKey& a, const LiteralKey& b);
bool literal_key_set_equal(const std::vector<LiteralKey>& a, const std::vector<LiteralKey>& b);

bool shape_equal(const Shape& a, const Shape& b);
bool shapes_equal(const Shapes& a, const Shapes& b);
std::strong_ordering cmp_shape_entry(const ExistentialEntry& a, const ExistentialEntry& b);
std::strong_ordering cmp_shape(const Shape& a, const Shape& b);
std::strong_ordering cmp_shapes(const Shapes& a, const Shapes& b);

}  // namespace tessaron::descr
