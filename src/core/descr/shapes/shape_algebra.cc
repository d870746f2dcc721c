// The algebra of mapping shapes (see shape_algebra.h).
//
// What it computes.  The complement of a shape S is the union of:
//   * per declared key k of S with (V, optional o): the universe with k
//     declared as (complement of V, 1 - o) -- k missing or off its value
//     when it was required, k there with another value when it was
//     optional;
//   * per key class c: the base (the universe with every declared key of S
//     declared free: any value, may be missing) with an entry demanding an
//     undeclared key of class c outside the class's value;
//   * per existential entry (c, V, excluded Y): the base in which no key of
//     class c outside Y may hold a value in V (the class and every declared
//     key of class c outside Y bounded by the complement of V, the keys of
//     Y declared free).
// The meet of two shapes declares every key either declares, each bounded
// by both sides (a side that does not declare it bounds it by its class),
// required when either side requires it; it meets the classes and keeps
// both sides' entries.  Both constructions are exact, given that every key
// class's `optional` is 1.
//
// Invariants: inputs are only read; every list handed out is normalised
// except the complement's; a failure discards everything built.
//
// Budget: one failing unit per pair of a meet before the pair is merged;
// value meets take theirs (`meet_shared_descrs`); complements of values take
// one saturating unit each.  The gathered list is normalised once it holds
// more than `kCompactAbove` shapes; more than `kMaxTerms` shapes left fail.
#include "core/descr/shapes/shape_algebra.h"

#include <algorithm>
#include <cassert>

#include "core/descr/nested.h"
#include "core/descr/shapes/shape_emptiness.h"
#include "core/descr/term_union.h"

namespace tessaron::descr {

namespace {

// The complement of an optional value: no value for "any value".
SharedDescr complement_value(const SharedDescr& v) { return v ? complement_shared_descr(v) : empty_descr(); }

// The universe with every declared key of `s` declared free.
Shape base_shape(const Shape& s) {
    Shape base;
    base.declared_keys.reserve(s.declared_keys.size());
    for (const auto& [key, requirement] : s.declared_keys) base.declared_keys.push_back({key, KeyRequirement{}});
    return base;
}

std::vector<LiteralKey> declared_key_set(const Shape& s) {
    std::vector<LiteralKey> keys;
    keys.reserve(s.declared_keys.size());
    for (const auto& entry : s.declared_keys) keys.push_back(entry.first);
    return keys;
}

bool entries_equal(const ExistentialEntry& a, const ExistentialEntry& b) {
    return a.key_class == b.key_class && optional_descr_equal(a.value, b.value) &&
           literal_key_set_equal(a.excluded_keys, b.excluded_keys);
}

// The meet of two shapes; none when a value meet fails.
std::optional<Shape> meet_shapes(const Shape& s, const Shape& t) {
    Shape out;
    auto merge_key = [&](const LiteralKey& k) -> bool {
        const KeyRequirement a = shape_key_lookup(s, k), b = shape_key_lookup(t, k);
        auto value = meet_optional_shared(a.value, b.value);
        if (!value) return false;
        out.declared_keys.push_back(
            {k, KeyRequirement{std::move(*value), a.optional && b.optional}});
        return true;
    };
    // Both maps are in key order: merge them, each key once.
    std::size_t i = 0, j = 0;
    while (i < s.declared_keys.size() || j < t.declared_keys.size()) {
        const LiteralKey* k;
        if (j == t.declared_keys.size()) {
            k = &s.declared_keys[i++].first;
        } else if (i == s.declared_keys.size()) {
            k = &t.declared_keys[j++].first;
        } else {
            const auto c = cmp_literal_key(s.declared_keys[i].first, t.declared_keys[j].first);
            k = c <= 0 ? &s.declared_keys[i].first : &t.declared_keys[j].first;
            if (c <= 0) ++i;
            if (c >= 0) ++j;
        }
        if (!merge_key(*k)) return std::nullopt;
    }
    for (std::size_t c = 0; c < kKeyClassCount; ++c) {
        auto value = meet_optional_shared(s.key_classes[c].value, t.key_classes[c].value);
        if (!value) return std::nullopt;
        out.key_classes[c] = KeyRequirement{std::move(*value),
                                            s.key_classes[c].optional && t.key_classes[c].optional};
    }
    out.existentials = s.existentials;
    out.existentials.insert(out.existentials.end(), t.existentials.begin(), t.existentials.end());
    std::stable_sort(out.existentials.begin(), out.existentials.end(),
                     [](const ExistentialEntry& a, const ExistentialEntry& b) { return cmp_shape_entry(a, b) < 0; });
    out.existentials.erase(std::unique(out.existentials.begin(), out.existentials.end(), entries_equal),
                           out.existentials.end());
    return out;
}

}  // namespace

std::vector<Shape> shape_complement(const Shape& s) {
    std::vector<Shape> out;
    out.reserve(s.declared_keys.size() + kKeyClassCount + s.existentials.size());
    for (const auto& [key, requirement] : s.declared_keys) {
        Shape outside;
        outside.declared_keys.push_back(
            {key, KeyRequirement{complement_value(requirement.value), !requirement.optional}});
        out.push_back(std::move(outside));
    }
    const std::vector<LiteralKey> declared = declared_key_set(s);
    for (const KeyClass c : kKeyClasses) {
        Shape outside = base_shape(s);
        outside.existentials.push_back(ExistentialEntry{c, complement_value(s.class_requirement(c).value), declared});
        out.push_back(std::move(outside));
    }
    for (const ExistentialEntry& e : s.existentials) {
        const SharedDescr outside_value = complement_value(e.value);
        Shape none = base_shape(s);
        none.class_requirement(e.key_class) = KeyRequirement{outside_value, true};
        for (const LiteralKey& k : e.excluded_keys)
            if (literal_key_class(k) == e.key_class && !find_declared_key(none, k)) declare_key(none, k, KeyRequirement{});
        for (const auto& [key, requirement] : s.declared_keys)
            if (literal_key_class(key) == e.key_class && !key_set_holds(e.excluded_keys, key))
                declare_key(none, key, KeyRequirement{outside_value, true});
        out.push_back(std::move(none));
    }
    return out;
}

namespace {

std::vector<Shape> every_shape() { return shapes_universe().shapes; }

// Shapes as terms of the union algebra.
using ShapeTerms = TermFunctions<Shape, normalize_shapes, meet_shapes, shape_complement, every_shape>;

SignedTerms<Shape> signed_shapes(const Shapes& atom) { return {atom.shapes, atom.negated}; }

}  // namespace

std::optional<std::vector<Shape>> meet_shape_lists(const std::vector<Shape>& a, const std::vector<Shape>& b) {
    return product_terms(ShapeTerms{}, a, b);
}

std::optional<std::vector<Shape>> normalize_shapes(std::vector<Shape> shapes) {
    std::vector<Shape> kept;
    kept.reserve(shapes.size());
    for (Shape& s : shapes) {
        drop_default_keys(s);
        if (shape_verdict(s) != ir::Emptiness::Empty) kept.push_back(std::move(s));
    }
    if (kept.size() >= 2) {
        std::stable_sort(kept.begin(), kept.end(), [](const Shape& x, const Shape& y) { return cmp_shape(x, y) < 0; });
        kept.erase(std::unique(kept.begin(), kept.end(), shape_equal), kept.end());
    }
    if (kept.size() > kMaxTerms) return std::nullopt;
    assert(shapes_are_normal(kept));
    return kept;
}

std::optional<Shapes> meet_shape_slots(const Shapes& a, const Shapes& b) {
    auto met = meet_signed_terms(ShapeTerms{}, signed_shapes(a), signed_shapes(b));
    if (!met) return std::nullopt;
    return Shapes{std::move(*met), false};
}

std::optional<Shapes> join_shape_slots(const Shapes& a, const Shapes& b) {
    auto joined = join_signed_terms(ShapeTerms{}, signed_shapes(a), signed_shapes(b));
    if (!joined) return std::nullopt;
    return Shapes{std::move(joined->first), joined->second};
}

std::optional<std::vector<Shape>> positive_shapes(const Shapes& atom) {
    return explicit_terms(ShapeTerms{}, signed_shapes(atom));
}

Shapes shape_list_complement(const Shapes& atom) {
    auto [shapes, negated] = flip_terms(ShapeTerms{}, signed_shapes(atom));
    return Shapes{std::move(shapes), negated};
}

ir::Emptiness shapes_verdict(const Shapes& atom) {
    const auto shapes = positive_shapes(atom);
    if (!shapes) return ir::Emptiness::Undecided;
    ir::Emptiness verdict = ir::Emptiness::Empty;
    for (const Shape& s : *shapes) {
        const ir::Emptiness e = shape_verdict(s);
        if (e == ir::Emptiness::Inhabited) return e;
        if (e == ir::Emptiness::Undecided) verdict = e;
    }
    return verdict;
}

}  // namespace tessaron::descr
