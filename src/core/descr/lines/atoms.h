// Atoms: union and intersection, complement and inhabitation, one line per
// variant.
//
// `combine_atoms` meets or joins two atoms of one variant (atoms of
// different variants never combine: failure).  Presence flags and truth
// masks combine bitwise, integer sets at their common modulus (failure
// above `kMaxModulus`), float sets interval by interval, text automata by their
// product (failure past `kMaxTextStates` states, or when the product's work is more
// than the budget can pay).  Sequence automata combine by their product
// (sequence_product.h), set items by the item algebra
// (set_item_algebra.h), shapes by the shape algebra (shape_algebra.h); the
// universe of each is the identity of a meet and absorbs a join without
// any work.
//
// `atom_complement` is exact for every variant and never fails.
// `atom_verdict` says whether the atom admits a value: exactly for the
// flat variants; for sequences by acceptance (sequence_accept.h), for set
// items by their verdict (set_item_verdict.h), for shapes by the emptiness
// of their explicit form (shape_algebra.h).
#pragma once

#include <optional>

#include "core/descr/descr.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

std::optional<Atom> combine_atoms(const Atom& a, const Atom& b, SetOp op);
Atom atom_complement(const Atom& a);
ir::Emptiness atom_verdict(const Atom& a);

}  // namespace tessaron::descr
