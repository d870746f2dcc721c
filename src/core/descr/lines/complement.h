// Complements of lines, descriptors and shared descriptors.
//
// The complement of one line L (atom A, conditions C) within its kind is
// two lines: the complement of A with no restriction, and the kind's
// universe restricted by the complement of C (made explicit when C holds at
// most one condition and that succeeds, else C with its flag flipped).
//
// The complement of a descriptor is exact slot by slot and explicit only
// where that is cheap: an empty slot becomes the universe line, a negated
// slot gives back its lines, a slot of one line is multiplied out (and
// stays negated when that runs out of budget or crosses a cap), and a slot
// of several lines only has its flag set, for a consumer to make explicit
// under its own budget.
#pragma once

#include <utility>
#include <vector>

#include "core/descr/descr.h"
#include "core/descr/sequences/sequence_automaton.h"

namespace tessaron::descr {

std::pair<Line, Line> line_complement(const Line& line, Kind kind);

// Never fails; takes units only to multiply out one-line slots.
Descr descr_complement(const Descr& d);

// A new shared descriptor holding the complement; one saturating unit.
SharedDescr complement_shared_descr(const SharedDescr& s);

// The complement of the union of the present labels of one state's
// transitions (what its absent label stands for), as a new shared
// descriptor; none when a union fails.
std::optional<SharedDescr> complement_of_union(const std::vector<Transition>& transitions);

}  // namespace tessaron::descr
