// A small oracle over plain test constants, standing in for the Python
// pool: numbers, texts, None, classes (with a builtin base, a plainness
// switch and ancestors) and opaque objects.  It answers the way the Python
// side does for builtin values, and declines what a real pool would
// decline (opaque objects, non-plain classes).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "core/decide/oracle.h"

namespace tessaron::decide::testing {

struct FakeConst {
    enum Type { None, Bool, Int, Float, Str, Bytes, Class, Opaque } type = Opaque;
    double number = 0;  // Bool, Int, Float
    std::string text;   // Str, Bytes
    // Class: the builtin kind it derives from (kNoKind: none), whether its
    // metaclass is plain, and the pool indices of its ancestors (itself
    // included).
    std::uint8_t base_kind = kNoKind;
    bool plain = true;
    std::set<std::uint64_t> ancestors;
    // The builtin kinds all of whose values are instances of the class
    // (int itself: bool and int; object: every kind).
    std::set<std::uint8_t> whole_kinds;
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
inline FakeConst class_c(std::uint8_t base_kind, std::set<std::uint64_t> ancestors, bool plain = true,
                         std::set<std::uint8_t> whole_kinds = {}) {
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
            case FakeConst::None: out.tag = LeafInfo::kNone; break;
            case FakeConst::Bool: out.tag = LeafInfo::kBool; out.bool_value = c->number != 0; break;
            case FakeConst::Int: out.tag = LeafInfo::kInt; out.int_value = static_cast<std::int64_t>(c->number); break;
            case FakeConst::Float: out.tag = LeafInfo::kFloat; out.float_value = c->number; break;
            case FakeConst::Str:
            case FakeConst::Bytes:
                out.tag = LeafInfo::kText;
                out.text = c->text;
                out.text_kind = c->type == FakeConst::Str ? kKindStr : kKindBytes;
                break;
            default: break;
        }
        return out;
    }
    LeafInfo bound_info(std::uint64_t i) override { return info(i); }
    LeafInfo literal_info(std::uint64_t i) override { return info(i); }
    LeafInfo class_info(std::uint64_t) override { return LeafInfo::declined(); }

    std::uint8_t leaf_relation(const ir::Node& leaf, const ir::Node& node) override {
        ++calls;
        if (leaf.kind == ir::NodeKind::Literal) return literal_in_scalar(leaf.pool_index(), node);
        if (leaf.kind != ir::NodeKind::Instance || node.kind != ir::NodeKind::Instance) return kDeclined;
        const FakeConst* a = at(leaf.pool_index());
        const FakeConst* b = at(node.pool_index());
        if (!a || !b || a->type != FakeConst::Class || b->type != FakeConst::Class || !a->plain || !b->plain)
            return kDeclined;
        return a->ancestors.count(node.pool_index()) ? kYes : kNo;
    }

    // The membership walk of a constant, for scalar nodes only.
    std::uint8_t literal_in_scalar(std::uint64_t i, const ir::Node& node) {
        const std::uint8_t k = constant_kind(i);
        if (k == kNoKind) return kDeclined;
        switch (node.kind) {
            case ir::NodeKind::Anything: return kYes;
            case ir::NodeKind::None: return k == kKindNone ? kYes : kNo;
            case ir::NodeKind::Bool: return k == kKindBool ? kYes : kNo;
            case ir::NodeKind::Int: return k == kKindBool || k == kKindInt ? kYes : kNo;
            case ir::NodeKind::Float: return k == kKindFloat ? kYes : kNo;
            case ir::NodeKind::Str: return k == kKindStr ? kYes : kNo;
            case ir::NodeKind::Bytes: return k == kKindBytes ? kYes : kNo;
            case ir::NodeKind::Literal: {
                const FakeConst* a = at(i);
                const FakeConst* b = at(node.pool_index());
                return a && b && a->type == b->type && equal(a, b) == 1 ? kYes : kNo;
            }
            default: return kDeclined;
        }
    }

    std::int8_t compare(std::uint64_t i, std::uint64_t j) override {
        ++calls;
        const FakeConst* a = at(i);
        const FakeConst* b = at(j);
        if (numeric(a) && numeric(b)) {
            if (std::isnan(a->number) || std::isnan(b->number)) return kCompareDeclined;
            return a->number == b->number ? 0 : a->number < b->number ? -1 : 1;
        }
        if (textual(a) && textual(b) && a->type == b->type) return a->text == b->text ? 0 : a->text < b->text ? -1 : 1;
        return kCompareDeclined;
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

    std::uint8_t literal_sets_disjoint(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) override {
        ++calls;
        for (std::uint64_t i : a)
            for (std::uint64_t j : b) {
                const int e = equal(at(i), at(j));
                if (e < 0) return kDeclined;
                if (e) return kNo;
            }
        return kYes;
    }

    std::uint8_t integer_interval_empty(std::uint64_t lo, bool lo_ex, std::uint64_t hi, bool hi_ex) override {
        ++calls;
        const FakeConst* a = at(lo);
        const FakeConst* b = at(hi);
        if (!numeric(a) || !numeric(b) || !std::isfinite(a->number) || !std::isfinite(b->number)) return kDeclined;
        const double least = lo_ex ? std::floor(a->number) + 1 : std::ceil(a->number);
        const double greatest = hi_ex ? std::ceil(b->number) - 1 : std::floor(b->number);
        return least > greatest ? kYes : kNo;
    }

    std::uint8_t divides(std::uint64_t divisor, std::uint64_t dividend) override {
        ++calls;
        const FakeConst* d = at(divisor);
        const FakeConst* n = at(dividend);
        if (!numeric(d) || !numeric(n) || d->number == 0) return kDeclined;
        return std::fmod(n->number, d->number) == 0 ? kYes : kNo;
    }

    std::uint8_t class_atom_is_plain(const ir::Node& instance) override {
        ++calls;
        const FakeConst* c = instance.kind == ir::NodeKind::Instance ? at(instance.pool_index()) : nullptr;
        if (!c || c->type != FakeConst::Class) return kDeclined;
        return c->plain ? kYes : kNo;
    }

    std::uint8_t constant_kind(std::uint64_t i) override {
        const FakeConst* c = at(i);
        if (!c) return kNoKind;
        switch (c->type) {
            case FakeConst::None: return kKindNone;
            case FakeConst::Bool: return kKindBool;
            case FakeConst::Int: return kKindInt;
            case FakeConst::Float: return kKindFloat;
            case FakeConst::Str: return kKindStr;
            case FakeConst::Bytes: return kKindBytes;
            default: return kNoKind;
        }
    }

    const FakeConst* plain_class(std::uint64_t i) const {
        const FakeConst* c = at(i);
        return c && c->type == FakeConst::Class && c->plain ? c : nullptr;
    }

    std::uint8_t class_overlaps_kind(std::uint64_t i, std::uint8_t k) override {
        const FakeConst* c = plain_class(i);
        if (!c || c->base_kind == kNoKind) return kDeclined;
        return k == c->base_kind || (k == kKindBool && c->base_kind == kKindInt) ? kYes : kNo;
    }
    std::uint8_t class_produces_kind(std::uint64_t i, std::uint8_t k) override {
        const FakeConst* c = plain_class(i);
        if (!c) return kDeclined;
        if (c->base_kind == kNoKind) return kNo;
        return k == c->base_kind || (k == kKindBool && c->base_kind == kKindInt) ? kYes : kNo;
    }
    std::uint8_t kind_within_class(std::uint8_t k, std::uint64_t i) override {
        const FakeConst* c = plain_class(i);
        if (!c || k == kKindNone) return kDeclined;
        return c->whole_kinds.count(k) ? kYes : kNo;
    }

    std::uint8_t literals_distinct(std::uint64_t i, std::uint64_t j) override {
        ++calls;
        const FakeConst* a = at(i);
        const FakeConst* b = at(j);
        if (!a || !b) return kDeclined;
        if (a->type != b->type) return kYes;
        const int e = equal(a, b);
        if (e < 0) return kDeclined;
        return e ? kNo : kYes;
    }
};

}  // namespace tessaron::decide::testing
