// The key domain of a clause's key schema (see key_domain.h).
//
// What it computes: one case per node kind; a union concatenates its
// members' keys and kinds and fails with the first member that fails.
//
// Budget: no work unit; one unit of the node counter per node read, so a
// union of many literal keys is bounded like any other conversion.
#include "core/descr/convert/key_domain.h"

namespace tessaron::descr {

namespace {

using ir::NodeKind;

std::optional<LiteralKey> literal_key(const ir::Node& node, ConvertContext& ctx) {
    const ir::LeafInfo info = ctx.oracle.literal_info(node.pool_index());
    LiteralKey k;
    switch (info.tag) {
        case ir::LeafInfo::Tag::None: return k;
        case ir::LeafInfo::Tag::Bool:
            k.tag = LiteralKey::Tag::Bool;
            k.number = info.bool_value ? 1 : 0;
            return k;
        case ir::LeafInfo::Tag::Int:
            k.tag = LiteralKey::Tag::Int;
            k.number = info.int_value;
            return k;
        case ir::LeafInfo::Tag::Text:
            k.tag = LiteralKey::Tag::Text;
            k.bytes = info.text;
            k.kind = info.text_kind;
            if (k.kind != Kind::Str && k.kind != Kind::Bytes) return std::nullopt;
            return k;
        case ir::LeafInfo::Tag::Float:
        case ir::LeafInfo::Tag::Class:
        case ir::LeafInfo::Tag::Declined: break;
    }
    return std::nullopt;
}

// Every kind a key may have, in key class order.
bool every_key_kind(KeyDomain& out) {
    for (const KeyClass c : kKeyClasses) out.kinds.push_back(kind_of_key_class(c));
    return true;
}

// A key schema the domain cannot hold, bounded in the conversion's
// direction: from above the keys of `kind` (the builtin kind an instance's
// class derives from), or every key a dict may have, so that the clause
// admits more dicts than the walk; from below no key (fewer: the clause is
// left out).  Either way the result is marked bounded.
bool bound_domain(ConvertContext& ctx, KeyDomain& out, std::optional<Kind> kind = std::nullopt) {
    ctx.bounded = true;
    if (ctx.direction == ir::Polarity::Below) return true;
    if (kind) {
        out.kinds.push_back(*kind);
    } else {
        every_key_kind(out);
    }
    return true;
}

// The key kind of the instances of a class derived from a builtin kind
// that keys may have; none for any other class (its instances may be of
// every kind).
std::optional<Kind> instance_key_kind(const ir::Node& node, ConvertContext& ctx) {
    const ir::LeafInfo info = ctx.oracle.class_info(node.pool_index());
    if (!info.is_class()) return std::nullopt;
    const Kind kind = info.builtin_kind;
    switch (kind) {
        case Kind::Int:
        case Kind::Float:
        case Kind::Str:
        case Kind::Bytes:
        case Kind::Tuple:
        case Kind::Frozenset: return kind;
        default: return std::nullopt;
    }
}

bool add_domain(const ir::Node& node, ConvertContext& ctx, KeyDomain& out) {
    if (ctx.counter <= 0) return false;
    --ctx.counter;
    auto kinds = [&](std::initializer_list<Kind> added) {
        out.kinds.insert(out.kinds.end(), added);
        return true;
    };
    switch (node.kind) {
        case NodeKind::Anything: return every_key_kind(out);
        case NodeKind::Nothing: return true;
        case NodeKind::None: return kinds({Kind::None});
        case NodeKind::Bool: return kinds({Kind::Bool});
        case NodeKind::Int: return kinds({Kind::Int, Kind::Bool});
        case NodeKind::Float: return kinds({Kind::Float});
        case NodeKind::Str: return kinds({Kind::Str});
        case NodeKind::Bytes: return kinds({Kind::Bytes});
        case NodeKind::Literal: {
            auto k = literal_key(node, ctx);
            if (!k) return bound_domain(ctx, out);
            out.keys.push_back(std::move(*k));
            return true;
        }
        case NodeKind::Union:
            for (const ir::Node& member : ir::as_span(node.members()))
                if (!add_domain(member, ctx, out)) return false;
            return true;
        case NodeKind::Instance: return bound_domain(ctx, out, instance_key_kind(node, ctx));
        case NodeKind::BackEdge:
        case NodeKind::Placeholder: return false;
        default: return bound_domain(ctx, out);
    }
}

}  // namespace

std::optional<KeyDomain> key_domain(const ir::Node& key, ConvertContext& ctx) {
    KeyDomain out;
    if (!add_domain(key, ctx, out)) return std::nullopt;
    return out;
}

}  // namespace tessaron::descr
