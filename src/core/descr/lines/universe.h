// The universe of each kind, and the descriptors built from universes.
//
// The universe atom of a kind admits every value of it: the presence `true` (None,
// other), truth mask 3, every integer, every float with NaN, the str and
// bytes universe automata (shared, created once), the one-state accepting
// sequence automaton, the universe set item and the universe shape.  The
// universe line of a kind is its universe atom with one empty condition.
#pragma once

#include "core/descr/descr.h"

namespace tessaron::descr {

// The universe atom of every kind but `Other`, which has none of its own:
// callers use `universe_atom`, which gives the presence `true` there.
Atom kind_top(Kind kind);
Atom universe_atom(Kind kind);

// The atom with one empty condition, not negated.
Line line_of_atom(Atom atom);
Line universe_line(Kind kind);

// Every value: each slot holds its kind's universe line.
Descr descr_top();
// Every value of one kind but `Other`: that slot's universe line alone.
Descr descr_of_kind(Kind kind);

}  // namespace tessaron::descr
