// The universe of each kind, and the descriptors built from universes.
//
// The universe atom of a kind admits every value of it: presence 1 (None,
// other), truth mask 3, every integer, every float with NaN, the str and
// bytes universe automata (shared, created once), the one-state accepting
// sequence automaton, the universe set item and the universe shape.  The
// universe line of a kind is its universe atom with one empty condition.
#pragma once

#include "core/descr/descr.h"

namespace tessaron::descr {

// The universe atom of kind code 0 to 10.  Slot 11 (code 255) has none of
// its own: callers use `universe_atom`, which gives presence 1 there.
Atom kind_top(KindCode code);
Atom universe_atom(KindCode code);

// The atom with one empty condition, not negated.
Line line_of_atom(Atom atom);
Line universe_line(KindCode code);

// Every value: each slot holds its kind's universe line.
Descr descr_top();
// Every value of one kind (code 0 to 10): that slot's universe line alone.
Descr descr_of_kind(KindCode code);

}  // namespace tessaron::descr
