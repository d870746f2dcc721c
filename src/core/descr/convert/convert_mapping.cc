// Conversion of mapping nodes (records, dicts, typed dicts) into one shape.
//
// What it computes: the shape the walk checks a dict against.  The walk
// checks a key that names a declared field against that field alone, and
// any other key against the clauses, passing when some clause admits both
// the key and its value.  So:
//   * the declared keys are the fields, each bounded by its value (a name
//     declared twice by both values, required when either is required);
//   * a key class holds the union of the values of every clause whose key
//     schema admits the whole class, and no value (the shared empty
//     descriptor) when none does;
//   * a literal key of a clause that names no field is declared optional,
//     bounded by the union of the values of every clause admitting it, as
//     a literal or through its class; a literal that names a field is
//     ignored (the walk never tries the clauses for that key).
// The value `anything` is kept as "any value" (an empty handle).
//
// Exactness.  A field admits every key the dict takes for its name, a str
// subclass instance included; a literal key schema admits its constant's
// exact type only, and a shape cannot tell those keys apart.  A str, int or
// bytes literal key that some clause admits as a literal but not through
// its class therefore makes the shape admit more dicts than the walk (a
// subclass instance equal to the literal).  In the direction Above that is
// a bound the conversion may give, marked bounded; in the direction Below
// the key is declared with no value (the dicts without it, fewer than the
// walk admits), marked bounded too.  None and bool keys have no such instances.
//
// Budget: the unions and meets of values take their units; the key
// schemas take units of the node counter (key_domain.h).
#include <algorithm>

#include "core/descr/lines/combine.h"
#include "core/descr/convert/convert.h"
#include "core/descr/convert/key_domain.h"
#include "core/descr/shapes/shape_algebra.h"

namespace tessaron::descr {

namespace {

struct ClauseDescr {
    SharedDescr value;  // absent (`every_value()`): any value
    KeyDomain domain;
};

// The value bound of a field or clause: `every_value()` for `anything`.
std::optional<SharedDescr> value_of(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    OptDescr d = to_normal_form(node, ctx, depth);
    if (!d) return std::nullopt;
    if (node.kind == ir::NodeKind::Anything) return every_value();
    return SharedDescr::make(std::move(*d));
}

bool admits_as_literal(const ClauseDescr& c, const LiteralKey& k) {
    return std::any_of(c.domain.keys.begin(), c.domain.keys.end(),
                       [&](const LiteralKey& x) { return literal_key_equal(x, k); });
}

bool admits_through_class(const ClauseDescr& c, const LiteralKey& k) {
    const Kind kind = kind_of_key_class(literal_key_class(k));
    return std::find(c.domain.kinds.begin(), c.domain.kinds.end(), kind) != c.domain.kinds.end();
}

// The field names, each bounded by its values.
bool declare_fields(const ir::Node& node, Shape& shape, ConvertContext& ctx, std::uint32_t depth) {
    for (const ir::RecordEntry& entry : ir::as_span(node.entries)) {
        auto value = value_of(entry.value, ctx, depth);
        if (!value) return false;
        const LiteralKey key = str_literal_key(entry.key_view());
        const bool optional = !entry.required;
        if (const KeyRequirement* before = find_declared_key(shape, key)) {
            auto met = meet_optional_shared(before->value, *value);
            if (!met) return false;
            declare_key(shape, key, KeyRequirement{std::move(*met), before->optional && optional});
        } else {
            declare_key(shape, key, KeyRequirement{std::move(*value), optional});
        }
    }
    return true;
}

// Each key class bounded by the union of the clauses admitting it.
bool bound_key_classes(const std::vector<ClauseDescr>& clauses, Shape& shape) {
    for (KeyRequirement& r : shape.key_classes) r = KeyRequirement{empty_descr(), true};
    for (const ClauseDescr& c : clauses)
        for (Kind kind : c.domain.kinds) {
            const auto key_class = key_class_of_kind(kind);
            if (!key_class) continue;
            KeyRequirement& r = shape.class_requirement(*key_class);
            auto joined = join_optional_shared(r.value, c.value);
            if (!joined) return false;
            r.value = std::move(*joined);
        }
    return true;
}

// The literal keys of the clauses that name no field, each bounded by the
// union of the clauses admitting it.
bool declare_literal_keys(const std::vector<ClauseDescr>& clauses, Shape& shape, ConvertContext& ctx) {
    for (const ClauseDescr& source : clauses)
        for (const LiteralKey& k : source.domain.keys) {
            if (find_declared_key(shape, k)) continue;
            SharedDescr value = empty_descr();
            bool literal_only = false;
            for (const ClauseDescr& c : clauses) {
                const bool as_literal = admits_as_literal(c, k), by_class = admits_through_class(c, k);
                if (!as_literal && !by_class) continue;
                literal_only = literal_only || !by_class;
                auto joined = join_optional_shared(value, c.value);
                if (!joined) return false;
                value = std::move(*joined);
            }
            const bool has_subclasses = k.tag == LiteralKey::Tag::Int || k.tag == LiteralKey::Tag::Text;
            if (literal_only && has_subclasses) {
                // Polarity::Below: the dicts without the key are a part of the
                // walk's set (every other key is read as the walk reads it).
                if (ctx.direction == ir::Polarity::Below) value = empty_descr();
                ctx.bounded = true;
            }
            declare_key(shape, k, KeyRequirement{std::move(value), true});
        }
    return true;
}

}  // namespace

OptDescr descr_of_mapping(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    Shape shape;
    if (!declare_fields(node, shape, ctx, depth)) return std::nullopt;
    std::vector<ClauseDescr> clauses;
    for (const ir::Clause& clause : ir::as_span(node.clauses)) {
        auto value = value_of(clause.value, ctx, depth);
        if (!value) return std::nullopt;
        auto domain = key_domain(clause.key, ctx);
        if (!domain) return std::nullopt;
        clauses.push_back(ClauseDescr{std::move(*value), std::move(*domain)});
    }
    if (!bound_key_classes(clauses, shape)) return std::nullopt;
    if (!declare_literal_keys(clauses, shape, ctx)) return std::nullopt;
    std::vector<Shape> one;
    one.push_back(std::move(shape));
    auto shapes = normalize_shapes(std::move(one));
    if (!shapes) return std::nullopt;
    Descr d;
    descr_of_atom(d, Kind::Dict, Shapes{std::move(*shapes), false});
    return d;
}

}  // namespace tessaron::descr
