// Literals, folds and attributes (see builders.h).
//
// What it computes: the descriptor of a literal from the oracle's answer;
// the running union or intersection of a node list; the conjunction of an
// object node's attribute requirements; the one-item atom of a set schema.
//
// Invariants: a literal line of a subclassable kind always carries the
// exact-type record, so neither a subclass instance nor a class condition
// of a real class can meet it.
//
// Budget: the folds' unions and intersections take their units from the
// conversion's window; the first failure makes the whole result none.
#include "core/descr/convert/builders.h"

#include <cmath>

#include "core/descr/lines/combine.h"
#include "core/descr/lines/universe.h"

namespace tessaron::descr {

namespace {

// An exact-type literal of slot `kind` holding `atom`.
Descr exact_literal(Kind kind, Atom atom) {
    Descr d;
    descr_of_atom(d, kind, std::move(atom), class_condition(exact_type_record(kind)));
    return d;
}

OptDescr fold(std::span<const ir::Node> members, Descr start, ConvertContext& ctx, std::uint32_t depth, SetOp op) {
    Descr acc = std::move(start);
    for (const ir::Node& member : members) {
        auto d = to_normal_form(member, ctx, depth);
        if (!d) return std::nullopt;
        auto next = descr_combine(acc, *d, op);
        if (!next) return std::nullopt;
        acc = std::move(*next);
    }
    return acc;
}

}  // namespace

OptDescr literal_descr(const ir::LeafInfo& info) {
    using Tag = ir::LeafInfo::Tag;
    switch (info.tag) {
        case Tag::None: return descr_of_kind(Kind::None);
        case Tag::Bool: {
            Descr d;
            descr_of_atom(d, Kind::Bool, TruthMask{static_cast<std::uint8_t>(info.bool_value ? 2 : 1)});
            return d;
        }
        case Tag::Int: return exact_literal(Kind::Int, int_set_singleton(info.int_value));
        case Tag::Float: {
            if (std::isnan(info.float_value)) return Descr{};
            const double x = info.float_value == 0.0 ? 0.0 : info.float_value;
            return exact_literal(Kind::Float, float_set_from_interval(FloatInterval{x, x, true, true}));
        }
        case Tag::Text: {
            const Kind kind = info.text_kind;
            if (kind != Kind::Str && kind != Kind::Bytes) return std::nullopt;
            SharedTextAutomaton a = literal_text_automaton(info.text);
            if (!a) return std::nullopt;
            return exact_literal(kind, std::move(a));
        }
        case Tag::Declined:
        case Tag::Class: break;
    }
    return std::nullopt;
}

OptDescr descr_union_fold(std::span<const ir::Node> members, Descr start, ConvertContext& ctx, std::uint32_t depth) {
    return fold(members, std::move(start), ctx, depth, SetOp::Union);
}

OptDescr descr_intersection_fold(std::span<const ir::Node> members, Descr start, ConvertContext& ctx,
                                 std::uint32_t depth) {
    return fold(members, std::move(start), ctx, depth, SetOp::Intersection);
}

Descr set_descr(const Descr& element, Kind kind) {
    SetItems items;
    items.items.push_back(SetItem{{}, SharedDescr::make(element)});
    Descr d;
    descr_of_atom(d, kind, std::move(items));
    return d;
}

Descr attribute_descr(const std::string& name, const Descr& value, bool optional) {
    Condition c;
    c.attributes.push_back(AttributeEntry{name, AttributeRequirement{SharedDescr::make(value), optional}});
    ConditionList list;
    list.conditions.push_back(std::move(c));
    return descr_of_conditions(list);
}

OptDescr attribute_fields_descr(std::span<const ir::RecordEntry> entries, Descr start, ConvertContext& ctx,
                                std::uint32_t depth) {
    Descr acc = std::move(start);
    for (const ir::RecordEntry& entry : entries) {
        auto value = to_normal_form(entry.value, ctx, depth);
        if (!value) return std::nullopt;
        auto next = descr_combine(acc, attribute_descr(std::string(entry.key_view()), *value, !entry.required),
                                  SetOp::Intersection);
        if (!next) return std::nullopt;
        acc = std::move(*next);
    }
    return acc;
}

}  // namespace tessaron::descr
