// Set items: universe, complement terms, equality, order.  Products,
// normal forms and explicit forms live in set_item_algebra.cc.
#include "core/descr/sets/set_items.h"

#include <algorithm>

#include "core/descr/nested.h"

namespace tessaron::descr {

SetItems set_items_universe() {
    SetItems a;
    a.items.emplace_back();
    return a;
}

bool set_items_is_universe(const SetItems& a) {
    return !a.negated && a.items.size() == 1 && a.items[0].not_within.empty() && !a.items[0].element;
}

bool set_items_is_trivially_empty(const SetItems& a) {
    if (!a.negated) return a.items.empty();
    return std::any_of(a.items.begin(), a.items.end(),
                       [](const SetItem& i) { return i.not_within.empty() && !i.element; });
}

std::vector<SetItem> set_item_complement_terms(const SetItem& item) {
    std::vector<SetItem> out;
    SetItem outside;
    outside.not_within.push_back(item.element);
    out.push_back(std::move(outside));
    for (const SharedDescr& r : item.not_within) {
        SetItem within;
        within.element = r;
        out.push_back(std::move(within));
    }
    return out;
}

bool set_item_equal(const SetItem& a, const SetItem& b) {
    return optional_descr_equal(a.element, b.element) && lists_equal(a.not_within, b.not_within, optional_descr_equal);
}

bool set_items_equal(const SetItems& a, const SetItems& b) {
    return a.negated == b.negated && lists_equal(a.items, b.items, set_item_equal);
}

std::strong_ordering cmp_set_item(const SetItem& a, const SetItem& b) {
    if (auto c = cmp_optional_descr(a.element, b.element); c != 0) return c;
    return cmp_lists(a.not_within, b.not_within, cmp_optional_descr);
}

bool set_items_are_normal(const std::vector<SetItem>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::vector<SharedDescr>& entries = items[i].not_within;
        for (std::size_t j = 1; j < entries.size(); ++j)
            if (cmp_optional_descr(entries[j - 1], entries[j]) > 0) return false;
        if (i > 0 && cmp_set_item(items[i - 1], items[i]) >= 0) return false;
    }
    return true;
}

std::strong_ordering cmp_set_items(const SetItems& a, const SetItems& b) {
    if (auto c = cmp_lists(a.items, b.items, cmp_set_item); c != 0) return c;
    return a.negated <=> b.negated;
}

}  // namespace tessaron::descr
