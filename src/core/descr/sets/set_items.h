// Set items: the atoms of the set and frozenset slots.
//
// A SetItem bounds the elements of a set from above (`element`: every
// element lies in it; absent, `every_value()`: any element) and, for each
// entry of `not_within`, demands an element outside that descriptor (an
// absent entry, `every_value()`, leaves no element outside: no set
// satisfies it).
// A SetItems atom is the union of its items, or, negated, every set of the
// kind outside that union.  The universe is one item with no `not_within`
// entry and any element.
#pragma once

#include <compare>
#include <vector>

#include "core/descr/descr_fwd.h"

namespace tessaron::descr {

struct SetItem {
    std::vector<SharedDescr> not_within;
    SharedDescr element;  // absent (`every_value()`): any element
};

struct SetItems {
    std::vector<SetItem> items;
    bool negated = false;
};

// The structure of the normal form (set_item_algebra.h), which every item
// list keeps: each item's `not_within` entries in the descriptor order
// (cmp_optional_descr), and the items strictly in the item order
// (cmp_set_item): sorted, no item twice.  Entries may repeat: only a
// containment test, which can stay undecided, drops one.  What needs
// deciding (entries narrowed and maximal, items proved empty dropped) is
// not checked.  Builders assert it.
bool set_items_are_normal(const std::vector<SetItem>& items);

SetItems set_items_universe();
bool set_items_is_universe(const SetItems& a);
// No item (positive), or the universe item excluded (negated): no set.
bool set_items_is_trivially_empty(const SetItems& a);

// The items whose union is every set outside `item`: one item demanding an
// element outside `item.element` (any element allowed), then one item per
// `not_within` entry bounding the elements by it.
std::vector<SetItem> set_item_complement_terms(const SetItem& item);

bool set_item_equal(const SetItem& a, const SetItem& b);
bool set_items_equal(const SetItems& a, const SetItems& b);
// Items by element (absent first, then the descriptor order), then their
// `not_within` lists entry by entry; an atom's items as a list, then its
// negated flag.
std::strong_ordering cmp_set_item(const SetItem& a, const SetItem& b);
std::strong_ordering cmp_set_items(const SetItems& a, const SetItems& b);

}  // namespace tessaron::descr
