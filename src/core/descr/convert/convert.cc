// Conversion of schema trees into descriptors (see convert.h).
//
// What it computes: for each node kind, the descriptor of the values the
// walk admits for it -- exactly, or no descriptor, or (marked bounded) a
// bound in the conversion's direction.  `int` admits bools; an instance of
// a class derived from a builtin type lives in that type's slot only, an
// instance of any other class in every slot, restricted by the class.  An
// enumeration whose instances are exactly its members holds their builtin
// contents only; one whose members do not settle its instances (a Flag's
// pseudo-members, a `_missing_` of its own, no member at all) is bounded:
// from above by any content, from below by its members'.
//
// Complements cost no depth: a run of complements is read as one sign
// (an even run cancels, so `~~x` converts as `x`), and only the node below
// it is converted, then complemented once when the sign is negative.  A
// union or intersection under a negative sign is folded positively and
// complemented as a whole rather than pushed down by De Morgan: the
// complement of a slot of several lines stays a flag that the route's own
// complement takes back without work, where the members' complements
// would have to be multiplied out.  A member of a union or intersection
// that is, below an even run of complements, a node of the same operation
// is folded into its parent at the parent's depth.
//
// Invariants: the counter is taken before anything else at every node
// visited (complements included), so one conversion visits at most
// `kConversionNodes` nodes, and a tree whose conversion would visit more
// (counted up to the cap over the children every conversion visits) is
// refused before any node is converted; the depth is lowered by one for
// every child of a node other than a complement, and not for a member
// folded into its parent; the direction flips below a complement and
// nowhere else (every other kind is monotone in its children), and is
// restored when the node's conversion ends.  The
// thread's work budget is restored by `descr_of_node` on every way out.
//
// Budget: conversion itself takes no unit; the unions, intersections,
// complements and emptiness tests it runs take theirs from the window.
#include "core/descr/convert/convert.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/convert/builders.h"
#include "core/descr/convert/refine.h"
#include "core/descr/lines/atoms.h"
#include "core/descr/lines/universe.h"
#include "core/descr/values/text_automaton.h"
#include "core/ir/resolve.h"
#include "core/ir/unfold.h"

namespace tessaron::descr {

namespace {

using ir::NodeKind;

OptDescr int_descr() {
    Descr d = descr_of_kind(Kind::Int);
    d.slot(Kind::Bool).lines.push_back(universe_line(Kind::Bool));
    return d;
}

OptDescr literal_node_descr(const ir::Node& node, ConvertContext& ctx) {
    const ir::LeafInfo info = ctx.oracle.literal_info(node.pool_index());
    if (info.is_declined()) return std::nullopt;
    return literal_descr(info);
}

// The instances of a class whatever their builtin content: those of a
// class derived from a builtin type in that type's slot, restricted by
// the class; those of any other class in every slot.
Descr instances_of_any_content(const ClassRecord& record) {
    if (record.builtin_kind == Kind::Other) return descr_of_conditions(class_condition(record));
    Descr d;
    const Kind kind = record.builtin_kind;
    d.slot(kind) = make_line(kind_top(kind), class_condition(record));
    return d;
}

// The atom of the builtin contents the oracle told for the members of a
// class of builtin kind `kind` (int, float, str or bytes); none for
// another kind or when a union of texts cannot be formed.
std::optional<Atom> member_contents(const ir::LeafInfo& info, Kind kind) {
    switch (kind) {
        case Kind::Int: {
            std::vector<IntInterval> points;
            for (const ir::LeafInfo& m : info.members)
                if (m.tag == ir::LeafInfo::Tag::Int) points.push_back(IntInterval{i128(m.int_value), i128(m.int_value)});
            IntSet s;
            s.residues = {interval_set_normalize(std::move(points))};
            return Atom(std::move(s));
        }
        case Kind::Float: {
            FloatSet s;
            for (const ir::LeafInfo& m : info.members) {
                if (m.tag != ir::LeafInfo::Tag::Float) continue;
                if (std::isnan(m.float_value))
                    s.nan = true;
                else
                    s.intervals.push_back(FloatInterval{m.float_value, m.float_value, true, true});
            }
            return Atom(normalize_float_intervals(std::move(s)));
        }
        case Kind::Str:
        case Kind::Bytes: {
            // No text at all to start with: every byte string refused.
            std::optional<Atom> acc = Atom(text_automaton_complement(bytes_universe()));
            for (const ir::LeafInfo& m : info.members) {
                if (m.tag != ir::LeafInfo::Tag::Text || m.text_kind != kind) continue;
                SharedTextAutomaton a = literal_text_automaton(m.text);
                if (!a) return std::nullopt;
                acc = combine_atoms(*acc, Atom(std::move(a)), SetOp::Union);
                if (!acc) return std::nullopt;
            }
            return acc;
        }
        default: return std::nullopt;
    }
}

// The instances of a class by the builtin contents the oracle tells
// (ir::LeafInfo::Instances).  Any content: exact.  Exactly the members':
// the line of their contents, restricted by the class, exact too.  At
// least the members': only bounds, marked so -- from above the instances
// of any content, from below the members told (none when their contents
// cannot be formed).  So an enumeration whose instances the members do
// not settle can prove an inclusion but never refutes one by a content no
// instance may have.
OptDescr instance_descr(const ir::Node& node, ConvertContext& ctx) {
    const ir::LeafInfo info = ctx.oracle.class_info(node.pool_index());
    if (!info.is_class()) return std::nullopt;
    const ClassRecord record = class_record(info);
    if (info.instances == ir::LeafInfo::Instances::Any) return instances_of_any_content(record);
    const Kind kind = record.builtin_kind;
    std::optional<Atom> listed = member_contents(info, kind);
    if (info.instances == ir::LeafInfo::Instances::Exactly && listed) {
        Descr d;
        d.slot(kind) = make_line(std::move(*listed), class_condition(record));
        return d;
    }
    ctx.bounded = true;
    if (ctx.direction == ir::Polarity::Above) return instances_of_any_content(record);
    Descr d;
    if (listed) d.slot(kind) = make_line(std::move(*listed), class_condition(record));
    return d;
}

OptDescr refined_node_descr(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    if (!node.inner()) return std::nullopt;
    return refined_descr(*node.inner(), ir::as_span(node.constraints), ctx, depth);
}

// Takes the counter's unit of every node from `node` down through the
// complements above the first other node, which it returns; each
// complement flips `negated` and the direction.  Null when the counter
// runs out or a complement has no inner node.
const ir::Node* peel_complements(const ir::Node* node, bool& negated, ConvertContext& ctx) {
    for (;;) {
        if (ctx.counter <= 0) return nullptr;
        --ctx.counter;
        if (node->kind != NodeKind::Complement) return node;
        if (!node->inner()) return nullptr;
        negated = !negated;
        ctx.direction = ir::flipped(ctx.direction);
        node = node->inner().get();
    }
}

bool is_connective(NodeKind kind) { return kind == NodeKind::Union || kind == NodeKind::Intersection; }

SetOp connective_op(NodeKind kind) { return kind == NodeKind::Intersection ? SetOp::Intersection : SetOp::Union; }

// Every node kind but union, intersection and complement, positively; its
// unit already taken.
OptDescr positive_form(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    const std::uint32_t below = depth - 1;
    switch (node.kind) {
        case NodeKind::Anything: return descr_top();
        case NodeKind::Nothing: return Descr{};
        case NodeKind::None: return descr_of_kind(Kind::None);
        case NodeKind::Bool: return descr_of_kind(Kind::Bool);
        case NodeKind::Int: return int_descr();
        case NodeKind::Float: return descr_of_kind(Kind::Float);
        case NodeKind::Str: return descr_of_kind(Kind::Str);
        case NodeKind::Bytes: return descr_of_kind(Kind::Bytes);
        case NodeKind::Literal: return literal_node_descr(node, ctx);
        case NodeKind::Sequence: return descr_of_sequence(node, ctx, below);
        case NodeKind::Set: return descr_of_set(node, ctx, below);
        case NodeKind::Mapping: return descr_of_mapping(node, ctx, below);
        case NodeKind::Instance: return instance_descr(node, ctx);
        case NodeKind::Object: return attribute_fields_descr(ir::as_span(node.entries), descr_top(), ctx, below);
        case NodeKind::Refined: return refined_node_descr(node, ctx, below);
        case NodeKind::Union:
        case NodeKind::Intersection:
        case NodeKind::Complement:
        case NodeKind::BackEdge:
        case NodeKind::Placeholder: return std::nullopt;
    }
    assert(false && "a NodeKind no case names");
    return std::nullopt;
}

bool fold_members(Descr& acc, std::span<const ir::Node> members, SetOp op, ConvertContext& ctx, std::uint32_t depth);

// The descriptor of a node that is no complement (its unit taken), or of
// its complement when `negated`: a union or intersection is folded
// positively and complemented once, which keeps the complement of a slot
// of several lines lazy (a flag that a second complement takes back).
OptDescr signed_form(const ir::Node& node, bool negated, ConvertContext& ctx, std::uint32_t depth) {
    if (depth == 0) return std::nullopt;
    OptDescr d;
    if (is_connective(node.kind)) {
        const SetOp op = connective_op(node.kind);
        Descr acc = op == SetOp::Intersection ? descr_top() : Descr{};
        if (fold_members(acc, ir::as_span(node.members()), op, ctx, depth - 1)) d = std::move(acc);
    } else {
        d = positive_form(node, ctx, depth);
    }
    if (!d || !negated) return d;
    return descr_complement(*d);
}

// Folds one member into `acc` by `op`; a member that is, below an even
// number of complements, a node of the operation itself has its own
// members folded in its place.
bool fold_member(Descr& acc, const ir::Node& member, SetOp op, ConvertContext& ctx, std::uint32_t depth) {
    const ir::Polarity direction = ctx.direction;
    bool negated = false;
    const ir::Node* node = peel_complements(&member, negated, ctx);
    bool ok = false;
    if (node && !negated && is_connective(node->kind) && connective_op(node->kind) == op) {
        ok = fold_members(acc, ir::as_span(node->members()), op, ctx, depth);
    } else if (node) {
        OptDescr d = signed_form(*node, negated, ctx, depth);
        OptDescr next = d ? descr_combine(acc, *d, op) : std::nullopt;
        if (next) {
            acc = std::move(*next);
            ok = true;
        }
    }
    ctx.direction = direction;
    return ok;
}

bool fold_members(Descr& acc, std::span<const ir::Node> members, SetOp op, ConvertContext& ctx, std::uint32_t depth) {
    for (const ir::Node& member : members)
        if (!fold_member(acc, member, op, ctx, depth)) return false;
    return true;
}

// Whether a conversion of `node` that succeeds can fit the counter: the
// nodes every such conversion visits, each taking a unit (the node, the
// inner node of a complement or refinement, the members of a union or
// intersection, the items and tail of a sequence, the element of a set;
// the children of records and objects are left out, so this is a lower
// bound), counted up to `kConversionNodes` + 1.  A union of more members
// than the counter allows fails at the counter whatever it converts
// first; this says so before any of its patterns is built.
bool may_fit_counter(const ir::Node& node) {
    std::int32_t visited = 0;
    std::vector<const ir::Node*> stack{&node};
    while (!stack.empty()) {
        const ir::Node* n = stack.back();
        stack.pop_back();
        if (++visited > kConversionNodes) return false;
        auto push = [&](const ir::SharedNode& child) {
            if (child) stack.push_back(child.get());
        };
        switch (n->kind) {
            case NodeKind::Union:
            case NodeKind::Intersection:
                for (const ir::Node& m : ir::as_span(n->members())) stack.push_back(&m);
                break;
            case NodeKind::Sequence:
                for (const ir::Node& item : ir::as_span(n->prefix())) stack.push_back(&item);
                push(n->tail());
                break;
            case NodeKind::Set: push(n->element()); break;
            case NodeKind::Complement:
            case NodeKind::Refined: push(n->inner()); break;
            default: break;
        }
    }
    return true;
}

}  // namespace

OptDescr to_normal_form(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    const ir::Polarity direction = ctx.direction;
    bool negated = false;
    const ir::Node* inner = peel_complements(&node, negated, ctx);
    OptDescr d = inner ? signed_form(*inner, negated, ctx, depth) : std::nullopt;
    ctx.direction = direction;
    return d;
}

OptDescr next_converted_node(std::span<const ir::Node>& rest, ConvertContext& ctx, std::uint32_t depth,
                             bool& failed) {
    if (failed || rest.empty()) return std::nullopt;
    OptDescr d = to_normal_form(rest.front(), ctx, depth);
    rest = rest.subspan(1);
    if (!d) failed = true;
    return d;
}

OptDescr descr_bound_of_node(const ir::Node& node, std::span<const ir::Node> definitions, ir::Polarity polarity,
                             ir::Oracle& oracle, bool& bounded) {
    std::optional<ir::Node> unfolded;
    if (!definitions.empty() && ir::has_back_edges(node))
        unfolded = ir::unfold_recursion(node, definitions, 1, polarity);
    const ir::Node& root = unfolded ? *unfolded : node;
    if (!may_fit_counter(root)) return std::nullopt;
    WorkWindow window(kWindowUnits);
    ConvertContext ctx{oracle, kConversionNodes, polarity, false};
    OptDescr d = to_normal_form(root, ctx, kConversionDepth);
    if (ctx.bounded) bounded = true;
    return d;
}

OptDescr descr_of_node(const ir::Node& node, std::span<const ir::Node> definitions, ir::Polarity polarity,
                       ir::Oracle& oracle) {
    bool bounded = false;
    OptDescr d = descr_bound_of_node(node, definitions, polarity, oracle, bounded);
    if (bounded) return std::nullopt;
    return d;
}

void descr_of_atom(Descr& d, Kind kind, Atom atom, ConditionList conditions) {
    d.slot(kind) = make_line(std::move(atom), std::move(conditions));
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
    assert(condition_is_normal(c));
    list.conditions.push_back(std::move(c));
    return list;
}

Descr descr_of_conditions(const ConditionList& list) {
    Descr d;
    for (const Kind k : ir::kKinds) d.slot(k) = make_line(universe_atom(k), list);
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
    r.builtin_kind = info.builtin_kind;
    return r;
}

}  // namespace tessaron::descr
