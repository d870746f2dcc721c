// A small oracle over plain test constants, standing in for the Python
// pool: numbers, texts, None, classes (with a builtin base, a plainness
// switch and ancestors) and opaque objects.  It answers the way the Python
// side does for builtin values, and declines what a real pool would
// decline (opaque objects, non-plain classes).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/decide/decision.h"
#include "core/ir/oracle.h"

namespace tessaron::decide::testing {

struct FakeConst {
    enum Type { None, Bool, Int, Float, Str, Bytes, Class, Opaque } type = Opaque;
    double number = 0;  // Bool, Int, Float
    std::string text;   // Str, Bytes
    // Class: the builtin kind it derives from (Other: none), whether its
    // metaclass is plain, and the pool indices of its ancestors (itself
    // included).
    Kind base_kind = Kind::Other;
    bool plain = true;
    std::set<std::uint64_t> ancestors;
    // The builtin kinds all of whose values are instances of the class
    // (int itself: bool and int; object: every kind).
    KindMask whole_kinds;
};

inline FakeConst make_const(FakeConst::Type type, double number = 0, std::string text = {}) {
    FakeConst c;
    c.type = type;
    c.number = number;
    c.text = std::move(text);
    return c;
}
inline FakeConst none_c() { return make_const(FakeConst::None); }
inline FakeConst bool_c(bool b) { return make_const(FakeConst::Bool, b ? 1.0 : 0.0); }
inline FakeConst int_c(double v) { return make_const(FakeConst::Int, v); }
inline FakeConst float_c(double v) { return make_const(FakeConst::Float, v); }
inline FakeConst str_c(std::string s) { return make_const(FakeConst::Str, 0, std::move(s)); }
inline FakeConst opaque_c() { return make_const(FakeConst::Opaque); }
inline FakeConst class_c(Kind base_kind, std::set<std::uint64_t> ancestors, bool plain = true,
                         KindMask whole_kinds = {}) {
    FakeConst c = make_const(FakeConst::Class);
    c.base_kind = base_kind;
    c.plain = plain;
    c.ancestors = std::move(ancestors);
    c.whole_kinds = std::move(whole_kinds);
    return c;
}

class FakeOracle : public Oracle {
public:
    explicit FakeOracle(std::vector<FakeConst> pool) : pool(std::move(pool)) {}
    std::vector<FakeConst> pool;
    int calls = 0;

    const FakeConst* at(std::uint64_t i) const { return i < pool.size() ? &pool[i] : nullptr; }
    static bool numeric(const FakeConst* c) {
        return c && (c->type == FakeConst::Bool || c->type == FakeConst::Int || c->type == FakeConst::Float);
    }
    static bool textual(const FakeConst* c) { return c && (c->type == FakeConst::Str || c->type == FakeConst::Bytes); }

    LeafInfo info(std::uint64_t i) {
        ++calls;
        const FakeConst* c = at(i);
        LeafInfo out;
        if (!c) return out;
        switch (c->type) {
            case FakeConst::None: out.tag = LeafInfo::Tag::None; break;
            case FakeConst::Bool: out.tag = LeafInfo::Tag::Bool; out.bool_value = c->number != 0; break;
            case FakeConst::Int: out.tag = LeafInfo::Tag::Int; out.int_value = static_cast<std::int64_t>(c->number); break;
            case FakeConst::Float: out.tag = LeafInfo::Tag::Float; out.float_value = c->number; break;
            case FakeConst::Str:
            case FakeConst::Bytes:
                out.tag = LeafInfo::Tag::Text;
                out.text = c->text;
                out.text_kind = c->type == FakeConst::Str ? Kind::Str : Kind::Bytes;
                break;
            default: break;
        }
        return out;
    }
    LeafInfo bound_info(std::uint64_t i) override { return info(i); }
    LeafInfo literal_info(std::uint64_t i) override { return info(i); }
    // A plain class's record: its pool index as class id, its ancestors'
    // indices, its builtin base.  Non-plain classes and non-classes are
    // declined, as the pool oracle declines them.
    LeafInfo class_info(std::uint64_t i) override {
        ++calls;
        const FakeConst* c = at(i);
        if (!c || c->type != FakeConst::Class || !c->plain) return LeafInfo::declined();
        LeafInfo out;
        out.tag = LeafInfo::Tag::Class;
        out.class_id = static_cast<std::uint32_t>(i);
        out.ancestor_ids.assign(c->ancestors.begin(), c->ancestors.end());
        out.builtin_kind = c->base_kind;
        return out;
    }

    Answer leaf_relation(const ir::Node& leaf, const ir::Node& node) override {
        ++calls;
        if (leaf.kind == ir::NodeKind::Literal) return literal_in_scalar(leaf.pool_index(), node);
        if (leaf.kind != ir::NodeKind::Instance || node.kind != ir::NodeKind::Instance) return Answer::Declined;
        const FakeConst* a = at(leaf.pool_index());
        const FakeConst* b = at(node.pool_index());
        if (!a || !b || a->type != FakeConst::Class || b->type != FakeConst::Class || !a->plain || !b->plain)
            return Answer::Declined;
        return a->ancestors.count(node.pool_index()) ? Answer::Yes : Answer::No;
    }

    // The membership walk of a constant, for scalar nodes only.
    Answer literal_in_scalar(std::uint64_t i, const ir::Node& node) {
        const std::optional<Kind> k = constant_kind(i);
        if (!k) return Answer::Declined;
        switch (node.kind) {
            case ir::NodeKind::Anything: return Answer::Yes;
            case ir::NodeKind::None: return k == Kind::None ? Answer::Yes : Answer::No;
            case ir::NodeKind::Bool: return k == Kind::Bool ? Answer::Yes : Answer::No;
            case ir::NodeKind::Int: return ir::is_integral_kind(*k) ? Answer::Yes : Answer::No;
            case ir::NodeKind::Float: return k == Kind::Float ? Answer::Yes : Answer::No;
            case ir::NodeKind::Str: return k == Kind::Str ? Answer::Yes : Answer::No;
            case ir::NodeKind::Bytes: return k == Kind::Bytes ? Answer::Yes : Answer::No;
            case ir::NodeKind::Literal: {
                const FakeConst* a = at(i);
                const FakeConst* b = at(node.pool_index());
                return a && b && a->type == b->type && equal(a, b) == 1 ? Answer::Yes : Answer::No;
            }
            default: return Answer::Declined;
        }
    }

    Order compare(std::uint64_t i, std::uint64_t j) override {
        ++calls;
        const FakeConst* a = at(i);
        const FakeConst* b = at(j);
        if (numeric(a) && numeric(b)) {
            if (std::isnan(a->number) || std::isnan(b->number)) return Order::Declined;
            return a->number == b->number ? Order::Equal : a->number < b->number ? Order::Less : Order::Greater;
        }
        if (textual(a) && textual(b) && a->type == b->type)
            return a->text == b->text ? Order::Equal : a->text < b->text ? Order::Less : Order::Greater;
        return Order::Declined;
    }

    // Python equality of two constants (1 == 1.0 == True).
    int equal(const FakeConst* a, const FakeConst* b) {
        if (!a || !b) return -1;
        if (numeric(a) && numeric(b)) return a->number == b->number;
        if (a->type == FakeConst::Opaque || b->type == FakeConst::Opaque) return -1;
        if (a->type != b->type) return 0;
        if (a->type == FakeConst::None) return 1;
        return a->text == b->text;
    }

    Answer literal_sets_disjoint(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) override {
        ++calls;
        for (std::uint64_t i : a)
            for (std::uint64_t j : b) {
                const int e = equal(at(i), at(j));
                if (e < 0) return Answer::Declined;
                if (e) return Answer::No;
            }
        return Answer::Yes;
    }

    Answer integer_interval_empty(std::uint64_t lo, bool lo_ex, std::uint64_t hi, bool hi_ex) override {
        ++calls;
        const FakeConst* a = at(lo);
        const FakeConst* b = at(hi);
        if (!numeric(a) || !numeric(b) || !std::isfinite(a->number) || !std::isfinite(b->number)) return Answer::Declined;
        const double least = lo_ex ? std::floor(a->number) + 1 : std::ceil(a->number);
        const double greatest = hi_ex ? std::ceil(b->number) - 1 : std::floor(b->number);
        return least > greatest ? Answer::Yes : Answer::No;
    }

    Answer divides(std::uint64_t divisor, std::uint64_t dividend) override {
        ++calls;
        const FakeConst* d = at(divisor);
        const FakeConst* n = at(dividend);
        if (!numeric(d) || !numeric(n) || d->number == 0) return Answer::Declined;
        return std::fmod(n->number, d->number) == 0 ? Answer::Yes : Answer::No;
    }

    Answer class_atom_is_plain(const ir::Node& instance) override {
        ++calls;
        const FakeConst* c = instance.kind == ir::NodeKind::Instance ? at(instance.pool_index()) : nullptr;
        if (!c || c->type != FakeConst::Class) return Answer::Declined;
        return c->plain ? Answer::Yes : Answer::No;
    }

    std::optional<Kind> constant_kind(std::uint64_t i) override {
        const FakeConst* c = at(i);
        if (!c) return std::nullopt;
        switch (c->type) {
            case FakeConst::None: return Kind::None;
            case FakeConst::Bool: return Kind::Bool;
            case FakeConst::Int: return Kind::Int;
            case FakeConst::Float: return Kind::Float;
            case FakeConst::Str: return Kind::Str;
            case FakeConst::Bytes: return Kind::Bytes;
            default: return std::nullopt;
        }
    }

    const FakeConst* plain_class(std::uint64_t i) const {
        const FakeConst* c = at(i);
        return c && c->type == FakeConst::Class && c->plain ? c : nullptr;
    }

    Answer class_overlaps_kind(std::uint64_t i, Kind k) override {
        const FakeConst* c = plain_class(i);
        if (!c || c->base_kind == Kind::Other) return Answer::Declined;
        return k == c->base_kind || (k == Kind::Bool && c->base_kind == Kind::Int) ? Answer::Yes : Answer::No;
    }
    Answer class_produces_kind(std::uint64_t i, Kind k) override {
        const FakeConst* c = plain_class(i);
        if (!c) return Answer::Declined;
        if (c->base_kind == Kind::Other) return Answer::No;
        return k == c->base_kind || (k == Kind::Bool && c->base_kind == Kind::Int) ? Answer::Yes : Answer::No;
    }
    Answer kind_within_class(Kind k, std::uint64_t i) override {
        const FakeConst* c = plain_class(i);
        if (!c || k == Kind::None) return Answer::Declined;
        return c->whole_kinds.contains(k) ? Answer::Yes : Answer::No;
    }

    Answer literals_distinct(std::uint64_t i, std::uint64_t j) override {
        ++calls;
        const FakeConst* a = at(i);
        const FakeConst* b = at(j);
        if (!a || !b) return Answer::Declined;
        if (a->type != b->type) return Answer::Yes;
        const int e = equal(a, b);
        if (e < 0) return Answer::Declined;
        return e ? Answer::No : Answer::Yes;
    }
};

}  // namespace tessaron::decide::testing
