// Set-item products, normal forms and explicit forms (see
// set_item_algebra.h).
//
// What it computes: item lists denoting exactly the sets their operations
// describe, in a normal form: entries narrowed to the element, maximal,
// sorted; no item proved empty; no two equal items; items sorted.
//
// Invariants: inputs are only read; a failure discards everything built.
// An item is dropped only on a proof that it is empty (its element lies
// within one of its entries), an entry only on a proof that a retained
// entry contains it.
//
// Budget: one failing unit per pair of a product, and what the meets and
// containment tests take; an exhausted budget fails products and meets,
// and leaves containment undecided.
#include "core/descr/sets/set_item_algebra.h"

#include <algorithm>
#include <cassert>

#include "core/descr/nested.h"
#include "core/descr/descr.h"
#include "core/descr/term_union.h"

namespace tessaron::descr {

namespace {

using Items = std::vector<SetItem>;

bool within(const SharedDescr& inner, const SharedDescr& outer) {
    return shared_descr_subset(inner, outer) == ir::Decision::Subset;
}

bool entry_less(const SharedDescr& a, const SharedDescr& b) { return cmp_optional_descr(a, b) < 0; }
bool item_less(const SetItem& a, const SetItem& b) { return cmp_set_item(a, b) < 0; }

// The item in normal form, or none when it is proved empty; false on a
// failed meet.
bool normalize_item(SetItem& item, bool& empty) {
    std::vector<SharedDescr> retained;
    for (const SharedDescr& r : item.not_within) {
        auto narrowed = meet_optional_shared(r, item.element);
        if (!narrowed) return false;
        const SharedDescr entry = std::move(*narrowed);
        if (std::any_of(retained.begin(), retained.end(), [&](const SharedDescr& k) { return within(entry, k); }))
            continue;
        std::erase_if(retained, [&](const SharedDescr& k) { return within(k, entry); });
        retained.push_back(entry);
    }
    std::stable_sort(retained.begin(), retained.end(), entry_less);
    item.not_within = std::move(retained);
    empty = std::any_of(item.not_within.begin(), item.not_within.end(),
                        [&](const SharedDescr& k) { return within(item.element, k); });
    return true;
}

}  // namespace

std::optional<Items> normalize_set_items(Items items) {
    Items out;
    for (SetItem& item : items) {
        bool empty = false;
        if (!normalize_item(item, empty)) return std::nullopt;
        if (empty) continue;
        if (std::any_of(out.begin(), out.end(), [&](const SetItem& k) { return set_item_equal(k, item); })) continue;
        out.push_back(std::move(item));
    }
    if (out.size() > kMaxTerms) return std::nullopt;
    std::stable_sort(out.begin(), out.end(), item_less);
    assert(set_items_are_normal(out));
    return out;
}

namespace {

// The item demanding what both demand of elements in both elements; none
// when the elements fail to meet.
std::optional<SetItem> meet_set_items(const SetItem& x, const SetItem& y) {
    SetItem item;
    item.not_within = x.not_within;
    item.not_within.insert(item.not_within.end(), y.not_within.begin(), y.not_within.end());
    auto element = meet_optional_shared(x.element, y.element);
    if (!element) return std::nullopt;
    item.element = std::move(*element);
    return item;
}

std::vector<SetItem> every_set() { return set_items_universe().items; }

// Set items as terms of the union algebra.
using SetItemTerms =
    TermFunctions<SetItem, normalize_set_items, meet_set_items, set_item_complement_terms, every_set>;

SignedTerms<SetItem> signed_items(const SetItems& atom) { return {atom.items, atom.negated}; }

}  // namespace

std::optional<Items> product_set_items(const Items& first, const Items& second) {
    return product_terms(SetItemTerms{}, first, second);
}

std::optional<Items> meet_set_item_slots(const SetItems& first, const SetItems& second) {
    return meet_signed_terms(SetItemTerms{}, signed_items(first), signed_items(second));
}

std::optional<SetItems> join_set_items(const SetItems& first, const SetItems& second) {
    auto joined = join_signed_terms(SetItemTerms{}, signed_items(first), signed_items(second));
    if (!joined) return std::nullopt;
    return SetItems{std::move(joined->first), joined->second};
}

std::optional<Items> positive_set_items(const SetItems& atom) {
    return explicit_terms(SetItemTerms{}, signed_items(atom));
}

SetItems set_item_list_complement(const SetItems& atom) {
    auto [items, negated] = flip_terms(SetItemTerms{}, signed_items(atom));
    return SetItems{std::move(items), negated};
}

}  // namespace tessaron::descr
