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
#include "core/descr/nested.h"

namespace tessaron::descr {

std::pair<Line, Line> line_complement(const Line& line, Kind kind);

// `descr_complement`, `complement_shared_descr` and `complement_of_union`
// are declared in core/descr/nested.h.

}  // namespace tessaron::descr
