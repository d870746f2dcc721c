// Dicts for the shape tests: the reference evaluator of shapes, dict values
// over a small set of keys, and generators of shapes and of descriptors
// with a dict slot.
//
// The evaluator reads a shape the way it is defined: a dict key is the
// declared key k when it is of k's class and equal to it (so True is never
// the declared key 1); every other key is bounded by its class; each
// existential entry needs a key of its class outside the excluded keys with
// a value in the entry's.  The dict values never hold two keys a dict takes
// for one (False and 0, True and 1).
#pragma once

#include <random>
#include <vector>

#include "descr/descr_fixture.h"

namespace tessaron::descr::testing {

// --- keys ----------------------------------------------------------------------------
LiteralKey none_key();
LiteralKey bool_key(bool b);
LiteralKey int_key(std::int64_t n);
LiteralKey str_key(std::string s);
LiteralKey bytes_key(std::string s);

// Values standing for dict keys of other kinds than the literal ones.
Value float_key_value(double x);
Value tuple_key_value();
Value object_key_value();
// The value of a literal key (exact types).
Value key_value(const LiteralKey& k);

// --- values --------------------------------------------------------------------------
Value none_item();
Value int_item(std::int64_t n);
Value str_item(std::string s);
Value bool_item(bool b);
Value dict_of(std::vector<std::pair<Value, Value>> items);

bool shape_contains(const Shape& s, const Value& dict);
bool shape_list_contains(const std::vector<Shape>& shapes, const Value& dict);

// Every dict with at most `max_keys` of the keys and values drawn from the
// values, leaving out those holding two keys a dict takes for one.
std::vector<Value> dicts_over(const std::vector<Value>& keys, const std::vector<Value>& values, int max_keys);

// --- shapes --------------------------------------------------------------------------
// Value bounds the generators draw from: any value, no value, whole kinds,
// an exact int, their unions and complements, and (when `with_dicts`) the
// empty dict and every dict.
std::vector<SharedDescr> value_pool(bool with_dicts);

struct ShapeLimits {
    int declared = 3;     // at most this many declared keys
    int existentials = 2;  // at most this many entries
    std::vector<KeyClass> entry_classes = {KeyClass::None, KeyClass::Bool,  KeyClass::Int,  KeyClass::Float,
                                           KeyClass::Str,  KeyClass::Bytes, KeyClass::Tuple, KeyClass::Other};
};
Shape random_shape(std::mt19937& rng, const std::vector<SharedDescr>& pool, const ShapeLimits& limits = {});
Shape shape_of(std::vector<std::pair<LiteralKey, KeyRequirement>> declared, std::vector<ExistentialEntry> entries = {},
               const SharedDescr& every_class = empty_descr());

// A descriptor whose dict slot holds up to two lines of one random shape
// each (some negated atoms, some class conditions; the slot negated only
// when it holds at most one line), and sometimes a few flat slots.
Descr random_dict_descr(std::mt19937& rng, const std::vector<SharedDescr>& pool);

}  // namespace tessaron::descr::testing
