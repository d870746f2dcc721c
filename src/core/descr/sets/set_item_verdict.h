// Whether a set-items atom holds some set.
//
// The atom is made explicit first (undecided when that fails).  An item
// with no `not_within` entry holds the empty set.  An item whose element
// lies within one of its entries holds nothing.  Otherwise each entry R
// needs an element outside R: with one entry, any element outside it
// makes a set of one element; with several, the elements picked for the
// entries must stay distinct in a set, and Python set elements of
// different kinds can be equal (True == 1 == 1.0, a str subclass instance
// and an equal str, (1,) and (True,)).  So several entries prove the item
// inhabited only when one element lies outside all of them, or when each
// entry has an element outside it in a kind group of its own -- None, str,
// bytes, and one group for bool, int and float -- or all of them in bool
// (False and True differ).  Anything less is undecided.
#pragma once

#include "core/descr/sets/set_items.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

ir::Emptiness set_items_verdict(const SetItems& atom);

}  // namespace tessaron::descr
