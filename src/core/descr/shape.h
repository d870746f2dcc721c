// Mapping shapes: the atoms of the dict slot.
//
// A Shape describes one family of dicts: what each declared key must hold
// (present or optional), what every other key of each of the nine key
// classes must hold, and which keys must exist (existential entries).  A
// Shapes atom is the union of its shapes, or, negated, every dict outside
// that union.  The universe shape declares nothing, lets every key class
// hold any value and demands no key: every dict.
//
// Key classes, by index: 0 None, 1 bool, 2 int, 3 float, 4 str, 5 bytes,
// 6 tuple, 7 frozenset, 8 other (lists, sets and dicts are never keys).
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/descr/descr_fwd.h"

namespace tessaron::descr {

inline constexpr std::size_t kKeyClassCount = 9;

// One literal dict key.
struct LiteralKey {
    enum class Tag : std::uint8_t { None = 0, Bool = 1, Int = 2, Text = 3 };
    Tag tag = Tag::None;
    std::int64_t number = 0;  // Bool (0 or 1), Int
    std::string bytes;        // Text: UTF-8 of a str key, or the bytes key
    KindCode kind = 4;        // Text: 4 str, 5 bytes
};

// What a shape asks of one declared key or of one key class.
struct KeyRequirement {
    SharedDescr value;  // empty: any value
    std::uint8_t optional = 1;
};

// At least one key of `key_class` outside `excluded_keys` whose value lies
// in `value`.
struct ExistentialEntry {
    std::uint64_t key_class = 0;
    SharedDescr value;
    std::vector<LiteralKey> excluded_keys;  // in key order
};

struct Shape {
    std::vector<ExistentialEntry> existentials;
    std::array<KeyRequirement, kKeyClassCount> key_classes{};
    std::vector<std::pair<LiteralKey, KeyRequirement>> declared_keys;  // in key order
};

struct Shapes {
    std::vector<Shape> shapes;
    bool negated = false;
};

Shape universe_shape();
Shapes shapes_universe();
bool shapes_is_universe(const Shapes& a);
// No shape (positive), or the universe shape excluded (negated): no dict.
bool shapes_is_trivially_empty(const Shapes& a);

// The shapes of the atom made explicit; none when that cannot be done.  A
// positive atom is copied and a negated one without shapes is the universe
// shape; a negated atom with shapes needs the meet of shape lists.
std::optional<std::vector<Shape>> positive_shapes(const Shapes& atom);

// The flipped list, replaced by its explicit form when it holds at most one
// shape and that form can be built.
Shapes shape_list_complement(const Shapes& atom);

std::strong_ordering cmp_literal_key(const LiteralKey& a, const LiteralKey& b);
bool literal_key_equal(const LiteralKey& a, const LiteralKey& b);
bool literal_key_set_equal(const std::vector<LiteralKey>& a, const std::vector<LiteralKey>& b);

bool shape_equal(const Shape& a, const Shape& b);
bool shapes_equal(const Shapes& a, const Shapes& b);
std::strong_ordering cmp_shape_entry(const ExistentialEntry& a, const ExistentialEntry& b);
std::strong_ordering cmp_shape(const Shape& a, const Shape& b);
std::strong_ordering cmp_shapes(const Shapes& a, const Shapes& b);

}  // namespace tessaron::descr
