// Products, normal forms and explicit forms of set items.
//
// The product of two item lists is the list of pairwise products: an item
// demanding what both demand (`not_within` entries of both) of elements in
// both elements.  The normal form narrows each `not_within` entry to the
// element (a set of those elements is contained in an entry exactly when it
// is contained in that meet), keeps only the maximal entries (being outside
// a larger descriptor implies being outside a smaller one), drops items
// whose element lies within an entry (no such set exists) and duplicates,
// and sorts the items.  A negated atom is made explicit as the universe
// item multiplied by the complement terms of each of its items.
//
// Union and intersection of two atoms: the intersection multiplies the
// positive lists, a negated side contributing the complement terms of each
// of its items; the union of two positive atoms is the normal form of both
// lists, and with a negated side the complement of the meet of the
// complements.
//
// Budget and caps: one failing unit per pair of a product; the gathered
// items are normalised once more than `kCompactAbove` wait; more than
// `kMaxTerms` items after normalising fail.  Containment tests that are undecided keep entries and
// items; a failed meet of descriptors fails the operation.
#pragma once

#include <optional>
#include <vector>

#include "core/descr/sets/set_items.h"

namespace tessaron::descr {

std::optional<std::vector<SetItem>> product_set_items(const std::vector<SetItem>& first,
                                                      const std::vector<SetItem>& second);
std::optional<std::vector<SetItem>> normalize_set_items(std::vector<SetItem> items);

// The intersection of two atoms, as a positive list.
std::optional<std::vector<SetItem>> meet_set_item_slots(const SetItems& first, const SetItems& second);
std::optional<SetItems> join_set_items(const SetItems& first, const SetItems& second);

// The items of the atom made explicit; none when that cannot be done.
std::optional<std::vector<SetItem>> positive_set_items(const SetItems& atom);

// The flipped list, replaced by its explicit form when it holds at most one
// item and that form can be built.  Never fails.
SetItems set_item_list_complement(const SetItems& atom);

}  // namespace tessaron::descr
