// Satisfiability, pruning and products of conditions (see conditions.h).
//
// What it computes: the proofs that a condition cannot hold, the
// simplifications that keep condition lists short and canonical, and the
// pairwise meet of two positive lists (a union of conjunctions met with
// another is the union of the pairwise conjunctions).
//
// Invariants: class sets stay ordered by class id and attribute maps by
// name; a pruned list holds no condition proved unsatisfiable and no two
// equal conditions, and is sorted.
//
// Budget: one failing unit per pair of a product; pruning before a pair
// whenever more than `kCompactAbove` conditions were gathered, so a
// product never holds more than `kMaxTerms` + 1; the nested emptiness tests of attribute values take
// their own units.
#include "core/descr/lines/conditions.h"

#include <algorithm>
#include <cassert>

#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/lines/order.h"
#include "core/descr/term_union.h"

namespace tessaron::descr {

namespace {

bool excludes_an_ancestor(const Condition& c) {
    for (const ClassRecord& required : c.classes)
        for (const ClassRecord& excluded : c.excluded_classes)
            if (required.has_ancestor(excluded.class_id)) return true;
    return false;
}

bool incompatible_bases(const Condition& c) {
    for (const ClassRecord& x : c.classes)
        for (const ClassRecord& y : c.classes) {
            if (x.builtin_kind == Kind::Other || y.builtin_kind == Kind::Other || x.builtin_kind == y.builtin_kind) continue;
            if (!x.has_ancestor(y.class_id) && !y.has_ancestor(x.class_id)) return true;
        }
    return false;
}

bool exact_type_beside_a_class(const Condition& c) {
    if (c.classes.size() < 2) return false;
    return std::any_of(c.classes.begin(), c.classes.end(), is_exact_type_record);
}

bool has_exact_type(const Condition& c) {
    return std::any_of(c.classes.begin(), c.classes.end(), is_exact_type_record);
}

// Values of the None and bool kinds have no subclasses, and exact-type
// values no attributes of their own: attributes there are fixed.
bool fixed_attributes(const Condition& c, std::optional<Kind> slot) {
    return (slot && (*slot == Kind::None || *slot == Kind::Bool)) || has_exact_type(c);
}

}  // namespace

ir::Emptiness condition_verdict(const Condition& c, std::optional<Kind> slot) {
    if (excludes_an_ancestor(c) || incompatible_bases(c) || exact_type_beside_a_class(c))
        return ir::Emptiness::Empty;
    bool possible = c.classes.size() > 1;
    for (const AttributeEntry& a : c.attributes) {
        if (a.requirement.optional || !a.requirement.value) continue;
        const ir::Emptiness e = descr_verdict(*a.requirement.value);
        if (e == ir::Emptiness::Empty) return ir::Emptiness::Empty;
        if (e == ir::Emptiness::Undecided) possible = true;
    }
    if (slot) {
        for (const ClassRecord& r : c.classes)
            if (r.builtin_kind != *slot) possible = true;
        if (!c.attributes.empty() && fixed_attributes(c, slot)) possible = true;
    }
    return possible ? ir::Emptiness::Undecided : ir::Emptiness::Inhabited;
}

std::optional<std::vector<Condition>> prune_conditions(std::vector<Condition> conditions) {
    std::vector<Condition> kept;
    for (Condition& c : conditions) {
        std::erase_if(c.attributes,
                      [](const AttributeEntry& a) { return a.requirement.optional && !a.requirement.value; });
        {
            const std::vector<ClassRecord> all = c.classes;
            std::erase_if(c.classes, [&](const ClassRecord& r) {
                return std::any_of(all.begin(), all.end(), [&](const ClassRecord& other) {
                    return other.class_id != r.class_id && other.has_ancestor(r.class_id);
                });
            });
        }
        {
            const std::vector<ClassRecord> all = c.excluded_classes;
            std::erase_if(c.excluded_classes, [&](const ClassRecord& r) {
                return std::any_of(all.begin(), all.end(), [&](const ClassRecord& other) {
                    return other.class_id != r.class_id && r.has_ancestor(other.class_id);
                });
            });
        }
        if (condition_verdict(c) == ir::Emptiness::Empty) continue;
        const bool duplicate =
            std::any_of(kept.begin(), kept.end(), [&](const Condition& k) { return condition_equal(k, c); });
        if (duplicate) continue;
        kept.push_back(std::move(c));
    }
    if (kept.size() > kMaxTerms) return std::nullopt;
    if (kept.size() >= 2) std::stable_sort(kept.begin(), kept.end(), condition_less);
    return kept;
}

std::optional<Condition> meet_conditions(const Condition& x, const Condition& y) {
    Condition m;
    m.attributes = x.attributes;
    for (const AttributeEntry& ya : y.attributes) {
        auto it = std::lower_bound(m.attributes.begin(), m.attributes.end(), ya.name,
                                   [](const AttributeEntry& e, const std::string& name) { return e.name < name; });
        if (it != m.attributes.end() && it->name == ya.name) {
            auto met = meet_optional_shared(it->requirement.value, ya.requirement.value);
            if (!met) return std::nullopt;
            it->requirement.value = std::move(*met);
            it->requirement.optional = it->requirement.optional && ya.requirement.optional;
        } else {
            m.attributes.insert(it, ya);
        }
    }
    m.classes = x.classes;
    for (const ClassRecord& r : y.classes) insert_class(m.classes, r);
    m.excluded_classes = x.excluded_classes;
    for (const ClassRecord& r : y.excluded_classes) insert_class(m.excluded_classes, r);
    assert(condition_is_normal(m));
    return m;
}

namespace {

// The empty condition: every value.
std::vector<Condition> every_condition() { return std::vector<Condition>(1); }

// Conditions as terms of the union algebra.
using ConditionTerms =
    TermFunctions<Condition, prune_conditions, meet_conditions, complement_condition, every_condition>;

}  // namespace

std::optional<std::vector<Condition>> product_condition_lists(const std::vector<Condition>& first,
                                                              const std::vector<Condition>& second) {
    return product_terms(ConditionTerms{}, first, second);
}

std::vector<Condition> complement_condition(const Condition& c) {
    std::vector<Condition> out;
    for (const AttributeEntry& a : c.attributes) {
        Condition reversed;
        AttributeRequirement r;
        r.value = a.requirement.value ? complement_shared_descr(a.requirement.value) : empty_descr();
        r.optional = !a.requirement.optional;
        reversed.attributes.push_back(AttributeEntry{a.name, std::move(r)});
        out.push_back(std::move(reversed));
    }
    for (const ClassRecord& r : c.classes) {
        Condition reversed;
        reversed.excluded_classes.push_back(r);
        out.push_back(std::move(reversed));
    }
    for (const ClassRecord& r : c.excluded_classes) {
        Condition reversed;
        reversed.classes.push_back(r);
        out.push_back(std::move(reversed));
    }
    return out;
}

std::optional<std::vector<Condition>> positive_conditions(const ConditionList& list) {
    return explicit_terms(ConditionTerms{}, SignedTerms<Condition>{list.conditions, list.negated});
}

std::optional<std::vector<Condition>> meet_condition_lists(const ConditionList& p, const ConditionList& q) {
    return meet_signed_terms(ConditionTerms{}, SignedTerms<Condition>{p.conditions, p.negated},
                             SignedTerms<Condition>{q.conditions, q.negated});
}

}  // namespace tessaron::descr
