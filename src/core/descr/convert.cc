// Conversion of schema trees into descriptors (see convert.h).
//
// What it computes: for each node kind, the descriptor of the values the
// walk admits for it -- exactly, or no descriptor.  `int` admits bools;
// an instance of a class derived from a builtin type lives in that type's
// slot only, an instance of any other class in every slot, restricted by
// the class.
//
// Invariants: the counter is taken before anything else at every node, so
// one conversion visits at most 64 nodes; the depth is lowered by one for
// every child; the direction flips below a complement and nowhere else
// (every other kind is monotone in its children).  The thread's work budget is restored by `descr_of_node` on
// every way out.
//
// Budget: conversion itself takes no unit; the unions, intersections,
// complements and emptiness tests it runs take theirs from the window.
#include "core/descr/convert.h"

#include <algorithm>

#include "core/descr/budget.h"
#include "core/descr/combine.h"
#include "core/descr/complement.h"
#include "core/descr/emptiness.h"
#include "core/descr/leaf_builders.h"
#include "core/descr/refine.h"
#include "core/descr/universe.h"
#include "core/ir/resolve.h"
#include "core/ir/unfold.h"

namespace tessaron::descr {

namespace {

using ir::NodeKind;

OptDescr int_descr() {
    Descr d = descr_of_kind(2);
    d.slot(1).lines.push_back(universe_line(1));
    return d;
}

OptDescr literal_node_descr(const ir::Node& node, ConvertContext& ctx) {
    const ir::LeafInfo info = ctx.oracle.literal_info(node.pool_index());
    if (info.is_declined()) return std::nullopt;
    return literal_descr(info);
}

OptDescr instance_descr(const ir::Node& node, ConvertContext& ctx) {
    const ir::LeafInfo info = ctx.oracle.class_info(node.pool_index());
    if (!info.is_class()) return std::nullopt;
    const ClassRecord record = class_record(info);
    if (record.builtin_kind == kOtherCode) return descr_of_conditions(class_condition(record));
    Descr d;
    const KindCode kind = record.builtin_kind;
    d.slot(kind) = make_line(kind_top(kind), class_condition(record));
    return d;
}

OptDescr complement_descr(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    if (!node.inner()) return std::nullopt;
    ctx.direction ^= 1;
    auto inner = to_normal_form(*node.inner(), ctx, depth);
    ctx.direction ^= 1;
    if (!inner) return std::nullopt;
    return descr_complement(*inner);
}

OptDescr refined_node_descr(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    if (!node.inner()) return std::nullopt;
    return refined_descr(*node.inner(), ir::as_span(node.constraints), ctx, depth);
}

}  // namespace

OptDescr to_normal_form(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    if (ctx.counter <= 0) return std::nullopt;
    --ctx.counter;
    if (depth == 0) return std::nullopt;
    const std::uint32_t below = depth - 1;
    switch (node.kind) {
        case NodeKind::Anything: return descr_top();
        case NodeKind::Nothing: return Descr{};
        case NodeKind::None: return descr_of_kind(0);
        case NodeKind::Bool: return descr_of_kind(1);
        case NodeKind::Int: return int_descr();
        case NodeKind::Float: return descr_of_kind(3);
        case NodeKind::Str: return descr_of_kind(4);
        case NodeKind::Bytes: return descr_of_kind(5);
        case NodeKind::Literal: return literal_node_descr(node, ctx);
        case NodeKind::Sequence: return descr_of_sequence(node, ctx, below);
        case NodeKind::Set: return descr_of_set(node, ctx, below);
        case NodeKind::Mapping: return descr_of_mapping(node, ctx, below);
        case NodeKind::Union: return descr_union_fold(ir::as_span(node.members()), Descr{}, ctx, below);
        case NodeKind::Intersection: return descr_intersection_fold(ir::as_span(node.members()), descr_top(), ctx, below);
        case NodeKind::Complement: return complement_descr(node, ctx, below);
        case NodeKind::Instance: return instance_descr(node, ctx);
        case NodeKind::Object: return attribute_fields_descr(ir::as_span(node.entries), descr_top(), ctx, below);
        case NodeKind::Refined: return refined_node_descr(node, ctx, below);
        case NodeKind::BackEdge: return std::nullopt;
        case NodeKind::Placeholder: return std::nullopt;
    }
    return std::nullopt;
}

OptDescr descr_of_node(const ir::Node& node, std::span<const ir::Node> definitions, std::uint8_t polarity,
                       ir::Oracle& oracle, bool* inexact) {
    std::optional<ir::Node> unfolded;
    if (!definitions.empty() && ir::has_back_edges(node))
        unfolded = ir::unfold_recursion(node, definitions, 1, polarity);
    WorkWindow window(kWindowUnits);
    ConvertContext ctx{oracle, kConversionNodes, polarity, false};
    OptDescr d = to_normal_form(unfolded ? *unfolded : node, ctx, kConversionDepth);
    if (ctx.inexact) {
        if (!inexact) return std::nullopt;
        *inexact = true;
    }
    return d;
}

void descr_of_atom(Descr& d, KindCode code, Atom atom, ConditionList conditions) {
    d.slot(code) = make_line(std::move(atom), std::move(conditions));
}

KindSlot make_line(Atom atom, ConditionList conditions) {
    KindSlot slot;
    Line line{std::move(atom), std::move(conditions)};
    if (!line_is_empty(line)) slot.lines.push_back(std::move(line));
    return slot;
}

ConditionList class_condition(ClassRecord record) {
    ConditionList list;
    Condition c;
    c.classes.push_back(std::move(record));
    list.conditions.push_back(std::move(c));
    return list;
}

Descr descr_of_conditions(const ConditionList& list) {
    Descr d;
    for (std::size_t s = 0; s < kSlotCount; ++s) d.slots[s] = make_line(universe_atom(slot_code(s)), list);
    return d;
}

ClassRecord class_record(const ir::LeafInfo& info) {
    ClassRecord r;
    r.class_id = info.class_id;
    r.ancestor_ids = info.ancestor_ids;
    if (std::find(r.ancestor_ids.begin(), r.ancestor_ids.end(), r.class_id) == r.ancestor_ids.end())
        r.ancestor_ids.push_back(r.class_id);
    std::sort(r.ancestor_ids.begin(), r.ancestor_ids.end());
    r.ancestor_ids.erase(std::unique(r.ancestor_ids.begin(), r.ancestor_ids.end()), r.ancestor_ids.end());
    r.base_position = info.base_position;
    r.builtin_kind = ir::kind_code(info.builtin_kind);
    return r;
}

}  // namespace tessaron::descr
