// Mapping shapes: universe, key classes and key queries, equality and the
// orders of keys, entries and shapes.  The operations on shapes are in
// shape_algebra.h and shape_emptiness.h.
#include "core/descr/shapes/shape.h"

#include <algorithm>
#include <cassert>

#include "core/descr/descr.h"
#include "core/descr/nested.h"

namespace tessaron::descr {

namespace {

bool requirement_equal(const KeyRequirement& a, const KeyRequirement& b) {
    return a.optional == b.optional && optional_descr_equal(a.value, b.value);
}

std::strong_ordering cmp_requirement(const KeyRequirement& a, const KeyRequirement& b) {
    if (auto c = cmp_optional_descr(a.value, b.value); c != 0) return c;
    return a.optional <=> b.optional;
}

bool is_universe_shape(const Shape& s) {
    if (!s.existentials.empty() || !s.declared_keys.empty()) return false;
    for (const KeyRequirement& r : s.key_classes)
        if (r.value || !r.optional) return false;
    return true;
}

}  // namespace

Shape universe_shape() { return Shape{}; }

Shapes shapes_universe() {
    Shapes a;
    a.shapes.push_back(universe_shape());
    return a;
}

bool shapes_is_universe(const Shapes& a) {
    return !a.negated && a.shapes.size() == 1 && is_universe_shape(a.shapes[0]);
}

namespace {

// The kind of each key class, in `kKeyClasses` order.
constexpr std::array<Kind, kKeyClassCount> kKeyClassKinds = {Kind::None,  Kind::Bool,  Kind::Int,
                                                            Kind::Float, Kind::Str,   Kind::Bytes,
                                                            Kind::Tuple, Kind::Frozenset, Kind::Other};

}  // namespace

std::optional<KeyClass> key_class_of_kind(Kind kind) {
    for (const KeyClass c : kKeyClasses)
        if (kKeyClassKinds[key_class_slot(c)] == kind) return c;
    return std::nullopt;
}

Kind kind_of_key_class(KeyClass key_class) { return kKeyClassKinds[key_class_slot(key_class)]; }

KeyClass literal_key_class(const LiteralKey& k) {
    switch (k.tag) {
        case LiteralKey::Tag::None: return KeyClass::None;
        case LiteralKey::Tag::Bool: return KeyClass::Bool;
        case LiteralKey::Tag::Int: return KeyClass::Int;
        case LiteralKey::Tag::Text: return k.kind == Kind::Bytes ? KeyClass::Bytes : KeyClass::Str;
    }
    assert(false && "a LiteralKey tag no case names");
    return KeyClass::Other;
}

LiteralKey str_literal_key(std::string_view bytes) {
    LiteralKey k;
    k.tag = LiteralKey::Tag::Text;
    k.bytes = std::string(bytes);
    k.kind = Kind::Str;
    return k;
}

bool literal_keys_alias(const LiteralKey& a, const LiteralKey& b) {
    using Tag = LiteralKey::Tag;
    const bool bool_int = (a.tag == Tag::Bool && b.tag == Tag::Int) || (a.tag == Tag::Int && b.tag == Tag::Bool);
    return bool_int && a.number == b.number;
}

bool key_set_holds(const std::vector<LiteralKey>& set, const LiteralKey& k) {
    return std::binary_search(set.begin(), set.end(), k,
                              [](const LiteralKey& x, const LiteralKey& y) { return cmp_literal_key(x, y) < 0; });
}

KeyRequirement shape_kind_slot(const Shape& s, Kind kind) {
    if (auto c = key_class_of_kind(kind)) return s.class_requirement(*c);
    return KeyRequirement{empty_descr(), true};
}

const KeyRequirement* find_declared_key(const Shape& s, const LiteralKey& k) {
    auto it = std::lower_bound(s.declared_keys.begin(), s.declared_keys.end(), k,
                               [](const auto& entry, const LiteralKey& key) { return cmp_literal_key(entry.first, key) < 0; });
    if (it == s.declared_keys.end() || !literal_key_equal(it->first, k)) return nullptr;
    return &it->second;
}

KeyRequirement shape_key_lookup(const Shape& s, const LiteralKey& k) {
    if (const KeyRequirement* r = find_declared_key(s, k)) return *r;
    return s.class_requirement(literal_key_class(k));
}

void declare_key(Shape& s, const LiteralKey& k, KeyRequirement r) {
    auto it = std::lower_bound(s.declared_keys.begin(), s.declared_keys.end(), k,
                               [](const auto& entry, const LiteralKey& key) { return cmp_literal_key(entry.first, key) < 0; });
    if (it != s.declared_keys.end() && literal_key_equal(it->first, k))
        it->second = std::move(r);
    else
        s.declared_keys.insert(it, {k, std::move(r)});
}

void drop_default_keys(Shape& s) {
    std::erase_if(s.declared_keys, [&](const auto& entry) {
        return requirement_equal(entry.second, s.class_requirement(literal_key_class(entry.first)));
    });
}

namespace {

bool key_set_is_normal(const std::vector<LiteralKey>& keys) {
    for (std::size_t i = 1; i < keys.size(); ++i)
        if (cmp_literal_key(keys[i - 1], keys[i]) >= 0) return false;
    return true;
}

}  // namespace

bool shape_is_normal(const Shape& s) {
    for (std::size_t i = 1; i < s.declared_keys.size(); ++i)
        if (cmp_literal_key(s.declared_keys[i - 1].first, s.declared_keys[i].first) >= 0) return false;
    return std::all_of(s.existentials.begin(), s.existentials.end(),
                       [](const ExistentialEntry& e) { return key_set_is_normal(e.excluded_keys); });
}

bool shapes_are_normal(const std::vector<Shape>& shapes) {
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const Shape& s = shapes[i];
        if (!shape_is_normal(s)) return false;
        for (const auto& [key, requirement] : s.declared_keys)
            if (requirement_equal(requirement, s.class_requirement(literal_key_class(key)))) return false;
        if (i > 0 && cmp_shape(shapes[i - 1], s) >= 0) return false;
    }
    return true;
}

std::strong_ordering cmp_literal_key(const LiteralKey& a, const LiteralKey& b) {
    if (auto c = a.tag <=> b.tag; c != 0) return c;
    if (a.tag != LiteralKey::Tag::Text) return a.number <=> b.number;
    if (auto c = a.bytes <=> b.bytes; c != 0) return c;
    return a.kind <=> b.kind;
}

bool literal_key_equal(const LiteralKey& a, const LiteralKey& b) { return cmp_literal_key(a, b) == 0; }

bool literal_key_set_equal(const std::vector<LiteralKey>& a, const std::vector<LiteralKey>& b) {
    return lists_equal(a, b, literal_key_equal);
}

namespace {

bool declared_key_equal(const std::pair<LiteralKey, KeyRequirement>& a,
                        const std::pair<LiteralKey, KeyRequirement>& b) {
    return literal_key_equal(a.first, b.first) && requirement_equal(a.second, b.second);
}

bool existential_entry_equal(const ExistentialEntry& a, const ExistentialEntry& b) {
    return a.key_class == b.key_class && optional_descr_equal(a.value, b.value) &&
           literal_key_set_equal(a.excluded_keys, b.excluded_keys);
}

}  // namespace

bool shape_equal(const Shape& a, const Shape& b) {
    if (!lists_equal(a.declared_keys, b.declared_keys, declared_key_equal)) return false;
    for (std::size_t k = 0; k < kKeyClassCount; ++k)
        if (!requirement_equal(a.key_classes[k], b.key_classes[k])) return false;
    return lists_equal(a.existentials, b.existentials, existential_entry_equal);
}

bool shapes_equal(const Shapes& a, const Shapes& b) {
    return a.negated == b.negated && lists_equal(a.shapes, b.shapes, shape_equal);
}

std::strong_ordering cmp_shape_entry(const ExistentialEntry& a, const ExistentialEntry& b) {
    if (auto c = a.key_class <=> b.key_class; c != 0) return c;
    if (auto c = cmp_optional_descr(a.value, b.value); c != 0) return c;
    return cmp_lists(a.excluded_keys, b.excluded_keys, cmp_literal_key);
}

std::strong_ordering cmp_shape(const Shape& a, const Shape& b) {
    using Declared = std::pair<LiteralKey, KeyRequirement>;
    auto cmp_declared = [](const Declared& x, const Declared& y) {
        if (auto c = cmp_literal_key(x.first, y.first); c != 0) return c;
        return cmp_requirement(x.second, y.second);
    };
    if (auto c = cmp_lists(a.declared_keys, b.declared_keys, cmp_declared); c != 0) return c;
    for (std::size_t k = 0; k < kKeyClassCount; ++k)
        if (auto c = cmp_requirement(a.key_classes[k], b.key_classes[k]); c != 0) return c;
    return cmp_lists(a.existentials, b.existentials, cmp_shape_entry);
}

std::strong_ordering cmp_shapes(const Shapes& a, const Shapes& b) {
    if (auto c = cmp_lists(a.shapes, b.shapes, cmp_shape); c != 0) return c;
    return a.negated <=> b.negated;
}

}  // namespace tessaron::descr
